// TAviWriter's settings, frame conversion and failures: every failure gives its message,
// leaves no work file behind and no output file in place.
#include "avi/AviWriter.h"
#include "platform/MorphError.h"
#include "platform/ScreenSize.h"
#include "support/Decoders.h"
#include "support/Faults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace morph {
namespace {

namespace fs = std::filesystem;

std::string FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const MorphError& e) {
        return e.message();
    }
    return "";
}

TEST(AviWriterSetup, StartValuesAreATenthOfTheScreenAndOneFramePerSecond) {
    {
        const TAviWriter writer;
        EXPECT_EQ(writer.Width, kDefaultScreenSize.width / 10);
        EXPECT_EQ(writer.Height, kDefaultScreenSize.height / 10);
        EXPECT_EQ(writer.FrameTime, 1000);
        EXPECT_TRUE(writer.Stretch);
        EXPECT_EQ(writer.FileName, "");
        EXPECT_EQ(writer.WavFileName(), "");
        EXPECT_TRUE(writer.Bitmaps.empty());
    }
    SetScreenSizeFunction([] { return ScreenSize{1366, 769}; });
    const TAviWriter writer;
    SetScreenSizeFunction({});
    EXPECT_EQ(writer.Width, 136);
    EXPECT_EQ(writer.Height, 76);
}

TEST(AviWriterSetup, WavFileNameTakesOnlyWavNamesAndIgnoresCaseOnlyChanges) {
    TAviWriter writer;
    const std::string refused = "WavFileName must name a file with the .wav extension";
    writer.ChangeWavFileName(""); // equal to the empty start value: no check
    EXPECT_EQ(FailureOf([&] { writer.ChangeWavFileName("song.mp3"); }), refused);
    EXPECT_EQ(FailureOf([&] { writer.ChangeWavFileName("sounds.wav/song"); }), refused);
    EXPECT_EQ(writer.WavFileName(), "");

    writer.ChangeWavFileName("dir/Song.WAV");
    EXPECT_EQ(writer.WavFileName(), "dir/Song.WAV");
    writer.ChangeWavFileName("DIR/song.wav"); // differs only in case: the stored text stays
    EXPECT_EQ(writer.WavFileName(), "dir/Song.WAV");
    EXPECT_EQ(FailureOf([&] { writer.ChangeWavFileName(""); }), refused);
    EXPECT_EQ(FailureOf([&] { writer.ChangeWavFileName("other.wave"); }), refused);
    EXPECT_EQ(writer.WavFileName(), "dir/Song.WAV");
    writer.ChangeWavFileName("other.Wav");
    EXPECT_EQ(writer.WavFileName(), "other.Wav");
}

TEST(Dib, RowsArePaddedToFourBytesAndStoredFromTheBottom) {
    EXPECT_EQ(DibRowBytes(1), 4);
    EXPECT_EQ(DibRowBytes(4), 12);
    EXPECT_EQ(DibRowBytes(164), 492);
    EXPECT_EQ(DibRowBytes(165), 496);

    const BitmapInfoHeader header = PrepareDibHeader(Bitmap(165, 100));
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 165);
    EXPECT_EQ(header.biHeight, 100);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, 0u);
    EXPECT_EQ(header.biSizeImage, 49600u);
    EXPECT_EQ(header.biXPelsPerMeter, 0);
    EXPECT_EQ(header.biClrUsed, 0u);
    EXPECT_EQ(MeasureDib(Bitmap(165, 100)).pixelBytes, 49600u);

    Bitmap two(5, 2);
    for (int x = 0; x < 5; ++x) {
        two.setPixel(x, 0, RGB(std::uint8_t(x), 10, 20));                       // top row
        two.setPixel(x, 1, RGB(std::uint8_t(100 + x), 110, 120) | 0xAB000000u); // bottom row
    }
    std::vector<std::uint8_t> pixels(32, 0xEE);
    BitmapInfoHeader filled;
    ReadDibPixels(two, filled, pixels.data());
    EXPECT_EQ(filled.biSizeImage, 32u);
    const std::vector<std::uint8_t> expected = {
        120, 110, 100, 120, 110, 101, 120, 110, 102, 120, 110, 103, 120, 110, 104, 0,
        20,  10,  0,   20,  10,  1,   20,  10,  2,   20,  10,  3,   20,  10,  4,   0};
    EXPECT_EQ(pixels, expected);

    EXPECT_EQ(FailureOf([] { PrepareDibHeader(Bitmap()); }), "Invalid bitmap");
}

// Writers whose work files go to a folder of the test, writing into another one.
class AviWriterFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR")) {
            savedTmp_ = old;
        }
        ::setenv("TMPDIR", temp_.file("").c_str(), 1);
        frames_ = {test::Pattern(20, 10, 1), test::Pattern(20, 10, 2), test::Pattern(20, 10, 3)};
    }
    void TearDown() override {
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    void Configure(TAviWriter& writer, const std::string& name = "out.avi") {
        writer.Width = 20;
        writer.Height = 10;
        writer.FileName = out_.file(name);
        writer.Bitmaps.clear();
        for (const Bitmap& frame : frames_) {
            writer.Bitmaps.push_back(&frame);
        }
    }

    // The write fails with `message`; no work file remains and the output folder is as it was.
    void ExpectFailure(TAviWriter& writer, const std::string& message) {
        const auto before = out_.entries();
        EXPECT_EQ(FailureOf([&] { writer.WriteAviFile(); }), message);
        EXPECT_TRUE(temp_.entries().empty());
        EXPECT_EQ(out_.entries(), before);
    }

    test::TempDir out_;
    test::TempDir temp_;
    std::optional<std::string> savedTmp_;
    std::vector<Bitmap> frames_;
};

TEST_F(AviWriterFiles, BitmapListIsCheckedBeforeAnythingIsCreated) {
    TAviWriter writer;
    Configure(writer);
    writer.Bitmaps.clear();
    ExpectFailure(writer, "No bitmaps on the Bitmaps list");
    Configure(writer);
    writer.Bitmaps.insert(writer.Bitmaps.begin() + 2, nullptr);
    writer.Bitmaps.push_back(nullptr);
    ExpectFailure(writer, "Bitmaps[2] is not a TBitmap");
    EXPECT_EQ(writer.TempFileName(), "");
}

TEST_F(AviWriterFiles, SoundFilesThatCannotBeUsedGiveTheirMessages) {
    test::WriteAll(out_.file("text.wav"), "just some text, no sound");
    test::WriteAll(out_.file("short.wav"),
                   test::Riff("WAVE", test::Chunk("fmt ", test::PcmFormat(8000, 1, 8)) +
                                          std::string("data\xff\xff\x00\x00"
                                                      "abc",
                                                      11)));
    test::WriteAll(out_.file("silent.wav"),
                   test::Riff("WAVE", test::Chunk("fmt ", test::PcmFormat(8000, 1, 8))));
    fs::create_directory(out_.file("folder.wav"));
    // Reading the start of this process's memory map fails: a read error, not a format one.
    fs::create_symlink("/proc/self/mem", out_.file("unreadable.wav"));

    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"missing.wav", "A disk error occurred while opening the audio file."},
        {"folder.wav", "A disk error occurred while opening the audio file."},
        {"text.wav",
         "The file could not be read, indicating a corrupt file or an unrecognized format."},
        {"short.wav",
         "The file could not be read, indicating a corrupt file or an unrecognized format."},
        {"unreadable.wav", "A disk error occurred while reading the audio file."},
        {"silent.wav", "Unable to get audio stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TAviWriter writer;
        Configure(writer);
        writer.ChangeWavFileName(out_.file(c.name));
        ExpectFailure(writer, c.message);
        EXPECT_NE(writer.TempFileName(), ""); // it was made, and it is gone
    }
}

TEST_F(AviWriterFiles, AnOutputThatCannotBeWrittenLeavesNothingAndKeepsAnOldFile) {
    TAviWriter writer;
    Configure(writer, "no-such-folder/out.avi");
    ExpectFailure(writer, "Unable to write output file");
    fs::create_directory(out_.file("taken.avi"));
    Configure(writer, "taken.avi");
    ExpectFailure(writer, "Unable to write output file");
    Configure(writer, "out.mp4");
    ExpectFailure(writer, "Unable to write output file");

    test::WriteAll(out_.file("old.avi"), "an older video");
    Configure(writer, "old.avi");
    writer.ChangeWavFileName(out_.file("missing.wav"));
    ExpectFailure(writer, "A disk error occurred while opening the audio file.");
    EXPECT_EQ(test::ReadAll(out_.file("old.avi")), "an older video");
}

TEST_F(AviWriterFiles, WorkFileStreamAndFrameSizeFailures) {
    ::setenv("TMPDIR", out_.file("no-such-folder").c_str(), 1);
    TAviWriter noWorkFolder;
    Configure(noWorkFolder);
    ExpectFailure(noWorkFolder, "Failed to create AVI video work file");
    ::setenv("TMPDIR", temp_.file("").c_str(), 1);

    for (const int frameTime : {0, -40}) {
        TAviWriter writer;
        Configure(writer);
        writer.FrameTime = frameTime;
        ExpectFailure(writer, "Failed to create AVI video stream");
    }
    TAviWriter flat;
    Configure(flat);
    flat.Height = 0;
    ExpectFailure(flat, "Invalid bitmap");
}

TEST_F(AviWriterFiles, AFullDiskStopsTheFrameWriteOrTheSave) {
    TAviWriter writer;
    Configure(writer);
    const rlim_t workBytes = 3 * 10 * DibRowBytes(20);
    {
        const test::FileSizeLimit limit(workBytes - 100);
        ExpectFailure(writer, "Failed to add frame to AVI. Err=8004406E");
    }
    {
        const test::FileSizeLimit limit(workBytes); // the frames fit, the finished file does not
        ExpectFailure(writer, "Unable to write output file");
    }
    writer.WriteAviFile();
    EXPECT_TRUE(temp_.entries().empty());
    EXPECT_EQ(out_.entries(), std::set<std::string>{"out.avi"});
}

// A disk that fills up only when the finished file is written, and an output folder that
// takes no new files: the video already there keeps its bytes.
TEST_F(AviWriterFiles, AFullDiskOrALockedFolderKeepsTheOlderVideo) {
    const rlim_t workBytes = 3 * 10 * DibRowBytes(20); // the frames fit, the finished file not
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked folder" : "full disk");
        test::WriteAll(out_.file("old.avi"), "an older video");
        TAviWriter writer;
        Configure(writer, "old.avi");
        {
            std::optional<test::LockedFolder> folder;
            std::optional<test::FileSizeLimit> full;
            if (locked) {
                folder.emplace(out_.file(""));
            } else {
                full.emplace(workBytes);
            }
            const test::PermissionBitsBind bind;
            ExpectFailure(writer, "Unable to write output file");
        }
        EXPECT_EQ(test::ReadAll(out_.file("old.avi")), "an older video");
    }
}

// The writer's messages name no file; the callers' wrapper puts the names in front.
TEST_F(AviWriterFiles, FailuresCanBeToldWithTheNamesOfTheFiles) {
    TAviWriter writer;
    Configure(writer, "no-such-folder/out.avi");
    ExpectFailure(writer, "Unable to write output file");
    EXPECT_EQ(FailureOf([&] { WriteAviFileNamingFiles(writer); }),
              "Cannot write the video '" + out_.file("no-such-folder/out.avi") +
                  "': Unable to write output file");
    Configure(writer);
    writer.ChangeWavFileName(out_.file("missing.wav"));
    EXPECT_EQ(FailureOf([&] { WriteAviFileNamingFiles(writer); }),
              "Cannot write the video '" + out_.file("out.avi") + "' with the sound of '" +
                  out_.file("missing.wav") +
                  "': A disk error occurred while opening the audio file.");
    TAviWriter silent;
    Configure(silent);
    WriteAviFileNamingFiles(silent);
    EXPECT_EQ(out_.entries(), std::set<std::string>{"out.avi"});
}

TEST_F(AviWriterFiles, EachWriteHasItsOwnFreshWorkFileAndLeavesOthersAlone) {
    // What another program or user may have put under the fixed name.
    test::WriteAll(temp_.file("~AWTemp.avi"), "someone else's file");
    TAviWriter writer;
    Configure(writer);
    writer.WriteAviFile();
    const std::string first = writer.TempFileName();
    writer.WriteAviFile();
    const std::string second = writer.TempFileName();

    EXPECT_NE(first, second);
    for (const std::string& work : {first, second}) {
        const std::string name = fs::path(work).filename().string();
        EXPECT_EQ(fs::path(work).parent_path(), fs::path(temp_.file("")).parent_path());
        EXPECT_EQ(name.rfind("~AWTemp", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".avi") << name;
        EXPECT_GT(name.size(), std::strlen("~AWTemp.avi")) << name;
    }
    EXPECT_EQ(temp_.entries(), std::set<std::string>{"~AWTemp.avi"});
    EXPECT_EQ(test::ReadAll(temp_.file("~AWTemp.avi")), "someone else's file");
}

} // namespace
} // namespace morph
