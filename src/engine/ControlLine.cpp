#include "engine/ControlLine.h"

#include "platform/MorphError.h"

#include <string>

namespace morph {

void CheckLineCoordinates(const ControlLine& line) {
    for (std::int32_t c : {line.x1, line.y1, line.x2, line.y2}) {
        if (c < -kMaxLineCoordinate || c > kMaxLineCoordinate) {
            throw MorphError("Line coordinate " + std::to_string(c) + " is out of range");
        }
    }
}

} // namespace morph
