// kxtable dump T.kxt: one line per record, "-" (live) or "D" (deletion mark
// set), one space, the record buffer in lower-case hex.
// kxtable load T.kxt [--record-length N] [--force]: the same lines from
// standard input make a new table whose payload is one field. dump of a
// loaded table gives back the input exactly.
//
// load writes the new table under staged names beside the target and puts
// it in place only when every line was accepted (csv_new_table.h), so a
// refused input never destroys the table that --force would replace.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/record_table.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/staged_file.h"

namespace kxtable {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int Dump(const std::string& path) {
  RequireExisting(path);
  kalvex::RecordTable table;
  table.Open(path);
  const int64_t count = table.RecordCount();
  const size_t length = table.Layout().RecordLength();
  std::string out;
  out.reserve(1 << 20);
  auto write_out = [&out] {
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) {
      throw OutputFailed();
    }
    out.clear();
  };
  for (int64_t n = 1; n <= count; ++n) {
    try {
      table.GoToRecord(static_cast<int32_t>(n));
    } catch (...) {
      // What was read goes out before the error.
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
      throw;
    }
    const std::string_view b = table.RecordBuffer();
    out.push_back(table.Deleted() ? 'D' : '-');
    out.push_back(' ');
    size_t at = out.size();
    out.resize(at + 2 * length + 1);
    for (size_t i = 0; i < length; ++i) {
      unsigned char c = static_cast<unsigned char>(b[i]);
      out[at + 2 * i] = kHexDigits[c >> 4];
      out[at + 2 * i + 1] = kHexDigits[c & 15];
    }
    out.back() = '\n';
    if (out.size() >= (1 << 20)) write_out();
  }
  write_out();
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw OutputFailed();
  table.Close();
  return ReportTableProblems(table.Problems());
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

[[noreturn]] void Refuse(int64_t line, const std::string& reason) {
  throw std::runtime_error("standard input line " + std::to_string(line) +
                           ": " + reason);
}

// Parses one line (without its LF) into the record buffer; returns whether
// the deletion mark is set.
bool ParseLine(const char* text, size_t size, int64_t line,
               std::string& record) {
  if (size == 0) Refuse(line, "empty line");
  if (text[size - 1] == '\r')
    Refuse(line, "carriage return at the end (lines end in LF only)");
  if (text[0] != '-' && text[0] != 'D')
    Refuse(line, std::string("bad flag '") + text[0] +
                     "' (expected '-' for a live record or 'D' for a deleted "
                     "one)");
  if (size < 2 || text[1] != ' ')
    Refuse(line, "the flag must be followed by one space");
  const char* hex = text + 2;
  const size_t digits = size - 2;
  if (digits % 2 != 0) Refuse(line, "odd number of hex digits");
  record.resize(digits / 2);
  for (size_t i = 0; i < digits; i += 2) {
    int hi = HexValue(hex[i]);
    int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0)
      Refuse(line, "bad hex digit at column " +
                       std::to_string(3 + i + (hi < 0 ? 0 : 1)) +
                       " (digits are 0-9 and a-f)");
    record[i / 2] = static_cast<char>((hi << 4) | lo);
  }
  return text[0] == 'D';
}

kalvex::TableLayout LayoutFor(uint32_t record_length) {
  kalvex::TableLayout layout;
  if (record_length > kalvex::kPayloadOffset)
    layout.payload.push_back(
        {"payload",
         record_length - static_cast<uint32_t>(kalvex::kPayloadOffset)});
  return layout;
}

int Load(const std::string& path, int64_t default_length, bool length_given,
         bool force) {
  if (!HasKxtExtension(path))
    throw CannotWork(path, "a table path must end in .kxt");
  if (default_length < kalvex::kPayloadOffset || default_length > 65536)
    throw CannotWork("", "--record-length: record length " +
                             std::to_string(default_length) +
                             " is outside 17 to 65536");
  // Standard input may be one of the table's own files.
  const std::vector<std::string> inputs = {"/dev/stdin"};
  RefuseExistingTable(path, force);
  RefuseInputs(TableFiles(path), inputs);

  std::unique_ptr<NewTable> table;
  std::string record;
  char* line = nullptr;
  size_t capacity = 0;
  int64_t number = 0;
  size_t first_length = 0;
  struct FreeLine {
    char*& p;
    ~FreeLine() { std::free(p); }
  } free_line{line};
  for (;;) {
    ssize_t got = ::getline(&line, &capacity, stdin);
    if (got < 0) break;
    ++number;
    size_t size = static_cast<size_t>(got);
    if (size > 0 && line[size - 1] == '\n') --size;
    bool deleted = ParseLine(line, size, number, record);
    if (!table) {
      first_length = record.size();
      if (length_given && static_cast<int64_t>(first_length) != default_length)
        Refuse(number, "record of " + std::to_string(first_length) +
                           " bytes, but --record-length is " +
                           std::to_string(default_length));
      if (first_length < kalvex::kPayloadOffset || first_length > 65536)
        Refuse(number, "record of " + std::to_string(first_length) +
                           " bytes (records are 17 to 65536 bytes long)");
      table = std::make_unique<NewTable>(
          path, LayoutFor(static_cast<uint32_t>(first_length)), force, inputs);
    } else if (record.size() != first_length) {
      Refuse(number, "record of " + std::to_string(record.size()) +
                         " bytes, but line 1 has " +
                         std::to_string(first_length));
    }
    table->table().SetRecordBuffer(record);
    table->Append(deleted);
  }
  CheckCall(std::ferror(stdin), "", "cannot read standard input: ");
  if (!table) {
    table = std::make_unique<NewTable>(
        path, LayoutFor(static_cast<uint32_t>(default_length)), force, inputs);
  }
  table->Commit();
  return 0;
}

}  // namespace

void AddDumpLoadCommands(CLI::App& app, Runner& run) {
  auto dump_path = std::make_shared<std::string>();
  CLI::App* dump = app.add_subcommand(
      "dump",
      "Write every record as one line: '-' (live) or 'D' (deleted), a space, "
      "the record bytes in lower-case hex.");
  dump->add_option("table", *dump_path, "the table's .kxt file")->required();
  dump->footer(
      StatusNote("every record was written and the table's files have no "
                 "problem",
                 "they have one (each is an error line)") +
      "\n\nExample:\n  kxtable dump line4.kxt | head -3");
  dump->callback(
      [&run, dump_path] { run = [dump_path] { return Dump(*dump_path); }; });

  struct LoadArgs {
    std::string path;
    int64_t record_length = 40;
    bool force = false;
  };
  auto args = std::make_shared<LoadArgs>();
  CLI::App* load = app.add_subcommand(
      "load",
      "Make a table from dump lines on standard input; the payload is one "
      "field. The record length comes from the lines, or from "
      "--record-length when there are none.");
  load->add_option("table", args->path, "the table to create (.kxt)")
      ->required();
  CLI::Option* length =
      load->add_option("--record-length", args->record_length,
                       "record length in bytes when the input has no lines "
                       "(17 to 65536)")
          ->capture_default_str();
  load->add_flag("--force", args->force, "replace an existing table");
  load->footer(
      StatusNote("the table was made",
                 "a line is refused (it names the line) or the table exists") +
      "\n\nExample:\n"
      "  kxtable dump line4.kxt | sed 2d | kxtable load short.kxt");
  load->callback([&run, args, length] {
    bool given = length->count() > 0;
    run = [args, given] {
      return Load(args->path, args->record_length, given, args->force);
    };
  });
}

}  // namespace kxtable
