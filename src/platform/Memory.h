// How much memory the process can still take, so that a large read or build is refused with a
// message stating its need before it allocates, instead of failing halfway or bringing the
// out-of-memory killer.
#pragma once

#include <cstdint>
#include <string>

namespace morph {

// The environment variable that, when it holds a whole number of bytes, replaces the measured
// figure of AvailableMemoryBytes (tests use it to stand in for a small machine).
inline constexpr const char* kAvailableMemoryVariable = "MORPH_AVAILABLE_MEMORY";

// Bytes the process may still allocate: the smallest of the memory the system has available
// (MemAvailable, else the free physical pages), what the memory limit of the process's control
// group leaves, and what RLIMIT_AS and RLIMIT_DATA leave over the process's current use.
// -1 when none of these could be measured.
std::int64_t AvailableMemoryBytes();

// A byte count for people: "512 bytes", "78.0 KiB", "12.5 GiB".
std::string MemoryText(std::int64_t bytes);

// Throws MorphError "<what> <bytes>, but only <available> of memory is available" when more
// bytes are needed than AvailableMemoryBytes gives; nothing when that is unknown. `what` is
// the start of the sentence up to its verb: "This morph needs".
void CheckMemoryFor(std::int64_t bytes, const std::string& what);

// width * height * bytesPerPixel * count, saturating at INT64_MAX instead of overflowing.
std::int64_t PictureBytes(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel,
                          std::int64_t count = 1);

} // namespace morph
