#include "core/results_log.h"

#include <gtest/gtest.h>

namespace {

using kxcheck::ResultsLog;

TEST(ResultsLogTest, LinesEndInCrLfAndNulsShowAsQuestionMarks) {
  ResultsLog log;
  log.AddResult("Filename: a");
  log.AddResultAlways("");
  log.AddResult(std::string("x\0y\0", 4));
  EXPECT_EQ(log.Text(), "Filename: a\r\n\r\nx?y?\r\n");
  EXPECT_EQ(log.Length(), 21);
  log.Clear();
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(log.Length(), 0);
  log.AddResult("first");
  EXPECT_EQ(log.Text(), "first\r\n");
}

TEST(ResultsLogTest, CapLetsOneMoreLineInAtExactly65000) {
  ResultsLog log;
  log.AddResult(std::string(64998, 'a'));  // 65000 with CR LF
  ASSERT_EQ(log.Length(), 65000);
  log.AddResult("one more");
  EXPECT_EQ(log.Length(), 65010);
  log.AddResult("dropped");
  EXPECT_EQ(log.Length(), 65010);
  log.AddResultAlways(">>> Output Truncated <<<");
  EXPECT_EQ(log.Length(), 65036);
}

TEST(ResultsLogTest, LengthCountsCharactersNotBytes) {
  ResultsLog log;
  log.AddResult(kxcheck::BytesToText("\xE9\xFF"));  // two characters
  EXPECT_EQ(log.Length(), 4);
  EXPECT_EQ(log.Text(), "\xC3\xA9\xC3\xBF\r\n");
  log.AddResult("\xE2\x82\xAC");  // one character in three bytes
  EXPECT_EQ(log.Length(), 7);
}

}  // namespace
