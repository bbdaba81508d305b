// Little-endian fields for the files tests write by hand.
#pragma once

#include <cstdint>
#include <string>

namespace morph::test {

inline void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += char((value >> (8 * i)) & 0xFF);
    }
}

inline std::string LittleEndian(std::uint32_t value, int bytes) {
    std::string out;
    PutLe(out, value, bytes);
    return out;
}

} // namespace morph::test
