// Every command that writes a table or a file (repair, import, sample,
// export) against refused input, failing calls of the file system, a kill,
// a lock deleted and links appearing at its target's names: the files it
// reads and the target it was to replace keep their bytes unless it put a
// whole new target in place, nothing under a staged name is left behind
// unless the run was killed (and then the next run removes it), and the run
// ends with its exit status and one message.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/record_table.h"
#include "os/fault_env.h"
#include "os/staged.h"
#include "tests/tools/support/tool_test_support.h"
#include "tools/kxtable/app.h"
#include "tools/kxtable/csv_convert.h"
#include "tools/kxtable/sample_generator.h"
#include "tools/kxtable/table_runs.h"

namespace {

namespace fs = std::filesystem;
using kxos::Call;
using kxos::FaultEnv;
using kxtest::ReadFile;
using kxtest::Result;

enum class Command { kRepair, kImport, kSample, kExport };
// What the target holds after the run: what it held before, a whole new
// table or file, or a table that readers report as incomplete.
enum class Target { kOld, kNew, kIncomplete };

struct Files {
  std::vector<std::string> read;     // the command reads them
  std::vector<std::string> written;  // its target
};

Files FilesOf(Command command) {
  const std::vector<std::string> t = {"T.kxt", "T.kxd", "T.kxa", "T.kxi"};
  switch (command) {
    case Command::kRepair:
      return {t,
              {"T_REPAIRED.kxt", "T_REPAIRED.kxd", "T_REPAIRED.kxa",
               "T_REPAIRED.kxi"}};
    case Command::kImport:
      return {{"in.csv"}, t};
    case Command::kSample:
      return {{}, t};
    case Command::kExport:
      return {t, {"out.csv"}};
  }
  return {};
}

// The command line of each command, as a child kxtable runs it.
const char* Arguments(Command command) {
  switch (command) {
    case Command::kRepair:
      return "repair -q --no-progress --replace T.kxt";
    case Command::kImport:
      return "import in.csv T.kxt --force";
    case Command::kSample:
      return "sample T.kxt --records 20000 --seed 9 --force";
    case Command::kExport:
      return "export T.kxt out.csv --force";
  }
  return "";
}

class StagedOutputsTest : public kxtest::KxtableTest {
 public:
  using KxtableTest::Kxtable;
  using KxtableTest::Path;

  // A source of 20,000 records, its earlier repair (of other records), a
  // CSV of another table and an earlier export.
  void Arrange() {
    ASSERT_EQ(
        Kxtable("sample T.kxt --records 20000 --seed 1 --damage 0.02").code, 0);
    ASSERT_EQ(Kxtable("sample O.kxt --records 300 --seed 2").code, 0);
    ASSERT_EQ(Kxtable("export O.kxt in.csv").code, 0);
    ASSERT_EQ(Kxtable("repair -q --no-progress --keep-deleted T.kxt").code, 0);
    kxtest::WriteFile(dir_ / "out.csv", "an earlier export\n");
  }

  std::map<std::string, std::string> Bytes(
      const std::vector<std::string>& names) const {
    std::map<std::string, std::string> bytes;
    for (const std::string& name : names) bytes[name] = ReadFile(dir_ / name);
    return bytes;
  }

  std::vector<std::string> StagedLeft() const {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (kxos::IsStagedName(name)) left.push_back(name);
    }
    return left;
  }

  // The command run in this process, its file calls through `env`.
  Result Run(Command command, kxos::Env* env) {
    if (command == Command::kRepair) {
      kxtable::RunArgs args;
      args.tables = {Path("T.kxt")};
      args.no_progress = true;
      kxtable::ConsoleOptions options;
      options.answer_yes = options.skip_deleted = options.skip_duplicates =
          true;
      options.stop_on_signal = options.progress = false;
      args.json = true;
      options.env = env;
      std::FILE* err = std::tmpfile();
      std::FILE* out = std::tmpfile();
      options.err = err;
      options.out = out;
      Result result;
      result.code =
          kxtable::RunOnTables(kxtable::Operation::kRepair, args, options);
      // Without -q (which would leave out the JSON line) the answered
      // "Replace?" comes first and the notice of a spread stamp last; the
      // row's one message is between them.
      std::rewind(err);
      std::string line;
      for (int c; (c = std::fgetc(err)) != EOF;) {
        line += char(c);
        if (c != '\n') continue;
        if (line.find("Replace? -> Yes") == std::string::npos &&
            line.find("repair --restore") == std::string::npos) {
          result.err += line;
        }
        line.clear();
      }
      result.err += line;
      std::fclose(err);
      std::rewind(out);
      for (int c; (c = std::fgetc(out)) != EOF;) result.out += char(c);
      std::fclose(out);
      return result;
    }
    ::testing::internal::CaptureStderr();
    Result result;
    result.code = kxtable::RunCommand([&] {
      switch (command) {
        case Command::kImport:
          kxtable::ImportCsv(Path("in.csv"), Path("T.kxt"), true, {}, env);
          return 0;
        case Command::kSample:
          kxtable::WriteSampleTable(
              Path("T.kxt"), {.records = 20000, .seed = 9}, true, truth_, env);
          return 0;
        default:
          return kxtable::ReportTableProblems(kxtable::ExportCsvFile(
              Path("T.kxt"), Path("out.csv"), true, env));
      }
    });
    result.err = ::testing::internal::GetCapturedStderr();
    return result;
  }

  // The command as a child kxtable, killed by strace at `kill` (an inject
  // expression such as "rename:when=5").
  Result RunKilled(Command command, const std::string& kill) const {
    return kxtest::RunIn(dir_, "/usr/bin/strace",
                         "-f -o /dev/null -e inject=" + kill +
                             ":signal=KILL '" KXTABLE_PATH "' " +
                             Arguments(command),
                         "");
  }

  std::string truth_;  // sample's --truth
};

// Whether a FaultEnv record is of a staged name ending in `extension`.
std::function<bool(const FaultEnv::Record&)> Staged(const char* extension) {
  return [extension](const FaultEnv::Record& call) {
    const std::string name = kxos::FileNameOf(call.path);
    return kxos::IsStagedName(name) && name.ends_with(extension);
  };
}

// Fails the `nth` call of `call` on a path ending in `suffix` with `error`.
std::function<void(StagedOutputsTest&, FaultEnv&)> Fail(Call call, int nth,
                                                        int error,
                                                        const char* suffix) {
  return [=](auto&, FaultEnv& env) { env.FailCall(call, nth, error, suffix); };
}

struct Row {
  const char* name;
  Command command = Command::kRepair;
  std::function<void(StagedOutputsTest&)> arrange = {};
  std::function<void(StagedOutputsTest&, FaultEnv&)> fault = {};
  const char* kill = nullptr;  // run a child killed there instead
  int code = 0;
  const char* message = "";  // in the one message; "" for none
  Target target = Target::kOld;
  std::function<bool(StagedOutputsTest&)> holds = {};  // what else must hold
  bool source_changes = false;  // the row changes what the command reads
};

// Sets the byte of a file at `offset` to `value`, or flips its lowest bit.
void Patch(StagedOutputsTest& t, const char* name, size_t offset,
           int value = -1) {
  std::string file = ReadFile(t.Path(name));
  file[offset] = static_cast<char>(value < 0 ? file[offset] ^ 1 : value);
  kxtest::WriteFile(t.Path(name), file);
}

std::string Info(StagedOutputsTest& t, const char* table) {
  kalvex::RecordTable read;
  read.Open(t.Path(table));
  std::string text = std::to_string(read.RecordCount());
  for (const std::string& problem : read.Problems()) text += "; " + problem;
  return text;
}

TEST_F(StagedOutputsTest, TargetIsReplacedWholeOrNotAtAll) {
  const std::string planted = "planted bytes, longer than a definition\n";
  std::string planted_at;
  int live_fd = -1;
  const Row rows[] = {
      // Repair.
      {.name = "repair: a record cannot be appended",
       .fault = Fail(Call::kWriteAt, 3, ENOSPC, ".kxd"),
       .code = 2,
       .message = "No repaired table was written"},
      {.name = "repair: a record cannot be read",
       .fault = Fail(Call::kReadAt, 3, EIO, "/T.kxd"),
       .code = 2,
       .message = "record 6554 of '"},
      {.name = "repair: a deletion mark cannot be read",
       .fault = Fail(Call::kReadAt, 2, EIO, "/T.kxa"),
       .code = 2,
       .message = "cannot read the deletion mark"},
      {.name = "repair: the source is cut short while it is read",
       .fault =
           [](StagedOutputsTest& t, FaultEnv& env) {
             env.BeforeCall(
                 Call::kReadAt,
                 [](const FaultEnv::Record& call) {
                   return call.path.ends_with("/T.kxd") && call.offset >= 16;
                 },
                 [&t](const std::string&) {
                   fs::resize_file(t.Path("T.kxd"), 16 + 40 * 100);
                 });
           },
       .code = 2,
       .message = "record 101 of '",
       .source_changes = true},
      {.name = "repair: the commit cannot sync",
       .fault = Fail(Call::kSync, 1, EIO, ".kxa"),
       .code = 2,
       .message = "could not be committed"},
      {.name = "repair: the first rename into place fails",
       .fault = Fail(Call::kRename, 1, EIO, "T_REPAIRED.kxd"),
       .code = 2,
       .message = "nothing was replaced"},
      {.name = "repair: its lock is deleted and a second repair runs",
       .fault =
           [](StagedOutputsTest& t, FaultEnv& env) {
             env.BeforeCall(
                 Call::kWriteAt,
                 [](const FaultEnv::Record& call) {
                   return Staged(".kxd")(call) && call.offset > 16;
                 },
                 [&t](const std::string&) {
                   fs::remove(t.Path("T_REPAIRED.kxt.lock"));
                   EXPECT_EQ(t.Kxtable("repair -q --no-progress --replace "
                                       "--keep-deleted T.kxt")
                                 .code,
                             0);
                 });
           },
       .target = Target::kNew,
       .holds =
           [](StagedOutputsTest& t) {
             // The first repair's (skipping deleted records), put in place
             // last, whole: not the second's records under its index.
             return Info(t, "T_REPAIRED.kxt") == "19930" &&
                    !fs::exists(t.Path("T_REPAIRED.kxt.lock"));
           }},
      {.name = "repair: links to the source appear at the output's names",
       .fault =
           [](StagedOutputsTest& t, FaultEnv& env) {
             env.BeforeCall(
                 Call::kOpen, Staged(".kxt"), [&t](const std::string&) {
                   fs::remove(t.Path("T_REPAIRED.kxd"));
                   fs::create_hard_link(t.Path("T.kxd"),
                                        t.Path("T_REPAIRED.kxd"));
                   fs::remove(t.Path("T_REPAIRED.kxa"));
                   fs::create_symlink("T.kxa", t.Path("T_REPAIRED.kxa"));
                 });
           },
       .target = Target::kNew},
      {.name = "repair: a link to the source at an output name",
       .arrange =
           [](StagedOutputsTest& t) {
             fs::remove(t.Path("T_REPAIRED.kxd"));
             fs::create_symlink("T.kxd", t.Path("T_REPAIRED.kxd"));
           },
       .code = 1,
       .message = "is the same file as the source",
       .holds =
           [](StagedOutputsTest& t) {
             return fs::is_symlink(t.Path("T_REPAIRED.kxd"));
           }},
      {.name = "repair: a file appears at the name of the copied definition",
       .fault =
           [&](auto&, FaultEnv& env) {
             env.BeforeCall(Call::kOpen, Staged(".kxt"),
                            [&](const std::string& path) {
                              kxtest::WriteFile(path, planted);
                              planted_at = path;
                            });
           },
       .target = Target::kNew,
       .holds =
           [&](auto&) {
             const bool kept = ReadFile(planted_at) == planted;
             fs::remove(planted_at);
             return kept;
           }},
      {.name = "repair: a link at the lock file's name",
       .arrange =
           [](StagedOutputsTest& t) {
             fs::create_symlink("elsewhere", t.Path("T_REPAIRED.kxt.lock"));
           },
       .target = Target::kNew,
       .holds =
           [](StagedOutputsTest& t) {
             return !fs::exists(t.Path("elsewhere"));
           }},
      {.name = "repair: other bits of a deletion mark are set",
       .arrange =
           [](StagedOutputsTest& t) {
             ASSERT_EQ(t.Kxtable("sample T.kxt --records 20000 --force").code,
                       0);
             Patch(t, "T.kxa", 16 + 5, 2);  // record 6
           },
       .target = Target::kNew,
       .holds =
           [](StagedOutputsTest& t) {
             return Info(t, "T_REPAIRED.kxt") == "20000";
           }},
      {.name = "repair: the data file's header checksum is wrong",
       .arrange = [](auto& t) { Patch(t, "T.kxd", 12); },
       .code = 1,
       .message = "header checksum mismatch",
       .target = Target::kNew},
      {.name = "repair: the attribute file's header checksum is wrong",
       .arrange = [](auto& t) { Patch(t, "T.kxa", 12); },
       .code = 1,
       .message = "header checksum mismatch",
       .target = Target::kNew},
      {.name = "repair: a private source gives a private output",
       .arrange =
           [](StagedOutputsTest& t) {
             for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
               fs::permissions(t.Path("T" + std::string(ext)),
                               fs::perms::owner_read | fs::perms::owner_write);
             }
           },
       .target = Target::kNew,
       .holds =
           [](StagedOutputsTest& t) {
             for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
               struct stat st;
               if (::stat(t.Path("T_REPAIRED" + std::string(ext)).c_str(),
                          &st) != 0 ||
                   (st.st_mode & 07777) != 0600) {
                 return false;
               }
             }
             return true;
           }},
      {.name = "repair: a killed run's table goes, a live run's stays",
       .arrange =
           [&](StagedOutputsTest& t) {
             const std::string prefix =
                 ".kxs-" + kxos::TargetHash(t.Path("T_REPAIRED.kxt")) + "-";
             for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
               kxtest::WriteFile(t.Path(prefix + "0123456789ab" + ext), "x");
               kxtest::WriteFile(t.Path(prefix + "ba9876543210" + ext), "x");
             }
             // Another run appending to its staged table holds its data
             // file's lock.
             live_fd =
                 ::open(t.Path(prefix + "ba9876543210.kxd").c_str(), O_RDONLY);
             ASSERT_EQ(::flock(live_fd, LOCK_EX | LOCK_NB), 0);
           },
       .target = Target::kNew,
       .holds =
           [&](StagedOutputsTest& t) {
             const std::vector<std::string> left = t.StagedLeft();
             ::close(live_fd);
             for (const std::string& name : left) fs::remove(t.Path(name));
             return left.size() == 4 &&
                    std::all_of(left.begin(), left.end(), [](auto& name) {
                      return name.find("-ba9876543210.") != std::string::npos;
                    });
           }},
      {.name = "repair: killed while writing records",
       .kill = "pwrite64:when=6",
       .code = 137,
       .message = "Killed"},
      {.name = "repair: killed between the renames into place",
       .kill = "rename:when=5",
       .code = 137,
       .message = "Killed",
       .target = Target::kIncomplete},
      // Import.
      {.name = "import: a column name is too long",
       .command = Command::kImport,
       .arrange =
           [](auto& t) {
             kxtest::WriteFile(t.Path("in.csv"),
                               "date,time," + std::string(300, 'n') +
                                   "\n2003-12-24,01:00:00,x\n");
           },
       .code = 2,
       .message = "needs a name of 1 to 255 bytes"},
      {.name = "import: the columns are too wide",
       .command = Command::kImport,
       .arrange =
           [](auto& t) {
             kxtest::WriteFile(
                 t.Path("in.csv"),
                 "date,time,a:40000,b:40000\n2003-12-24,01:00:00,x,"
                 "y\n");
           },
       .code = 2,
       .message = "exceeds 65536"},
      {.name = "import: the disk is full",
       .command = Command::kImport,
       .fault = Fail(Call::kWriteAt, 2, ENOSPC, ".kxd"),
       .code = 2,
       .message = "the new table was not put in place"},
      {.name = "import: the CSV is one of the table's files",
       .command = Command::kImport,
       .arrange =
           [](StagedOutputsTest& t) {
             fs::remove(t.Path("in.csv"));
             fs::create_hard_link(t.Path("T.kxd"), t.Path("in.csv"));
           },
       .code = 1,
       .message = "which this command reads"},
      {.name = "import: killed while writing records",
       .command = Command::kImport,
       .kill = "pwrite64:when=4",
       .code = 137,
       .message = "Killed"},
      // Sample.
      {.name = "sample: the disk is full",
       .command = Command::kSample,
       .fault = Fail(Call::kWriteAt, 3, ENOSPC, ".kxd"),
       .code = 2,
       .message = "the new table was not put in place"},
      {.name = "sample: the truth is a second name of the table's data",
       .command = Command::kSample,
       .arrange =
           [](StagedOutputsTest& t) {
             fs::create_hard_link(t.Path("T.kxd"), t.Path("truth.csv"));
             t.truth_ = t.Path("truth.csv");
           },
       .code = 1,
       .message = "the truth cannot be one of the table's files"},
      {.name = "sample: the index cannot be put in place",
       .command = Command::kSample,
       .fault = Fail(Call::kRename, 2, EIO, "/T.kxi"),  // the first marks
       .code = 2,
       .message = "the table there is incomplete now",
       .target = Target::kIncomplete},
      {.name = "sample: killed while writing records",
       .command = Command::kSample,
       .kill = "pwrite64:when=5",
       .code = 137,
       .message = "Killed"},
      // Export.
      {.name = "export: onto the table's data file",
       .command = Command::kExport,
       .arrange =
           [](StagedOutputsTest& t) {
             fs::remove(t.Path("out.csv"));
             fs::create_symlink("T.kxd", t.Path("out.csv"));
           },
       .code = 1,
       .message = "which this command reads"},
      {.name = "export: the disk is full",
       .command = Command::kExport,
       .fault = Fail(Call::kWrite, 1, ENOSPC, ".new"),
       .code = 2,
       .message = "No space left on device"},
      {.name = "export: it cannot be put in place",
       .command = Command::kExport,
       .fault = Fail(Call::kRename, 1, EIO, "out.csv"),
       .code = 2,
       .message = "cannot put the file in place"},
      {.name = "export: a link at its name is replaced, not followed",
       .command = Command::kExport,
       .arrange =
           [](StagedOutputsTest& t) {
             fs::remove(t.Path("out.csv"));
             kxtest::WriteFile(t.Path("other"), "other");
             fs::create_symlink("other", t.Path("out.csv"));
           },
       .target = Target::kNew,
       .holds =
           [](StagedOutputsTest& t) {
             return ReadFile(t.Path("other")) == "other";
           }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    truth_.clear();
    Arrange();
    if (row.arrange) row.arrange(*this);
    const Files files = FilesOf(row.command);
    const auto read = Bytes(files.read);
    const auto written = Bytes(files.written);

    FaultEnv env;
    if (row.fault) row.fault(*this, env);
    const Result run =
        row.kill ? RunKilled(row.command, row.kill) : Run(row.command, &env);
    EXPECT_EQ(run.code, row.code) << run.err;
    const size_t lines = std::count(run.err.begin(), run.err.end(), '\n');
    EXPECT_EQ(lines, *row.message ? 1u : 0u) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;

    if (!row.source_changes) {
      EXPECT_TRUE(Bytes(files.read) == read);
    }
    const std::string target = files.written.front();
    switch (row.target) {
      case Target::kOld:
        EXPECT_TRUE(Bytes(files.written) == written) << "the target changed";
        break;
      case Target::kNew:
        EXPECT_FALSE(Bytes(files.written) == written) << "no new target";
        if (target.ends_with(".kxt")) {
          EXPECT_EQ(Info(*this, target.c_str()).find(';'), std::string::npos)
              << Info(*this, target.c_str());
        }
        break;
      case Target::kIncomplete:
        EXPECT_NE(Info(*this, target.c_str()).find("the table is incomplete"),
                  std::string::npos);
        break;
    }
    if (row.holds) {
      EXPECT_TRUE(row.holds(*this));
    }
    if (row.command == Command::kRepair && !row.kill) {
      // The JSON line says whether a new output is there.
      const auto line = nlohmann::json::parse(run.out, nullptr, false);
      ASSERT_TRUE(line.is_object()) << run.out;
      const bool removed = row.code == 2 && row.target == Target::kOld;
      EXPECT_EQ(line.value("output_removed", !removed), removed) << run.out;
      if (removed) {
        EXPECT_EQ(line.value("records_written", -1), 0);
      }
    }
    if (!row.kill) {
      EXPECT_EQ(StagedLeft(), std::vector<std::string>{});
      continue;
    }
    // What the killed run left is staged only, and goes with the next run.
    EXPECT_NE(StagedLeft(), std::vector<std::string>{});
    EXPECT_EQ(Kxtable(Arguments(row.command)).code, 0);
    EXPECT_EQ(StagedLeft(), std::vector<std::string>{});
    EXPECT_EQ(Info(*this, target.c_str()).find(';'), std::string::npos);
  }
}

// A table whose base name is as long as a repair's output name allows is
// repaired: the staged names are short whatever the target's name.
TEST_F(StagedOutputsTest, LongestBaseNamesAreRepaired) {
  for (size_t length : {226u, 234u}) {
    const std::string table = std::string(length, 'n') + ".kxt";
    ASSERT_EQ(Kxtable("sample " + table + " --records 100").code, 0);
    const Result repair = Kxtable("repair -q --no-progress " + table);
    EXPECT_EQ(repair.code, 0) << length << repair.err;
    EXPECT_EQ(Info(*this, (std::string(length, 'n') + "_REPAIRED.kxt").c_str()),
              "100");
  }
}

}  // namespace
