#include <gtest/gtest.h>

#include "platform/win32/text.h"

namespace tarnu::test {
namespace {

TEST(Text, Placeholder) {
    EXPECT_EQ(win32::Utf8FromAnsi("a"), "a");
}

}  // namespace
}  // namespace tarnu::test
