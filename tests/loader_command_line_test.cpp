#include <gtest/gtest.h>

#include "loader/command_line.h"

namespace vo {
namespace {

TEST(SplitParameters, FollowsTheWindowsRules) {
  struct Row {
    std::string parameters;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"\"/SOURCE=C:\\My Files\\Setup.exe\" \"/DATA=C:\\Temp\\VoI1.tmp\"",
       {"/SOURCE=C:\\My Files\\Setup.exe", "/DATA=C:\\Temp\\VoI1.tmp"}},
      {"\"/SOURCE=/tmp/a b/setup\" \"/DATA=/tmp/c d/VoI1.tmp\"",
       {"/SOURCE=/tmp/a b/setup", "/DATA=/tmp/c d/VoI1.tmp"}},
      {"", {}},
      {"  \t ", {}},
      {"a  b\tc", {"a", "b", "c"}},
      {"\"\"", {""}},
      {"a\\\\b c\\", {"a\\\\b", "c\\"}},
      {"\"a\\\\\" b", {"a\\", "b"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"a \"\"b\"\" c\"", {"a \"b\" c"}},
      {"x\"y z\"w v", {"xy zw", "v"}},
      {"\"open", {"open"}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(SplitParameters(row.parameters), row.expected) << row.parameters;
}

}  // namespace
}  // namespace vo
