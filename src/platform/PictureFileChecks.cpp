#include "platform/PictureFileChecks.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace morph {

namespace {

constexpr std::size_t kBlockBytes = std::size_t(64) << 10;

} // namespace

int FileBytes::at(std::int64_t offset) {
    if (offset < 0 || offset >= size_) {
        return -1;
    }
    if (offset < blockStart_ || offset >= blockStart_ + std::int64_t(block_.size())) {
        block_.resize(kBlockBytes);
        blockStart_ = offset;
        ssize_t got = -1;
        do {
            got = ::pread(fd_, block_.data(), block_.size(), offset);
        } while (got < 0 && errno == EINTR);
        block_.resize(std::size_t(std::max<ssize_t>(got, 0)));
        if (block_.empty()) {
            return -1;
        }
    }
    return block_[std::size_t(offset - blockStart_)];
}

// The data is walked as a BMP decoder walks it: a run or a literal longer than what is left
// of its row is cut to fit (and then takes only the bytes of what is kept), a jump stays
// inside the picture, and the end of the last row ends the picture as the end-of-bitmap code
// does.
bool RunLengthDataComplete(FileBytes& bytes, std::int64_t start, std::int64_t width,
                           std::int64_t height, int bitsPerPixel) {
    std::int64_t pos = start;
    std::int64_t x = 0;
    std::int64_t y = 0;
    const auto next = [&bytes, &pos] { return bytes.at(pos++); };
    while (y < height) {
        const int count = next();
        if (count < 0) {
            return false; // rows to go, and no end-of-bitmap code
        }
        if (count > 0) { // a run of one byte's pixels
            if (next() < 0) {
                return false;
            }
            x += std::min<std::int64_t>(count, width - x);
            continue;
        }
        const int code = next();
        if (code < 0) {
            return false; // half an escape code
        }
        if (code == 1) {
            return true; // end of bitmap
        }
        if (code == 0) { // end of row
            x = 0;
            ++y;
        } else if (code == 2) { // jump right and up
            const int right = next();
            const int up = next();
            if (right < 0 || up < 0) {
                return false;
            }
            x = std::min(x + right, width - 1);
            y = std::min(y + up, height - 1);
        } else { // `code` pixels stored as they are, padded to a whole 16-bit word
            const std::int64_t pixels = std::min<std::int64_t>(code, width - x);
            const std::int64_t dataBytes = bitsPerPixel == 4 ? (pixels + 1) / 2 : pixels;
            if (pos + dataBytes > bytes.size()) {
                return false;
            }
            pos += dataBytes + (dataBytes & 1);
            x += pixels;
        }
    }
    return true;
}

JpegLayout ReadJpegLayout(FileBytes& bytes) {
    JpegLayout layout;
    struct Component {
        int across = 1; // sampling factors
        int down = 1;
    };
    std::vector<Component> components;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool progressive = false;
    int firstScanComponents = -1;

    std::int64_t pos = 2; // past the start-of-image marker
    for (;;) {
        // The next marker: 0xFF, any fill bytes 0xFF, and a code other than 0 (0xFF 0x00 is
        // a data byte 0xFF). Anything else between segments is skipped, as decoders do.
        const int byte = bytes.at(pos++);
        if (byte < 0) {
            layout.complete = false;
            break;
        }
        if (byte != 0xFF) {
            continue;
        }
        int marker = bytes.at(pos++);
        while (marker == 0xFF) {
            marker = bytes.at(pos++);
        }
        if (marker < 0) {
            layout.complete = false;
            break;
        }
        const bool restart = marker >= 0xD0 && marker <= 0xD7;
        if (marker == 0x00 || restart || marker == 0x01) {
            continue; // a data byte inside a scan, or a marker without a segment
        }
        if (marker == 0xD9 || marker == 0xD8) {
            break; // end of image; or a second start, which the decoder refuses itself
        }
        const int high = bytes.at(pos);
        const int low = bytes.at(pos + 1);
        if (high < 0 || low < 0) {
            layout.complete = false;
            break;
        }
        const std::int64_t length = (high << 8) | low;
        if (length < 2) {
            break; // a fault the decoder reports
        }
        if (pos + length > bytes.size()) {
            layout.complete = false;
            break;
        }
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && components.empty() && length >= 8) {
            progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            height = (bytes.at(pos + 3) << 8) | bytes.at(pos + 4);
            width = (bytes.at(pos + 5) << 8) | bytes.at(pos + 6);
            const int count = bytes.at(pos + 7);
            for (int c = 0; c < count && 8 + 3 * (c + 1) <= length; ++c) {
                const int factors = bytes.at(pos + 8 + 3 * c + 1);
                components.push_back(
                    {std::clamp(factors >> 4, 1, 4), std::clamp(factors & 15, 1, 4)});
            }
        }
        if (marker == 0xDA && firstScanComponents < 0 && length >= 3) {
            firstScanComponents = bytes.at(pos + 2);
        }
        pos += length;
    }

    // Without all components in its first scan, or progressive, the decoder keeps the
    // coefficients of the whole picture: 64 of 2 bytes for each 8 x 8 block of each component,
    // the blocks of a component rounded up to whole multiples of its sampling factors.
    if (!components.empty() && firstScanComponents >= 0 &&
        (progressive || firstScanComponents < int(components.size()))) {
        int mostAcross = 1;
        int mostDown = 1;
        for (const Component& c : components) {
            mostAcross = std::max(mostAcross, c.across);
            mostDown = std::max(mostDown, c.down);
        }
        const auto blocks = [](std::int64_t size, int factor, int most) {
            const std::int64_t count = (size * factor + most * 8 - 1) / (most * 8);
            return (count + factor - 1) / factor * factor;
        };
        for (const Component& c : components) {
            layout.decoderBytes +=
                blocks(width, c.across, mostAcross) * blocks(height, c.down, mostDown) * 128;
        }
    }
    return layout;
}

} // namespace morph
