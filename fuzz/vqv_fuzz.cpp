// The animation file reader on arbitrary bytes. The readers take only a path, so every input
// is written to a file first. Properties: whatever the bytes, the readers either throw
// MorphError or give frames that match the header and the bytes cell by cell; frames that
// were read save back to the same bytes (byte 3 of every cell as zero).
#include "FuzzSupport.h"

#include "animation/VqvCodec.h"
#include "platform/MorphError.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using morph::fuzz::Check;
using morph::fuzz::WorkFolder;

std::vector<std::uint8_t> ReadBack(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void CheckFrames(const std::vector<morph::Bitmap>& frames, const morph::VqvHeader& header,
                 const std::uint8_t* data, std::size_t size) {
    Check(frames.size() == std::size_t(header.frames), "frame count differs from the header");
    Check(size == 12 + 4 * frames.size() * std::size_t(header.width) * std::size_t(header.height),
          "a file of the wrong length was accepted");
    const std::uint8_t* cell = data + 12;
    for (const morph::Bitmap& frame : frames) {
        Check(frame.width() == header.width && frame.height() == header.height,
              "frame size differs from the header");
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x, cell += 4) {
                Check(frame.pixel(x, y) == morph::RGB(cell[0], cell[1], cell[2]),
                      "a pixel differs from its cell");
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const WorkFolder& folder = WorkFolder::Get();
    const std::string input = folder.file("input.vqv");
    const std::string copy = folder.file("copy.vqv");
    morph::fuzz::WriteFile(input, data, size);

    bool headerAccepted = false;
    morph::VqvHeader header;
    try {
        header = morph::ReadVqvHeader(input);
        headerAccepted = true;
    } catch (const morph::MorphError&) {
    }

    std::vector<morph::Bitmap> frames;
    bool framesAccepted = false;
    try {
        frames = morph::ReadVqv(input);
        framesAccepted = true;
    } catch (const morph::MorphError&) {
    }
    // The file does not change between the two reads, so both must judge it alike.
    Check(headerAccepted == framesAccepted, "header and whole-file readers disagree");
    if (!framesAccepted) {
        return 0;
    }
    CheckFrames(frames, header, data, size);

    morph::WriteVqv(copy, frames);
    const std::vector<std::uint8_t> saved = ReadBack(copy);
    Check(saved.size() == size, "saved file differs in length");
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t expected = i >= 12 && (i - 12) % 4 == 3 ? 0 : data[i];
        Check(saved[i] == expected, "saved file differs from the bytes read");
    }
    Check(folder.holdsOnly({"input.vqv", "copy.vqv"}), "a temporary file was left behind");
    morph::fuzz::Remove(copy);
    return 0;
}
