#include "platform/OutputSet.h"

#include "platform/AtomicFile.h"
#include "platform/MorphError.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace morph {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// A second name for the file's current contents, hidden beside it: a hard link, or a copy
// where the file system has no hard links. Empty when there is no file (or symbolic link)
// to keep: nothing there, or a folder, which no writer replaces.
fs::path KeepOld(const fs::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
        return {};
    }
    static std::atomic<unsigned> counter{0};
    const std::string prefix = ".kept-" + std::to_string(::getpid()) + "-";
    constexpr int kAttempts = 100;
    int error = EEXIST;
    for (int attempt = 0; attempt < kAttempts && error == EEXIST; ++attempt) {
        const fs::path kept = HiddenSibling(file, prefix + std::to_string(counter++));
        if (::link(file.c_str(), kept.c_str()) == 0) {
            return kept;
        }
        error = errno;
        if (error == EEXIST || !S_ISREG(info.st_mode)) {
            continue;
        }
        std::error_code copyError;
        if (fs::copy_file(file, kept, fs::copy_options::none, copyError)) {
            return kept;
        }
        if (copyError == std::errc::file_exists) {
            error = EEXIST;
            continue;
        }
        // The copy's reason is the one that counts: the link may have been refused only
        // because the file belongs to someone else (protected hard links), which tells the
        // user nothing about the folder that refuses the copy as well.
        if (copyError) {
            error = copyError.value();
        }
        std::error_code ignored;
        fs::remove(kept, ignored); // a part-made copy
    }
    throw MorphError("Cannot write file " + Quoted(file) + ": " +
                     std::generic_category().message(error));
}

} // namespace

OutputSet::~OutputSet() {
    if (!done_) {
        undo();
    }
}

void OutputSet::makeFolder(const fs::path& dir) {
    std::error_code error;
    std::vector<fs::path> missing;
    for (fs::path level = dir; !level.empty() && !fs::exists(level, error);
         level = level.parent_path()) {
        missing.push_back(level);
        if (level == level.parent_path()) {
            break;
        }
    }
    if (!fs::create_directories(dir, error) && error) {
        // Levels made before the failure go again.
        for (const fs::path& level : missing) {
            ::rmdir(level.c_str());
        }
        throw MorphError("Cannot create the folder " + Quoted(dir) + ": " + error.message());
    }
    // Deeper folders come first, so that undo can remove them in order.
    madeFolders_.insert(madeFolders_.begin(), missing.begin(), missing.end());
}

void OutputSet::write(const fs::path& file, const std::function<void()>& writeFile) {
    const fs::path kept = KeepOld(file);
    try {
        writeFile();
    } catch (...) {
        // The writer left the file as it was; the second name is not needed.
        if (!kept.empty()) {
            ::unlink(kept.c_str());
        }
        throw;
    }
    written_.push_back({file, kept, true});
}

std::size_t OutputSet::reserve(const fs::path& file) {
    written_.push_back({file, KeepOld(file), false});
    return written_.size() - 1;
}

void OutputSet::place(std::size_t reserved, const std::function<void()>& putInPlace) {
    putInPlace();
    written_.at(reserved).placed = true;
}

void OutputSet::keep() noexcept {
    for (const Written& w : written_) {
        if (!w.kept.empty()) {
            ::unlink(w.kept.c_str());
        }
    }
    done_ = true;
}

void OutputSet::undo() noexcept {
    for (auto w = written_.rbegin(); w != written_.rend(); ++w) {
        if (!w->placed) {
            // The file is still the old one (or none); only its second name goes.
            if (!w->kept.empty()) {
                ::unlink(w->kept.c_str());
            }
        } else if (w->kept.empty()) {
            ::unlink(w->file.c_str());
        } else {
            // Should the rename fail, the old contents stay under the hidden name rather than
            // being lost.
            ::rename(w->kept.c_str(), w->file.c_str());
        }
    }
    for (const fs::path& level : madeFolders_) {
        ::rmdir(level.c_str()); // only ever removes an empty folder
    }
    written_.clear();
    madeFolders_.clear();
    done_ = true;
}

} // namespace morph
