#include "platform/AtomicFile.h"
#include "platform/MorphError.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

namespace morph {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

void Write(AtomicFile& file, const std::string& text) {
    file.write(text.data(), text.size());
}

TEST(AtomicFile, TargetAppearsOnlyOnCommit) {
    TempDir dir;
    const std::string target = dir.file("out.bin");
    {
        AtomicFile file(target);
        const std::filesystem::path temporary(file.temporaryPath());
        EXPECT_EQ(temporary.parent_path(), std::filesystem::path(target).parent_path());
        EXPECT_EQ(temporary.filename().string().rfind(".out.bin.tmp", 0), 0u);
        Write(file, "abc");
        file.startWriteback();
        Write(file, "");
        Write(file, "def");
        file.startWriteback();
        EXPECT_FALSE(std::filesystem::exists(target));
        file.commit();
    }
    EXPECT_EQ(ReadAll(target), "abcdef");
    EXPECT_EQ(dir.entries(), std::set<std::string>{"out.bin"});
}

TEST(AtomicFile, UncommittedWriterLeavesExistingFileAndNoTemporary) {
    TempDir dir;
    const std::string target = dir.file("keep.txt");
    WriteAll(target, "old");
    {
        AtomicFile file(target);
        Write(file, "new contents");
    }
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_EQ(dir.entries(), std::set<std::string>{"keep.txt"});
}

TEST(AtomicFile, ReplacementKeepsThePermissionsOfTheFileItReplaces) {
    TempDir dir;
    const std::string target = dir.file("mode.txt");
    WriteAll(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    AtomicFile file(target);
    Write(file, "new");
    file.commit();
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadAll(target), "new");
}

TEST(AtomicFile, MissingFolderIsReportedWithThePath) {
    TempDir dir;
    const std::string target = dir.file("missing/out.bin");
    try {
        AtomicFile file(target);
        FAIL() << "created a file in a missing folder";
    } catch (const MorphError& e) {
        EXPECT_EQ(e.message(), "Cannot create file '" + target + "': No such file or directory");
    }
}

TEST(AtomicFile, AFolderAtTheTargetIsRefusedAndLeavesNoTemporary) {
    TempDir dir;
    const std::string target = dir.file("folder");
    const std::string message = "Cannot write file '" + target + "': it is a folder";
    std::filesystem::create_directory(target);
    try {
        AtomicFile file(target);
        FAIL() << "opened a folder for writing";
    } catch (const MorphError& e) {
        EXPECT_EQ(e.message(), message);
    }

    // A folder that takes the name while the data is written stops the commit.
    std::filesystem::remove(target);
    {
        AtomicFile file(target);
        Write(file, "data");
        std::filesystem::create_directory(target);
        try {
            file.commit();
            FAIL() << "committed over a folder";
        } catch (const MorphError& e) {
            EXPECT_EQ(e.message(), message);
        }
        EXPECT_THROW(file.commit(), MorphError);
    }
    EXPECT_EQ(dir.entries(), std::set<std::string>{"folder"});
    EXPECT_TRUE(std::filesystem::is_empty(target));
}

// A file size limit makes the disk look full to this process: the short write must be
// reported, and a writer that failed once must never commit what it has.
TEST(AtomicFile, ShortWriteIsReportedAndNeverCommitted) {
    TempDir dir;
    const std::string target = dir.file("big.bin");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    // One write larger than the buffer fails at once; small ones fail when they are handed
    // over, which writing a frame sequence does after every frame.
    std::vector<std::string> messages;
    for (const bool handOver : {false, true}) {
        AtomicFile file(target);
        const std::vector<char> data(handOver ? 3000 : 1 << 16, 'x');
        try {
            for (int i = 0; i < 3; ++i) {
                file.write(data.data(), data.size());
                if (handOver) {
                    file.startWriteback();
                }
            }
            file.commit();
        } catch (const MorphError& e) {
            messages.push_back(e.message());
        }
        EXPECT_THROW(file.commit(), MorphError);
        EXPECT_THROW(file.startWriteback(), MorphError);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    const std::string tooLarge = "Cannot write file '" + target + "': File too large";
    EXPECT_EQ(messages, (std::vector<std::string>{tooLarge, tooLarge}));
    EXPECT_TRUE(dir.entries().empty());
}

TEST(AtomicFile, WritersOfTheSameTargetUseDistinctTemporaries) {
    TempDir dir;
    const std::string target = dir.file("same.txt");
    AtomicFile first(target);
    AtomicFile second(target);
    EXPECT_NE(first.temporaryPath(), second.temporaryPath());
    Write(first, "first");
    Write(second, "second");
    first.commit();
    second.commit();
    EXPECT_EQ(ReadAll(target), "second");
    EXPECT_EQ(dir.entries(), std::set<std::string>{"same.txt"});
}

// A name as long as the folder takes (255 bytes) is a name the file may have: its temporary
// takes a shorter part of it, cut between characters, and stays hidden, unique and beside it.
TEST(AtomicFile, TheLongestNamesGetTemporariesThatFit) {
    TempDir dir;
    std::string accented = "x";
    for (int i = 0; i < 127; ++i) {
        accented += "\xC3\xA9"; // U+00E9, two bytes
    }
    for (const std::string& name : {std::string(255, 'n'), accented}) {
        ASSERT_EQ(name.size(), 255u);
        const std::string target = dir.file(name);
        AtomicFile first(target);
        AtomicFile second(target);
        EXPECT_NE(first.temporaryPath(), second.temporaryPath());
        for (const AtomicFile* file : {&first, &second}) {
            const std::filesystem::path temporary(file->temporaryPath());
            const std::string stem = temporary.filename().string();
            EXPECT_EQ(temporary.parent_path(), std::filesystem::path(target).parent_path());
            EXPECT_LE(stem.size(), 255u);
            EXPECT_EQ(stem[0], '.');
            EXPECT_EQ(name.rfind(stem.substr(1, 200), 0), 0u) << stem; // the name's start
            EXPECT_EQ(stem.find('\xC3' + stem.substr(stem.find(".tmp"))), std::string::npos)
                << "a character cut in two: " << stem;
        }
        Write(first, "first");
        first.commit();
        EXPECT_EQ(ReadAll(target), "first");
    }
    EXPECT_EQ(dir.entries(), (std::set<std::string>{std::string(255, 'n'), accented}));
}

} // namespace
} // namespace morph
