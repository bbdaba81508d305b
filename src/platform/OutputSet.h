// The files one run writes, made to appear together or not at all. Each file goes in place by
// itself through a writer that replaces it whole (a temporary renamed over it); a file it
// replaces is first kept under a hidden name beside it, so that when a later file fails,
// everything written is taken away again and every replaced file is put back as it was.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <vector>

namespace morph {

class OutputSet {
  public:
    OutputSet() = default;
    ~OutputSet(); // undoes everything unless keep() was called
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Makes the folder and every missing folder above it; the ones made go again on undo
    // (only while empty). Throws MorphError naming the folder.
    void makeFolder(const std::filesystem::path& dir);

    // Creates or replaces `file` by running `writeFile`, which must leave the file as it was
    // when it throws. Throws MorphError naming the file when the file it replaces cannot be
    // kept, and whatever writeFile throws.
    void write(const std::filesystem::path& file, const std::function<void()>& writeFile);

    // For a file that a writer fills over the whole run and puts in place at its end: keeps
    // the file it replaces now, so that a file that cannot be kept stops the run before the
    // writer starts. Returns the number to give to place(). Throws as write() does.
    std::size_t reserve(const std::filesystem::path& file);
    // Runs `putInPlace`, which must leave the reserved file as it was when it throws; from
    // then on the file is undone as one that write() wrote.
    void place(std::size_t reserved, const std::function<void()>& putInPlace);

    // The run succeeded: the new files stay, the kept old ones go.
    void keep() noexcept;

  private:
    void undo() noexcept;

    struct Written {
        std::filesystem::path file;
        std::filesystem::path kept; // empty when the file was new
        bool placed = true;         // false while a reserved file is still being written
    };
    std::vector<Written> written_;
    std::vector<std::filesystem::path> madeFolders_; // deepest first
    bool done_ = false;
};

} // namespace morph
