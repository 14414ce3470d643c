#include "tools/kxtable/csv_convert.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include "engine/record_table.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/staged_file.h"

namespace kxtable {

namespace {

constexpr std::string_view kDeletedColumn = "deleted";
constexpr size_t kDateLength = 10;
constexpr size_t kTimeLength = 8;

struct CsvLayout {
  size_t columns = 0;
  bool has_deleted = false;
  std::vector<ColumnHeading> payload;  // widths grow with the data
};

// One data row, unescaped. Reused from row to row.
struct RowBytes {
  std::string date;
  std::string time;
  std::vector<std::string> payload;
  bool deleted = false;
};

bool DateStartOk(char c) { return c >= '0' && c <= '?'; }

bool DigitsAt(std::string_view text, std::initializer_list<size_t> places) {
  for (size_t i : places) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// A date and a time in the first two cells: a record, not column names.
bool LooksLikeData(std::span<const std::string> cells) {
  return cells.size() >= 2 && cells[0].size() == kDateLength &&
         cells[1].size() == kTimeLength &&
         DigitsAt(cells[0], {0, 1, 2, 3, 5, 6, 8, 9}) &&
         DigitsAt(cells[1], {0, 1, 3, 4, 6, 7});
}

// The layout of a file without a header row, from its first row, which is
// left for ReadRow to give again.
CsvLayout LayoutOfFirstRow(CsvReader& reader) {
  std::span<const std::string> cells;
  int64_t line = 0;
  CsvLayout layout;
  layout.columns = 2;
  if (!reader.ReadRow(cells, line)) return layout;
  reader.Unread();
  layout.columns = cells.size();
  for (size_t i = 2; i < cells.size(); ++i) {
    layout.payload.push_back({"field" + std::to_string(i + 1), 0});
  }
  return layout;
}

CsvLayout ReadHeader(CsvReader& reader, bool header) {
  if (!header) return LayoutOfFirstRow(reader);
  std::span<const std::string> cells;
  int64_t line = 0;
  if (!reader.ReadRow(cells, line)) {
    throw std::runtime_error(reader.Where(1) + "no header row");
  }
  CsvLayout layout;
  layout.columns = cells.size();
  if (cells.size() < 2) {
    const bool other = cells[0].find_first_of(";\t") != std::string::npos;
    throw std::runtime_error(
        reader.Where(line) +
        "the header needs the date and time columns first, found 1 column" +
        (other ? " (if the file is separated by ';' or tabs, say so with "
                 "--delimiter)"
               : ""));
  }
  if (LooksLikeData(cells)) {
    throw std::runtime_error(reader.Where(line) +
                             "the first row holds a date and a time, not "
                             "column names (--no-header reads every row as "
                             "data)");
  }
  layout.has_deleted = cells.size() > 2 && cells.back() == kDeletedColumn;
  const size_t payload_end = cells.size() - (layout.has_deleted ? 1 : 0);
  std::string name;
  for (size_t i = 2; i < payload_end; ++i) {
    UnescapeCell(cells[i], name);
    ColumnHeading heading = ParseColumnHeading(name);
    if (heading.name.empty()) {
      throw std::runtime_error(reader.Where(line) + "column " +
                               std::to_string(i + 1) + " has no name");
    }
    layout.payload.push_back(std::move(heading));
  }
  return layout;
}

void DecodeRow(const CsvReader& reader, int64_t line,
               std::span<const std::string> cells, const CsvLayout& layout,
               RowBytes& row) {
  if (cells.size() != layout.columns) {
    throw std::runtime_error(reader.Where(line) + std::to_string(cells.size()) +
                             (cells.size() == 1 ? " column" : " columns") +
                             ", the first row has " +
                             std::to_string(layout.columns));
  }
  UnescapeCell(cells[0], row.date);
  if (!row.date.empty() &&
      (row.date.size() != kDateLength || !DateStartOk(row.date[0]) ||
       !DateStartOk(row.date[1]))) {
    throw std::runtime_error(
        reader.Where(line) + "date \"" + DisplayCell(cells[0]) + "\" is not " +
        (row.date.size() != kDateLength ? "10 characters (YYYY-MM-DD)"
                                        : "led by two digits (YYYY-MM-DD)"));
  }
  UnescapeCell(cells[1], row.time);
  if (!row.time.empty() && row.time.size() != kTimeLength) {
    throw std::runtime_error(reader.Where(line) + "time \"" +
                             DisplayCell(cells[1]) +
                             "\" is not 8 characters (HH:MM:SS)");
  }
  row.payload.resize(layout.payload.size());
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    UnescapeCell(cells[2 + i], row.payload[i]);
  }
  row.deleted = false;
  if (layout.has_deleted) {
    const std::string& mark = cells.back();
    if (mark == "1") {
      row.deleted = true;
    } else if (!mark.empty() && mark != "0") {
      throw std::runtime_error(reader.Where(line) +
                               "deleted must be 0 or 1, not \"" +
                               DisplayCell(mark) + "\"");
    }
  }
}

void Flush(std::string& buffer, std::FILE* out) {
  if (!buffer.empty() &&
      std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
    throw std::runtime_error(std::string("cannot write the CSV: ") +
                             std::strerror(errno));
  }
  buffer.clear();
}

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// Standard input copied into a temporary file of its own, which goes with
// it, so that it can be read twice.
FilePtr SpoolStandardInput() {
  FilePtr spool(std::tmpfile(), &std::fclose);
  if (!spool) {
    throw std::runtime_error(
        std::string("cannot make a temporary file for standard input: ") +
        std::strerror(errno));
  }
  char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
    if (std::fwrite(chunk, 1, n, spool.get()) != n) {
      throw std::runtime_error(
          std::string("cannot keep standard input in a temporary file: ") +
          std::strerror(errno));
    }
  }
  if (std::ferror(stdin)) {
    throw std::runtime_error(std::string("cannot read standard input: ") +
                             std::strerror(errno));
  }
  return spool;
}

}  // namespace

ImportResult ImportCsv(const std::string& csv_path, const std::string& kxt_path,
                       bool force, const CsvFormat& format) {
  TableFiles(kxt_path);  // refuses a path that is no table before any work

  FilePtr spool(nullptr, &std::fclose);
  if (csv_path == "-") spool = SpoolStandardInput();
  auto open = [&]() {
    if (!spool) return std::make_unique<CsvReader>(csv_path, format.delimiter);
    std::rewind(spool.get());
    return std::make_unique<CsvReader>(spool.get(), "standard input",
                                       format.delimiter);
  };

  // First pass: check every row and size the payload fields.
  CsvLayout csv;
  ImportResult result;
  RowBytes row;
  {
    std::unique_ptr<CsvReader> reading = open();
    CsvReader& reader = *reading;
    csv = ReadHeader(reader, format.header);
    std::span<const std::string> cells;
    int64_t line = 0;
    while (reader.ReadRow(cells, line)) {
      DecodeRow(reader, line, cells, csv, row);
      for (size_t i = 0; i < csv.payload.size(); ++i) {
        if (row.payload[i].size() > csv.payload[i].width) {
          csv.payload[i].width = static_cast<uint32_t>(row.payload[i].size());
        }
      }
      if (++result.records > std::numeric_limits<int32_t>::max()) {
        throw std::runtime_error(reader.Where(line) +
                                 "more rows than a table can hold");
      }
      if (row.deleted) ++result.deleted;
    }
  }
  kalvex::TableLayout layout;
  for (const ColumnHeading& heading : csv.payload) {
    layout.payload.push_back(
        {heading.name, heading.width == 0 ? 1 : heading.width});
  }

  // Second pass: write the records.
  std::unique_ptr<CsvReader> reading = open();
  CsvReader& reader = *reading;
  ReadHeader(reader, format.header);
  NewTable output(kxt_path, layout, force);
  kalvex::RecordTable& table = output.table();
  const std::string blank(layout.RecordLength(), '\0');
  std::span<const std::string> cells;
  int64_t line = 0;
  while (reader.ReadRow(cells, line)) {
    DecodeRow(reader, line, cells, csv, row);
    try {
      table.SetRecordBuffer(blank);
      if (!row.date.empty()) table.FieldPut(1, row.date);
      if (!row.time.empty()) table.FieldPut(2, row.time);
      for (size_t i = 0; i < row.payload.size(); ++i) {
        if (!row.payload[i].empty()) {
          table.FieldPut(static_cast<int>(3 + i), row.payload[i]);
        }
      }
      if (row.deleted) {
        table.AppendDeletedRecord();
      } else {
        table.AppendRecord(0);
      }
    } catch (const kalvex::TableError& e) {
      throw std::runtime_error(reader.Where(line) + e.what());
    }
  }
  output.Commit();
  return result;
}

std::vector<std::string> ExportCsv(const std::string& kxt_path,
                                   std::FILE* out) {
  kalvex::RecordTable table;
  table.Open(kxt_path);
  const kalvex::TableLayout& layout = table.Layout();

  std::string buffer = "date,time";
  for (const kalvex::FieldDef& field : layout.payload) {
    buffer += ',';
    AppendCsvCell(buffer,
                  EscapeCell(FormatColumnHeading({field.name, field.width})));
  }
  buffer += ",deleted\n";

  const int64_t count = table.RecordCount();
  for (int64_t n = 1; n <= count; ++n) {
    table.GoToRecord(static_cast<int32_t>(n));
    AppendCsvCell(buffer, EscapeCell(table.FieldGet(1)));
    buffer += ',';
    AppendCsvCell(buffer, EscapeCell(table.FieldGet(2)));
    // Payload fields without their zero padding, which import puts back.
    const std::string_view record = table.RecordBuffer();
    size_t offset = kalvex::kPayloadOffset;
    for (const kalvex::FieldDef& field : layout.payload) {
      std::string_view bytes =
          offset < record.size() ? record.substr(offset, field.width) : "";
      while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
      buffer += ',';
      AppendCsvCell(buffer, EscapeCell(bytes));
      offset += field.width;
    }
    buffer += table.Deleted() ? ",1\n" : ",0\n";
    if (buffer.size() >= (1u << 20)) Flush(buffer, out);
  }
  Flush(buffer, out);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    throw std::runtime_error(std::string("cannot write the CSV: ") +
                             std::strerror(errno));
  }
  table.Close();
  return table.Problems();
}

}  // namespace kxtable

namespace kxtable {

std::vector<std::string> ExportCsvFile(const std::string& kxt_path,
                                       const std::string& csv_path,
                                       bool force) {
  StagedFile file(csv_path, force);
  std::vector<std::string> problems = ExportCsv(kxt_path, file.stream());
  file.Place();
  return problems;
}

}  // namespace kxtable
