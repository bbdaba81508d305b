#include "animation/VqvCodec.h"
#include "platform/MorphError.h"
#include "support/Faults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace morph {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;
using namespace std::string_literals;

constexpr Colour kRed = RGB(255, 0, 0);
constexpr Colour kGreen = RGB(0, 255, 0);
constexpr Colour kBlue = RGB(0, 0, 255);

std::string Int32(std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    return {char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF), char(u >> 24)};
}

std::string Header(std::int32_t frames, std::int32_t height, std::int32_t width) {
    return Int32(frames) + Int32(height) + Int32(width);
}

Bitmap Row(std::vector<Colour> colours) {
    Bitmap b(int(colours.size()), 1);
    for (int x = 0; x < b.width(); ++x) {
        b.setPixel(x, 0, colours[std::size_t(x)]);
    }
    return b;
}

// The message of the refusal, or "accepted" when the reader took the file.
template <typename Reader> std::string Refusal(Reader read, const std::string& path) {
    try {
        read(path);
    } catch (const MorphError& e) {
        return e.message();
    }
    return "accepted";
}

TEST(VqvCodec, WorkedExampleByteForByte) {
    TempDir dir;
    const std::string path = dir.file("clip.vQv");
    const std::vector<Bitmap> frames{Row({kRed, kGreen}), Row({kBlue, kWhite})};
    WriteVqv(path, frames);
    const std::string expected = "\x02\0\0\0\x01\0\0\0\x02\0\0\0"
                                 "\xFF\0\0\0\0\xFF\0\0\0\0\xFF\0\xFF\xFF\xFF\0"s;
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(ReadVqv(path), frames);
    const VqvHeader header = ReadVqvHeader(path);
    EXPECT_EQ(header.frames, 2);
    EXPECT_EQ(header.height, 1);
    EXPECT_EQ(header.width, 2);
    EXPECT_EQ(dir.entries(), std::set<std::string>{"clip.vQv"});
}

TEST(VqvCodec, RoundTripOfNonSquareFrames) {
    TempDir dir;
    const std::string path = dir.file("round.vQv");
    std::vector<Bitmap> frames;
    for (int f = 0; f < 3; ++f) {
        Bitmap frame(5, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                frame.setPixel(
                    x, y,
                    RGB(std::uint8_t(40 * x), std::uint8_t(60 * y + 1), std::uint8_t(70 * f + 2)));
            }
        }
        frames.push_back(frame);
    }
    WriteVqv(path, frames);
    EXPECT_EQ(ReadAll(path).size(), 12u + 4u * 3u * 5u * 3u);
    EXPECT_EQ(ReadVqv(path), frames);

    WriteVqv(path, {Bitmap(1, 1, kBlue)});
    EXPECT_EQ(ReadAll(path).size(), 16u);
}

TEST(VqvCodec, ByteThreeIsWrittenAsZeroAndIgnoredOnReading) {
    TempDir dir;
    const std::string path = dir.file("alpha.vQv");
    WriteVqv(path, {Bitmap(1, 1, 0xAB123456u)});
    EXPECT_EQ(ReadAll(path).substr(12), "\x56\x34\x12\0"s);

    WriteAll(path, Header(1, 1, 2) + "\x01\x02\x03\xFF\xFF\xFF\xFF\x80"s);
    EXPECT_EQ(ReadVqv(path), std::vector<Bitmap>{Row({RGB(1, 2, 3), kWhite})});
}

TEST(VqvCodec, ReadersRefuseHeadersTheFileDoesNotMatch) {
    TempDir dir;
    const std::string path = dir.file("bad.vQv");
    const std::string maxInt = "2147483647";
    const struct {
        std::string bytes;
        std::string problem;
    } cases[] = {
        {"", "it is 0 bytes long, shorter than the 12-byte header"},
        {std::string(11, '\1'), "it is 11 bytes long, shorter than the 12-byte header"},
        {Header(0, 1, 1) + Int32(0), "its header gives a frame count of 0"},
        {Header(-1, 1, 1), "its header gives a frame count of -1"},
        {Header(1, 0, 1), "its header gives a height of 0"},
        {Header(1, -5, 1), "its header gives a height of -5"},
        {Header(1, 1, INT32_MIN), "its header gives a width of -2147483648"},
        {Header(2, 1, 2) + std::string(8, '\0'),
         "it is 20 bytes long but its header (2 frames of 2 x 1 pixels) needs 28 bytes"},
        {Header(2, 1, 2) + std::string(17, '\0'),
         "it is 29 bytes long but its header (2 frames of 2 x 1 pixels) needs 28 bytes"},
        {Header(1, 16384, 16384),
         "it is 12 bytes long but its header (1 frame of 16384 x 16384 pixels) needs "
         "1073741836 bytes"},
        {Header(1, 16384, 16385), "it is 12 bytes long but its header (1 frame of 16385 x "
                                  "16384 pixels) needs 1073807372 bytes"},
        // 4 * 65536^3 wraps to 0 in 32 bits; 4 * (2^31 - 1)^3 overflows 64 bits.
        {Header(65536, 65536, 65536), "it is 12 bytes long but its header (65536 frames of "
                                      "65536 x 65536 pixels) needs 1125899906842636 bytes"},
        {Header(INT32_MAX, INT32_MAX, INT32_MAX),
         "it is 12 bytes long but its header (" + maxInt + " frames of " + maxInt + " x " + maxInt +
             " pixels) needs more than 9223372036854775807 bytes"},
    };
    for (const auto& c : cases) {
        WriteAll(path, c.bytes);
        const std::string expected = "'" + path + "' is not a valid vQv file: " + c.problem;
        EXPECT_EQ(Refusal(ReadVqvHeader, path).substr(0, expected.size()), expected);
        EXPECT_EQ(Refusal(ReadVqv, path).substr(0, expected.size()), expected);
    }

    const std::string missing = dir.file("missing.vQv");
    EXPECT_EQ(Refusal(ReadVqv, missing),
              "Cannot open file '" + missing + "': No such file or directory");
    std::filesystem::create_directory(dir.file("folder.vQv"));
    EXPECT_EQ(Refusal(ReadVqvHeader, dir.file("folder.vQv")),
              "Cannot open file '" + dir.file("folder.vQv") + "': it is a folder");
    // A FIFO without a writer is refused at once (in a child process, which a hang would
    // leave to its alarm).
    const std::string fifo = dir.file("fifo.vQv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(60);
            std::cerr << Refusal(ReadVqv, fifo);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^Cannot open file '.*fifo.vQv': it is not a regular file$");
}

TEST(VqvCodec, FailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir.file("keep.vQv");
    WriteVqv(path, {Row({kRed, kGreen})});
    const std::string before = ReadAll(path);

    const auto refusal = [&](const std::vector<Bitmap>& frames) {
        return Refusal([&](const std::string& p) { WriteVqv(p, frames); }, path);
    };
    const std::string prefix = "Cannot write file '" + path + "': ";
    EXPECT_EQ(refusal({Row({kRed, kGreen}), Bitmap(2, 2)}),
              prefix + "frame 1 is 2 x 2 pixels but frame 0 is 2 x 1 pixels");
    EXPECT_EQ(refusal({}), prefix + "there are no frames to save");
    EXPECT_EQ(refusal({Bitmap()}), prefix + "the frames are empty (0 x 0 pixels)");
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(dir.entries(), std::set<std::string>{"keep.vQv"});
}

// The faults a save meets on its way to the disk: a full disk, a folder that takes no new
// files, a folder where the file should go. Each is reported naming the file, and the folder
// is left exactly as it was: the older file keeps its bytes and no temporary stays.
TEST(VqvCodec, SaveFaultsNameTheFileAndLeaveTheFolderAsItWas) {
    enum Kind { FullDisk, Locked, FolderInTheWay };
    const struct {
        Kind kind;
        const char* message; // after the path
    } cases[] = {
        {FullDisk, "Cannot write file '%': File too large"},
        {Locked, "Cannot create file '%': Permission denied"},
        {FolderInTheWay, "Cannot write file '%': it is a folder"},
    };
    // 12 + 4 * 3 * 20 * 10 = 2412 bytes: more than the full disk takes.
    const std::vector<Bitmap> frames(3, Bitmap(20, 10, kBlue));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        TempDir dir;
        const std::string path = dir.file("folder/clip.vQv");
        std::filesystem::create_directories(dir.file("folder"));
        if (c.kind == FolderInTheWay) {
            std::filesystem::create_directories(path + "/inside");
        } else {
            WriteAll(path, Header(1, 1, 1) + "old!");
        }
        std::optional<test::LockedFolder> locked;
        if (c.kind == Locked) {
            locked.emplace(dir.file("folder"));
        }
        const auto before = test::Snapshot(dir.file(""));
        std::string message;
        {
            const std::optional<test::FileSizeLimit> full =
                c.kind == FullDisk ? std::optional<test::FileSizeLimit>(1024) : std::nullopt;
            const test::PermissionBitsBind bind;
            message = Refusal([&](const std::string& p) { WriteVqv(p, frames); }, path);
        }
        std::string expected = c.message;
        expected.replace(expected.find('%'), 1, path);
        EXPECT_EQ(message, expected);
        EXPECT_EQ(test::Snapshot(dir.file("")), before);
    }
}

// A small file whose header claims a gigabyte of frames or more is refused by its length
// alone: the reader never allocates for it, as a child process with a small address space
// shows.
TEST(VqvCodec, SmallFilesWithHugeHeadersAreRefusedWithoutAllocating) {
    TempDir dir;
    const std::string path = dir.file("huge.vQv");
    const struct {
        std::string bytes;
        std::string problem;
    } cases[] = {
        {Header(1, 16384, 16384), "it is 12 bytes long but its header (1 frame of 16384 x "
                                  "16384 pixels) needs 1073741836 bytes"},
        {Header(64, 2048, 2048) + std::string(4, '\0'),
         "it is 16 bytes long but its header (64 frames of 2048 x 2048 pixels) needs "
         "1073741836 bytes"},
        {Header(65536, 64, 64) + std::string(48, '\0'),
         "it is 60 bytes long but its header (65536 frames of 64 x 64 pixels) needs "
         "1073741836 bytes"},
        {Header(130, 1080, 1920), "it is 12 bytes long but its header (130 frames of 1920 x "
                                  "1080 pixels) needs 1078272012 bytes"},
    };
    for (const auto& c : cases) {
        WriteAll(path, c.bytes);
        const std::string expected = "'" + path + "' is not a valid vQv file: " + c.problem;
        EXPECT_EXIT(
            {
                test::LimitAddressSpace(std::int64_t(64) << 20);
                const bool refused =
                    Refusal(ReadVqv, path) == expected && Refusal(ReadVqvHeader, path) == expected;
                std::cerr << (refused ? "refused as expected" : "not refused as expected");
                std::exit(0);
            },
            ::testing::ExitedWithCode(0), "refused as expected");
    }
}

// A file that is what its header says, but whose frames need more memory than is available,
// is refused before a frame is allocated; its header alone is fine.
TEST(VqvCodec, FramesNeedingMoreMemoryThanAvailableAreRefusedFirst) {
    TempDir dir;
    const std::string path = dir.file("big.vQv");
    WriteAll(path, Header(64, 2048, 2048));
    ASSERT_EQ(::truncate(path.c_str(), 12 + (std::int64_t(1) << 30)), 0); // sparse
    const test::AvailableMemory available(std::int64_t(100) << 20);
    EXPECT_EQ(ReadVqvHeader(path).frames, 64);
    EXPECT_EQ(Refusal(ReadVqv, path), "Cannot read file '" + path +
                                          "': its 64 frames of 2048 x 2048 pixels need 1.0 GiB, "
                                          "but only 100.0 MiB of memory is available");
}

// Sequences the program builds itself, past a gigabyte of pixels, are saved and opened; only
// what the header's signed 32-bit fields cannot carry is refused, and before anything is
// written.
TEST(VqvCodec, OnlyTheHeaderFieldsLimitWhatIsSaved) {
    const std::string path = "clip.vQv";
    const std::string prefix = "Cannot write file 'clip.vQv': ";
    const struct {
        std::int64_t frames;
        int width, height;
        std::string refusal; // after the prefix, "" when writable
    } cases[] = {
        {130, 1920, 1080, ""},
        {17, 4096, 4096, ""},
        {INT32_MAX, 1, 1, ""},
        {std::int64_t(INT32_MAX) + 1, 1, 1,
         "2147483648 frames of 1 x 1 pixels are more than the 2147483647 frames a file can hold"},
        {0, 10, 10, "there are no frames to save"},
        {3, 0, 10, "the frames are empty (0 x 10 pixels)"},
    };
    for (const auto& c : cases) {
        const std::string refusal = Refusal(
            [&](const std::string& p) { CheckVqvWritable(p, c.frames, c.width, c.height); }, path);
        EXPECT_EQ(refusal, c.refusal.empty() ? "accepted" : prefix + c.refusal) << c.frames;
    }
}

// 65 frames of 2048 x 2048 pixels: 1040 MiB of pixels, written and read back. Takes a few
// seconds and 1.1 GB of disk space.
TEST(VqvCodec, SequencesPastAGibibyteAreSavedAndOpened) {
    TempDir dir;
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(dir.file(""), error);
    if (error || space.available < (std::uintmax_t(3) << 30)) {
        GTEST_SKIP() << "needs 3 GiB of free disk space in the temporary folder";
    }
    const std::string path = dir.file("long.vQv");
    const Bitmap first(2048, 2048, kRed);
    const Bitmap middle(2048, 2048, kGreen);
    const Bitmap last(2048, 2048, kBlue);
    std::vector<const Bitmap*> frames(65, &middle);
    frames.front() = &first;
    frames.back() = &last;
    WriteVqv(path, frames);
    const std::int64_t bytes = 12 + std::int64_t(4) * 65 * 2048 * 2048;
    EXPECT_EQ(std::int64_t(std::filesystem::file_size(path)), bytes);
    const VqvHeader header = ReadVqvHeader(path);
    EXPECT_EQ(header.frames, 65);
    EXPECT_EQ(header.height, 2048);
    EXPECT_EQ(header.width, 2048);
    {
        const test::AvailableMemory available(std::int64_t(512) << 20);
        EXPECT_EQ(Refusal(ReadVqv, path),
                  "Cannot read file '" + path +
                      "': its 65 frames of 2048 x 2048 pixels need 1.0 GiB, but only 512.0 MiB "
                      "of memory is available");
    }
    const std::vector<Bitmap> read = ReadVqv(path);
    ASSERT_EQ(read.size(), 65u);
    EXPECT_TRUE(read.front() == first);
    EXPECT_TRUE(read[32] == middle);
    EXPECT_TRUE(read.back() == last);
}

// A file as long as its header says, with frames larger than any picture the program holds,
// is refused naming the file before the frames are allocated.
TEST(VqvCodec, FramesLargerThanAPictureCanBeAreRefused) {
    TempDir dir;
    const std::string path = dir.file("wide.vQv");
    WriteAll(path, Header(1, 16384, 16385));
    ASSERT_EQ(::truncate(path.c_str(), 12 + std::int64_t(4) * 16384 * 16385), 0); // sparse
    EXPECT_EQ(ReadVqvHeader(path).width, 16385);
    EXPECT_EQ(Refusal(ReadVqv, path), "Cannot read file '" + path +
                                          "': its frames of 16385 x 16384 pixels are larger "
                                          "than the largest picture of 268435456 pixels");
}

TEST(VqvCodec, SaveIntoAMissingFolderNamesThePath) {
    TempDir dir;
    const std::string path = dir.file("nowhere/clip.vQv");
    EXPECT_EQ(Refusal([](const std::string& p) { WriteVqv(p, {Bitmap(1, 1)}); }, path),
              "Cannot create file '" + path + "': No such file or directory");
}

} // namespace
} // namespace morph
