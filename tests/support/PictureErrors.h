// The message LoadPicture raises for a file, or "" when the file loads.
#pragma once

#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <string>

namespace morph::test {

inline std::string LoadError(const std::string& path) {
    try {
        LoadPicture(path);
    } catch (const MorphError& e) {
        return e.message();
    }
    return "";
}

} // namespace morph::test
