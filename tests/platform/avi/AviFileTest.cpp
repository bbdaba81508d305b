// The AVIFile layer on its own: WAV files, well-formed and malformed, and the handles.
#include "platform/AviFile.h"
#include "support/Decoders.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace morph {
namespace {

using test::Chunk;
using test::PcmFormat;
using test::PutLe;
using test::Riff;

class AviLayer : public ::testing::Test {
  protected:
    void SetUp() override { AVIFileInit(); }
    void TearDown() override { AVIFileExit(); }

    // Opens `bytes` as a WAV file; on success the first stream's header goes to `info`.
    AviResult Open(const std::string& bytes, AviStreamInfo* info = nullptr) {
        const std::string path = dir_.file("sound.wav");
        test::WriteAll(path, bytes);
        AviFile* file = nullptr;
        const AviResult result = AVIFileOpenA(&file, path, OF_READ);
        if (result != AVIERR_OK) {
            EXPECT_EQ(file, nullptr);
            return result;
        }
        AviStream* stream = nullptr;
        const AviResult got = AVIFileGetStream(file, &stream, 0, 0);
        if (got == AVIERR_OK && info != nullptr) {
            EXPECT_EQ(AVIStreamInfoA(stream, info), AVIERR_OK);
        }
        if (stream != nullptr) {
            EXPECT_EQ(AVIStreamRelease(stream), 0);
        }
        EXPECT_EQ(AVIFileRelease(file), 0);
        return got;
    }

    test::TempDir dir_;
};

std::string Fmt(std::uint16_t tag, int channels, int rate, int avg, int block, int bits) {
    std::string fmt;
    PutLe(fmt, tag, 2);
    PutLe(fmt, std::uint32_t(channels), 2);
    PutLe(fmt, std::uint32_t(rate), 4);
    PutLe(fmt, std::uint32_t(avg), 4);
    PutLe(fmt, std::uint32_t(block), 2);
    PutLe(fmt, std::uint32_t(bits), 2);
    return fmt;
}

TEST_F(AviLayer, WellFormedWavFilesGiveOneSoundStream) {
    AviStreamInfo info;
    // 16-bit stereo: four bytes per block; a trailing half block is no sample.
    ASSERT_EQ(Open(Riff("WAVE", Chunk("fmt ", PcmFormat(44100, 2, 16)) +
                                    Chunk("data", std::string(4 * 100 + 2, 'x'))),
                   &info),
              AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeAUDIO);
    EXPECT_EQ(info.dwScale, 4u);
    EXPECT_EQ(info.dwRate, 176400u);
    EXPECT_EQ(info.dwSampleSize, 4u);
    EXPECT_EQ(info.dwLength, 100u);

    // Other chunks around, odd sizes with their pad bytes, data before fmt, a RIFF size
    // past the end of the file as streaming writers leave it.
    std::string streamed =
        Riff("WAVE", Chunk("LIST", "abc") + Chunk("data", std::string(7, 'y')) +
                         Chunk("fmt ", PcmFormat(8000, 1, 8)) + Chunk("junk", "z"));
    streamed.replace(4, 4, "\xff\xff\xff\xff");
    ASSERT_EQ(Open(streamed, &info), AVIERR_OK);
    EXPECT_EQ(info.dwLength, 7u);
    EXPECT_EQ(info.dwRate, 8000u);

    // A compressed format is taken as it stands, its extra bytes included.
    std::string extended = Fmt(0x55, 2, 44100, 16000, 1, 0);
    PutLe(extended, 2, 2);
    extended += "ab";
    ASSERT_EQ(
        Open(Riff("WAVE", Chunk("fmt ", extended) + Chunk("data", std::string(48000, 'm'))), &info),
        AVIERR_OK);
    EXPECT_EQ(info.dwScale, 1u);
    EXPECT_EQ(info.dwRate, 16000u);
    EXPECT_EQ(info.dwLength, 48000u);

    // A sound file without sound opens, but has no stream.
    EXPECT_EQ(Open(Riff("WAVE", Chunk("fmt ", PcmFormat(8000, 1, 8)))), AVIERR_NODATA);
}

TEST_F(AviLayer, MalformedWavFilesAreRefusedWithoutReadingPastTheirChunks) {
    const std::string fmt = Chunk("fmt ", PcmFormat(8000, 1, 8));
    const std::string data = Chunk("data", "abcd");
    std::string dataTooLong = Riff("WAVE", fmt + data);
    dataTooLong[Riff("WAVE", fmt).size() + 4] = 5; // one byte more than the file holds
    std::string fmtTooLong = Riff("WAVE", fmt + data);
    fmtTooLong.replace(16, 4, "\xf0\xff\xff\xff");
    std::string riffTooShort = Riff("WAVE", fmt + data);
    riffTooShort.replace(4, 4, std::string("\x26\0\0\0", 4)); // data ends after the RIFF
    std::string badCbSize = Fmt(0x55, 1, 8000, 1000, 1, 0);
    PutLe(badCbSize, 10, 2);

    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"shorter than a RIFF header", std::string("RIFF\4\0\0\0WAV", 11)},
        {"not RIFF", "This is a text file with words."},
        {"a RIFF of another form", Riff("AVI ", fmt + data)},
        {"data chunk past the end of the file", dataTooLong},
        {"fmt chunk past the end of the file", fmtTooLong},
        {"data chunk past the end of the RIFF", riffTooShort},
        {"chunk header cut off", Riff("WAVE", fmt + "dat")},
        {"no fmt chunk", Riff("WAVE", data)},
        {"fmt too short", Riff("WAVE", Chunk("fmt ", PcmFormat(8000, 1, 8).substr(0, 12)) + data)},
        {"no channels", Riff("WAVE", Chunk("fmt ", Fmt(1, 0, 8000, 8000, 1, 8)) + data)},
        {"no sample rate", Riff("WAVE", Chunk("fmt ", Fmt(1, 1, 0, 0, 1, 8)) + data)},
        {"block size 0", Riff("WAVE", Chunk("fmt ", Fmt(0x55, 1, 8000, 1000, 0, 0)) + data)},
        {"PCM block size wrong", Riff("WAVE", Chunk("fmt ", Fmt(1, 2, 8000, 16000, 2, 16)) + data)},
        {"PCM byte rate wrong", Riff("WAVE", Chunk("fmt ", Fmt(1, 1, 8000, 9000, 1, 8)) + data)},
        {"extra format bytes past the chunk", Riff("WAVE", Chunk("fmt ", badCbSize) + data)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Open(c.bytes), AVIERR_BADFORMAT) << c.what;
    }
}

TEST_F(AviLayer, FilesThatCannotBeOpenedAndHandlesThatAreNotOpen) {
    AviFile* file = nullptr;
    EXPECT_EQ(AVIFileOpenA(&file, dir_.file("missing.wav"), OF_READ), AVIERR_FILEOPEN);
    std::filesystem::create_directory(dir_.file("folder.wav"));
    EXPECT_EQ(AVIFileOpenA(&file, dir_.file("folder.wav"), OF_READ), AVIERR_FILEOPEN);
    test::WriteAll(dir_.file("sound.mp3"), "ID3");
    EXPECT_EQ(AVIFileOpenA(&file, dir_.file("sound.mp3"), OF_READ), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(file, nullptr);
    // A FIFO without a writer is refused at once (in a child process, which a hang would
    // leave to its alarm).
    ASSERT_EQ(::mkfifo(dir_.file("fifo.wav").c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(60);
            AviFile* opened = nullptr;
            std::exit(AVIFileOpenA(&opened, dir_.file("fifo.wav"), OF_READ) == AVIERR_FILEOPEN ? 0
                                                                                               : 1);
        },
        ::testing::ExitedWithCode(0), "");

    EXPECT_EQ(AVIFileRelease(nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamRelease(nullptr), AVIERR_BADHANDLE);

    // A stream holds its file: the file goes when both are released, and only once.
    std::string path;
    ASSERT_EQ(AVIFileCreateUniqueA(&file, dir_.file(""), "~work", ".avi", path), AVIERR_OK);
    AviStreamInfo info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    AviStream* stream = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, info), AVIERR_OK);
    BitmapInfoHeader format;
    format.biSize = 40;
    format.biWidth = 1;
    format.biHeight = 1;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biSizeImage = 4;
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, &format, 40), AVIERR_OK);
    const char pixel[4] = {1, 2, 3, 0};
    EXPECT_EQ(AVIStreamWrite(stream, 1, 1, pixel, 4, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_BADPARAM); // not at the end
    ASSERT_EQ(AVIStreamWrite(stream, 0, 1, pixel, 4, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
    AviStream* copy = nullptr;
    ASSERT_EQ(CreateEditableStream(&copy, stream), AVIERR_OK);
    EXPECT_EQ(AVIStreamWrite(copy, 1, 1, pixel, 4, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_READONLY);
    EXPECT_EQ(AVIFileRelease(file), 1);
    EXPECT_EQ(AVIStreamRelease(stream), 0);
    EXPECT_EQ(AVIFileRelease(file), AVIERR_BADHANDLE);

    // The copy still has its frame after the stream and the file are gone.
    ASSERT_EQ(AVISaveV(dir_.file("one.avi"), 1, &copy), AVIERR_OK);
    EXPECT_EQ(test::ProbeStreams(dir_.file("one.avi"))[0].at("nb_read_frames"), "1");
    EXPECT_EQ(AVIStreamRelease(copy), 0);
}

} // namespace
} // namespace morph
