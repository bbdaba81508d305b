// Writing a file so that it appears only when complete: the data goes to a temporary file
// beside the target, which replaces the target by rename on commit. Until then an existing
// file of that name is untouched; a writer destroyed without commit removes its temporary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace morph {

class AtomicFile {
  public:
    // Creates the temporary file (exclusively, unique name) in the target's folder.
    // Throws MorphError naming the file when it cannot be created or the target is a folder.
    explicit AtomicFile(std::string targetPath);
    ~AtomicFile(); // removes the temporary unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Throws MorphError naming the file on a short write (full disk, quota, ...).
    void write(const void* data, std::size_t size);
    // Flushes, closes and renames over the target. Throws MorphError on failure.
    void commit();
    // Hands what was written so far to the system and asks it to start writing that to the
    // disk without waiting, so that commit() has less left to wait for. A write error shows
    // here as in write().
    void startWriteback();

    const std::string& targetPath() const { return target_; }
    const std::string& temporaryPath() const { return temporary_; }

  private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
    std::int64_t handedOver_ = 0; // bytes of the file whose writing to the disk was started
};

// A hidden name in the folder of `file` for a temporary or a kept copy of it: "." + its name +
// `suffix`, the name's part cut short (at a character boundary) where the whole would pass
// the folder's limit on name length, so that it fits whenever the file's own name does. The
// suffix is what makes it unique.
std::filesystem::path HiddenSibling(const std::filesystem::path& file, const std::string& suffix);

} // namespace morph
