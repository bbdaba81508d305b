#include "cli/LinesFile.h"

#include "platform/MorphError.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace morph {
namespace {

// The message of the MorphError that parsing `text` raises, or "" when it parses.
std::string ParseError(const std::string& text) {
    try {
        ParseLines(text, "pairs.lines");
    } catch (const MorphError& e) {
        return e.message();
    }
    return "";
}

std::string Repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += line;
    }
    return text;
}

TEST(LinesFile, SkipsCommentsAndBlankLinesAndTakesTabsCrLfAndByteOrderMark) {
    const LinePairs pairs = ParseLines("\xEF\xBB\xBF# made by hand\n"
                                       "\n"
                                       "   \t \n"
                                       "  \t# an indented comment: S 9 9 9 9\n"
                                       "S 1 2 3 4\r\n"
                                       "T\t5\t6   7\t \t8\r\n"
                                       "  S -10 +20 0 1000000",
                                       "pairs.lines");
    ASSERT_EQ(pairs.sourceCount, 2);
    ASSERT_EQ(pairs.targetCount, 1);
    EXPECT_EQ(pairs.source[0], (ControlLine{1, 2, 3, 4}));
    EXPECT_EQ(pairs.source[1], (ControlLine{-10, 20, 0, 1000000}));
    EXPECT_EQ(pairs.target[0], (ControlLine{5, 6, 7, 8}));
}

TEST(LinesFile, EachSideKeepsItsOwnOrder) {
    const LinePairs pairs = ParseLines("S 1 1 1 1\nT 2 2 2 2\nS 3 3 3 3\nS 4 4 4 4\n"
                                       "T 5 5 5 5\nT 6 6 6 6\n",
                                       "pairs.lines");
    ASSERT_EQ(pairs.sourceCount, 3);
    ASSERT_EQ(pairs.targetCount, 3);
    EXPECT_EQ(pairs.source[0].x1, 1);
    EXPECT_EQ(pairs.source[1].x1, 3);
    EXPECT_EQ(pairs.source[2].x1, 4);
    EXPECT_EQ(pairs.target[0].x1, 2);
    EXPECT_EQ(pairs.target[1].x1, 5);
    EXPECT_EQ(pairs.target[2].x1, 6);
    EXPECT_EQ(pairs.source[3], ControlLine{}); // unused slots stay zero
}

TEST(LinesFile, EmptyTextHasNoLines) {
    const LinePairs pairs = ParseLines("# nothing here\n\n", "pairs.lines");
    EXPECT_EQ(pairs.sourceCount, 0);
    EXPECT_EQ(pairs.targetCount, 0);
}

TEST(LinesFile, MalformedLinesAreRefusedWithFileAndLineNumber) {
    const std::string head = "# header\n\nS 1 2 3 4\n";
    for (const std::string bad :
         {"S 1 2 3", "S 1 2 3 4 5", "X 1 2 3 4", "s 1 2 3 4", "S 1 2 3 a", "S 1.5 2 3 4",
          "S 1 2 3 4 # eye", "S1 2 3 4 5", "T 1 2 - 4", "S 1 2 3 0x4", "S 1 2 3 4\x0b"}) {
        SCOPED_TRACE(bad);
        const std::string message = ParseError(head + bad + "\nT 1 2 3 4\n");
        EXPECT_NE(message.find("'pairs.lines', line 4:"), std::string::npos) << message;
    }
}

TEST(LinesFile, CoordinatesBeyondTheLimitAreRefusedWithTheLineNumber) {
    EXPECT_EQ(ParseError("S -1000000 1000000 0 0\n"), "");
    for (const std::string bad :
         {"T 1000001 0 0 0", "T 0 -1000001 0 0", "T 0 0 99999999999999999999999 0"}) {
        SCOPED_TRACE(bad);
        const std::string message = ParseError("S 0 0 1 1\n" + bad + "\n");
        EXPECT_NE(message.find("line 2: the coordinate"), std::string::npos) << message;
        EXPECT_NE(message.find("out of range"), std::string::npos) << message;
    }
}

TEST(LinesFile, AtMostOneHundredLinesOnEachSide) {
    const LinePairs full = ParseLines(Repeat("S 1 2 3 4\nT 5 6 7 8\n", MaxLines), "pairs.lines");
    EXPECT_EQ(full.sourceCount, MaxLines);
    EXPECT_EQ(full.targetCount, MaxLines);
    EXPECT_EQ(full.target[MaxLines - 1], (ControlLine{5, 6, 7, 8}));

    const std::string tooMany = ParseError("T 0 0 1 1\n" + Repeat("S 1 2 3 4\n", MaxLines + 1));
    EXPECT_NE(tooMany.find("line 102: more than 100 Source lines"), std::string::npos) << tooMany;
    EXPECT_NE(ParseError(Repeat("T 1 2 3 4\n", MaxLines + 1)).find("more than 100 Target lines"),
              std::string::npos);
}

TEST(LinesFile, ReadsAFileAndNamesAFileThatCannotBeRead) {
    test::TempDir dir;
    test::WriteAll(dir.file("ok.lines"), "S 1 2 3 4\nT 4 3 2 1\n");
    const LinePairs pairs = ReadLinesFile(dir.file("ok.lines"));
    EXPECT_EQ(pairs.sourceCount, 1);
    EXPECT_EQ(pairs.target[0], (ControlLine{4, 3, 2, 1}));

    for (const std::string& path : {dir.file("missing.lines"), dir.file("")}) {
        try {
            ReadLinesFile(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const MorphError& e) {
            EXPECT_NE(e.message().find("Cannot read the lines file '" + path + "'"),
                      std::string::npos)
                << e.message();
        }
    }
}

} // namespace
} // namespace morph
