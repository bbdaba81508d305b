// TAviWriter on arbitrary settings: frame size, frame time, scaling, a short list of small
// bitmaps (some empty, some missing) and optionally a sound file made of the remaining
// bytes, or a sound file that does not exist. Properties: the write succeeds or raises
// MorphError; either way the work file and every temporary are gone and a failed write
// leaves no output; usable settings without sound always give a file; a written file is a
// RIFF whose size field matches its length and which stays in proportion to its content.
#include "FuzzSupport.h"

#include "avi/AviWriter.h"
#include "platform/MorphError.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

using morph::fuzz::Check;
using morph::fuzz::WorkFolder;

constexpr int kMaxBitmaps = 6;
constexpr int kMaxSide = 24;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::int64_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? std::int64_t(info.st_size) : -1;
}

std::int32_t FrameTimeFrom(FuzzedDataProvider& input) {
    static constexpr std::array<std::int32_t, 8> kTimes = {-1000, -1,   0,     1,
                                                           33,    1000, 65535, 2147483647};
    if (input.ConsumeBool()) {
        return input.ConsumeIntegral<std::int32_t>();
    }
    return kTimes[input.ConsumeIntegralInRange<std::size_t>(0, kTimes.size() - 1)];
}

morph::Bitmap BitmapFrom(FuzzedDataProvider& input) {
    const int width = input.ConsumeIntegralInRange(0, kMaxSide);
    const int height = input.ConsumeIntegralInRange(0, kMaxSide);
    morph::Bitmap bitmap(width, height, input.ConsumeIntegral<morph::Colour>());
    // A few pixels of their own, so that scaling and cropping show in the frames.
    const int painted = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < painted && !bitmap.empty(); ++i) {
        const int x = input.ConsumeIntegralInRange(0, width - 1);
        const int y = input.ConsumeIntegralInRange(0, height - 1);
        bitmap.setPixel(x, y, input.ConsumeIntegral<morph::Colour>());
    }
    return bitmap;
}

// Checks the output's RIFF header and that it holds no more than the frames, the sound and
// their headers and indexes need.
void CheckOutput(const std::string& path, const morph::TAviWriter& writer, std::size_t frames,
                 std::size_t soundBytes) {
    const std::int64_t length = SizeOf(path);
    std::ifstream in(path, std::ios::binary);
    unsigned char head[12] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    Check(in.gcount() == 12 && head[0] == 'R' && head[1] == 'I' && head[2] == 'F' &&
              head[3] == 'F' && head[8] == 'A' && head[9] == 'V' && head[10] == 'I',
          "the output is not a RIFF AVI");
    const std::int64_t riffSize = std::int64_t(head[4]) | (std::int64_t(head[5]) << 8) |
                                  (std::int64_t(head[6]) << 16) | (std::int64_t(head[7]) << 24);
    Check(riffSize + 8 == length, "the RIFF size does not match the file length");
    const std::int64_t frameBytes =
        morph::DibRowBytes(writer.Width) * writer.Height + 8 + 16; // chunk header, idx1 entry
    const std::int64_t bound =
        std::int64_t(frames) * frameBytes + 32 * std::int64_t(soundBytes) + 4096;
    Check(length <= bound, "the output is out of proportion to its content");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The writer takes its work folder from TMPDIR when it is made.
    ::setenv("TMPDIR", WorkFolder::Get().path().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const WorkFolder& folder = WorkFolder::Get();
    const std::string output = folder.file("out.avi");
    const std::string sound = folder.file("sound.wav");

    morph::TAviWriter writer;
    writer.Width = input.ConsumeIntegralInRange(-2, 40);
    writer.Height = input.ConsumeIntegralInRange(-2, 40);
    writer.FrameTime = FrameTimeFrom(input);
    writer.Stretch = input.ConsumeBool();
    writer.FileName = output;

    std::vector<std::unique_ptr<morph::Bitmap>> bitmaps;
    const int count = input.ConsumeIntegralInRange(0, kMaxBitmaps);
    bool allPresent = true;
    for (int i = 0; i < count; ++i) {
        if (input.ConsumeIntegralInRange(0, 15) == 0) {
            writer.Bitmaps.push_back(nullptr);
            allPresent = false;
            continue;
        }
        bitmaps.push_back(std::make_unique<morph::Bitmap>(BitmapFrom(input)));
        writer.Bitmaps.push_back(bitmaps.back().get());
    }

    const int soundKind = input.ConsumeIntegralInRange(0, 2); // none, from the bytes, missing
    std::size_t soundBytes = 0;
    if (soundKind == 1) {
        const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
        soundBytes = bytes.size();
        morph::fuzz::WriteFile(sound, bytes.data(), bytes.size());
    }
    if (soundKind != 0) {
        writer.ChangeWavFileName(sound);
    }

    bool written = true;
    try {
        writer.WriteAviFile();
    } catch (const morph::MorphError&) {
        written = false;
    }

    Check(writer.TempFileName().empty() || !Exists(writer.TempFileName()),
          "the work file was left behind");
    Check(folder.holdsOnly({"out.avi", "sound.wav"}), "a temporary file was left behind");
    Check(written == Exists(output), "the output's presence does not match the result");
    const bool usable =
        writer.Width > 0 && writer.Height > 0 && writer.FrameTime > 0 && count > 0 && allPresent;
    if (soundKind == 0) {
        Check(written == usable, "usable settings without sound did not give a file");
    } else if (written) {
        Check(usable, "unusable settings gave a file");
    }
    if (written) {
        CheckOutput(output, writer, std::size_t(count), soundBytes);
    }
    morph::fuzz::Remove(output);
    morph::fuzz::Remove(sound);
    return 0;
}
