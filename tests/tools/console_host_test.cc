#include "tools/kxtable/console_host.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "platform/system.h"

namespace {

using kxtable::ConsoleHost;
using kxtable::ConsoleOptions;

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    text.append(chunk, n);
  }
  return text;
}

class ConsoleHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    ASSERT_NE(out_, nullptr);
    ASSERT_NE(err_, nullptr);
    options_.out = out_;
    options_.err = err_;
    options_.stop_on_signal = false;
  }
  void TearDown() override {
    std::fclose(out_);
    std::fclose(err_);
  }

  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
  ConsoleOptions options_;
};

// Standard output carries the log exactly as the box holds it, cap and all,
// and nothing else.
TEST_F(ConsoleHostTest, OutputIsTheLogText) {
  options_.crlf = true;
  std::string expected;
  {
    ConsoleHost host(options_);
    host.ClearResults();
    host.AddResult("Filename: /t\xC3\xA9.kxt");
    host.AddResult(std::string("Rec: 1 - 1\0:00", 14));
    host.AddResult(std::string(65000, 'x'));
    host.AddResult("dropped");
    host.AddResultAlways(">>> Output Truncated <<<");
    host.AddResultAlways("");
    host.AddResultAlways("*** Processing Complete ***");
    host.ShowProgress("0 / 5");  // stderr is no terminal: nothing
    host.Finish();
    expected = host.Log().Text();
    EXPECT_EQ(host.BytesWritten(), static_cast<int64_t>(expected.size()));
  }
  EXPECT_EQ(Contents(out_), expected);
  EXPECT_EQ(expected.substr(0, 36),
            "Filename: /t\xC3\xA9.kxt\r\nRec: 1 - 1?:00\r\n");
  EXPECT_EQ(Contents(err_), "");
}

TEST_F(ConsoleHostTest, MessagesAreOneLineOnStandardError) {
  options_.answer_yes = true;
  options_.skip_corrupted = true;
  {
    ConsoleHost host(options_);
    host.WarnBox("Filename does not exist!");
    EXPECT_TRUE(host.AskYesNo("Output exists.\r\n\r\nReplace it?"));
    EXPECT_TRUE(host.SkipOption(kxcheck::SkipKind::kCorrupted));
    EXPECT_FALSE(host.SkipOption(kxcheck::SkipKind::kDeleted));
    EXPECT_FALSE(host.SkipOption(kxcheck::SkipKind::kDuplicates));
    EXPECT_FALSE(host.StopRequested());
    host.Finish();
  }
  EXPECT_EQ(Contents(err_),
            "kxtable: Filename does not exist!\n"
            "kxtable: Output exists. Replace it? -> Yes\n");
  EXPECT_EQ(Contents(out_), "");
}

TEST_F(ConsoleHostTest, YearComesFromTheClock) {
  ConsoleHost host(options_);
  int year = platform::CurrentYear();
  EXPECT_EQ(host.CurrentYear(), year);
  EXPECT_EQ(host.CurrentYear(), year);  // cached
}

TEST_F(ConsoleHostTest, SignalAsksTheOperationToStop) {
  options_.stop_on_signal = true;
  {
    ConsoleHost host(options_);
    EXPECT_FALSE(host.StopRequested());
    std::raise(SIGINT);
    EXPECT_TRUE(host.StopRequested());
  }
  // The handler is gone with the host; a new host starts afresh.
  ConsoleHost again(options_);
  EXPECT_FALSE(again.StopRequested());
}

TEST(ProgressLineTest, BarCountsRateAndTimeLeft) {
  struct Case {
    int64_t n, total;
    double rate;
    int width;
    std::string line;
  };
  const Case cases[] = {
      {0, 1000000, 0, 120,
       "[........................................] 0 / 1000000  0 rec/s  "
       "--:-- left"},
      {250000, 1000000, 50000, 120,
       "[##########..............................] 250000 / 1000000  50000 "
       "rec/s  0:15 left"},
      {1000000, 1000000, 50000, 120,
       "[########################################] 1000000 / 1000000  50000 "
       "rec/s  0:00 left"},
      {0, 0, 0, 120,
       "[########################################] 0 / 0  0 rec/s  --:-- "
       "left"},
      // A narrow terminal loses the bar first, then the end of the line.
      {5, 10, 1, 40, "[#####.....] 5 / 10  1 rec/s  0:05 left"},
      {5, 10, 1, 30, " 5 / 10  1 rec/s  0:05 left"},
      {5, 10, 1, 10, " 5 / 10  "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kxtable::ProgressLine(c.n, c.total, c.rate, c.width), c.line)
        << c.n << " / " << c.total << " width " << c.width;
  }
  EXPECT_EQ(kxtable::DurationText(59.4), "0:59");
  EXPECT_EQ(kxtable::DurationText(3600), "1:00:00");
  EXPECT_EQ(kxtable::DurationText(-1), "0:00");
  EXPECT_EQ(kxtable::DurationText(1e9), "--:--");
}

}  // namespace
