// The AVIFile layer on its own: WAV files, well-formed and malformed, the handles, and a save
// split into RIFF 'AVI ' and 'AVIX' parts.
#include "platform/AviFile.h"
#include "platform/avi/AviLayout.h"
#include "support/Decoders.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

// A new stream of `width` x `height` 24-bit frames, `rate` a second, in a work file.
AviStream* VideoStream(AviFile* file, std::uint32_t rate, std::int32_t width, std::int32_t height) {
    AviStreamInfo info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = rate;
    AviStream* stream = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, info), AVIERR_OK);
    BitmapInfoHeader format;
    format.biSize = 40;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biSizeImage = std::uint32_t((width * 3 + 3) / 4 * 4 * height);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, &format, 40), AVIERR_OK);
    return stream;
}

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
    AviStream* stream = VideoStream(file, 25, 1, 1);
    ASSERT_NE(stream, nullptr);
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

TEST_F(AviLayer, ASmallRiffLimitGivesAnOpenDmlFileThatReadsLikeTheOneRiffFile) {
    constexpr int kFrames = 40; // 10 a second, 8 x 4 pixels of 24 bits
    constexpr std::int32_t kFrameBytes = 8 * 3 * 4;
    AviFile* work = nullptr;
    std::string workPath;
    ASSERT_EQ(AVIFileCreateUniqueA(&work, dir_.file(""), "~work", ".avi", workPath), AVIERR_OK);
    AviStream* streams[2] = {VideoStream(work, 10, 8, 4), nullptr};
    ASSERT_NE(streams[0], nullptr);
    for (int i = 0; i < kFrames; ++i) {
        const std::string pixels(kFrameBytes, char(i * 6));
        ASSERT_EQ(AVIStreamWrite(streams[0], i, 1, pixels.data(), kFrameBytes, AVIIF_KEYFRAME,
                                 nullptr, nullptr),
                  AVIERR_OK);
    }
    const std::string samples = test::PcmSamples(4000 * 4, 1, 8); // 4 s
    test::WriteAll(dir_.file("sound.wav"), test::PcmWav(4000, 1, 8, samples));
    AviFile* wav = nullptr;
    ASSERT_EQ(AVIFileOpenA(&wav, dir_.file("sound.wav"), OF_READ), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(wav, &streams[1], streamtypeAUDIO, 0), AVIERR_OK);

    constexpr std::uint32_t kLimit = 8192; // about a second of sound and pictures
    const std::string split = dir_.file("split.avi");
    ASSERT_EQ(avi::SaveStreams(split, 2, streams, kLimit), AVIERR_OK);
    ASSERT_EQ(AVISaveV(dir_.file("whole.avi"), 2, streams), AVIERR_OK);
    for (AviStream* stream : streams) {
        EXPECT_EQ(AVIStreamRelease(stream), 0);
    }
    EXPECT_EQ(AVIFileRelease(work), 0);
    EXPECT_EQ(AVIFileRelease(wav), 0);

    // RIFF 'AVI ' and then RIFF 'AVIX' parts, none larger than the limit.
    const std::string file = test::ReadAll(split);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    std::vector<std::string> forms;
    std::size_t at = 0;
    while (at + 12 <= file.size()) {
        ASSERT_EQ(file.substr(at, 4), "RIFF") << at;
        const std::uint32_t size = avi::Le32(bytes + at + 4);
        EXPECT_LE(size, kLimit - 8);
        forms.push_back(file.substr(at + 8, 4));
        at += 8 + size;
    }
    EXPECT_EQ(at, file.size());
    ASSERT_GE(forms.size(), 3u);
    std::vector<std::string> wanted(forms.size(), "AVIX");
    wanted[0] = "AVI ";
    EXPECT_EQ(forms, wanted);

    const auto probed = test::ProbeStreams(split);
    ASSERT_EQ(probed.size(), 2u);
    EXPECT_EQ(probed[0].at("nb_read_frames"), std::to_string(kFrames));
    const std::string video = test::DecodeVideo(split);
    EXPECT_EQ(video.size(), std::size_t(kFrames) * 8 * 4 * 3);
    EXPECT_TRUE(video == test::DecodeVideo(dir_.file("whole.avi")));
    EXPECT_TRUE(test::DecodeAudio(split, 8) == samples);
}

} // namespace
} // namespace morph
