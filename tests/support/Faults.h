// Making things fail on purpose, to see how the program copes: a full disk (a file size
// limit), a folder that refuses new files even to root (permission bits made binding by giving
// up the capabilities that let root pass them by), a machine with little memory, and a picture
// header claiming a huge size. A snapshot of a folder shows that a failure changed nothing.
#pragma once

#include "platform/Memory.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace morph::test {

// While it lives, no file of this process may grow past `bytes`: the disk looks full. Writes
// beyond fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

// The same for a child process that is about to exec; async-signal-safe.
inline void LimitFileSizeForGood(rlim_t bytes) noexcept {
    std::signal(SIGXFSZ, SIG_IGN); // an ignored signal stays ignored across exec
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

namespace detail {

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

inline bool GetCapabilities(Capabilities& caps) noexcept {
    return ::syscall(SYS_capget, &caps.header, caps.data) == 0;
}
inline bool SetCapabilities(Capabilities& caps) noexcept {
    return ::syscall(SYS_capset, &caps.header, caps.data) == 0;
}

// The capabilities that pass by permission bits: writing, searching, and acting as owner.
inline constexpr std::uint32_t kOverrides =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

} // namespace detail

// While it lives, the calling thread obeys permission bits as any user does, root included:
// the overriding capabilities leave its effective set and come back at the end.
class PermissionBitsBind {
  public:
    PermissionBitsBind() {
        if (detail::GetCapabilities(saved_)) {
            detail::Capabilities reduced = saved_;
            reduced.data[0].effective &= ~detail::kOverrides;
            detail::SetCapabilities(reduced);
        }
    }
    ~PermissionBitsBind() { detail::SetCapabilities(saved_); }
    PermissionBitsBind(const PermissionBitsBind&) = delete;
    PermissionBitsBind& operator=(const PermissionBitsBind&) = delete;

  private:
    detail::Capabilities saved_;
};

// For a child process about to exec: gives the overriding capabilities up for good. With
// no_new_privs set, root's exec cannot grant them again. Async-signal-safe.
inline void BindPermissionBitsForGood() noexcept {
    detail::Capabilities caps;
    if (detail::GetCapabilities(caps)) {
        caps.data[0].effective &= ~detail::kOverrides;
        caps.data[0].permitted &= ~detail::kOverrides;
        caps.data[0].inheritable &= ~detail::kOverrides;
        detail::SetCapabilities(caps);
    }
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

// A folder, made when missing, that takes no new files and lets none of its files be
// renamed or removed while permission bits bind; writable again when this ends.
class LockedFolder {
  public:
    explicit LockedFolder(std::string path) : path_(std::move(path)) {
        std::filesystem::create_directories(path_);
        ::chmod(path_.c_str(), 0555);
    }
    ~LockedFolder() { ::chmod(path_.c_str(), 0755); }
    LockedFolder(const LockedFolder&) = delete;
    LockedFolder& operator=(const LockedFolder&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Everything under `dir`, hidden entries included: each path relative to it with the bytes of
// the file, or "<folder>". Two equal snapshots mean nothing was added, removed or changed.
inline std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = std::filesystem::relative(it->path(), dir).string();
        if (it->is_directory()) {
            entries[name] = "<folder>";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            entries[name] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return entries;
}

// A 60-byte BMP file whose header claims a 24-bit picture of width x height pixels.
inline std::string BmpHeader(std::uint32_t width, std::uint32_t height) {
    const auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) {
            out += char((value >> (8 * i)) & 0xFF);
        }
        return out;
    };
    const std::uint32_t pixelBytes = (width * 3 + 3) / 4 * 4 * height; // wraps; only claimed
    return "BM" + le(54 + pixelBytes, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(width, 4) +
           le(height, 4) + le(1, 2) + le(24, 2) + le(0, 4) + le(pixelBytes, 4) + le(2835, 4) +
           le(2835, 4) + le(0, 4) + le(0, 4) + std::string(6, '\0');
}

// While it lives, AvailableMemoryBytes gives `bytes`, as on a machine with that much free.
class AvailableMemory {
  public:
    explicit AvailableMemory(std::int64_t bytes) {
        if (const char* old = std::getenv(kAvailableMemoryVariable)) {
            old_ = old;
        }
        ::setenv(kAvailableMemoryVariable, std::to_string(bytes).c_str(), 1);
    }
    ~AvailableMemory() {
        if (old_) {
            ::setenv(kAvailableMemoryVariable, old_->c_str(), 1);
        } else {
            ::unsetenv(kAvailableMemoryVariable);
        }
    }
    AvailableMemory(const AvailableMemory&) = delete;
    AvailableMemory& operator=(const AvailableMemory&) = delete;

  private:
    std::optional<std::string> old_;
};

// Caps this process's address space at its present size plus `headroom` bytes, for good: for
// a child process that must show it allocates nothing large.
inline void LimitAddressSpace(std::int64_t headroom) {
    std::ifstream status("/proc/self/status");
    std::string key;
    std::int64_t kib = 0;
    while (status >> key) {
        if (key == "VmSize:") {
            status >> kib;
            break;
        }
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = rlim_t(kib * 1024 + headroom);
    ::setrlimit(RLIMIT_AS, &limit);
}

} // namespace morph::test
