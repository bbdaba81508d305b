#include "cli/LinesFile.h"

#include "platform/MorphError.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
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

class LineError {
  public:
    LineError(const std::string& fileName, int lineNumber)
        : where_("Lines file '" + fileName + "', line " + std::to_string(lineNumber) + ": ") {}
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

LinePairs ParseLines(std::string_view text, const std::string& fileName) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    LinePairs pairs;
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
        const bool sourceSide = fields.front() == "S";
        if ((!sourceSide && fields.front() != "T") || fields.size() != 5) {
            error.raise("expected \"S x1 y1 x2 y2\" or \"T x1 y1 x2 y2\", found \"" +
                        Excerpt(line) + "\"");
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
    return pairs;
}

LinePairs ReadLinesFile(const std::string& path) {
    const auto fail = [&path](const std::string& problem) {
        throw MorphError("Cannot read the lines file '" + path + "': " + problem);
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
    return ParseLines(text, path);
}

} // namespace morph
