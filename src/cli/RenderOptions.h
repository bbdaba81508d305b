// The command line of morph-render.
#pragma once

#include "engine/Interpolation.h"
#include "engine/Warp.h"
#include "platform/MorphError.h"

#include <string>
#include <vector>

namespace morph {

struct RenderOptions {
    bool help = false;
    bool demo = false;
    std::string sourcePath;
    std::string targetPath;
    std::string linesPath;
    std::string vqvPath; // empty: no .vQv file
    std::string pngDir;  // empty: no PNG frames
    int frames = 2;
    WarpConstants constants;
    InterpolationMode mode = InterpolationMode::EndPoints;
    int threads = 0; // 0: every core
};

// A command line that does not fit the interface; the usage text is shown after it.
class UsageError : public MorphError {
  public:
    using MorphError::MorphError;
};

// The start values of the settings, as texts, converted the way every other value is.
inline constexpr const char* kDefaultFrames = "2";
inline constexpr const char* kDefaultA = "2";
inline constexpr const char* kDefaultB = "1";
inline constexpr const char* kDefaultP = "0";

// Parses the arguments after the program name. Values are converted with StrToInt and
// StrToFloat and raise their MorphError; a malformed command line raises UsageError.
RenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// The three forms of the command line, then the whole help text.
std::string RenderSynopsis();
std::string RenderUsage();

} // namespace morph
