// Pictures that Qt's readers would take with pixels they never read (BMP pixel data cut short
// or placed past the end, top-down files too, run-length data ending early, JPEGs cut short),
// files whose name gives another format than their content, files that are no regular files,
// PNGs through libpng, and what a load costs in memory.
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"
#include "support/Bytes.h"
#include "support/Faults.h"
#include "support/PictureErrors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morph {
namespace {

std::string Le(std::uint32_t value, int bytes) {
    return test::LittleEndian(value, bytes);
}

// File header and 40-byte info header; `height` negative for rows stored top first.
std::string BmpHeaders(std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
                       std::uint32_t dataOffset, std::uint32_t colours = 0) {
    return "BM" + Le(0, 4) + Le(0, 4) + Le(dataOffset, 4) + Le(40, 4) +
           Le(std::uint32_t(width), 4) + Le(std::uint32_t(height), 4) + Le(1, 2) + Le(bits, 2) +
           Le(compression, 4) + Le(0, 4) + Le(2835, 4) + Le(2835, 4) + Le(colours, 4) + Le(0, 4);
}

// Rows of a 24-bit picture whose pixel (x, y) in file order is (x, y, 7) as blue, green, red.
std::string Rows24(int width, int rows) {
    std::string data;
    for (int y = 0; y < rows; ++y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            row += {char(x), char(y), char(7)};
        }
        row.resize(std::size_t((width * 3 + 3) / 4 * 4), '\0');
        data += row;
    }
    return data;
}

using test::LoadError;

TEST(PictureLoading, BmpTopDownRowsLoadUpright) {
    test::TempDir dir;
    test::WriteAll(dir.file("down.bmp"), BmpHeaders(3, -2, 24, 0, 54) + Rows24(3, 2));
    const Bitmap loaded = LoadPicture(dir.file("down.bmp"));
    ASSERT_EQ(loaded.width(), 3);
    ASSERT_EQ(loaded.height(), 2);
    EXPECT_EQ(loaded.pixel(2, 0), RGB(7, 0, 2)); // the first row in the file is the top one
    EXPECT_EQ(loaded.pixel(1, 1), RGB(7, 1, 1));
}

TEST(PictureLoading, BmpPixelDataTheFileDoesNotHoldIsRefused) {
    test::TempDir dir;
    const std::string whole = BmpHeaders(4, 6, 24, 0, 54) + Rows24(4, 6);
    test::WriteAll(dir.file("whole.bmp"), whole);
    EXPECT_EQ(LoadPicture(dir.file("whole.bmp")).height(), 6);

    const std::string cases[][2] = {
        {"cut.bmp", whole.substr(0, whole.size() - 5)},
        {"past-end.bmp", BmpHeaders(4, 6, 24, 0, 5000) + Rows24(4, 6)},
        {"cut-top-down.bmp", BmpHeaders(4, -6, 24, 0, 54) + Rows24(4, 5)},
        {"cut-8-bit.bmp",
         BmpHeaders(8, 8, 8, 0, 54 + 8, 2) + Le(0, 4) + Le(0xFFFFFF, 4) + std::string(8 * 7, '\1')},
        // 57 bytes declaring 300000 x 67 pixels: 80 MB allocated for nothing without the check.
        {"tiny-huge.bmp", BmpHeaders(300000, -67, 24, 0, 54) + "\xAC\xAC\xAC"},
    };
    for (const auto& [name, bytes] : cases) {
        test::WriteAll(dir.file(name), bytes);
        const std::string message = LoadError(dir.file(name));
        EXPECT_EQ(message, "Cannot read the picture '" + dir.file(name) +
                               "': the file ends before its pixel data does")
            << name;
    }
}

TEST(PictureLoading, BmpRunLengthDataEndingEarlyLeavesColourZero) {
    // 4 x 3, 8 bits a pixel, two colours; the stream sets the first two pixels of the bottom
    // row to colour 1 and then ends the picture.
    const std::string palette = Le(0x00302010, 4) + Le(0x00C0B0A0, 4);
    const std::string stream = std::string("\x02\x01", 2) + std::string("\x00\x01", 2);
    test::TempDir dir;
    test::WriteAll(dir.file("rle.bmp"), BmpHeaders(4, 3, 8, 1, 54 + 8, 2) + palette + stream);
    const Bitmap loaded = LoadPicture(dir.file("rle.bmp"));
    ASSERT_EQ(loaded.width(), 4);
    ASSERT_EQ(loaded.height(), 3);
    const Colour zero = RGB(0x30, 0x20, 0x10);
    const Colour one = RGB(0xC0, 0xB0, 0xA0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(loaded.pixel(x, y), y == 2 && x < 2 ? one : zero) << x << ", " << y;
        }
    }
}

// The highest resident size of this process so far, in MiB.
long PeakResidentMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

TEST(PictureLoading, TheContentDecidesTheFormatWhateverTheName) {
    test::TempDir dir;
    test::WriteAll(dir.file("really-a-bmp.gif"), BmpHeaders(3, 2, 24, 0, 54) + Rows24(3, 2));
    const Bitmap loaded = LoadPicture(dir.file("really-a-bmp.gif"));
    EXPECT_EQ(loaded.width(), 3);
    EXPECT_EQ(loaded.pixel(2, 1), RGB(7, 0, 2));

    // Bytes 6 to 9 of these 119 read as a GIF screen of 11308 x 11308 pixels, and the GIF
    // reader allocates and clears such a screen before it finds anything amiss. A fresh
    // process shows what loading them costs.
    const std::string junk = dir.file("junk.gif");
    test::WriteAll(junk, "JUNK!!" + std::string(113, ','));
    EXPECT_EXIT(
        {
            const long before = PeakResidentMiB();
            const std::string message = LoadError(junk);
            const long grown = PeakResidentMiB() - before;
            std::fprintf(stderr, "%s; grown by %ld MiB", message.c_str(), grown);
            std::exit(grown < 128 && message.rfind("Cannot read the picture '" + junk, 0) == 0 ? 0
                                                                                               : 1);
        },
        ::testing::ExitedWithCode(0), "Cannot read the picture");
}

TEST(PictureLoading, OnlyARegularFileIsOpenedAndOtherwiseTheReasonIsGiven) {
    test::TempDir dir;
    const std::string folder = dir.file("folder.png");
    const std::string locked = dir.file("locked.png");
    const std::string missing = dir.file("missing.png");
    const std::string fifo = dir.file("fifo.png");
    std::filesystem::create_directory(folder);
    SavePng(Bitmap(2, 2), locked);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const std::string prefix = "Cannot read the picture '";
    EXPECT_EQ(LoadError(folder), prefix + folder + "': it is a folder");
    EXPECT_EQ(LoadError(missing), prefix + missing + "': No such file or directory");
    {
        const test::PermissionBitsBind bind;
        EXPECT_EQ(LoadError(locked), prefix + locked + "': Permission denied");
    }
    // Nothing writes to the FIFO: the child process would wait for good but for its alarm.
    EXPECT_EXIT(
        {
            ::alarm(60);
            std::cerr << LoadError(fifo);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^Cannot read the picture '.*fifo\\.png': it is not a regular file$");
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

QByteArray Jpeg(const QImage& image, bool progressive) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

QImage Gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = qRgb(x * 255 / width, y * 255 / height, (x ^ y) & 255);
        }
    }
    return image;
}

// Run-length BMPs and JPEGs that end before their end codes are refused; those that reach
// them, or end every row, load, whatever follows. A JPEG's thumbnail, itself a whole JPEG with
// an end marker, does not make a cut-short picture whole.
TEST(PictureLoading, RunLengthBmpsAndJpegsThatEndEarlyAreRefused) {
    const std::string palette = Le(0x00302010, 4) + Le(0x00C0B0A0, 4);
    const auto rle8 = [&palette](const std::string& stream) {
        return BmpHeaders(4, 3, 8, 1, 54 + 8, 2) + palette + stream;
    };
    const auto rle4 = [&palette](const std::string& stream) {
        return BmpHeaders(4, 3, 4, 2, 54 + 8, 2) + palette + stream;
    };
    using namespace std::string_literals;
    const std::string rows8 = Repeat("\x04\x01\x00\x00"s, 3); // 4 pixels of colour 1, end of row
    const std::string rows4 = Repeat("\x04\x11\x00\x00"s, 3);
    const std::string end = "\x00\x01"s;

    const QByteArray baseline = Jpeg(Gradient(64, 48), false);
    const QByteArray progressive = Jpeg(Gradient(64, 48), true);
    const QByteArray thumbnail = Jpeg(Gradient(8, 6), false);
    const auto cutInScan = [](const QByteArray& jpeg) {
        const qsizetype scan = jpeg.lastIndexOf(QByteArray("\xFF\xDA", 2));
        return jpeg.left(scan + (jpeg.size() - scan) / 2).toStdString();
    };
    // An APP1 segment holding a whole JPEG, right after the start-of-image marker.
    const QByteArray app1 =
        QByteArray("\xFF\xE1", 2) + QByteArray(Le(0, 2).c_str(), 2) + "Exif\0\0" + thumbnail;
    QByteArray withThumbnail = baseline.left(2) + app1 + baseline.mid(2);
    const qsizetype length = app1.size() - 2;
    withThumbnail[4] = char(length >> 8);
    withThumbnail[5] = char(length & 0xFF);

    const struct {
        const char* name;
        std::string bytes;
        bool whole;
    } cases[] = {
        {"rle8.bmp", rle8(rows8 + end), true},
        {"rle8-rows-ended.bmp", rle8(rows8), true},
        {"rle8-more-after.bmp", rle8(rows8 + end + "more"), true},
        {"rle4.bmp", rle4(rows4 + end), true},
        {"rle8-one-row.bmp", rle8(rows8.substr(0, 4)), false},
        {"rle8-half-code.bmp", rle8(rows8.substr(0, 8) + "\x00"s), false},
        {"rle8-cut-literal.bmp", rle8("\x00\x04\x01\x01"s), false},
        {"rle8-cut-jump.bmp", rle8("\x00\x02\x01"s), false},
        {"rle8-cut-run.bmp", rle8(rows8.substr(0, 9)), false},
        {"rle4-cut-literal.bmp", rle4("\x00\x04\x11"s), false},
        {"rle4-one-row.bmp", rle4(rows4.substr(0, 4)), false},
        {"baseline.jpg", baseline.toStdString(), true},
        {"more-after.jpg", baseline.toStdString() + "more after the end", true},
        {"progressive.jpg", progressive.toStdString(), true},
        {"thumbnail.jpg", withThumbnail.toStdString(), true},
        {"baseline-cut.jpg", cutInScan(baseline), false},
        {"no-end-marker.jpg", baseline.left(baseline.size() - 2).toStdString(), false},
        {"progressive-cut.jpg", cutInScan(progressive), false},
        {"thumbnail-cut.jpg", cutInScan(withThumbnail), false},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        test::WriteAll(path, c.bytes);
        EXPECT_EQ(LoadError(path), c.whole ? ""
                                           : "Cannot read the picture '" + path +
                                                 "': the file ends before its pixel data does")
            << c.name;
    }
    EXPECT_EQ(LoadPicture(dir.file("rle4.bmp")).pixel(3, 2), RGB(0xC0, 0xB0, 0xA0));
}

// A PNG written by libpng with the given layout; its samples are made up from the row and
// column. Palettes have 2^depth colours, the last one transparent.
void WritePng(const std::string& path, int colourType, int depth, bool interlaced) {
    constexpr png_uint_32 kWidth = 13;
    constexpr png_uint_32 kHeight = 7;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, kHeight, depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < (1 << depth); ++i) {
            colours.push_back({png_byte(i * 37), png_byte(255 - i * 11), png_byte(i * 91)});
        }
        png_set_PLTE(png, info, colours.data(), int(colours.size()));
        std::vector<png_byte> alpha(colours.size(), 255);
        alpha.back() = 0;
        png_set_tRNS(png, info, alpha.data(), int(alpha.size()), nullptr);
    }
    png_write_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<std::vector<png_byte>> rows(kHeight, std::vector<png_byte>(rowBytes));
    std::vector<png_bytep> pointers;
    for (png_uint_32 y = 0; y < kHeight; ++y) {
        for (std::size_t i = 0; i < rowBytes; ++i) {
            rows[y][i] = png_byte(i * 29 + y * 53 + (i * y) % 7);
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// PNGs are read with libpng directly; every layout gives the colours Qt's reader gives,
// 16-bit samples within one step (rounded here, cut in some of Qt's cases).
TEST(PictureLoading, PngsOfEveryLayoutGiveTheColoursQtsReaderGives) {
    const struct {
        int type;
        std::vector<int> depths;
    } layouts[] = {
        {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}}, {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
        {PNG_COLOR_TYPE_RGB, {8, 16}},           {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
        {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}},
    };
    test::TempDir dir;
    for (const auto& layout : layouts) {
        for (const int depth : layout.depths) {
            for (const bool interlaced : {false, true}) {
                const std::string name = "type" + std::to_string(layout.type) + "-" +
                                         std::to_string(depth) + (interlaced ? "-i" : "") + ".png";
                SCOPED_TRACE(name);
                const std::string path = dir.file(name);
                WritePng(path, layout.type, depth, interlaced);
                const Bitmap loaded = LoadPicture(path);
                const QImage qt =
                    QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
                ASSERT_EQ(loaded.width(), qt.width());
                ASSERT_EQ(loaded.height(), qt.height());
                const int step = depth == 16 ? 1 : 0;
                for (int y = 0; y < qt.height(); ++y) {
                    for (int x = 0; x < qt.width(); ++x) {
                        const Colour got = loaded.pixel(x, y);
                        const QRgb want = qt.pixel(x, y);
                        EXPECT_LE(std::max({std::abs(RedOf(got) - qRed(want)),
                                            std::abs(GreenOf(got) - qGreen(want)),
                                            std::abs(BlueOf(got) - qBlue(want))}),
                                  step)
                            << x << ", " << y;
                        EXPECT_EQ(got >> 24, 0u);
                    }
                }
            }
        }
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true; // its allocator keeps freed memory and dies when out of it
#else
constexpr bool kSanitized = false;
#endif

// The need a refusal states, in MiB.
double StatedNeedMiB(const std::string& message) {
    std::smatch match;
    if (!std::regex_search(message, match, std::regex("need ([0-9.]+) (bytes|KiB|MiB|GiB)"))) {
        return -1;
    }
    const double value = std::stod(match[1]);
    const std::string unit = match[2];
    return unit == "GiB"   ? value * 1024
           : unit == "MiB" ? value
           : unit == "KiB" ? value / 1024
                           : value / 1048576;
}

// What the memory check states a picture needs is what loading it takes at its peak, within
// a few MiB: a fresh process measures both. Run-length BMPs decode to one byte a pixel and
// are converted to the bitmap a band at a time; a progressive JPEG's decoder holds the
// coefficients of the whole picture.
TEST(PictureLoading, TheMemoryCheckCountsThePeakOfALoad) {
    if (kSanitized) {
        GTEST_SKIP() << "the sanitizer's allocator changes what a process holds";
    }
    constexpr int kSide = 4000;
    test::TempDir dir;
    test::WriteAll(dir.file("rle.bmp"), BmpHeaders(kSide, kSide, 8, 1, 54 + 8, 2) +
                                            Le(0x00302010, 4) + Le(0x00C0B0A0, 4) +
                                            std::string("\x00\x01", 2));
    const QImage picture = Gradient(kSide, kSide);
    ASSERT_TRUE(picture.save(QString::fromStdString(dir.file("rgb.png")), "png", 90)); // fast
    test::WriteAll(dir.file("progressive.jpg"), Jpeg(picture, true).toStdString());
    for (const char* name : {"rle.bmp", "rgb.png", "progressive.jpg"}) {
        const std::string path = dir.file(name);
        EXPECT_EXIT(
            {
                double stated = 0;
                {
                    const test::AvailableMemory little(1);
                    stated = StatedNeedMiB(LoadError(path)); // also loads the readers
                }
                const long before = PeakResidentMiB();
                const Bitmap loaded = LoadPicture(path);
                const double grown = double(PeakResidentMiB() - before);
                std::fprintf(stderr, "stated %.1f MiB, grown by %.0f MiB", stated, grown);
                std::exit(loaded.width() == kSide && grown <= stated + 6 &&
                                  stated <= grown * 1.25 + 6
                              ? 0
                              : 1);
            },
            ::testing::ExitedWithCode(0), "stated")
            << name;
    }
}

// When memory runs out all the same (here the address space is small and the figure checked
// against large), the message still names the picture.
TEST(PictureLoading, RunningOutOfMemoryNamesThePicture) {
    if (kSanitized) {
        GTEST_SKIP() << "the sanitizer's allocator dies when out of memory";
    }
    test::TempDir dir;
    const std::string path = dir.file("huge-rle.bmp");
    test::WriteAll(path, BmpHeaders(16000, 16000, 8, 1, 54 + 8, 2) + Le(0x00302010, 4) +
                             Le(0x00C0B0A0, 4) + std::string("\x00\x01", 2));
    EXPECT_EXIT(
        {
            const test::AvailableMemory plenty(std::int64_t(1) << 40);
            test::LimitAddressSpace(std::int64_t(600) << 20);
            std::cerr << LoadError(path);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^Cannot read the picture '.*huge-rle\\.bmp': not enough memory for its 16000 x 16000 "
        "pixels$");
}

} // namespace
} // namespace morph
