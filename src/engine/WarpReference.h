// The reference warp: the field warp's formulas as they read, for WarpMethod::Reference.
// Engine-internal; everything else reaches it through WarpFrame.
#pragma once

#include "engine/Warp.h"

namespace morph::warp {

// Expects what WarpFrame has checked and arranged: pictures of one size, outputs of that
// size and none of them an input, lines within range, a refresh step of at least 1.
WarpOutcome ReferenceWarpFrame(const WarpOutputs& out, const WarpInputs& in, const WarpConstants& k,
                               const WarpControl& control);

} // namespace morph::warp
