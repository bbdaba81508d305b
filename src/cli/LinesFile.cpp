#include "cli/LinesFile.h"

#include "platform/MorphError.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace morph {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        if (i > start) {
            fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

// Shows a piece of the offending line in a message, shortened when it is long.
std::string Excerpt(std::string_view line) {
    constexpr std::size_t kShown = 40;
    std::string text(line.substr(0, kShown));
    if (line.size() > kShown) {
        text += "...";
    }
    return text;
}

bool IsMorphFileName(const std::string& fileName) {
    constexpr std::string_view kExtension = ".morph";
    return fileName.size() >= kExtension.size() &&
           std::string_view(fileName).substr(fileName.size() - kExtension.size()) == kExtension;
}

class LineError {
  public:
    LineError(const std::string& fileName, int lineNumber)
        : where_(std::string(IsMorphFileName(fileName) ? "Morph file '" : "Lines file '") +
                 fileName + "', line " + std::to_string(lineNumber) + ": ") {}
    [[noreturn]] void raise(const std::string& problem) const {
        throw MorphError(where_ + problem);
    }

  private:
    std::string where_;
};

// A decimal integer with an optional sign, within +-kMaxLineCoordinate.
std::int32_t ParseCoordinate(std::string_view field, const LineError& error) {
    std::string_view digits = field;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    bool allDigits = !digits.empty();
    for (const char c : digits) {
        allDigits = allDigits && c >= '0' && c <= '9';
    }
    if (!allDigits) {
        error.raise("'" + Excerpt(field) + "' is not an integer coordinate");
    }
    const bool negative = field.front() == '-';
    std::int64_t magnitude = 0;
    for (const char c : digits) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kMaxLineCoordinate) {
            error.raise("the coordinate " + Excerpt(field) + " is out of range (-" +
                        std::to_string(kMaxLineCoordinate) + " to " +
                        std::to_string(kMaxLineCoordinate) + ")");
        }
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

namespace {

// The whole field is a decimal integer (optional sign) that fits an int.
bool IsInteger(std::string_view field) {
    if (!field.empty() && field.front() == '+') {
        field.remove_prefix(1);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size();
}

// The whole field is a finite decimal number ("2", "-0.5", "1e-3").
bool IsNumber(std::string_view field) {
    if (!field.empty() && field.front() == '+') {
        field.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value,
                                              std::chars_format::general);
    return error == std::errc() && end == field.data() + field.size() && std::isfinite(value);
}

// The rest of the line after its first field and the blanks after it, trailing blanks dropped.
std::string_view RestAfterKey(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    while (i < line.size() && !IsBlank(line[i])) {
        ++i;
    }
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    line.remove_prefix(i);
    while (!line.empty() && IsBlank(line.back())) {
        line.remove_suffix(1);
    }
    return line;
}

void ParseLinePair(const std::vector<std::string_view>& fields, std::string_view line,
                   const LineError& error, LinePairs& pairs) {
    const bool sourceSide = fields.front() == "S";
    if (fields.size() != 5) {
        error.raise("expected \"S x1 y1 x2 y2\" or \"T x1 y1 x2 y2\", found \"" + Excerpt(line) +
                    "\"");
    }
    int& count = sourceSide ? pairs.sourceCount : pairs.targetCount;
    if (count == MaxLines) {
        error.raise(std::string("more than ") + std::to_string(MaxLines) + " " +
                    (sourceSide ? "Source" : "Target") + " lines");
    }
    ControlLine parsed;
    parsed.x1 = ParseCoordinate(fields[1], error);
    parsed.y1 = ParseCoordinate(fields[2], error);
    parsed.x2 = ParseCoordinate(fields[3], error);
    parsed.y2 = ParseCoordinate(fields[4], error);
    (sourceSide ? pairs.source : pairs.target)[std::size_t(count)] = parsed;
    ++count;
}

void ParseSetting(const std::vector<std::string_view>& fields, std::string_view line,
                  const LineError& error, MorphSetup& setup) {
    const std::string_view key = fields.front();
    const auto once = [&](auto& slot) {
        if (slot) {
            error.raise("'" + std::string(key) + "' is given more than once");
        }
    };
    const auto single = [&]() -> std::string {
        if (fields.size() != 2) {
            error.raise("expected \"" + std::string(key) + "\" and one value, found \"" +
                        Excerpt(line) + "\"");
        }
        return std::string(fields[1]);
    };
    if (key == "source" || key == "target") {
        std::optional<std::string>& path = key == "source" ? setup.sourcePath : setup.targetPath;
        once(path);
        const std::string_view rest = RestAfterKey(line);
        if (rest.empty()) {
            error.raise("'" + std::string(key) + "' needs the path of a picture");
        }
        path = std::string(rest);
    } else if (key == "frames" || key == "refresh") {
        std::optional<std::string>& slot = key == "frames" ? setup.frames : setup.refresh;
        once(slot);
        slot = single();
        if (!IsInteger(*slot)) {
            error.raise("'" + Excerpt(*slot) + "' is not an integer");
        }
    } else if (key == "a" || key == "b" || key == "p") {
        std::optional<std::string>& slot = key == "a" ? setup.a : key == "b" ? setup.b : setup.p;
        once(slot);
        slot = single();
        if (!IsNumber(*slot)) {
            error.raise("'" + Excerpt(*slot) + "' is not a number");
        }
    } else if (key == "mode") {
        once(setup.mode);
        const std::string value = single();
        if (value == "endpoints") {
            setup.mode = InterpolationMode::EndPoints;
        } else if (value == "middle") {
            setup.mode = InterpolationMode::MiddlePoints;
        } else {
            error.raise("the mode must be endpoints or middle, not '" + Excerpt(value) + "'");
        }
    } else if (key == "distance") {
        once(setup.distance);
        const std::string value = single();
        if (value == "line") {
            setup.distance = WarpDistance::Line;
        } else if (value == "segment") {
            setup.distance = WarpDistance::Segment;
        } else {
            error.raise("the distance must be line or segment, not '" + Excerpt(value) + "'");
        }
    } else if (key == "sampling") {
        once(setup.sampling);
        const std::string value = single();
        if (value == "nearest") {
            setup.sampling = WarpSampling::Nearest;
        } else if (value == "bilinear") {
            setup.sampling = WarpSampling::Bilinear;
        } else {
            error.raise("the sampling must be nearest or bilinear, not '" + Excerpt(value) + "'");
        }
    } else if (key == "supersample") {
        once(setup.supersample);
        const std::string value = single();
        int factor = 0;
        const auto [end, problem] =
            std::from_chars(value.data(), value.data() + value.size(), factor);
        if (problem != std::errc() || end != value.data() + value.size() || factor < 1 ||
            factor > kMaxSupersample) {
            error.raise("the supersampling must be a whole number from 1 to " +
                        std::to_string(kMaxSupersample) + ", not '" + Excerpt(value) + "'");
        }
        setup.supersample = factor;
    } else {
        error.raise("unknown key '" + Excerpt(key) +
                    "'; the keys are S, T, source, target, frames, a, b, p, mode, refresh, "
                    "distance, sampling and supersample");
    }
}

} // namespace

MorphSetup ParseMorph(std::string_view text, const std::string& fileName) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    MorphSetup setup;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }

        const std::vector<std::string_view> fields = SplitFields(line);
        if (fields.empty() || fields.front().front() == '#') {
            continue;
        }
        const LineError error(fileName, lineNumber);
        if (fields.front() == "S" || fields.front() == "T") {
            ParseLinePair(fields, line, error, setup.lines);
        } else {
            ParseSetting(fields, line, error, setup);
        }
    }
    return setup;
}

LinePairs ParseLines(std::string_view text, const std::string& fileName) {
    return ParseMorph(text, fileName).lines;
}

namespace {

std::string ReadWholeFile(const std::string& path) {
    const auto fail = [&path](const std::string& problem) {
        throw MorphError(std::string(IsMorphFileName(path) ? "Cannot read the morph file '"
                                                           : "Cannot read the lines file '") +
                         path + "': " + problem);
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        fail(std::strerror(errno));
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        text.append(chunk, got);
        if (text.size() > kMaxLinesFileBytes) {
            fail("the file is larger than " + std::to_string(kMaxLinesFileBytes >> 20) + " MiB");
        }
        if (got < sizeof chunk) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        fail(std::strerror(errno));
    }
    return text;
}

} // namespace

LinePairs ReadLinesFile(const std::string& path) {
    return ParseLines(ReadWholeFile(path), path);
}

MorphSetup ReadMorphFile(const std::string& path) {
    MorphSetup setup = ParseMorph(ReadWholeFile(path), path);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (std::optional<std::string>* picture : {&setup.sourcePath, &setup.targetPath}) {
        if (*picture && std::filesystem::path(**picture).is_relative()) {
            **picture = (folder / **picture).string();
        }
    }
    return setup;
}

std::string ShortestText(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string FormatMorph(const MorphSetup& setup) {
    std::string text = std::string(kMorphFileHeader) + "\n";
    const auto put = [&text](const char* key, const std::optional<std::string>& value) {
        if (value) {
            if (value->find_first_of("\r\n") != std::string::npos) {
                throw MorphError(std::string("Cannot write the ") + key + " '" + *value +
                                 "' into a morph file: it holds a line break");
            }
            // Reading takes the blanks around a value away: a picture's path would come back as
            // another file's (a number is the same number without them).
            const bool path =
                std::string_view(key) == "source" || std::string_view(key) == "target";
            if (path && !value->empty() && (IsBlank(value->front()) || IsBlank(value->back()))) {
                throw MorphError(std::string("Cannot write the ") + key + " '" + *value +
                                 "' into a morph file: it begins or ends with a blank");
            }
            text += std::string(key) + " " + *value + "\n";
        }
    };
    put("source", setup.sourcePath);
    put("target", setup.targetPath);
    put("frames", setup.frames);
    put("a", setup.a);
    put("b", setup.b);
    put("p", setup.p);
    if (setup.mode) {
        text += *setup.mode == InterpolationMode::EndPoints ? "mode endpoints\n" : "mode middle\n";
    }
    put("refresh", setup.refresh);
    if (setup.distance) {
        text += *setup.distance == WarpDistance::Line ? "distance line\n" : "distance segment\n";
    }
    if (setup.sampling) {
        text +=
            *setup.sampling == WarpSampling::Nearest ? "sampling nearest\n" : "sampling bilinear\n";
    }
    if (setup.supersample) {
        text += "supersample " + std::to_string(*setup.supersample) + "\n";
    }
    const auto side = [&text](char letter, const LineSet& lines, int count) {
        for (int i = 0; i < count; ++i) {
            const ControlLine& l = lines[std::size_t(i)];
            text += std::string(1, letter) + " " + std::to_string(l.x1) + " " +
                    std::to_string(l.y1) + " " + std::to_string(l.x2) + " " + std::to_string(l.y2) +
                    "\n";
        }
    };
    side('S', setup.lines.source, setup.lines.sourceCount);
    side('T', setup.lines.target, setup.lines.targetCount);
    return text;
}

} // namespace morph
