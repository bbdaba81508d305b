#include "platform/InputFile.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morph {

namespace {

const char* KindProblem(mode_t mode) {
    return S_ISDIR(mode) ? "it is a folder" : "it is not a regular file";
}

} // namespace

InputFile::InputFile(const std::string& path) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; a regular file does not
    // care, and the flag is cleared again once the file is known to be one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        // A socket cannot be opened at all; it is named for what it is.
        struct stat info {};
        if (error_ == ENXIO && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            problem_ = KindProblem(info.st_mode);
        } else {
            problem_ = std::generic_category().message(error_);
        }
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error_ = errno;
        problem_ = std::generic_category().message(error_);
        ::close(fd);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        problem_ = KindProblem(info.st_mode);
        ::close(fd);
        return;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    fd_ = fd;
    size_ = std::int64_t(info.st_size);
}

InputFile::~InputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int InputFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

} // namespace morph
