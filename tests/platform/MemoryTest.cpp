#include "platform/Memory.h"
#include "platform/MorphError.h"
#include "support/Faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include <sys/resource.h>

namespace morph {
namespace {

constexpr std::int64_t kMiB = std::int64_t(1) << 20;
constexpr std::int64_t kGiB = std::int64_t(1) << 30;

std::string Refusal(std::int64_t bytes) {
    try {
        CheckMemoryFor(bytes, "This morph needs");
    } catch (const MorphError& e) {
        return e.message();
    }
    return "accepted";
}

TEST(Memory, TextsUseBinaryUnitsWithOneDecimal) {
    EXPECT_EQ(MemoryText(0), "0 bytes");
    EXPECT_EQ(MemoryText(1), "1 byte");
    EXPECT_EQ(MemoryText(1023), "1023 bytes");
    EXPECT_EQ(MemoryText(1024), "1.0 KiB");
    EXPECT_EQ(MemoryText(79872), "78.0 KiB");
    EXPECT_EQ(MemoryText(kMiB - 1), "1.0 MiB"); // never "1024.0 KiB"
    EXPECT_EQ(MemoryText(25 * kGiB / 2), "12.5 GiB");
    EXPECT_EQ(MemoryText(std::numeric_limits<std::int64_t>::max()), "8.0 EiB");
}

TEST(Memory, PictureBytesSaturateInsteadOfOverflowing) {
    EXPECT_EQ(PictureBytes(4000, 3000, 4, 500), std::int64_t(24) * 1000 * 1000 * 1000);
    EXPECT_EQ(PictureBytes(0, 3000, 4, 500), 0);
    EXPECT_EQ(PictureBytes(-1, 3000, 4), 0);
    EXPECT_EQ(PictureBytes(std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), 4,
                           std::numeric_limits<int>::max()),
              std::numeric_limits<std::int64_t>::max());
}

TEST(Memory, TheStatedFigureStandsInForTheMeasuredOne) {
    {
        const test::AvailableMemory small(3 * kGiB + kGiB / 10);
        EXPECT_EQ(AvailableMemoryBytes(), 3 * kGiB + kGiB / 10);
        EXPECT_EQ(Refusal(25 * kGiB / 2),
                  "This morph needs 12.5 GiB, but only 3.1 GiB of memory is available");
        EXPECT_EQ(Refusal(3 * kGiB + kGiB / 10), "accepted");
        // Texts that would read the same give the exact counts.
        EXPECT_EQ(Refusal(3 * kGiB + kGiB / 10 + 1),
                  "This morph needs 3328599655 bytes, but only 3328599654 bytes of memory is "
                  "available");
    }
    // A figure that is no whole number of bytes is ignored: the machine has more than 12.
    for (const char* bad : {"", "lots", "-5", "12k", "0x10"}) {
        const test::AvailableMemory stated(0);
        ::setenv(kAvailableMemoryVariable, bad, 1);
        EXPECT_GT(AvailableMemoryBytes(), kMiB) << bad;
    }
}

// What the machine has is measured, and an address space limit counts from what the process
// already uses.
TEST(Memory, AnAddressSpaceLimitBoundsWhatIsAvailable) {
    const std::int64_t machine = AvailableMemoryBytes();
    ASSERT_GT(machine, 0);
    EXPECT_EQ(Refusal(1), "accepted");

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
    test::LimitAddressSpace(256 * kMiB);
    const std::int64_t limited = AvailableMemoryBytes();
    ::setrlimit(RLIMIT_AS, &saved);
    EXPECT_LE(limited, 256 * kMiB);
    EXPECT_GT(limited, std::min(128 * kMiB, machine / 2));
}

} // namespace
} // namespace morph
