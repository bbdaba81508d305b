#include "cli/LinesFile.h"

#include "platform/MorphError.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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

TEST(MorphFile, EverySettingIsWrittenAndReadBackExactly) {
    MorphSetup setup;
    setup.lines = ParseLines("S 1 2 3 4\nS -5 6 7 8\nT 9 10 11 12\n", "pairs.lines");
    setup.sourcePath = "my pictures/face one.png";
    setup.targetPath = "/abs/t.bmp";
    setup.frames = "30";
    setup.a = ShortestText(0.1);
    setup.b = ShortestText(1.0 / 3.0);
    setup.p = ShortestText(1e-7);
    setup.mode = InterpolationMode::MiddlePoints;
    setup.refresh = "20";
    setup.distance = WarpDistance::Segment;
    setup.sampling = WarpSampling::Bilinear;
    setup.supersample = 4;
    const std::string text = FormatMorph(setup);
    EXPECT_EQ(text.substr(0, text.find('\n')), kMorphFileHeader);

    const MorphSetup back = ParseMorph(text, "m.morph");
    EXPECT_EQ(back.sourcePath, setup.sourcePath);
    EXPECT_EQ(back.targetPath, setup.targetPath);
    EXPECT_EQ(back.frames, "30");
    EXPECT_EQ(back.a, "0.1");
    EXPECT_EQ(back.refresh, "20");
    EXPECT_EQ(back.mode, InterpolationMode::MiddlePoints);
    EXPECT_EQ(back.distance, WarpDistance::Segment);
    EXPECT_EQ(back.sampling, WarpSampling::Bilinear);
    EXPECT_EQ(back.supersample, 4);
    for (const double value : {0.1, 1.0 / 3.0, 1e-7, 2.0, -0.5, 5e-324, 1.7976931348623157e308}) {
        EXPECT_EQ(std::strtod(ShortestText(value).c_str(), nullptr), value) << value;
    }
    EXPECT_EQ(std::strtod(back.b->c_str(), nullptr), 1.0 / 3.0);
    EXPECT_EQ(std::strtod(back.p->c_str(), nullptr), 1e-7);
    ASSERT_EQ(back.lines.sourceCount, 2);
    ASSERT_EQ(back.lines.targetCount, 1);
    EXPECT_EQ(back.lines.source[1], (ControlLine{-5, 6, 7, 8}));
    EXPECT_EQ(FormatMorph(back), text);

    // A plain lines file is a morph file without settings.
    const MorphSetup plain = ParseMorph("S 1 2 3 4\nT 1 2 3 4\n", "pairs.lines");
    EXPECT_FALSE(plain.sourcePath || plain.frames || plain.a || plain.mode || plain.refresh ||
                 plain.distance || plain.sampling || plain.supersample);

    // The other value of each warp option, and the keys in any order.
    const MorphSetup warp =
        ParseMorph("supersample 1\nsampling nearest\ndistance line\n", "w.morph");
    EXPECT_EQ(warp.distance, WarpDistance::Line);
    EXPECT_EQ(warp.sampling, WarpSampling::Nearest);
    EXPECT_EQ(warp.supersample, 1);
    EXPECT_EQ(FormatMorph(warp),
              std::string(kMorphFileHeader) + "\ndistance line\nsampling nearest\nsupersample 1\n");
}

TEST(MorphFile, BadSettingsAreRefusedWithTheLineNumber) {
    struct Case {
        std::string line;
        std::string problem;
    };
    const Case cases[] = {
        {"colour red", "unknown key 'colour'; the keys are S, T, source, target, frames, a, b, "
                       "p, mode, refresh, distance, sampling and supersample"},
        {"frames 2.5", "'2.5' is not an integer"},
        {"frames", "expected \"frames\" and one value"},
        {"refresh 1 2", "expected \"refresh\" and one value"},
        {"a two", "'two' is not a number"},
        {"b inf", "'inf' is not a number"},
        {"p nan", "'nan' is not a number"},
        {"p 1e999", "'1e999' is not a number"},
        {"mode both", "the mode must be endpoints or middle, not 'both'"},
        {"target   ", "'target' needs the path of a picture"},
        {"source y.png", "'source' is given more than once"},
        {"distance curve", "the distance must be line or segment, not 'curve'"},
        {"distance Segment", "the distance must be line or segment, not 'Segment'"},
        {"distance", "expected \"distance\" and one value"},
        {"sampling bicubic", "the sampling must be nearest or bilinear, not 'bicubic'"},
        {"sampling nearest bilinear", "expected \"sampling\" and one value"},
        {"supersample 0", "the supersampling must be a whole number from 1 to 4, not '0'"},
        {"supersample 5", "the supersampling must be a whole number from 1 to 4, not '5'"},
        {"supersample 2.0", "the supersampling must be a whole number from 1 to 4, not '2.0'"},
        {"supersample +2", "the supersampling must be a whole number from 1 to 4, not '+2'"},
        {"supersample 99999999999",
         "the supersampling must be a whole number from 1 to 4, not '99999999999'"},
        {"\x7f"
         "ELF\x02\x01",
         "unknown key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            ParseMorph("# morph\nsource x.png\nS 1 2 3 4\n" + c.line + "\n", "m.morph");
            ADD_FAILURE() << "accepted";
        } catch (const MorphError& e) {
            EXPECT_NE(e.message().find("Morph file 'm.morph', line 4: " + c.problem),
                      std::string::npos)
                << e.message();
        }
    }
    // Paths that would not read back as they are written.
    for (const std::string path : {"a\nS 1 1 1 1", " lead.png", "trail.png ", "tab.png\t"}) {
        MorphSetup broken;
        broken.targetPath = path;
        try {
            FormatMorph(broken);
            ADD_FAILURE() << "written: " << path;
        } catch (const MorphError& e) {
            EXPECT_EQ(
                e.message().rfind("Cannot write the target '" + path + "' into a morph file: ", 0),
                0u);
        }
    }
}

TEST(MorphFile, PicturePathsAreRelativeToTheFilesFolder) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("sub/folder.morph"));
    test::WriteAll(dir.file("sub/m.morph"), "source pics/s.png\ntarget /t.png\n");
    const MorphSetup setup = ReadMorphFile(dir.file("sub/m.morph"));
    EXPECT_EQ(setup.sourcePath, dir.file("sub/pics/s.png"));
    EXPECT_EQ(setup.targetPath, "/t.png");
    try {
        ReadMorphFile(dir.file("sub/folder.morph"));
        ADD_FAILURE() << "a folder was read";
    } catch (const MorphError& e) {
        EXPECT_EQ(e.message(), "Cannot read the morph file '" + dir.file("sub/folder.morph") +
                                   "': Is a directory");
    }
}

} // namespace
} // namespace morph
