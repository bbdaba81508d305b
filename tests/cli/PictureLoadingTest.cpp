// Pictures that Qt's readers would take with pixels they never read (BMP pixel data cut short
// or placed past the end, top-down files too, run-length data ending early), and files whose
// name gives another format than their content.
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"
#include "platform/TempDir.h"
#include "support/PictureErrors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

namespace morph {
namespace {

std::string Le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += char((value >> (8 * i)) & 0xFF);
    }
    return out;
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

} // namespace
} // namespace morph
