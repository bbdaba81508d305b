#include "platform/AtomicFile.h"

#include "platform/MorphError.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morph {

namespace {

std::string ErrorText(int error) {
    return std::generic_category().message(error != 0 ? error : EIO);
}

[[noreturn]] void ThrowFileError(const char* what, const std::string& path, int error) {
    throw MorphError(std::string(what) + " '" + path + "': " + ErrorText(error));
}

// Six characters that make the temporary's name unique within its folder.
std::string RandomSuffix() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{
            device(), device(), static_cast<unsigned>(::getpid()),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kChars) - 2);
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kChars[pick(generator)];
    }
    return suffix;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the rename itself durable. The data is already safe on disk and in place, so a
// folder that cannot be synced is not worth failing the save for.
void SyncFolder(const std::filesystem::path& folder) {
    const std::string name = folder.empty() ? std::string(".") : folder.string();
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::filesystem::path HiddenSibling(const std::filesystem::path& file, const std::string& suffix) {
    const std::filesystem::path folder = file.parent_path();
    long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0) {
        limit = NAME_MAX;
    }
    std::string name = file.filename().string();
    const std::size_t room = std::size_t(std::max<long>(limit - 1 - long(suffix.size()), 1));
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 1 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut; // not inside a UTF-8 sequence
        }
        name.resize(cut);
    }
    return folder / ("." + name + suffix);
}

AtomicFile::AtomicFile(std::string targetPath) : target_(std::move(targetPath)) {
    const std::filesystem::path target(target_);
    const std::string name = target.filename().string();
    if (name.empty()) {
        throw MorphError("Cannot create file '" + target_ + "': the path names no file");
    }

    // Renaming over a folder cannot work: say so before any data is written.
    if (IsFolder(target_)) {
        throw MorphError("Cannot write file '" + target_ + "': it is a folder");
    }

    constexpr int kAttempts = 100;
    int fd = -1;
    for (int attempt = 0; attempt < kAttempts && fd < 0; ++attempt) {
        temporary_ = HiddenSibling(target, ".tmp" + RandomSuffix()).string();
        fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            ThrowFileError("Cannot create file", target_, errno);
        }
    }
    if (fd < 0) {
        ThrowFileError("Cannot create file", target_, EEXIST);
    }

    // A file being replaced keeps its permissions; a new one gets the usual ones (umask).
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(fd, existing.st_mode & 07777);
    }

    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary_.c_str());
        ThrowFileError("Cannot create file", target_, error);
    }
}

AtomicFile::~AtomicFile() {
    // With the file already closed and not committed, a failed write or commit has
    // removed the temporary itself.
    if (!committed_ && file_ != nullptr) {
        std::fclose(file_);
        ::unlink(temporary_.c_str());
    }
}

void AtomicFile::write(const void* data, std::size_t size) {
    if (file_ == nullptr) {
        throw MorphError("Cannot write file '" + target_ + "': it is already closed");
    }
    if (size == 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(data, 1, size, file_) != size) {
        const int error = errno;
        std::fclose(file_);
        file_ = nullptr;
        ::unlink(temporary_.c_str());
        ThrowFileError("Cannot write file", target_, error);
    }
}

void AtomicFile::startWriteback() {
    if (file_ == nullptr) {
        throw MorphError("Cannot write file '" + target_ + "': it is already closed");
    }
    errno = 0;
    if (std::fflush(file_) != 0) {
        const int error = errno != 0 ? errno : EIO;
        std::fclose(file_);
        file_ = nullptr;
        ::unlink(temporary_.c_str());
        ThrowFileError("Cannot write file", target_, error);
    }
    const int fd = ::fileno(file_);
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end > handedOver_) {
        // Only a hint: where the system cannot, commit()'s sync does all the work.
        ::sync_file_range(fd, handedOver_, end - handedOver_, SYNC_FILE_RANGE_WRITE);
        handedOver_ = end;
    }
}

void AtomicFile::commit() {
    if (file_ == nullptr) {
        throw MorphError("Cannot write file '" + target_ + "': it is already closed");
    }
    // A folder may have taken the name since the file was opened.
    if (IsFolder(target_)) {
        std::fclose(file_);
        file_ = nullptr;
        ::unlink(temporary_.c_str());
        throw MorphError("Cannot write file '" + target_ + "': it is a folder");
    }

    // Buffered data reaches the disk only now, so a full disk shows up here as often as
    // in write().
    int error = 0;
    errno = 0;
    if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(file_) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    file_ = nullptr;
    if (error != 0) {
        ::unlink(temporary_.c_str());
        ThrowFileError("Cannot write file", target_, error);
    }

    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = errno;
        ::unlink(temporary_.c_str());
        ThrowFileError("Cannot write file", target_, error);
    }
    committed_ = true;
    SyncFolder(std::filesystem::path(target_).parent_path());
}

} // namespace morph
