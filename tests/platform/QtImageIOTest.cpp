#include "platform/QtImageIO.h"

#include "platform/MorphError.h"
#include "support/Bytes.h"
#include "support/Faults.h"
#include "support/PictureErrors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

namespace morph {
namespace {

using test::LittleEndian;

std::string BigEndian(std::uint32_t value) {
    std::string out;
    for (int i = 3; i >= 0; --i) {
        out += char((value >> (8 * i)) & 0xFF);
    }
    return out;
}

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A 24-bit BMP, written by hand so that the colour order does not depend on Qt's writer:
// rows bottom-up, each pixel blue, green, red, rows padded to 4 bytes.
std::string Bmp24(const Bitmap& bitmap) {
    const int stride = (bitmap.width() * 3 + 3) / 4 * 4;
    const int dataSize = stride * bitmap.height();
    std::string bmp = "BM" + LittleEndian(54 + dataSize, 4) + LittleEndian(0, 4) +
                      LittleEndian(54, 4) + LittleEndian(40, 4) + LittleEndian(bitmap.width(), 4) +
                      LittleEndian(bitmap.height(), 4) + LittleEndian(1, 2) + LittleEndian(24, 2) +
                      LittleEndian(0, 4) + LittleEndian(dataSize, 4) + LittleEndian(2835, 4) +
                      LittleEndian(2835, 4) + LittleEndian(0, 4) + LittleEndian(0, 4);
    for (int y = bitmap.height() - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < bitmap.width(); ++x) {
            const Colour c = bitmap.pixel(x, y);
            row += char(BlueOf(c));
            row += char(GreenOf(c));
            row += char(RedOf(c));
        }
        row.resize(std::size_t(stride), '\0');
        bmp += row;
    }
    return bmp;
}

Bitmap Pattern(int width, int height) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setPixel(
                x, y, RGB(std::uint8_t(x * 37 + y), std::uint8_t(y * 11), std::uint8_t(200 - x)));
        }
    }
    bitmap.setPixel(0, 0, RGB(255, 0, 0));
    return bitmap;
}

using test::LoadError;

TEST(QtImageIO, ReadsBmpWithRedInTheLowByte) {
    test::TempDir dir;
    const Bitmap pattern = Pattern(5, 3); // 15-byte rows need padding
    test::WriteAll(dir.file("p.bmp"), Bmp24(pattern));
    const Bitmap loaded = LoadPicture(dir.file("p.bmp"));
    EXPECT_EQ(loaded, pattern);
    EXPECT_EQ(loaded.pixel(0, 0), 0x000000FFu);
}

TEST(QtImageIO, PngRoundTripAndQImageConversionsAreExact) {
    test::TempDir dir;
    const Bitmap pattern = Pattern(7, 4);
    SavePng(pattern, dir.file("p.png"));
    EXPECT_EQ(LoadPicture(dir.file("p.png")), pattern);
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"p.png"})); // no temporary left

    const QImage image = ToQImage(pattern);
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(FromQImage(image), pattern);
    EXPECT_TRUE(ToQImage(Bitmap()).isNull());
    EXPECT_TRUE(FromQImage(QImage()).empty());
}

TEST(QtImageIO, AlphaIsDroppedAndColourBytesKept) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(10, 20, 30, 0));
    image.setPixel(1, 0, qRgba(200, 100, 50, 128));
    EXPECT_EQ(FromQImage(image).pixel(0, 0), RGB(10, 20, 30));
    EXPECT_EQ(FromQImage(image).pixel(1, 0), RGB(200, 100, 50));

    test::TempDir dir;
    ASSERT_TRUE(image.save(QString::fromStdString(dir.file("a.png"))));
    EXPECT_EQ(LoadPicture(dir.file("a.png")), FromQImage(image));

    // Other pixel formats (indexed, 16 bits a channel) arrive as the same colours.
    EXPECT_EQ(FromQImage(image.convertToFormat(QImage::Format_RGBA64)), FromQImage(image));
}

TEST(QtImageIO, ReadsJpeg) {
    test::TempDir dir;
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 220));
    ASSERT_TRUE(image.save(QString::fromStdString(dir.file("p.jpg")), "JPEG", 100));
    const Bitmap loaded = LoadPicture(dir.file("p.jpg"));
    ASSERT_EQ(loaded.width(), 16);
    ASSERT_EQ(loaded.height(), 8);
    EXPECT_NEAR(RedOf(loaded.pixel(3, 3)), 40, 3);
    EXPECT_NEAR(BlueOf(loaded.pixel(3, 3)), 220, 3);
}

TEST(QtImageIO, UnreadablePicturesNameTheFileAndTheReason) {
    test::TempDir dir;
    test::WriteAll(dir.file("junk.png"), "this is not a picture");
    const std::string junk = LoadError(dir.file("junk.png"));
    EXPECT_EQ(junk.rfind("Cannot read the picture '" + dir.file("junk.png") + "': ", 0), 0u)
        << junk;
    EXPECT_GT(junk.size(), dir.file("junk.png").size() + 28) << "no reason given: " << junk;

    const std::string missing = LoadError(dir.file("missing.bmp"));
    EXPECT_NE(missing.find("'" + dir.file("missing.bmp") + "'"), std::string::npos) << missing;
}

// A PNG announcing width x height pixels, with an empty pixel data chunk behind it.
std::string PngHeader(std::uint32_t width, std::uint32_t height) {
    const auto chunk = [](const std::string& typeAndData) {
        return BigEndian(std::uint32_t(typeAndData.size() - 4)) + typeAndData +
               BigEndian(Crc32(typeAndData));
    };
    return "\x89PNG\r\n\x1a\n" +
           chunk("IHDR" + BigEndian(width) + BigEndian(height) + "\x08\x02" +
                 std::string(3, '\0')) +
           chunk("IDAT") + chunk("IEND");
}

TEST(QtImageIO, OversizedPicturesAreRefusedBeforeDecoding) {
    test::TempDir dir;
    test::WriteAll(dir.file("huge.png"), PngHeader(20000, 20000));
    const std::string message = LoadError(dir.file("huge.png"));
    EXPECT_NE(message.find("20000 x 20000 pixels is too large"), std::string::npos) << message;
}

// Files of a few dozen bytes claiming 100000 x 100000 pixels are refused with the size
// stated, before anything is allocated: the child process loading them has little address
// space to spare. Qt's own BMP reader refuses such a header with no more than "Unable to read
// image data".
TEST(QtImageIO, HugeClaimsOfTinyFilesAreRefusedWithoutAllocating) {
    test::TempDir dir;
    test::WriteAll(dir.file("huge.bmp"), test::BmpHeader(100000, 100000));
    test::WriteAll(dir.file("huge.png"), PngHeader(100000, 100000));
    for (const char* name : {"huge.bmp", "huge.png"}) {
        const std::string path = dir.file(name);
        const std::string expected =
            "Cannot read the picture '" + path + "': 100000 x 100000 pixels is too large";
        EXPECT_EXIT(
            {
                test::LimitAddressSpace(std::int64_t(256) << 20);
                const std::string message = LoadError(path);
                std::cerr << (message == expected ? "refused as expected" : message);
                std::exit(0);
            },
            ::testing::ExitedWithCode(0), "refused as expected")
            << name;
    }
}

// Within the pixel cap, the memory the process can get bounds a picture: the address space
// left to a child process, or a figure standing in for a small machine.
TEST(QtImageIO, PicturesNeedingMoreMemoryThanAvailableAreRefusedBeforeDecoding) {
    test::TempDir dir;
    const std::string path = dir.file("large.png");
    test::WriteAll(path, PngHeader(16000, 16000));
    EXPECT_EXIT(
        {
            test::LimitAddressSpace(std::int64_t(256) << 20);
            std::cerr << LoadError(path);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^Cannot read the picture '.*large\\.png': its 16000 x 16000 pixels need 97[0-9]\\.[0-9] "
        "MiB, but only [0-9.]+ MiB of memory is available$");

    const test::AvailableMemory available(100000);
    test::WriteAll(dir.file("small.bmp"), Bmp24(Pattern(256, 64)));
    EXPECT_EQ(
        LoadError(dir.file("small.bmp")),
        "Cannot read the picture '" + dir.file("small.bmp") +
            "': its 256 x 64 pixels need 128.0 KiB, but only 97.7 KiB of memory is available");
}

TEST(QtImageIO, SaveFailureNamesTheFile) {
    test::TempDir dir;
    const std::string path = dir.file("no-such-folder/p.png");
    try {
        SavePng(Pattern(2, 2), path);
        ADD_FAILURE() << "no error";
    } catch (const MorphError& e) {
        EXPECT_NE(e.message().find(path), std::string::npos) << e.message();
    }
    EXPECT_THROW(SavePng(Bitmap(), dir.file("empty.png")), MorphError);
}

} // namespace
} // namespace morph
