// Reading the timing of animation files block by block, where ffprobe does not say it: the
// delays and loop count of a GIF, the frames of an animated WebP (which FFmpeg 5 cannot
// decode) and the plays of an APNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morph::test {

struct AnimationTiming {
    bool valid = false;
    int width = 0; // of the canvas
    int height = 0;
    int loops = -1;          // 0: for ever; -1: not stated
    std::vector<int> delays; // per frame: GIF centiseconds, WebP milliseconds
};

namespace detail {
inline std::uint32_t Le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | std::uint8_t(s.at(at + std::size_t(i)));
    }
    return v;
}
inline std::uint32_t Be(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | std::uint8_t(s.at(at + std::size_t(i)));
    }
    return v;
}
// Skips a chain of GIF sub-blocks; returns the position after the terminator.
inline std::size_t SkipSubBlocks(const std::string& s, std::size_t at) {
    while (std::uint8_t(s.at(at)) != 0) {
        at += 1 + std::uint8_t(s.at(at));
    }
    return at + 1;
}
} // namespace detail

inline AnimationTiming GifTiming(const std::string& s) {
    AnimationTiming t;
    if (s.compare(0, 6, "GIF89a") != 0) {
        return t;
    }
    t.width = int(detail::Le(s, 6, 2));
    t.height = int(detail::Le(s, 8, 2));
    const std::uint8_t flags = std::uint8_t(s.at(10));
    std::size_t at = 13 + ((flags & 0x80) != 0 ? 3u << ((flags & 7) + 1) : 0u);
    while (at < s.size()) {
        const std::uint8_t block = std::uint8_t(s[at]);
        if (block == 0x3B) {
            t.valid = true;
            return t;
        }
        if (block == 0x21) {
            const std::uint8_t label = std::uint8_t(s.at(at + 1));
            if (label == 0xF9) {
                t.delays.push_back(int(detail::Le(s, at + 4, 2)));
            } else if (label == 0xFF && s.compare(at + 3, 11, "NETSCAPE2.0") == 0) {
                t.loops = int(detail::Le(s, at + 16, 2));
            }
            at = detail::SkipSubBlocks(s, at + 2);
        } else if (block == 0x2C) {
            const std::uint8_t image = std::uint8_t(s.at(at + 9));
            at += 10 + ((image & 0x80) != 0 ? 3u << ((image & 7) + 1) : 0u);
            at = detail::SkipSubBlocks(s, at + 1); // after the LZW code size
        } else {
            return t;
        }
    }
    return t;
}

inline AnimationTiming WebpTiming(const std::string& s) {
    AnimationTiming t;
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WEBP") != 0) {
        return t;
    }
    for (std::size_t at = 12; at + 8 <= s.size();) {
        const std::string id = s.substr(at, 4);
        const std::size_t size = detail::Le(s, at + 4, 4);
        const std::size_t body = at + 8;
        if (id == "VP8X") {
            t.width = int(detail::Le(s, body + 4, 3)) + 1;
            t.height = int(detail::Le(s, body + 7, 3)) + 1;
        } else if (id == "ANIM") {
            t.loops = int(detail::Le(s, body + 4, 2));
        } else if (id == "ANMF") {
            t.delays.push_back(int(detail::Le(s, body + 12, 3)));
        }
        at = body + size + size % 2;
        t.valid = at == s.size();
    }
    return t;
}

// APNG: loops from acTL, delays in milliseconds from each fcTL.
inline AnimationTiming ApngTiming(const std::string& s) {
    AnimationTiming t;
    if (s.compare(1, 3, "PNG") != 0) {
        return t;
    }
    for (std::size_t at = 8; at + 12 <= s.size();) {
        const std::size_t size = detail::Be(s, at, 4);
        const std::string id = s.substr(at + 4, 4);
        const std::size_t body = at + 8;
        if (id == "IHDR") {
            t.width = int(detail::Be(s, body, 4));
            t.height = int(detail::Be(s, body + 4, 4));
        } else if (id == "acTL") {
            t.loops = int(detail::Be(s, body + 4, 4));
        } else if (id == "fcTL") {
            const int num = int(detail::Be(s, body + 20, 2));
            const int den = int(detail::Be(s, body + 22, 2));
            t.delays.push_back(num * 1000 / (den == 0 ? 100 : den));
        } else if (id == "IEND") {
            t.valid = true;
        }
        at = body + size + 4;
    }
    return t;
}

} // namespace morph::test
