// The lines file of morph-render: the Source and Target control lines as UTF-8 text.
//
//   # a comment            (blank lines and lines whose first non-blank is '#' are skipped)
//   S x1 y1 x2 y2          a Source line
//   T x1 y1 x2 y2          a Target line
//
// Fields are separated by spaces or tabs; coordinates are decimal integers. Each side keeps
// the order of its lines, and the i-th S line forms a pair with the i-th T line.
#pragma once

#include "engine/ControlLine.h"

#include <cstddef>
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

} // namespace morph
