#include "host/MxGUID.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace host {
namespace {

TEST(GUIDTest, IsABracedUppercaseVersion4Guid) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    std::string g = NewGUIDString();
    ASSERT_THAT(g, ::testing::MatchesRegex(
                       "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}"));
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace host
