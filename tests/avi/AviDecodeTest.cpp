// Written AVI files as real decoders see them: ffprobe's streams and ffmpeg's decoded
// pictures and samples must be exactly what went in.
#include "avi/AviWriter.h"
#include "support/Decoders.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace morph {
namespace {

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | std::uint8_t(bytes[at + std::size_t(i)]);
    }
    return value;
}

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
    return std::uint16_t(std::uint8_t(bytes[at]) | (std::uint8_t(bytes[at + 1]) << 8));
}

// The chunk `id` (for a LIST, the list of type `id`) among the chunks in [begin, end) of a
// RIFF file: the position of its data (a LIST's after its type) and its end; begin == end
// when there is none.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};
Span FindChunk(const std::string& file, Span within, const char* id) {
    for (std::size_t at = within.begin; at + 8 <= within.end;) {
        const std::size_t size = Le32(file, at + 4);
        const std::size_t end = std::min(at + 8 + size, within.end);
        if (file.compare(at, 4, "LIST") == 0 && at + 12 <= end &&
            file.compare(at + 8, 4, id) == 0) {
            return {at + 12, end};
        }
        if (file.compare(at, 4, id) == 0) {
            return {at + 8, end};
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

class AviDecode : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR")) {
            savedTmp_ = old;
        }
        ::setenv("TMPDIR", temp_.file("").c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        EXPECT_TRUE(temp_.entries().empty()); // no work file stays
    }

    static void Use(TAviWriter& writer, const std::vector<Bitmap>& frames) {
        writer.Bitmaps.clear();
        for (const Bitmap& frame : frames) {
            writer.Bitmaps.push_back(&frame);
        }
    }

    static std::string AllRgb(const std::vector<Bitmap>& frames) {
        std::string bytes;
        for (const Bitmap& frame : frames) {
            bytes += test::RgbBytes(frame);
        }
        return bytes;
    }

    test::TempDir out_;
    test::TempDir temp_;
    std::optional<std::string> savedTmp_;
};

TEST_F(AviDecode, FramesDecodePixelIdenticalAtTheirRateAndTheWriterCanWriteAgain) {
    const std::vector<Bitmap> frames = {test::Pattern(165, 100, 1), test::Pattern(165, 100, 2),
                                        test::Pattern(165, 100, 3), test::Pattern(165, 100, 4)};
    TAviWriter writer;
    writer.Width = 165;
    writer.Height = 100;
    writer.FrameTime = 40;
    writer.FileName = out_.file("fast.avi");
    Use(writer, frames);
    writer.WriteAviFile();

    const auto streams = test::ProbeStreams(out_.file("fast.avi"));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_type"), "video");
    EXPECT_EQ(streams[0].at("codec_name"), "rawvideo");
    EXPECT_EQ(streams[0].at("width"), "165");
    EXPECT_EQ(streams[0].at("height"), "100");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "25/1");
    EXPECT_EQ(streams[0].at("nb_read_frames"), "4");
    EXPECT_TRUE(test::DecodeVideo(out_.file("fast.avi")) == AllRgb(frames));

    // The same writer again: other frames, the start frame time, a new file.
    const std::vector<Bitmap> others = {frames[3], frames[0]};
    Use(writer, others);
    writer.FrameTime = 1000;
    writer.FileName = out_.file("slow.avi");
    writer.WriteAviFile();
    const auto slow = test::ProbeStreams(out_.file("slow.avi"));
    ASSERT_EQ(slow.size(), 1u);
    EXPECT_EQ(slow[0].at("r_frame_rate"), "1/1");
    EXPECT_EQ(slow[0].at("nb_read_frames"), "2");
    EXPECT_TRUE(test::DecodeVideo(out_.file("slow.avi")) == AllRgb(others));
    EXPECT_TRUE(test::DecodeVideo(out_.file("fast.avi")) == AllRgb(frames));
}

TEST_F(AviDecode, BitmapsAreDrawnAtTheTopLeftOrScaledToTheFrame) {
    const Bitmap small = test::Pattern(100, 80, 5);
    const Bitmap large = test::Pattern(200, 170, 6);
    TAviWriter writer;
    writer.Width = 164;
    writer.Height = 164;
    writer.Stretch = false;
    writer.FileName = out_.file("unscaled.avi");
    writer.Bitmaps = {&small, &large};
    writer.WriteAviFile();

    Bitmap placed(164, 164, small.pixel(0, 0));
    Bitmap cropped(164, 164);
    for (int y = 0; y < 164; ++y) {
        for (int x = 0; x < 164; ++x) {
            if (x < 100 && y < 80) {
                placed.setPixel(x, y, small.pixel(x, y));
            }
            cropped.setPixel(x, y, large.pixel(x, y));
        }
    }
    EXPECT_TRUE(test::DecodeVideo(out_.file("unscaled.avi")) == AllRgb({placed, cropped}));

    // Scaled to twice the size, every pixel becomes a 2 x 2 block.
    const Bitmap tiny = test::Pattern(41, 20, 7);
    writer.Width = 82;
    writer.Height = 40;
    writer.Stretch = true;
    writer.FileName = out_.file("scaled.avi");
    writer.Bitmaps = {&tiny};
    writer.WriteAviFile();
    Bitmap doubled(82, 40);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 82; ++x) {
            doubled.setPixel(x, y, tiny.pixel(x / 2, y / 2));
        }
    }
    EXPECT_TRUE(test::DecodeVideo(out_.file("scaled.avi")) == AllRgb({doubled}));
}

TEST_F(AviDecode, SoundOfWavFilesDecodesToTheSameSamples) {
    const std::vector<Bitmap> frames = {test::Pattern(30, 20, 1), test::Pattern(30, 20, 2),
                                        test::Pattern(30, 20, 3)};
    std::vector<Bitmap> video;
    for (int i = 0; i < 15; ++i) {
        video.push_back(frames[std::size_t(i % 3)]);
    }
    // Sound shorter and longer than the 1.5 s of video, an odd-sized data chunk among them.
    const struct {
        int rate;
        int channels;
        int bits;
        int samples;
        const char* codec;
    } cases[] = {{8000, 1, 8, 13601, "pcm_u8"},
                 {11025, 2, 8, 9000, "pcm_u8"},
                 {22050, 1, 16, 40000, "pcm_s16le"},
                 {44100, 2, 16, 50000, "pcm_s16le"},
                 {48000, 2, 16, 96000, "pcm_s16le"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels, " +
                     std::to_string(c.bits) + " bits");
        const std::string samples = test::PcmSamples(c.samples, c.channels, c.bits);
        test::WriteAll(out_.file("sound.wav"), test::PcmWav(c.rate, c.channels, c.bits, samples));

        TAviWriter writer;
        writer.Width = 30;
        writer.Height = 20;
        writer.FrameTime = 100;
        writer.FileName = out_.file("movie.avi");
        writer.ChangeWavFileName(out_.file("sound.wav"));
        Use(writer, video);
        writer.WriteAviFile();

        const auto streams = test::ProbeStreams(out_.file("movie.avi"));
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[0].at("codec_name"), "rawvideo");
        EXPECT_EQ(streams[0].at("r_frame_rate"), "10/1");
        EXPECT_EQ(streams[0].at("nb_read_frames"), "15");
        EXPECT_EQ(streams[1].at("codec_type"), "audio");
        EXPECT_EQ(streams[1].at("codec_name"), c.codec);
        EXPECT_EQ(streams[1].at("sample_rate"), std::to_string(c.rate));
        EXPECT_EQ(streams[1].at("channels"), std::to_string(c.channels));
        EXPECT_TRUE(test::DecodeAudio(out_.file("movie.avi"), c.bits) == samples);
        EXPECT_TRUE(test::DecodeVideo(out_.file("movie.avi")) == AllRgb(video));
    }
}

// The clock and frame of the video as the file states them: the frame time over 1000 in the
// stream header, not the reduced rate a decoder reports (40 ms and 80 ms both come out as
// some multiple of 25 frames a second), and the frame rectangle of the writer's size.
TEST_F(AviDecode, TheStreamHeaderHoldsTheFrameTimeOverAThousandAndTheFrameSize) {
    const struct {
        int frameTime, width, height;
    } cases[] = {{40, 165, 100}, {80, 165, 100}, {33, 8, 4}, {1000, 64, 48}, {1, 3, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frameTime);
        const std::vector<Bitmap> frames(3, test::Pattern(c.width, c.height, c.frameTime));
        TAviWriter writer;
        writer.Width = c.width;
        writer.Height = c.height;
        writer.FrameTime = c.frameTime;
        writer.Stretch = false;
        writer.FileName = out_.file("clock.avi");
        Use(writer, frames);
        writer.WriteAviFile();

        const std::string file = test::ReadAll(out_.file("clock.avi"));
        ASSERT_GE(file.size(), 12u);
        ASSERT_EQ(file.substr(0, 4), "RIFF");
        ASSERT_EQ(file.substr(8, 4), "AVI ");
        const Span hdrl = FindChunk(file, {12, file.size()}, "hdrl");
        const Span avih = FindChunk(file, hdrl, "avih");
        const Span strl = FindChunk(file, hdrl, "strl");
        const Span strh = FindChunk(file, strl, "strh");
        ASSERT_EQ(avih.end - avih.begin, 56u);
        ASSERT_EQ(strh.end - strh.begin, 56u);

        EXPECT_EQ(Le32(file, avih.begin), std::uint32_t(c.frameTime) * 1000); // us per frame
        EXPECT_EQ(Le32(file, avih.begin + 16), 3u);                           // frames
        EXPECT_EQ(Le32(file, avih.begin + 32), std::uint32_t(c.width));
        EXPECT_EQ(Le32(file, avih.begin + 36), std::uint32_t(c.height));

        EXPECT_EQ(file.substr(strh.begin, 4), "vids");
        EXPECT_EQ(Le32(file, strh.begin + 20), std::uint32_t(c.frameTime)); // dwScale
        EXPECT_EQ(Le32(file, strh.begin + 24), 1000u);                      // dwRate
        EXPECT_EQ(Le32(file, strh.begin + 28), 0u);                         // dwStart
        EXPECT_EQ(Le32(file, strh.begin + 32), 3u);                         // dwLength
        // rcFrame: left, top, right, bottom as 16-bit values.
        EXPECT_EQ(Le16(file, strh.begin + 48), 0u);
        EXPECT_EQ(Le16(file, strh.begin + 50), 0u);
        EXPECT_EQ(Le16(file, strh.begin + 52), std::uint16_t(c.width));
        EXPECT_EQ(Le16(file, strh.begin + 54), std::uint16_t(c.height));
    }
}

TEST_F(AviDecode, SoundComesOncePerSecondBeforeItsFramesAndEveryChunkIsIndexed) {
    const Bitmap frame = test::Pattern(8, 4, 1);
    TAviWriter writer;
    writer.Width = 8;
    writer.Height = 4;
    writer.FrameTime = 200;
    writer.FileName = out_.file("paced.avi");
    writer.Bitmaps.assign(25, &frame); // 5 s of video
    test::WriteAll(out_.file("paced.wav"),
                   test::PcmWav(8000, 1, 8, test::PcmSamples(28000, 1, 8))); // 3.5 s
    writer.ChangeWavFileName(out_.file("paced.wav"));
    writer.WriteAviFile();

    const std::string file = test::ReadAll(out_.file("paced.avi"));
    ASSERT_GT(file.size(), 12u);
    ASSERT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    ASSERT_EQ(file.substr(8, 4), "AVI ");

    std::size_t movi = 0;
    std::size_t moviEnd = 0;
    std::size_t idx1 = 0;
    std::size_t idx1Size = 0;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::size_t size = Le32(file, at + 4);
        if (file.compare(at, 4, "LIST") == 0 && file.compare(at + 8, 4, "hdrl") == 0) {
            const std::size_t avih = at + 12;
            ASSERT_EQ(file.substr(avih, 4), "avih");
            EXPECT_EQ(Le32(file, avih + 8), 200000u);  // microseconds per frame
            EXPECT_EQ(Le32(file, avih + 8 + 16), 25u); // frames
            EXPECT_EQ(Le32(file, avih + 8 + 24), 2u);  // streams
        } else if (file.compare(at, 4, "LIST") == 0 && file.compare(at + 8, 4, "movi") == 0) {
            movi = at + 8;
            moviEnd = at + 8 + size;
        } else if (file.compare(at, 4, "idx1") == 0) {
            idx1 = at + 8;
            idx1Size = size;
        }
        at += 8 + size + (size & 1);
    }
    ASSERT_NE(movi, 0u);
    ASSERT_NE(idx1, 0u);

    std::string order;
    std::vector<std::size_t> positions;
    std::vector<std::size_t> sizes;
    for (std::size_t at = movi + 4; at + 8 <= moviEnd;) {
        const std::size_t size = Le32(file, at + 4);
        order += file.substr(at, 4) == "01wb" ? 'A' : file.substr(at, 4) == "00db" ? 'V' : '?';
        positions.push_back(at);
        sizes.push_back(size);
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(order, "AVVVVVAVVVVVAVVVVVAVVVVVVVVVV");
    EXPECT_EQ(sizes[0], 8000u);
    EXPECT_EQ(sizes[18], 4000u);
    EXPECT_EQ(sizes[1], std::size_t(DibRowBytes(8) * 4));

    ASSERT_EQ(idx1Size, 16 * order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(i);
        const std::size_t entry = idx1 + 16 * i;
        EXPECT_EQ(file.substr(entry, 4), file.substr(positions[i], 4));
        EXPECT_EQ(Le32(file, entry + 4), 0x10u); // key frame
        EXPECT_EQ(Le32(file, entry + 8), positions[i] - movi);
        EXPECT_EQ(Le32(file, entry + 12), sizes[i]);
    }
}

// More than a gigabyte of video, so the file continues in AVI 2.0 extensions; the sound
// runs through all of them. Takes 10 to 20 s and, for a moment, 3.2 GB of disk space (the
// work file and the output).
TEST_F(AviDecode, AOneAndAHalfGigabyteVideoIsReadCompletely) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(out_.file(""), error);
    if (error || space.available < (std::uintmax_t(4) << 30)) {
        GTEST_SKIP() << "needs 4 GiB of free disk space in the temporary folder";
    }
    const auto started = std::chrono::steady_clock::now();
    std::vector<Bitmap> distinct;
    for (int seed = 0; seed < 4; ++seed) {
        distinct.push_back(test::Pattern(1024, 512, seed));
    }
    constexpr int kFrames = 1024; // 1.5 MiB each
    TAviWriter writer;
    writer.Width = 1024;
    writer.Height = 512;
    writer.FrameTime = 40;
    writer.FileName = out_.file("long.avi");
    for (int i = 0; i < kFrames; ++i) {
        writer.Bitmaps.push_back(&distinct[std::size_t((i * 7 / 3) % 4)]);
    }
    const std::string samples = test::PcmSamples(8000 * 41, 1, 8);
    test::WriteAll(out_.file("long.wav"), test::PcmWav(8000, 1, 8, samples));
    writer.ChangeWavFileName(out_.file("long.wav"));
    writer.WriteAviFile();
    const std::string path = out_.file("long.avi");
    EXPECT_GT(std::filesystem::file_size(path), std::uintmax_t(3) << 29);

    const auto streams = test::ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("nb_read_frames"), std::to_string(kFrames));
    EXPECT_TRUE(test::DecodeAudio(path, 8) == samples);

    std::FILE* video = ::popen(("ffmpeg -v error -i " + test::Quote(path) +
                                " -map 0:v:0 -f rawvideo -pix_fmt rgb24 - 2>/dev/null")
                                   .c_str(),
                               "r");
    ASSERT_NE(video, nullptr);
    std::vector<std::string> expected;
    for (const Bitmap& frame : distinct) {
        expected.push_back(test::RgbBytes(frame));
    }
    std::string decoded(expected[0].size(), '\0');
    int frames = 0;
    int wrong = 0;
    while (std::fread(decoded.data(), 1, decoded.size(), video) == decoded.size()) {
        wrong += decoded == expected[std::size_t((frames * 7 / 3) % 4)] ? 0 : 1;
        ++frames;
    }
    ::pclose(video);
    EXPECT_EQ(frames, kFrames);
    EXPECT_EQ(wrong, 0);
    std::printf("1.5 GiB video written and read back in %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

} // namespace
} // namespace morph
