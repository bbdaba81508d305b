#include "engine/LineColours.h"

#include <cstddef>

namespace morph {

Colour LineColour(int index) {
    constexpr int size = static_cast<int>(LineColours.size());
    const int slot = index % size;
    return LineColours[static_cast<std::size_t>(slot < 0 ? slot + size : slot)];
}

} // namespace morph
