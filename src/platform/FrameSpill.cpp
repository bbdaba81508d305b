#include "platform/FrameSpill.h"

#include "platform/MorphError.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace morph {

FrameSpill::FrameSpill(int width, int height) : width_(width), height_(height) {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    folder_ = error ? std::string("/tmp") : folder.string();
    file_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == ENOENT)) {
        // A file system without unnamed files: a named one, unlinked at once.
        std::string name = folder_ + "/.morph-frames-XXXXXX";
        file_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (file_ >= 0) {
            ::unlink(name.c_str());
        }
    }
    if (file_ < 0) {
        Fail("cannot be created", errno);
    }
}

FrameSpill::~FrameSpill() {
    if (file_ >= 0) {
        ::close(file_);
    }
}

void FrameSpill::Fail(const char* what, int error) const {
    throw MorphError("the work file for the frames in '" + folder_ + "' " + what + ": " +
                     std::generic_category().message(error));
}

void FrameSpill::Store(const Bitmap& frame) {
    const std::size_t bytes = frame.pixelCount() * sizeof(Colour);
    const auto* data = reinterpret_cast<const unsigned char*>(frame.data());
    off_t at = off_t(count_) * off_t(std::size_t(width_) * std::size_t(height_) * sizeof(Colour));
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = ::pwrite(file_, data + done, bytes - done, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail("cannot be written", n < 0 ? errno : ENOSPC);
        }
        done += std::size_t(n);
        at += n;
    }
    ++count_;
}

void FrameSpill::Load(int index, Bitmap& frame) const {
    if (frame.width() != width_ || frame.height() != height_) {
        frame.reset(width_, height_);
    }
    const std::size_t bytes = frame.pixelCount() * sizeof(Colour);
    auto* data = reinterpret_cast<unsigned char*>(frame.data());
    off_t at = off_t(index) * off_t(bytes);
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = ::pread(file_, data + done, bytes - done, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail("cannot be read", n < 0 ? errno : EIO);
        }
        done += std::size_t(n);
        at += n;
    }
}

} // namespace morph
