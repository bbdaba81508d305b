// The size of the screen the program runs on, for start values that depend on it. The GUI
// installs a function that asks the real screen; without one a fixed size stands in.
#pragma once

#include <functional>

namespace morph {

struct ScreenSize {
    int width = 0;
    int height = 0;
};

// What ScreenPixels() gives while no function is installed.
inline constexpr ScreenSize kDefaultScreenSize{1024, 768};

// Installs the function ScreenPixels() asks; an empty function restores the default.
void SetScreenSizeFunction(std::function<ScreenSize()> function);

ScreenSize ScreenPixels();

} // namespace morph
