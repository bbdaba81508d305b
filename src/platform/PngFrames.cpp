#include "platform/PngFrames.h"

#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <algorithm>
#include <system_error>

namespace morph {

namespace fs = std::filesystem;

std::string FramePngName(int index, int frameCount) {
    const int digits = std::max<int>(3, int(std::to_string(std::max(frameCount - 1, 0)).size()));
    std::string number = std::to_string(index);
    if (int(number.size()) < digits) {
        number.insert(0, std::size_t(digits) - number.size(), '0');
    }
    return "frame_" + number + ".png";
}

void WritePngFrames(const std::vector<const Bitmap*>& frames, const fs::path& dir,
                    OutputSet& outputs, const PngFrameStep& afterFrame, int first, int frameCount) {
    std::error_code error;
    if (fs::exists(dir, error)) {
        if (!fs::is_directory(dir, error)) {
            throw MorphError("Cannot write the frames to '" + dir.string() +
                             "': it is not a folder");
        }
    } else {
        outputs.makeFolder(dir);
    }
    const int count = int(frames.size());
    for (int k = 0; k < count; ++k) {
        const fs::path file =
            dir / FramePngName(first + k, frameCount > 0 ? frameCount : first + count);
        outputs.write(file, [&] { SavePng(*frames[std::size_t(k)], file.string()); });
        if (afterFrame) {
            afterFrame(k + 1);
        }
    }
}

} // namespace morph
