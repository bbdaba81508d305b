#include "platform/OutputSet.h"
#include "platform/AtomicFile.h"
#include "platform/MorphError.h"
#include "support/Faults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace morph {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::Snapshot;
using test::TempDir;
using test::WriteAll;

// Writes `text` to `path` as the program's writers do: whole, or not at all.
void Put(OutputSet& outputs, const std::string& path, const std::string& text) {
    outputs.write(path, [&] {
        AtomicFile file(path);
        file.write(text.data(), text.size());
        file.commit();
    });
}

TEST(OutputSet, KeptRunLeavesTheNewFilesAndNothingElse) {
    TempDir dir;
    WriteAll(dir.file("old.txt"), "old");
    {
        OutputSet outputs;
        outputs.makeFolder(dir.file("a/b"));
        Put(outputs, dir.file("a/b/new.txt"), "new");
        Put(outputs, dir.file("old.txt"), "replaced");
        outputs.keep();
    }
    EXPECT_EQ(Snapshot(dir.file("")),
              (std::map<std::string, std::string>{{"a", "<folder>"},
                                                  {"a/b", "<folder>"},
                                                  {"a/b/new.txt", "new"},
                                                  {"old.txt", "replaced"}}));
}

// A run that ends without keep() puts everything back: replaced files return, new files and
// the folders made for them go, however many times a file was replaced.
TEST(OutputSet, UnkeptRunPutsBackWhatItReplaced) {
    TempDir dir;
    WriteAll(dir.file("old.txt"), "old");
    fs::create_directories(dir.file("there"));
    const auto before = Snapshot(dir.file(""));
    {
        OutputSet outputs;
        outputs.makeFolder(dir.file("there/x/y"));
        outputs.makeFolder(dir.file("there/x/z"));
        Put(outputs, dir.file("there/x/y/new.txt"), "new");
        Put(outputs, dir.file("old.txt"), "first");
        Put(outputs, dir.file("old.txt"), "second");
        EXPECT_EQ(ReadAll(dir.file("old.txt")), "second");
    }
    EXPECT_EQ(Snapshot(dir.file("")), before);
}

TEST(OutputSet, AFailedWriteLeavesItsFileAndKeepsNoCopy) {
    TempDir dir;
    WriteAll(dir.file("old.txt"), "old");
    fs::create_directories(dir.file("folder/inside"));
    const auto before = Snapshot(dir.file(""));
    OutputSet outputs;
    EXPECT_THROW(outputs.write(dir.file("old.txt"), [] { throw MorphError("no"); }), MorphError);
    try {
        Put(outputs, dir.file("folder"), "data");
        ADD_FAILURE() << "wrote over a folder";
    } catch (const MorphError& e) {
        EXPECT_EQ(e.message(), "Cannot write file '" + dir.file("folder") + "': it is a folder");
    }
    EXPECT_EQ(Snapshot(dir.file("")), before);
    outputs.keep();
    EXPECT_EQ(Snapshot(dir.file("")), before);
}

// In a folder that refuses changes, the old file cannot even be kept: the write is refused
// before it starts, naming the file and the folder's reason, also for a file of another user,
// which the kernel may refuse to link for that alone (protected hard links).
// A file reserved at the start of a run and put in place at its end is undone like any other,
// whether the run stops before or after it is in place.
TEST(OutputSet, ReservedFilesAreUndoneBeforeAndAfterTheyArePlaced) {
    for (const bool placeFirst : {false, true}) {
        SCOPED_TRACE(placeFirst ? "placed, then a later file fails" : "failing before placed");
        TempDir dir;
        WriteAll(dir.file("clip.vQv"), "older animation");
        const auto before = Snapshot(dir.file(""));
        {
            OutputSet outputs;
            const std::size_t reserved = outputs.reserve(dir.file("clip.vQv"));
            Put(outputs, dir.file("frame_000.png"), "frame");
            AtomicFile file(dir.file("clip.vQv"));
            file.write("new", 3);
            if (placeFirst) {
                outputs.place(reserved, [&] { file.commit(); });
                EXPECT_EQ(ReadAll(dir.file("clip.vQv")), "new");
            } else {
                EXPECT_THROW(outputs.place(reserved, [] { throw MorphError("refused"); }),
                             MorphError);
            }
        } // not kept
        EXPECT_EQ(Snapshot(dir.file("")), before);
    }
    // Kept: the new file stays and its second name goes.
    TempDir dir;
    WriteAll(dir.file("clip.vQv"), "older animation");
    {
        OutputSet outputs;
        const std::size_t reserved = outputs.reserve(dir.file("clip.vQv"));
        outputs.place(reserved, [&] { WriteAll(dir.file("clip.vQv"), "new"); });
        outputs.keep();
    }
    EXPECT_EQ(Snapshot(dir.file("")), (decltype(Snapshot(dir.file(""))){{"clip.vQv", "new"}}));
}

TEST(OutputSet, ALockedFolderRefusesBeforeWriting) {
    TempDir dir;
    fs::create_directories(dir.file("locked"));
    WriteAll(dir.file("locked/old.txt"), "old");
    std::vector<std::string> names = {"old.txt"};
    WriteAll(dir.file("locked/theirs.txt"), "theirs");
    constexpr uid_t kNobody = 65534;
    if (::chown(dir.file("locked/theirs.txt").c_str(), kNobody, kNobody) == 0) {
        names.push_back("theirs.txt"); // only root can hand a file over
    }
    std::optional<std::map<std::string, std::string>> before;
    {
        const test::LockedFolder locked(dir.file("locked"));
        before = Snapshot(dir.file(""));
        const test::PermissionBitsBind bind;
        OutputSet outputs;
        for (const std::string& name : names) {
            const std::string path = dir.file("locked/" + name);
            try {
                Put(outputs, path, "new");
                ADD_FAILURE() << "wrote into a locked folder";
            } catch (const MorphError& e) {
                EXPECT_EQ(e.message(), "Cannot write file '" + path + "': Permission denied");
            }
        }
        try {
            outputs.makeFolder(dir.file("locked/sub"));
            ADD_FAILURE() << "made a folder in a locked folder";
        } catch (const MorphError& e) {
            EXPECT_EQ(e.message(), "Cannot create the folder '" + dir.file("locked/sub") +
                                       "': Permission denied");
        }
    }
    EXPECT_EQ(Snapshot(dir.file("")), *before);
}

} // namespace
} // namespace morph
