// The lines file of morph-render on arbitrary text. Properties: the parser either throws
// MorphError or gives at most MaxLines lines a side, every coordinate within
// +-kMaxLineCoordinate and the unused slots untouched; what it gives, written out again in
// the file's own form, parses to the same lines; reading the bytes from a file judges them
// as parsing them in memory does.
#include "FuzzSupport.h"

#include "cli/LinesFile.h"
#include "platform/MorphError.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using morph::fuzz::Check;

bool InRange(std::int32_t v) {
    return v >= -morph::kMaxLineCoordinate && v <= morph::kMaxLineCoordinate;
}

void CheckSide(const morph::LineSet& lines, int count) {
    Check(count >= 0 && count <= morph::MaxLines, "line count out of range");
    for (int i = 0; i < morph::LineSlots; ++i) {
        const morph::ControlLine& line = lines[std::size_t(i)];
        if (i < count) {
            Check(InRange(line.x1) && InRange(line.y1) && InRange(line.x2) && InRange(line.y2),
                  "a coordinate beyond the limit was accepted");
        } else {
            Check(line == morph::ControlLine{}, "a slot past the count was written");
        }
    }
}

void Append(std::string& text, char side, const morph::LineSet& lines, int count) {
    for (int i = 0; i < count; ++i) {
        const morph::ControlLine& l = lines[std::size_t(i)];
        text += side;
        for (const std::int32_t v : {l.x1, l.y1, l.x2, l.y2}) {
            text += ' ' + std::to_string(v);
        }
        text += '\n';
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = morph::fuzz::WorkFolder::Get().file("input.lines");
    morph::fuzz::WriteFile(path, data, size);
    std::string fromFile;
    morph::LinePairs read;
    try {
        read = morph::ReadLinesFile(path);
    } catch (const morph::MorphError& error) {
        fromFile = error.what();
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    morph::LinePairs pairs;
    try {
        pairs = morph::ParseLines(text, path);
    } catch (const morph::MorphError& error) {
        Check(error.what() == fromFile, "the file and the text are judged differently");
        Check(std::string_view(error.what()).starts_with("Lines file '" + path + "', line "),
              "a refusal does not name the file and the line");
        return 0;
    }
    Check(fromFile.empty() && read.sourceCount == pairs.sourceCount &&
              read.targetCount == pairs.targetCount && read.source == pairs.source &&
              read.target == pairs.target,
          "the file and the text are judged differently");
    CheckSide(pairs.source, pairs.sourceCount);
    CheckSide(pairs.target, pairs.targetCount);

    std::string written;
    Append(written, 'S', pairs.source, pairs.sourceCount);
    Append(written, 'T', pairs.target, pairs.targetCount);
    const morph::LinePairs again = morph::ParseLines(written, "again.lines");
    Check(again.sourceCount == pairs.sourceCount && again.targetCount == pairs.targetCount &&
              again.source == pairs.source && again.target == pairs.target,
          "written-out lines parse differently");
    return 0;
}
