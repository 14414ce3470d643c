// kxtable repair on real tables made with kxtable load and kxtable sample:
// the report on standard output byte for byte, the output table record for
// record (through kxtable dump), and the source's four files unchanged after
// every run, including runs that meet a full disk or are killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/results_log.h"
#include "core/stamp.h"
#include "engine/record_codec.h"
#include "platform/system.h"
#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;

using kxtest::DumpRecord;
using kxtest::DumpText;
using kxtest::Hex;
using kxtest::ParseDump;
using kxtest::ReadFile;
using kxtest::Result;

constexpr size_t kRecordLength = 40;

// A record in the engine's layout, padded to kRecordLength bytes.
std::string Rec(const std::string& stamp, const std::string& payload) {
  return kxtest::EngineRecord(stamp, payload, kRecordLength);
}

std::string WithStamp(const std::string& record, const std::string& stamp) {
  std::string out = Rec(stamp, "");
  return out.substr(0, 17) + record.substr(17);
}

void PutStamp(std::string& b, const std::string& stamp) {
  std::string date(kxcheck::StampPart(stamp, 1, 10));
  std::string time(kxcheck::StampPart(stamp, 12, 19));
  for (int i = 0; i < 17; ++i) b[i] = '\0';
  if (!date.empty()) {
    b[0] = kalvex::PackCentury(date[0], date.size() > 1 ? date[1] : '0');
  }
  for (size_t i = 2; i < date.size(); ++i) b[i - 1] = date[i];
  for (size_t i = 0; i < time.size(); ++i) b[9 + i] = time[i];
}

struct Options {
  bool skip_deleted;
  bool skip_duplicates;
  bool skip_corrupted;

  std::string Flags() const {
    std::string flags;
    if (!skip_deleted) flags += " --keep-deleted";
    if (!skip_duplicates) flags += " --keep-duplicates";
    if (skip_corrupted) flags += " --skip-corrupted";
    return flags;
  }
};

std::vector<Options> AllOptions() {
  std::vector<Options> all;
  for (int mask = 0; mask < 8; ++mask) {
    all.push_back({(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0});
  }
  return all;
}

struct Expected {
  std::string log;
  std::vector<std::string> written;
};

// What a repair without failures writes, worked out from the source's dump
// record by record.
Expected RepairFromDump(const std::string& path,
                        const std::vector<DumpRecord>& records,
                        const Options& options, int year) {
  using kxcheck::StampTest;
  kxcheck::ResultsLog log;
  Expected expected;
  std::string year_text = kxcheck::YearText(year);
  log.AddResult("Filename: " + path);
  log.AddResult("Records:  " + std::to_string(records.size()));
  std::string previous_stamp(kxcheck::kStartStamp);
  std::string previous_record;
  int kept = 0, nulls = 0, deleted = 0, corrupted = 0, duplicates = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const int64_t n = static_cast<int64_t>(i) + 1;
    std::string buffer = records[i].bytes;
    if (kxcheck::IsRepairNull(buffer)) {
      ++nulls;
      continue;
    }
    if (options.skip_deleted && records[i].deleted) {
      ++deleted;
      continue;
    }
    if (options.skip_corrupted && !kxcheck::HasSeparatorBytes(buffer)) {
      ++corrupted;
      continue;
    }
    if (options.skip_duplicates && buffer == previous_record) {
      ++duplicates;
      continue;
    }
    ++kept;
    std::string stamp = kxtest::RecordStamp(buffer);
    bool changed = false;
    for (StampTest test : kxcheck::kAllStampTests) {
      if (test == StampTest::kSeparators) continue;
      if (kxcheck::StampTestFails(test, stamp, previous_stamp, year_text)) {
        changed = true;
        log.AddResult(kxcheck::FindingLine(
            n, stamp, kxcheck::FindingSuffix(test, previous_stamp)));
      }
    }
    if (!changed && kxcheck::StampTestFails(StampTest::kSeparators, stamp,
                                            previous_stamp, year_text)) {
      log.AddResult(kxcheck::FindingLine(
          n, stamp,
          kxcheck::FindingSuffix(StampTest::kSeparators, previous_stamp)));
      stamp[4] = stamp[7] = '-';
      stamp[13] = stamp[16] = ':';
      PutStamp(buffer, stamp);
      log.AddResult("Rec: " + std::to_string(n) + "- Date set to --> " +
                    kxcheck::BytesToText(stamp));
    }
    std::string written = buffer;
    if (changed) {
      stamp = kept == 1 ? std::string(kxcheck::kFirstReplacementStamp)
                        : previous_stamp;
      PutStamp(written, stamp);
      log.AddResult("Rec: " + std::to_string(n) + "- Date set to --> " +
                    kxcheck::BytesToText(stamp));
    }
    expected.written.push_back(written);
    previous_stamp = stamp;
    previous_record = buffer;
  }
  if (log.Length() > kxcheck::ResultsLog::kCap) {
    log.AddResultAlways(">>> Output Truncated <<<");
  }
  auto skipped = [&](int count, const char* what) {
    log.AddResultAlways("Skipped " + std::to_string(count) + what);
  };
  if (options.skip_deleted) skipped(deleted, " Deleted records");
  if (nulls > 0) skipped(nulls, " Null records");
  if (options.skip_duplicates) skipped(duplicates, " Duplicate records");
  if (options.skip_corrupted) skipped(corrupted, " Corrupted records");
  std::string base = path.substr(0, path.size() - 4);
  log.AddResultAlways("");
  log.AddResultAlways("Output -> " + base + "_REPAIRED.kxt");
  log.AddResultAlways("Records Written: " +
                      std::to_string(expected.written.size()));
  log.AddResultAlways("");
  log.AddResultAlways("*** Processing Complete ***");
  expected.log = log.Text();
  return expected;
}

class RepairCommandTest : public kxtest::KxtableTest {
 protected:
  static std::string Base(const std::string& kxt) {
    return kxt.substr(0, kxt.size() - 4);
  }
  static std::string Output(const std::string& kxt) {
    return Base(kxt) + "_REPAIRED.kxt";
  }

  // The bytes of a table's four files.
  std::map<std::string, std::string> Files(const std::string& kxt) {
    std::map<std::string, std::string> files;
    files[kxt] = fs::exists(kxt) ? ReadFile(kxt) : "(absent)";
    for (const char* ext : {".kxd", ".kxi", ".kxa"}) {
      std::string file = Base(kxt) + ext;
      files[file] = fs::exists(file) ? ReadFile(file) : "(absent)";
    }
    return files;
  }

  void RemoveOutput(const std::string& kxt) {
    std::string base = Base(Output(kxt));
    for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
      fs::remove(base + ext);
    }
  }

  // Runs kxtable repair and checks that the source's files are unchanged.
  Result Repair(const std::string& kxt, const std::string& flags) {
    auto before = Files(kxt);
    Result result =
        Kxtable("repair --no-progress --crlf" + flags + " '" + kxt + "'");
    EXPECT_TRUE(Files(kxt) == before)
        << "repair" << flags << " changed the source's files";
    return result;
  }

  std::vector<DumpRecord> Dump(const std::string& kxt) {
    Result dump = Kxtable("dump '" + kxt + "'");
    EXPECT_EQ(dump.code, 0) << dump.err;
    return ParseDump(dump.out);
  }

  std::string Load(const std::string& name,
                   const std::vector<DumpRecord>& records) {
    std::string path = Path(name);
    Result load = Kxtable("load '" + path + "'", DumpText(records));
    EXPECT_EQ(load.code, 0) << load.err;
    return path;
  }

  std::string Sample(const std::string& name, int records, double damage,
                     int seed) {
    std::string path = Path(name);
    Result sample =
        Kxtable("sample '" + path + "' --records " + std::to_string(records) +
                " --damage " + std::to_string(damage) + " --seed " +
                std::to_string(seed));
    EXPECT_EQ(sample.code, 0) << sample.err;
    return path;
  }

  // Starts kxtable repair of `kxt` in a child whose output is thrown away.
  static pid_t StartQuietRepair(const std::string& kxt) {
    pid_t pid = fork();
    if (pid == 0) {
      int null_fd = open("/dev/null", O_WRONLY);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
      execl(KXTABLE_PATH, KXTABLE_PATH, "repair", "--no-progress", kxt.c_str(),
            static_cast<char*>(nullptr));
      _exit(123);
    }
    return pid;
  }

  // Runs kxtable repair in a child whose files may not grow past `limit`
  // bytes, with SIGXFSZ ignored so that writes fail with EFBIG instead.
  Result RepairWithFileSizeLimit(const std::string& kxt, rlim_t limit) {
    auto before = Files(kxt);
    std::string out = (dir_ / "limited.out").string();
    std::string err = (dir_ / "limited.err").string();
    pid_t pid = fork();
    if (pid == 0) {
      int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out_fd < 0 || err_fd < 0) _exit(121);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit rl = {limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(122);
      execl(KXTABLE_PATH, KXTABLE_PATH, "repair", "--no-progress", kxt.c_str(),
            static_cast<char*>(nullptr));
      _exit(123);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    EXPECT_TRUE(Files(kxt) == before) << "a full disk changed the source";
    return result;
  }
};

std::string Zeros(std::map<size_t, char> set) {
  std::string bytes(kRecordLength, '\0');
  for (auto [at, c] : set) bytes[at] = c;
  return bytes;
}

TEST_F(RepairCommandTest, LoadedTableWithEachCombinationOfOptions) {
  const std::string a = Rec("2020-01-01 10:00:00", "aaaa");
  const std::string d = Rec("2020-01-01 10:00:01", "zzzz");
  const std::string c = Rec("2020/01/01 10.00.02", "bbbb");
  const std::string null_all = Zeros({});
  const std::string null_range = Zeros({{0, ' '}, {1, 'x'}, {34, 'q'}});
  const std::string z = Zeros({{33, 'n'}});  // not null: byte 33 is set
  const std::string m = Rec("2020-13-01 10:00:03", "cccc");
  const std::string g = Rec("2020-01-01 10:00:04", "dddd");
  const std::string l = Rec("2021-06-01 00:00:00", "eeee");
  const std::string e = Rec("2020-01-01 10:00:05", "ffff");
  std::string h = Rec("2021-06-01 00:00:01", "gggg\xE9");
  h[7] = '\xE9';  // the day's first digit
  const std::string path = Load("line4.kxt", {{a},
                                              {a},
                                              {d, true},
                                              {c},
                                              {null_all},
                                              {null_range},
                                              {z},
                                              {m},
                                              {g},
                                              {l},
                                              {e},
                                              {h}});

  for (const Options& o : AllOptions()) {
    SCOPED_TRACE("flags:" + o.Flags());
    RemoveOutput(path);
    Result result = Repair(path, o.Flags());
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err, "");

    std::string log = "Filename: " + path + "\r\nRecords:  12\r\n";
    std::vector<std::string> written = {a};
    if (!o.skip_duplicates) written.push_back(a);
    if (!o.skip_deleted) written.push_back(d);
    std::string p = "2020-01-01 10:00:00";  // the stamp written before z
    if (!o.skip_deleted) p = "2020-01-01 10:00:01";
    if (!o.skip_corrupted) {
      p = "2020-01-01 10:00:02";
      log +=
          "Rec: 4 - 2020/01/01 10.00.02 --> Separator(s) is invalid!\r\n"
          "Rec: 4- Date set to --> 2020-01-01 10:00:02\r\n";
      written.push_back(WithStamp(c, p));
      log += "Rec: 7 -   Date is out of sequence with " + p + "\r\n";
      for (const char* field :
           {"Year", "Month", "Day", "Hour", "Minute", "Second"}) {
        log += "Rec: 7 -   --> " + std::string(field) + " is invalid!\r\n";
      }
      log += "Rec: 7- Date set to --> " + p + "\r\n";
      written.push_back(WithStamp(z, p));
    }
    log +=
        "Rec: 8 - 2020-13-01 10:00:03 --> Month is invalid!\r\n"
        "Rec: 8- Date set to --> " +
        p + "\r\n";
    written.push_back(WithStamp(m, p));
    written.push_back(g);
    written.push_back(l);
    log +=
        "Rec: 11 - 2020-01-01 10:00:05 Date is out of sequence with "
        "2021-06-01 00:00:00\r\n"
        "Rec: 11- Date set to --> 2021-06-01 00:00:00\r\n"
        "Rec: 12 - 2021-06-\xC3\xA9"
        "1 00:00:01 --> Day is invalid!\r\n"
        "Rec: 12- Date set to --> 2021-06-01 00:00:00\r\n";
    written.push_back(WithStamp(e, "2021-06-01 00:00:00"));
    written.push_back(WithStamp(h, "2021-06-01 00:00:00"));
    if (o.skip_deleted) log += "Skipped 1 Deleted records\r\n";
    log += "Skipped 2 Null records\r\n";
    if (o.skip_duplicates) log += "Skipped 1 Duplicate records\r\n";
    if (o.skip_corrupted) log += "Skipped 2 Corrupted records\r\n";
    log += "\r\nOutput -> " + Output(path) +
           "\r\nRecords Written: " + std::to_string(written.size()) +
           "\r\n\r\n*** Processing Complete ***\r\n";
    EXPECT_EQ(result.out, log);

    std::vector<DumpRecord> output = Dump(Output(path));
    ASSERT_EQ(output.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
      EXPECT_EQ(Hex(output[i].bytes), Hex(written[i])) << "record " << i + 1;
      EXPECT_FALSE(output[i].deleted) << "record " << i + 1;
    }
  }
}

TEST_F(RepairCommandTest, SampleTablesWithEachCombinationOfOptions) {
  const struct {
    int records;
    double damage;
    int seed;
  } cases[] = {{3000, 0.05, 11}, {1500, 0.5, 12}, {20000, 0.01, 13}};
  int year = platform::CurrentYear();
  for (const auto& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(c.seed));
    std::string path = Sample("s" + std::to_string(c.seed) + ".kxt", c.records,
                              c.damage, c.seed);
    std::vector<DumpRecord> source = Dump(path);
    ASSERT_EQ(source.size(), static_cast<size_t>(c.records));
    for (const Options& o : AllOptions()) {
      SCOPED_TRACE("flags:" + o.Flags());
      Result result = Repair(path, " --replace" + o.Flags());
      Expected expected = RepairFromDump(path, source, o, year);
      EXPECT_EQ(result.code, 0) << result.err;
      EXPECT_TRUE(result.out == expected.log)
          << "the report differs from the one worked out from the dump";
      std::vector<DumpRecord> output = Dump(Output(path));
      ASSERT_EQ(output.size(), expected.written.size());
      for (size_t i = 0; i < output.size(); ++i) {
        ASSERT_EQ(Hex(output[i].bytes), Hex(expected.written[i]))
            << "record " << i + 1;
      }
    }
  }
}

TEST_F(RepairCommandTest, ExistingOutputIsKeptUnlessReplaceIsGiven) {
  std::string path = Load("t.kxt", {{Rec("2020-01-01 10:00:00", "new")},
                                    {Rec("2020-01-01 10:00:01", "new")}});
  std::string old =
      Load("t_REPAIRED.kxt", {{Rec("1999-01-01 00:00:00", "old")}});
  auto old_files = Files(old);

  Result declined = Repair(path, "");
  EXPECT_EQ(declined.code, 1);
  EXPECT_EQ(declined.out, "");
  EXPECT_NE(declined.err.find("File '" + Base(old) +
                              ".kxt' already exists ... Replace? -> No"),
            std::string::npos)
      << declined.err;
  EXPECT_TRUE(Files(old) == old_files);

  Result replaced = Repair(path, " --replace");
  EXPECT_EQ(replaced.code, 0) << replaced.err;
  EXPECT_NE(replaced.out.find("Records Written: 2\r\n"), std::string::npos);
  std::vector<DumpRecord> output = Dump(old);
  ASSERT_EQ(output.size(), 2u);
  EXPECT_EQ(output[1].bytes, Rec("2020-01-01 10:00:01", "new"));
}

TEST_F(RepairCommandTest, MissingTable) {
  Result result = Kxtable("repair --no-progress '" + Path("none.kxt") + "'");
  EXPECT_EQ(result.code, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "kxtable: " + Path("none.kxt") + ": No such file or directory\n");
  EXPECT_FALSE(fs::exists(Path("none_REPAIRED.kxt")));
}

TEST_F(RepairCommandTest, UpperCaseExtension) {
  std::string lower = Load("u.kxt", {{Rec("2020-01-01 10:00:00", "aaaa")}});
  std::string upper = Path("u.KXT");
  fs::rename(lower, upper);
  Result result = Repair(upper, "");
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("Output -> " + Path("u_REPAIRED.kxt") + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Dump(Path("u_REPAIRED.kxt")).size(), 1u);
  EXPECT_FALSE(fs::exists(Path("u_REPAIRED.KXT")));
}

TEST_F(RepairCommandTest, FullDiskGivesAWarningAndExitTwo) {
  // 20000 records of 40 bytes: the output's data file cannot stay under the
  // limit, while the report and the copied main file can.
  std::string path = Sample("full.kxt", 20000, 0.01, 5);
  for (rlim_t limit : {rlim_t{256 * 1024}, rlim_t{4096}}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    RemoveOutput(path);
    Result result = RepairWithFileSizeLimit(path, limit);
    EXPECT_EQ(result.code, 2);  // a failed write
    EXPECT_NE(result.err.find("No repaired table was written: '" +
                              Output(path) + "'"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("File too large"), std::string::npos);
    for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa", ".kxt.lock"}) {
      EXPECT_FALSE(fs::exists(Base(Output(path)) + ext)) << ext;
    }
  }
}

// A Repair ended by a signal at any moment leaves the source as it was and
// no output that passes for a table: SIGINT, SIGTERM and SIGHUP remove the
// unfinished output; after SIGKILL what is left is reported as damaged.
TEST_F(RepairCommandTest, SignalledRepairLeavesNoTableThatPassesForOne) {
  std::string path = Sample("kill.kxt", 300000, 0.01, 9);
  auto before = Files(path);
  ASSERT_EQ(Repair(path, "").code, 0);
  const std::string complete = Kxtable("info '" + Output(path) + "'").out;
  for (int signal_number : {SIGKILL, SIGINT, SIGTERM, SIGHUP}) {
    for (int delay_ms : {0, 5, 15, 30, 60, 100}) {
      SCOPED_TRACE("signal " + std::to_string(signal_number) + " after " +
                   std::to_string(delay_ms) + " ms");
      RemoveOutput(path);
      pid_t pid = StartQuietRepair(path);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      kill(pid, signal_number);
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(Files(path) == before) << "the source changed";
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;  // done
      if (signal_number != SIGKILL && WIFEXITED(status)) {
        for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa", ".kxt.lock"}) {
          EXPECT_FALSE(fs::exists(Base(Output(path)) + ext)) << ext;
        }
      }
      // Killed after its commit, an output is complete; otherwise it does
      // not check clean.
      if (fs::exists(Output(path)) &&
          Kxtable("check --no-progress '" + Output(path) + "'").code == 0) {
        EXPECT_EQ(Kxtable("info '" + Output(path) + "'").out, complete);
      }
    }
  }
}

}  // namespace
