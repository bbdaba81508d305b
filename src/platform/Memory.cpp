#include "platform/Memory.h"

#include "platform/MorphError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace morph {

namespace {

constexpr std::int64_t kUnknown = -1;
constexpr std::int64_t kMaxBytes = std::numeric_limits<std::int64_t>::max();

// A whole non-negative number filling the whole text, else kUnknown.
std::int64_t ParseBytes(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return kUnknown;
    }
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > static_cast<unsigned long long>(kMaxBytes)) {
        return kMaxBytes;
    }
    return static_cast<std::int64_t>(value);
}

// The number after `key` in a "Key: value [kB]" or "key value" listing, in bytes when the
// listing gives kB; kUnknown when the key is missing.
std::int64_t ListedValue(const std::string& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0 || line.size() == key.size() ||
            (line[key.size()] != ':' && line[key.size()] != ' ')) {
            continue;
        }
        std::istringstream fields(line.substr(key.size() + 1));
        std::string number;
        std::string unit;
        fields >> number >> unit;
        const std::int64_t value = ParseBytes(number);
        if (value == kUnknown || unit != "kB") {
            return value;
        }
        return value > kMaxBytes / 1024 ? kMaxBytes : value * 1024;
    }
    return kUnknown;
}

std::int64_t FileNumber(const std::string& file) {
    std::ifstream in(file);
    std::string text;
    in >> text;
    return ParseBytes(text);
}

std::int64_t SystemAvailable() {
    const std::int64_t listed = ListedValue("/proc/meminfo", "MemAvailable");
    if (listed != kUnknown) {
        return listed;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? PictureBytes(pages, pageSize, 1) : kUnknown;
}

// The limit of one control group less its use, page cache that can be dropped not counted.
std::int64_t GroupLeft(const std::string& limitFile, const std::string& usageFile,
                       const std::string& statFile, const std::string& inactiveFileKey) {
    const std::int64_t limit = FileNumber(limitFile);
    const std::int64_t usage = FileNumber(usageFile);
    if (limit == kUnknown || usage == kUnknown) {
        return kUnknown; // no such group, or "max"
    }
    const std::int64_t cache = ListedValue(statFile, inactiveFileKey);
    const std::int64_t used = usage - (cache > 0 && cache <= usage ? cache : 0);
    return limit > used ? limit - used : 0;
}

// The tightest memory limit of the process's control group and the groups above it.
std::int64_t ControlGroupLeft() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    std::int64_t left = kUnknown;
    while (std::getline(in, line)) {
        // "0::/path" in the unified hierarchy, "4:memory:/path" in the older one.
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const bool unified = line.compare(0, first, "0") == 0 && controllers.empty();
        const bool memory = controllers == "memory" || controllers.rfind("memory,", 0) == 0 ||
                            controllers.find(",memory") != std::string::npos;
        if (!unified && !memory) {
            continue;
        }
        std::string group = line.substr(second + 1);
        while (true) {
            const std::string dir =
                unified ? "/sys/fs/cgroup" + group : "/sys/fs/cgroup/memory" + group;
            const std::int64_t here =
                unified ? GroupLeft(dir + "/memory.max", dir + "/memory.current",
                                    dir + "/memory.stat", "inactive_file")
                        : GroupLeft(dir + "/memory.limit_in_bytes", dir + "/memory.usage_in_bytes",
                                    dir + "/memory.stat", "total_inactive_file");
            if (here != kUnknown && (left == kUnknown || here < left)) {
                left = here;
            }
            if (group.empty() || group == "/") {
                break;
            }
            const std::size_t slash = group.find_last_of('/');
            group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
        }
    }
    return left;
}

// What a resource limit leaves over the current use given in /proc/self/status under `key`.
std::int64_t LimitLeft(int resource, const char* key) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kUnknown;
    }
    const std::int64_t cap =
        limit.rlim_cur > rlim_t(kMaxBytes) ? kMaxBytes : std::int64_t(limit.rlim_cur);
    const std::int64_t used = ListedValue("/proc/self/status", key);
    if (used == kUnknown) {
        return cap;
    }
    return cap > used ? cap - used : 0;
}

} // namespace

std::int64_t AvailableMemoryBytes() {
    if (const char* stated = std::getenv(kAvailableMemoryVariable)) {
        const std::int64_t bytes = ParseBytes(stated);
        if (bytes != kUnknown) {
            return bytes;
        }
    }
    std::int64_t available = kUnknown;
    for (const std::int64_t left :
         {SystemAvailable(), ControlGroupLeft(), LimitLeft(RLIMIT_AS, "VmSize"),
          LimitLeft(RLIMIT_DATA, "VmData")}) {
        if (left != kUnknown && (available == kUnknown || left < available)) {
            available = left;
        }
    }
    return available;
}

std::string MemoryText(std::int64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = double(bytes) / 1024;
    std::size_t unit = 0;
    // Move up while the value would print as 1024.0 or more.
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value = value / 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

void CheckMemoryFor(std::int64_t bytes, const std::string& what) {
    const std::int64_t available = AvailableMemoryBytes();
    if (available == kUnknown || bytes <= available) {
        return;
    }
    std::string need = MemoryText(bytes);
    std::string have = MemoryText(available);
    if (need == have) {
        need = std::to_string(bytes) + " bytes";
        have = std::to_string(available) + " bytes";
    }
    throw MorphError(what + " " + need + ", but only " + have + " of memory is available");
}

std::int64_t PictureBytes(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel,
                          std::int64_t count) {
    std::int64_t bytes = 1;
    for (const std::int64_t factor : {width, height, bytesPerPixel, count}) {
        if (factor <= 0) {
            return 0;
        }
        if (bytes > kMaxBytes / factor) {
            return kMaxBytes;
        }
        bytes *= factor;
    }
    return bytes;
}

} // namespace morph
