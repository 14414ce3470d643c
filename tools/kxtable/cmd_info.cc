// kxtable info T.kxt: the layout, the record and deletion counts, the first
// and last stamp, the sizes of the four files and every problem the engine
// found on the way; as text, or as one JSON line (docs/JSON.md).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/record_table.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/json_report.h"
#include "tools/kxtable/json_writer.h"
#include "tools/kxtable/standard_streams.h"

namespace kxtable {

namespace {

// The size of a regular file; nothing for a missing file (`missing` set) or
// for anything else.
std::optional<long long> FileSize(const std::string& path, bool* missing) {
  struct stat st;
  *missing = ::stat(path.c_str(), &st) != 0;
  if (*missing || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<long long>(st.st_size);
}

std::string SizeText(const std::string& path) {
  bool missing = false;
  const std::optional<long long> size = FileSize(path, &missing);
  if (missing) return "missing";
  if (!size) return "not a regular file";
  return std::to_string(*size) + " bytes";
}

const char* const kFileRoles[] = {"definition", "data", "attributes", "index"};

// The stamp of record n (date, a space, time), or nothing when the record
// cannot be read.
std::optional<std::string> StampOf(kalvex::RecordTable& table, int32_t n) {
  if (n < 1 || n > table.RecordCount()) return std::nullopt;
  try {
    table.GoToRecord(n);
    return table.FieldGet(1) + " " + table.FieldGet(2);
  } catch (const kalvex::TableError&) {
    return std::nullopt;
  }
}

struct InfoArgs {
  std::string path;
  bool quiet = false;
  bool json = false;
};

void PrintFiles(const std::vector<std::string>& files) {
  for (size_t i = 0; i < files.size() && i < 4; ++i) {
    std::printf("File %-11s %s: %s\n", kFileRoles[i], files[i].c_str(),
                SizeText(files[i]).c_str());
  }
}

void PrintStamp(const char* what, const std::optional<std::string>& stamp) {
  std::printf("%-16s %s\n", what, stamp ? EscapeLine(*stamp).c_str() : "none");
}

void PrintProblems(const std::vector<std::string>& problems) {
  if (problems.empty()) {
    std::printf("Problems         none\n");
    return;
  }
  std::printf("Problems         %zu\n", problems.size());
  for (const std::string& p : problems) std::printf("  - %s\n", p.c_str());
}

// The JSON line of `info --json`. A table that is missing or cannot be
// opened still gets its line (with what is known), and then the error.
class InfoJson {
 public:
  explicit InfoJson(const std::string& path) : json_(WriteToStandardOutput) {
    json_.BeginObject();
    Put("schema", kJsonSchema);
    Put("command", "info");
    Put("table", path);
  }

  // What an opened table says of itself.
  void Table(kalvex::RecordTable& table) {
    const kalvex::TableLayout& layout = table.Layout();
    Put("record_length", layout.RecordLength());
    json_.Key("fields");
    json_.BeginArray();
    Field(1, "date", kalvex::kDateOffset, kalvex::kDateBytes);
    Field(2, "time", kalvex::kTimeOffset, kalvex::kTimeBytes);
    int64_t offset = kalvex::kPayloadOffset;
    for (size_t i = 0; i < layout.payload.size(); ++i) {
      const kalvex::FieldDef& f = layout.payload[i];
      Field(static_cast<int64_t>(i) + 3, f.name, offset, f.width);
      offset += f.width;
    }
    json_.EndArray();
    Put("record_count", table.RecordCount());
    Put("deleted_count", table.DeletedCount());
    Put("first_stamp", StampOf(table, 1));
    Put("last_stamp", StampOf(table, table.RecordCount()));
    opened_ = true;
  }

  // The rest, and the end of the line.
  int End(const std::vector<std::string>& files,
          const std::vector<std::string>& problems, const char* status,
          int exit_status) {
    if (!opened_) {
      for (const char* key : {"record_length", "fields", "record_count",
                              "deleted_count", "first_stamp", "last_stamp"}) {
        Put(key, std::optional<int64_t>());
      }
    }
    json_.Key("files");
    json_.BeginArray();
    for (size_t i = 0; i < files.size() && i < 4; ++i) {
      bool missing = false;
      const std::optional<long long> size = FileSize(files[i], &missing);
      json_.BeginObject();
      Put("role", kFileRoles[i]);
      Put("path", files[i]);
      Put("kind", missing ? "missing" : size ? "file" : "other");
      Put("size", size);
      json_.EndObject();
    }
    json_.EndArray();
    json_.Key("problems");
    json_.BeginArray();
    for (const std::string& problem : problems) json_.String(problem);
    json_.EndArray();
    Put("status", status);
    Put("exit_status", exit_status);
    json_.EndObject();
    return exit_status;
  }

 private:
  static void WriteToStandardOutput(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
      throw OutputFailed();
    }
  }

  void Put(std::string_view key, int64_t value) {
    json_.Key(key);
    json_.Number(value);
  }
  void Put(std::string_view key, std::string_view value) {
    json_.Key(key);
    json_.String(value);
  }

  void Field(int64_t number, const std::string& name, int64_t offset,
             int64_t width) {
    json_.BeginObject();
    Put("number", number);
    Put("name", name);
    Put("offset", offset);
    Put("width", width);
    json_.EndObject();
  }

  // The value, or null when there is none.
  template <class Value>
  void Put(std::string_view key, const std::optional<Value>& value) {
    if (value) return Put(key, *value);
    json_.Key(key);
    json_.Null();
  }

  JsonWriter json_;
  bool opened_ = false;
};

int InfoAsJson(const std::string& path) {
  InfoJson json(path);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const std::string reason = std::strerror(errno);
    json.End({}, {}, "missing", kExitCannotWork);
    throw CannotWork(path, reason);
  }
  if (S_ISDIR(st.st_mode)) {
    const std::string reason = std::strerror(EISDIR);
    json.End({}, {reason}, "failed", kExitCannotWork);
    throw CannotWork(path, reason);
  }
  kalvex::RecordTable table;
  try {
    table.Open(path);
  } catch (const std::exception& e) {
    json.End(table.Files(), {e.what()}, "failed", kExitCannotWork);
    throw;
  }
  json.Table(table);
  table.Close();
  const std::vector<std::string>& problems = table.Problems();
  return json.End(table.Files(), problems,
                  problems.empty() ? "clean" : "problems",
                  problems.empty() ? kExitSuccess : kExitFound);
}

int Info(const InfoArgs& args) {
  const std::string& path = args.path;
  if (args.json && !args.quiet) return InfoAsJson(path);
  RequireExisting(path);
  kalvex::RecordTable table;
  if (args.quiet) {
    table.Open(path);
    table.Close();
    for (const std::string& problem : table.Problems()) {
      PrintError(path, problem);
    }
    return table.Problems().empty() ? kExitSuccess : kExitFound;
  }
  std::printf("Table            %s\n", path.c_str());
  try {
    table.Open(path);
  } catch (const kalvex::TableError& e) {
    std::vector<std::string> files = table.Files();
    PrintFiles(files);
    PrintProblems({e.what()});
    std::fflush(stdout);
    throw;
  }
  const kalvex::TableLayout& layout = table.Layout();
  std::printf("Record length    %u bytes\n", layout.RecordLength());
  std::printf("Field 1  %-16s offset %5d  width %5d\n", "date",
              kalvex::kDateOffset, kalvex::kDateBytes);
  std::printf("Field 2  %-16s offset %5d  width %5d\n", "time",
              kalvex::kTimeOffset, kalvex::kTimeBytes);
  uint32_t offset = kalvex::kPayloadOffset;
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const kalvex::FieldDef& f = layout.payload[i];
    std::printf("Field %-2zu %-16s offset %5u  width %5u\n", i + 3,
                f.name.c_str(), offset, f.width);
    offset += f.width;
  }

  std::printf("Records          %d\n", table.RecordCount());
  std::printf("Deleted          %lld\n",
              static_cast<long long>(table.DeletedCount()));
  PrintStamp("First stamp", StampOf(table, 1));
  PrintStamp("Last stamp", StampOf(table, table.RecordCount()));
  PrintFiles(table.Files());
  PrintProblems(table.Problems());
  table.Close();
  // Problems with the files (the incomplete mark among them) are damage.
  return table.Problems().empty() ? kExitSuccess : kExitFound;
}

}  // namespace

int ReportTableProblems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) PrintError("", problem);
  return problems.empty() ? kExitSuccess : kExitFound;
}

void AddInfoCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<InfoArgs>();
  CLI::App* info = app.add_subcommand(
      "info",
      "Show a table's layout, record count, deleted count, file sizes and "
      "every problem found in its files.");
  info->add_option("table", args->path, "the table's .kxt file")->required();
  info->add_flag("-q,--quiet", args->quiet,
                 "write nothing but the problems, as error lines; the exit "
                 "status tells the rest");
  info->add_flag("--json", args->json,
                 "write the same as one JSON object on one line (schema 1); "
                 "texts from the table and file names have bytes that are "
                 "not valid UTF-8, and control characters, written as \\xHH");
  info->footer(StatusNote("the table's files have no problem",
                          "they have one (an incomplete table among them)") +
               "\n\nExamples:\n  kxtable info line4.kxt\n"
               "  kxtable info -q line4_REPAIRED.kxt || echo 'not whole'\n"
               "  kxtable info --json line4.kxt | jq .record_count");
  info->callback([&run, args] { run = [args] { return Info(*args); }; });
}

}  // namespace kxtable
