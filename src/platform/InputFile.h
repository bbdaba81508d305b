// Opening a file that is read as a whole: a picture, a sound, an animation. Only a regular
// file will do. Opening a FIFO for reading waits for a writer, which may never come, and a
// device or a socket has no length to check against, so the open itself never waits and
// anything else is refused with a reason the user can act on.
#pragma once

#include <cstdint>
#include <string>

namespace morph {

class InputFile {
  public:
    // Opens the file for reading; never throws for a problem with the file (see ok()).
    explicit InputFile(const std::string& path);
    ~InputFile(); // closes the file unless release() handed it over
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    // The descriptor (close-on-exec, blocking reads); -1 when not ok().
    int fd() const { return fd_; }
    // The descriptor, no longer closed by this object.
    int release();
    // The file's length in bytes when ok().
    std::int64_t size() const { return size_; }
    // The errno of a failed open (0 when the file opened but is not a regular file).
    int error() const { return error_; }
    // Why the file cannot be read: "it is a folder", "it is not a regular file" or the
    // system's reason ("Permission denied"); empty when ok().
    const std::string& problem() const { return problem_; }

  private:
    int fd_ = -1;
    std::int64_t size_ = 0;
    int error_ = 0;
    std::string problem_;
};

} // namespace morph
