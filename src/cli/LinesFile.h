// The lines file of morph-render: the Source and Target control lines as UTF-8 text.
//
//   # a comment            (blank lines and lines whose first non-blank is '#' are skipped)
//   S x1 y1 x2 y2          a Source line
//   T x1 y1 x2 y2          a Target line
//
// Fields are separated by spaces or tabs; coordinates are decimal integers. Each side keeps
// the order of its lines, and the i-th S line forms a pair with the i-th T line.
//
// A morph file is a lines file that may also hold the rest of a morph's setup, each at most
// once, in any order:
//
//   # morph file, version 1
//   source PATH            the Source picture (relative to the morph file's folder)
//   target PATH            the Target picture
//   frames N               the frame count, a decimal integer
//   a A / b B / p P        the warp constants, decimal numbers ("2", "0.5", "1e-3")
//   mode endpoints|middle  the interpolation
//   refresh R              the columns between the windows' progress points
//   distance line|segment  how a pixel's distance to a line is measured
//   sampling nearest|bilinear  how a colour is read at a mapped position
//   supersample K          K x K samples per pixel, 1 to kMaxSupersample
//
// A PATH is the rest of the line after the key and its blanks, trailing blanks dropped.
// Numbers are kept as the texts they are written as, so that the program converts them as it
// converts what a user types; here they are only checked to be numbers.
#pragma once

#include "engine/ControlLine.h"
#include "engine/Interpolation.h"
#include "engine/Warp.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace morph {

struct LinePairs {
    LineSet source{};
    int sourceCount = 0;
    LineSet target{};
    int targetCount = 0;
};

// Files larger than this are refused before they are read in full.
inline constexpr std::size_t kMaxLinesFileBytes = std::size_t(16) << 20;

// Parses the text of a lines file; fileName only names it in messages. A malformed line, a
// coordinate beyond kMaxLineCoordinate or more than MaxLines lines on a side raise
// MorphError naming the file and the line number.
LinePairs ParseLines(std::string_view text, const std::string& fileName);

// Reads and parses a lines file. Throws MorphError naming the file when it cannot be read.
LinePairs ReadLinesFile(const std::string& path);

// The first line of every morph file this program writes.
inline constexpr const char* kMorphFileHeader = "# morph file, version 1";

struct MorphSetup {
    LinePairs lines;
    std::optional<std::string> sourcePath; // as written, or resolved by ReadMorphFile
    std::optional<std::string> targetPath;
    std::optional<std::string> frames; // the texts as written
    std::optional<std::string> a;
    std::optional<std::string> b;
    std::optional<std::string> p;
    std::optional<InterpolationMode> mode;
    std::optional<std::string> refresh;
    // The warp options; a file without them means their defaults.
    std::optional<WarpDistance> distance;
    std::optional<WarpSampling> sampling;
    std::optional<int> supersample; // 1 .. kMaxSupersample
};

// Parses a morph file (a lines file is one without settings). An unknown key, a key given
// twice, a value that is no number of its kind or an empty path raise MorphError naming the
// file and the line number, as malformed lines do.
MorphSetup ParseMorph(std::string_view text, const std::string& fileName);

// Reads and parses a morph file; relative picture paths are made relative to the file's
// folder. Throws MorphError naming the file when it cannot be read.
MorphSetup ReadMorphFile(const std::string& path);

// The text of a morph file: the header line, the settings that are set, then the lines.
// Paths are written as they are given; a path with a line break cannot be written and raises
// MorphError.
std::string FormatMorph(const MorphSetup& setup);

// The shortest decimal text that reads back as exactly this number ("0.1", "2", "1e-07").
std::string ShortestText(double value);

} // namespace morph
