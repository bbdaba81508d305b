// Helpers shared by the fuzz targets: a private work folder for the files the readers open,
// and checks that stop the run (so libFuzzer keeps the input) when a property fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace morph::fuzz {

// Stops the run with a message; libFuzzer saves the input that led here as a crash.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz property failed: %s\n", what.c_str());
    std::abort();
}

inline void Check(bool holds, const char* what) {
    if (!holds) {
        Fail(what);
    }
}

// A folder of this process under $TMPDIR (else /tmp), removed when the process ends.
class WorkFolder {
  public:
    static const WorkFolder& Get() {
        static const WorkFolder folder;
        return folder;
    }

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Whether the folder holds nothing but the names given (left-over temporaries show).
    bool holdsOnly(std::initializer_list<std::string> names) const {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
            const std::string name = entry.path().filename().string();
            bool listed = false;
            for (const std::string& allowed : names) {
                listed = listed || name == allowed;
            }
            if (!listed) {
                return false;
            }
        }
        return !error;
    }

    ~WorkFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

  private:
    WorkFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/morph-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot create a work folder under " + pattern);
        }
        path_ = pattern;
    }

    std::string path_;
};

// Writes the bytes as the whole file (replacing it); the run stops when that fails, since
// nothing could be learnt from the input then.
inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail("cannot create " + path);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            Fail("cannot write " + path);
        }
        done += std::size_t(n);
    }
    ::close(fd);
}

inline void Remove(const std::string& path) {
    ::unlink(path.c_str());
}

} // namespace morph::fuzz
