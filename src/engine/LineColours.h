// The colour of every control line by its index: the line windows, the frames' lines and the
// line influence picture all take line i's colour from here.
#pragma once

#include "platform/Bitmap.h"

#include <array>

namespace morph {

// Colours by 0-based line index. No white: the floating windows draw on white.
inline constexpr std::array<Colour, 17> LineColours = {
    0x00000000u, // black
    0x00FF0000u, // blue
    0x00808080u, // gray
    0x00FF00FFu, // fuchsia
    0x00808080u, // gray
    0x00008000u, // green
    0x0000FF00u, // lime
    0x00C0C0C0u, // silver
    0x00000080u, // maroon
    0x00800000u, // navy
    0x00008080u, // olive
    0x00800080u, // purple
    0x000000FFu, // red
    0x00C0C0C0u, // silver
    0x00808000u, // teal
    0x0000FFFFu, // yellow
    0x00FFFF00u, // aqua
};

// The colour of line `index`; the table repeats from the 18th line on (index modulo 17).
Colour LineColour(int index);

} // namespace morph
