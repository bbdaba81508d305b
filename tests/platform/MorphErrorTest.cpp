#include "platform/MorphError.h"

#include <gtest/gtest.h>

namespace morph {
namespace {

TEST(WithFullStop, AddsAStopOnlyAfterCharactersSortingAfterIt) {
    EXPECT_EQ(WithFullStop("value"), "value.");
    EXPECT_EQ(WithFullStop("x9"), "x9.");
    EXPECT_EQ(WithFullStop("Lines!"), "Lines!");
    EXPECT_EQ(WithFullStop(" Line! "), " Line! ");
    EXPECT_EQ(WithFullStop("Done."), "Done.");
    EXPECT_EQ(WithFullStop("(a)"), "(a)");
    EXPECT_EQ(WithFullStop(""), "");
    EXPECT_EQ(WithFullStop("caf\xc3\xa9"), "caf\xc3\xa9.");
}

} // namespace
} // namespace morph
