// The files one run writes, made to appear together or not at all. Each file goes in place by
// itself through a writer that replaces it whole (a temporary renamed over it); a file it
// replaces is first kept under a hidden name beside it, so that when a later file fails,
// everything written is taken away again and every replaced file is put back as it was.
#pragma once

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

    // The run succeeded: the new files stay, the kept old ones go.
    void keep() noexcept;

  private:
    void undo() noexcept;

    struct Written {
        std::filesystem::path file;
        std::filesystem::path kept; // empty when the file was new
    };
    std::vector<Written> written_;
    std::vector<std::filesystem::path> madeFolders_; // deepest first
    bool done_ = false;
};

} // namespace morph
