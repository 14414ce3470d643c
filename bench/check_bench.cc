// Speed and memory of `kxtable check`, measured in one run against
// baselines on the same records:
//   read:    a plain read() loop (64 KiB buffer) over the table's four files,
//            in a process of its own like the check;
//   engine:  the engine alone reading what the check reads (GoToRecord,
//            RecordBuffer, Deleted, DateAndTimeText), to show how much of
//            the check's time is the engine's;
//   sqlite:  the same check done by the sqlite3 program on the records loaded
//            from `kxtable export` (LAG over the stamp, substr comparisons
//            for the field tests); load and query timed apart, and its
//            finding lines compared with ours on a small table;
//   memory:  peak resident memory of `kxtable check` on 10,000,000 records
//            against 100,000.
// Times are processor time (user + system) of the child process, the best of
// several interleaved rounds, the files being in the page cache; wall times
// are printed beside them.
//
//   check_bench [--dir D] [--records N] [--rounds R] [--damage F]
//               [--big-records B] [--small-records S] [--no-sqlite]
//               [--no-memory]
//
// Prints one line per measurement and the ratios, and exits 1 when a target
// is missed.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/child_process.h"
#include "bench/support/flags.h"
#include "bench/support/work_dir.h"
#include "engine/record_table.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;

using Usage = kxbench::ChildUsage;
using kxbench::KeepBest;
using kxbench::MustRun;
using kxbench::ReadText;
using kxbench::RemoveTable;

// Child: a plain read() loop over the four files.
int ReadChild(const std::string& kxt) {
  std::vector<char> buffer(64 << 10);
  uint64_t sum = 0;
  for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
    int fd = ::open((kxt.substr(0, kxt.size() - 4) + ext).c_str(), O_RDONLY);
    if (fd < 0) return 1;
    for (;;) {
      ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n <= 0) break;
      sum += static_cast<unsigned char>(buffer[static_cast<size_t>(n) - 1]);
    }
    ::close(fd);
  }
  return sum == 0 ? 1 : 0;
}

// Child: the engine's part of the check.
int EngineChild(const std::string& kxt) {
  kalvex::RecordTable table;
  table.Open(kxt);
  int32_t total = table.RecordCount();
  uint64_t sum = 0;
  for (int32_t n = 1; n <= total; ++n) {
    table.GoToRecord(n);
    sum += table.RecordBuffer().size();
    if (!table.Deleted()) {
      char date_and_time[18];
      if (table.DateAndTimeText(date_and_time)) {
        sum += static_cast<unsigned char>(date_and_time[17]);
      } else {
        sum += table.FieldGet(1).size() + table.FieldGet(2).size();
      }
    }
  }
  table.Close();
  return sum == 0 ? 1 : 0;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string Quoted(const std::string& name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// The check as SQLite queries over table t (loaded from the export, whose
// first columns are date and time and whose last is deleted): classification
// as the scan does it, then a LAG over the records that pass it for the
// duplicate and order tests, then the field tests with substr. The first
// query prints the finding lines in the scan's order; the second (not timed)
// the four counts.
struct CheckSql {
  std::string findings;
  std::string counts;
};

CheckSql CheckQueries(const std::vector<std::string>& payload, int year) {
  char y[8];
  std::snprintf(y, sizeof y, "%04d", year);
  std::string q = "WITH\ncls AS (\n  SELECT rowid AS n, date, time";
  for (size_t i = 0; i < payload.size(); ++i) {
    q += ", " + Quoted(payload[i]) + " AS p" + std::to_string(i);
  }
  q += R"(,
    CASE
      WHEN time = '' AND length(date) <= 2 THEN 1
      WHEN deleted = '1' THEN 2
      WHEN substr(date, 5, 1) <> '-' OR substr(date, 8, 1) <> '-'
        OR substr(time, 3, 1) <> ':' OR substr(time, 6, 1) <> ':' THEN 3
      ELSE 0 END AS k
  FROM t),
cand AS (
  SELECT n, date || ' ' || time AS s,
    COALESCE(LAG(date || ' ' || time) OVER w, '0000-00-00 00-00-00') AS ps,
    date IS LAG(date) OVER w AND time IS LAG(time) OVER w)";
  for (size_t i = 0; i < payload.size(); ++i) {
    const std::string p = "p" + std::to_string(i);
    q += " AND " + p + " IS LAG(" + p + ") OVER w";
  }
  q += R"( AS dup
  FROM cls WHERE k = 0 WINDOW w AS (ORDER BY n)),
ex AS (SELECT n, s, ps FROM cand WHERE NOT dup))";
  CheckSql sql;
  sql.counts = q;
  sql.counts += R"(
SELECT 'Found ' || (SELECT count(*) FROM cls WHERE k = 2) || ' Deleted records',
  'Found ' || (SELECT count(*) FROM cls WHERE k = 1) || ' Null records',
  'Found ' || (SELECT count(*) FROM cand WHERE dup) || ' Duplicate records',
  'Found ' || (SELECT count(*) FROM cls WHERE k = 3) || ' Corrupted records';
)";
  q += R"(,
f AS (
  SELECT n, 0 AS o, ' Date is out of sequence with ' || ps AS x, s
    FROM ex WHERE s < ps
)";
  const struct {
    int from, length;
    const char *low, *high, *name;
  } fields[] = {{1, 4, "1990", y, "Year"},     {6, 2, "01", "12", "Month"},
                {9, 2, "01", "31", "Day"},     {12, 2, "00", "23", "Hour"},
                {15, 2, "00", "59", "Minute"}, {18, 2, "00", "59", "Second"}};
  int order = 1;
  for (const auto& f : fields) {
    std::string part = "substr(s, " + std::to_string(f.from) + ", " +
                       std::to_string(f.length) + ")";
    q += "  UNION ALL SELECT n, " + std::to_string(order++) + ", ' --> " +
         f.name + " is invalid!', s FROM ex WHERE " + part + " < '" + f.low +
         "' OR " + part + " > '" + f.high + "'\n";
  }
  q += R"(  UNION ALL SELECT n, 7, ' --> Separator(s) is invalid!', s FROM ex
    WHERE substr(s, 5, 1) <> '-' OR substr(s, 8, 1) <> '-'
      OR substr(s, 14, 1) <> ':' OR substr(s, 17, 1) <> ':')
SELECT replace('Rec: ' || n || ' - ' || s || x, char(1), '?')
  FROM f ORDER BY n, o;
)";
  sql.findings = q;
  return sql;
}

// The export's column names, from its header line.
std::vector<std::string> PayloadColumns(const std::string& csv) {
  std::ifstream in(csv);
  std::string header;
  std::getline(in, header);
  std::vector<std::string> names;
  std::string name;
  std::stringstream split(header);
  while (std::getline(split, name, ',')) names.push_back(name);
  if (names.size() < 3 || names[0] != "date" || names[1] != "time" ||
      names.back() != "deleted") {
    std::fprintf(stderr, "unexpected export header: %s\n", header.c_str());
    std::exit(1);
  }
  return {names.begin() + 2, names.end() - 1};
}

struct SqliteRun {
  Usage export_run, load, query;
  std::string output;
  std::string counts;  // the four "Found" lines, counts of 0 included
};

SqliteRun RunSqlite(const std::string& dir, const std::string& kxt, int rounds,
                    bool with_counts) {
  SqliteRun run;
  std::string csv = dir + "/export.csv";
  std::string db = dir + "/check.db";
  std::string sql = dir + "/check.sql";
  fs::remove(db);
  run.export_run =
      MustRun({KXTABLE_PATH, "export", kxt}, csv, dir + "/export.err");
  // The export writes a NUL byte as \x00; it goes back in as character 1,
  // which sorts below the digits as NUL does and is shown as "?" again.
  WriteText(dir + "/load.sql",
            ".import --csv " + csv +
                " t\n"
                "UPDATE t SET date = replace(date, '\\x00', char(1)),"
                " time = replace(time, '\\x00', char(1));\n");
  run.load = MustRun({"sqlite3", db}, "/dev/null", dir + "/load.err", false,
                     dir + "/load.sql");
  CheckSql queries = CheckQueries(PayloadColumns(csv), platform::CurrentYear());
  WriteText(sql, queries.findings);
  WriteText(dir + "/counts.sql", queries.counts);
  for (int r = 0; r < rounds; ++r) {
    KeepBest(run.query, MustRun({"sqlite3", db}, dir + "/sqlite.out",
                                dir + "/sqlite.err", false, sql));
  }
  run.output = ReadText(dir + "/sqlite.out");
  if (with_counts) {
    MustRun({"sqlite3", "-separator", "\n", db}, dir + "/counts.out",
            dir + "/sqlite.err", false, dir + "/counts.sql");
    run.counts = ReadText(dir + "/counts.out");
  }
  return run;
}

// Our finding lines (without CR) and the SQLite ones.
std::vector<std::string> RecLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Rec: ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

void Sample(const std::string& kxt, int64_t records, double damage,
            const std::string& dir) {
  char d[32];
  std::snprintf(d, sizeof d, "%g", damage);
  MustRun({KXTABLE_PATH, "sample", kxt, "--records", std::to_string(records),
           "--seed", "1", "--damage", d},
          "/dev/null", dir + "/sample.err");
}

Usage Check(const std::string& kxt, const std::string& dir,
            const std::string& out = "/dev/null") {
  return MustRun({KXTABLE_PATH, "check", "--crlf", "--no-progress", kxt}, out,
                 dir + "/check.err", true);
}

void Line(const char* what, const Usage& u) {
  std::printf("  %-44s cpu %8.1f ms   wall %8.1f ms\n", what, u.cpu * 1e3,
              u.wall * 1e3);
}

bool Target(const char* what, double value, const char* relation, double limit,
            bool ok) {
  std::printf("  %-44s %8.2f  (target %s %g)  %s\n", what, value, relation,
              limit, ok ? "met" : "MISSED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const kxbench::Flags flags(
      argc, argv,
      {"--read-child", "--engine-child", "--dir", "--records", "--big-records",
       "--small-records", "--rounds", "--damage"},
      {"--no-sqlite", "--no-memory"});
  if (flags.Has("--read-child")) return ReadChild(flags.Text("--read-child"));
  if (flags.Has("--engine-child")) {
    return EngineChild(flags.Text("--engine-child"));
  }
  std::string dir = flags.Text("--dir");
  const int64_t records = flags.Number("--records", 1000000);
  const int64_t big = flags.Number("--big-records", 10000000);
  const int64_t small = flags.Number("--small-records", 100000);
  const int rounds = std::max<int>(1, flags.Number("--rounds", 5));
  const double damage = std::atof(flags.Text("--damage", "0.01").c_str());
  const bool sqlite = !flags.Has("--no-sqlite");
  const bool memory = !flags.Has("--no-memory");
  const std::string self = argv[0];
  const bool own_dir = kxbench::MakeWorkDir(dir, "check_bench");
  fs::create_directories(dir);
  bool all_met = true;

  std::string kxt = dir + "/bench.kxt";
  std::printf(
      "check_bench: %lld records, damage %g, best of %d rounds, in %s\n",
      static_cast<long long>(records), damage, rounds, dir.c_str());
  Sample(kxt, records, damage, dir);
  Usage check, read, engine;
  MustRun({self, "--read-child", kxt}, "/dev/null",
          dir + "/read.err");  // into the page cache
  for (int r = 0; r < rounds; ++r) {
    KeepBest(check, Check(kxt, dir));
    KeepBest(read, MustRun({self, "--read-child", kxt}, "/dev/null",
                           dir + "/read.err"));
    KeepBest(engine, MustRun({self, "--engine-child", kxt}, "/dev/null",
                             dir + "/engine.err"));
  }
  Line("kxtable check (console host, stdout /dev/null)", check);
  Line("read() loop, 64 KiB, four files", read);
  Line("engine alone (GoTo, Buffer, Deleted, date+time)", engine);
  std::printf("ratios (processor time):\n");
  all_met &= Target("check / read loop", check.cpu / read.cpu, "<=", 3.5,
                    check.cpu <= 3.5 * read.cpu);
  std::printf("  %-44s %8.2f\n", "engine alone / read loop",
              engine.cpu / read.cpu);
  std::printf("  %-44s %8.2f\n", "check / engine alone",
              check.cpu / engine.cpu);

  if (sqlite) {
    // The same findings first, on a table small enough for our whole report
    // to stay under the log's cap.
    std::string small_kxt = dir + "/parity.kxt";
    Sample(small_kxt, 2000, damage * 2, dir);
    Check(small_kxt, dir, dir + "/parity.out");
    SqliteRun parity = RunSqlite(dir, small_kxt, 1, true);
    std::string our_report = ReadText(dir + "/parity.out");
    std::vector<std::string> ours = RecLines(our_report);
    std::vector<std::string> theirs = RecLines(parity.output);
    bool same = ours == theirs && !ours.empty();
    // Every count line of SQLite's that is not 0 is in our summary, and
    // every one of ours is in SQLite's.
    int found_lines = 0;
    std::stringstream counts(parity.counts);
    for (std::string line; std::getline(counts, line);) {
      if (line.rfind("Found 0 ", 0) == 0) continue;
      ++found_lines;
      if (our_report.find(line + "\r\n") == std::string::npos) same = false;
    }
    for (size_t at = 0;
         (at = our_report.find("Found ", at)) != std::string::npos; ++at) {
      --found_lines;
    }
    if (found_lines != 0) same = false;
    std::printf("sqlite3 (%s):\n", "LAG over the stamp, substr field tests");
    std::printf(
        "  same finding lines and counts as kxtable check on 2000 records: "
        "%s (%zu lines)\n",
        same ? "yes" : "NO", ours.size());
    all_met &= same;

    SqliteRun run = RunSqlite(dir, kxt, std::min(rounds, 2), false);
    Line("kxtable export (not counted)", run.export_run);
    Line("sqlite3 load: .import of the export (not counted)", run.load);
    Line("sqlite3 check query", run.query);
    if (RecLines(run.output).empty()) {
      std::printf("  the query found nothing on %lld records\n",
                  static_cast<long long>(records));
      all_met = false;
    }
    all_met &= Target("sqlite3 query / check (processor time)",
                      run.query.cpu / check.cpu, ">=", 100,
                      run.query.cpu >= 100 * check.cpu);
    std::printf("  %-44s %8.2f\n", "sqlite3 query / check (wall)",
                run.query.wall / check.wall);
    std::printf("  %-44s %8.2f\n", "sqlite3 load + query / check (wall)",
                (run.load.wall + run.query.wall) / check.wall);
    fs::remove(dir + "/check.db");
    fs::remove(dir + "/export.csv");
    RemoveTable(small_kxt);
  }
  RemoveTable(kxt);

  if (memory) {
    std::string small_table = dir + "/small.kxt";
    std::string big_table = dir + "/big.kxt";
    Sample(small_table, small, damage, dir);
    Usage small_usage = Check(small_table, dir);
    RemoveTable(small_table);
    Sample(big_table, big, damage, dir);
    Usage big_usage = Check(big_table, dir);
    RemoveTable(big_table);
    std::printf("peak resident memory of kxtable check:\n");
    std::printf("  %-44s %8.1f MB\n",
                (std::to_string(small) + " records").c_str(),
                small_usage.max_rss_kb / 1024.0);
    std::printf("  %-44s %8.1f MB  (%.1f s)\n",
                (std::to_string(big) + " records").c_str(),
                big_usage.max_rss_kb / 1024.0, big_usage.wall);
    double growth = (big_usage.max_rss_kb - small_usage.max_rss_kb) / 1024.0;
    all_met &= Target("growth (MB)", growth, "<=", 10, growth <= 10);
  }
  if (own_dir) fs::remove_all(dir);
  std::printf("%s\n", all_met ? "all targets met" : "some targets MISSED");
  return all_met ? 0 : 1;
}
