// The two sides of a morph.
#pragma once

namespace morph {

enum class Side { Source, Target };

inline Side OtherSide(Side side) {
    return side == Side::Source ? Side::Target : Side::Source;
}

} // namespace morph
