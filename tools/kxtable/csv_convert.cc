#include "tools/kxtable/csv_convert.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <limits>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include "engine/record_table.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/staged_file.h"

namespace kxtable {

namespace {

constexpr std::string_view kDeletedColumn = "deleted";

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

// The date or time of a cell as the record holds it: read with the format
// when there is one, otherwise as YYYY-MM-DD or HH:MM:SS (csv_codec.h).
// False when the cell does not read so.
bool ReadStampCell(const std::string& cell, StampColumn column,
                   const CsvFormat& format, std::string& bytes) {
  if (column == StampColumn::kDate && !format.date_format.empty()) {
    return ReadDateWithFormat(cell, format.date_format, bytes);
  }
  if (column == StampColumn::kTime && !format.time_format.empty()) {
    return ReadTimeWithFormat(cell, format.time_format, bytes);
  }
  return UnescapeStampCell(cell, column, bytes);
}

// A date and a time in the first two cells: a record, not column names.
bool LooksLikeData(std::span<const std::string> cells,
                   const CsvFormat& format) {
  std::string bytes;
  return cells.size() >= 2 &&
         ReadStampCell(cells[0], StampColumn::kDate, format, bytes) &&
         ReadStampCell(cells[1], StampColumn::kTime, format, bytes);
}

// Why a stamp cell is refused, for the message.
std::string StampRefusal(const std::string& cell, StampColumn column,
                         const CsvFormat& format) {
  const bool date = column == StampColumn::kDate;
  const std::string& given = date ? format.date_format : format.time_format;
  std::string text =
      std::string(date ? "date" : "time") + " \"" + DisplayCell(cell) + "\" ";
  if (!given.empty()) {
    return text + "does not match " +
           (date ? "--date-format" : "--time-format") + " '" +
           DisplayCell(given) + "'";
  }
  return text + (date ? "is not YYYY-MM-DD (--date-format says how to read "
                        "another layout, e.g. --date-format %d/%m/%Y)"
                      : "is not HH:MM:SS (--time-format says how to read "
                        "another layout, e.g. --time-format %H:%M)");
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

CsvLayout ReadHeader(CsvReader& reader, const CsvFormat& format) {
  if (!format.header) return LayoutOfFirstRow(reader);
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
  if (LooksLikeData(cells, format)) {
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
               const CsvFormat& format, RowBytes& row) {
  if (cells.size() != layout.columns) {
    throw std::runtime_error(reader.Where(line) + std::to_string(cells.size()) +
                             (cells.size() == 1 ? " column" : " columns") +
                             ", the first row has " +
                             std::to_string(layout.columns));
  }
  row.date.clear();
  if (!cells[0].empty()) {
    if (!ReadStampCell(cells[0], StampColumn::kDate, format, row.date)) {
      throw std::runtime_error(
          reader.Where(line, 1) +
          StampRefusal(cells[0], StampColumn::kDate, format));
    }
    if (!DateStartOk(row.date[0]) || !DateStartOk(row.date[1])) {
      throw std::runtime_error(reader.Where(line, 1) + "date \"" +
                               DisplayCell(cells[0]) +
                               "\" is not led by two digits (YYYY-MM-DD)");
    }
  }
  row.time.clear();
  if (!cells[1].empty() &&
      !ReadStampCell(cells[1], StampColumn::kTime, format, row.time)) {
    throw std::runtime_error(
        reader.Where(line, 2) +
        StampRefusal(cells[1], StampColumn::kTime, format));
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

[[noreturn]] void FailWriting(std::FILE* out) {
  if (out == stdout) throw OutputFailed();
  throw CannotWork(
      "", std::string("cannot write the CSV: ") + std::strerror(errno));
}

void Flush(std::string& buffer, std::FILE* out) {
  if (!buffer.empty() &&
      std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
    FailWriting(out);
  }
  buffer.clear();
}

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// Standard input copied into a temporary file of its own, which goes with
// it, so that it can be read twice.
FilePtr SpoolStandardInput() {
  FilePtr spool(std::tmpfile(), &std::fclose);
  CheckCall(!spool, "", "cannot make a temporary file for standard input: ");
  char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
    CheckCall(std::fwrite(chunk, 1, n, spool.get()) != n, "",
              "cannot keep standard input in a temporary file: ");
  }
  CheckCall(std::ferror(stdin), "", "cannot read standard input: ");
  return spool;
}

// Whether the file starts with a UTF-16 byte order mark. The file is left
// at its start.
bool StartsAsUtf16(std::FILE* file) {
  unsigned char mark[2] = {0, 0};
  const size_t n = std::fread(mark, 1, 2, file);
  std::rewind(file);
  return n == 2 && ((mark[0] == 0xff && mark[1] == 0xfe) ||
                    (mark[0] == 0xfe && mark[1] == 0xff));
}

// The UTF-16 text of `in` (byte order mark first) as UTF-8 in a temporary
// file of its own.
FilePtr Utf16ToUtf8(std::FILE* in, const std::string& name) {
  FilePtr out(std::tmpfile(), &std::fclose);
  CheckCall(!out, name, "cannot make a temporary file to read it as UTF-16: ");
  // "UTF-16" takes the byte order from the mark and drops it.
  iconv_t convert = ::iconv_open("UTF-8", "UTF-16");
  CheckCall(convert == reinterpret_cast<iconv_t>(-1), name,
            "cannot read UTF-16: ");
  struct Close {
    iconv_t c;
    ~Close() { ::iconv_close(c); }
  } close{convert};
  char in_bytes[1 << 16];
  char out_bytes[3 * sizeof in_bytes];
  size_t kept = 0;  // bytes of an unfinished character from the last chunk
  int64_t offset = 0;
  for (;;) {
    const size_t got =
        std::fread(in_bytes + kept, 1, sizeof in_bytes - kept, in);
    CheckCall(std::ferror(in), name, "cannot read: ");
    const bool last = got == 0;
    size_t left = kept + got;
    char* from = in_bytes;
    char* to = out_bytes;
    size_t room = sizeof out_bytes;
    if (::iconv(convert, &from, &left, &to, &room) == static_cast<size_t>(-1) &&
        (errno != EINVAL || last)) {
      throw std::runtime_error(
          name + ": byte " + std::to_string(offset + (from - in_bytes) + 1) +
          ": not UTF-16 text, though the file starts with its byte order "
          "mark");
    }
    const size_t made = static_cast<size_t>(to - out_bytes);
    CheckCall(std::fwrite(out_bytes, 1, made, out.get()) != made, name,
              "cannot keep it as UTF-8 in a temporary file: ");
    if (last) break;
    offset += from - in_bytes;
    std::memmove(in_bytes, from, left);
    kept = left;
  }
  std::rewind(out.get());
  return out;
}

}  // namespace

namespace {

// Reads `cell` with the strptime(3) format, all of it.
bool ReadWithFormat(const std::string& cell, const std::string& format,
                    std::tm& tm) {
  tm = std::tm{};
  tm.tm_mday = 1;
  const char* end = ::strptime(cell.c_str(), format.c_str(), &tm);
  return end != nullptr && end == cell.c_str() + cell.size();
}

}  // namespace

bool ReadDateWithFormat(const std::string& cell, const std::string& format,
                        std::string& date) {
  std::tm tm;
  if (!ReadWithFormat(cell, format, tm)) return false;
  const int year = tm.tm_year + 1900;
  if (year < 0 || year > 9999) return false;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, tm.tm_mon + 1,
                tm.tm_mday);
  date = text;
  return true;
}

bool ReadTimeWithFormat(const std::string& cell, const std::string& format,
                        std::string& time) {
  std::tm tm;
  if (!ReadWithFormat(cell, format, tm)) return false;
  char text[40];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  time = text;
  return true;
}

ImportResult ImportCsv(const std::string& csv_path, const std::string& kxt_path,
                       bool force, const CsvFormat& format, kxos::Env* env) {
  // A path that is no table, a table there without --force, or the CSV
  // file among the table's files are refused before any work.
  const std::vector<std::string> inputs = {
      csv_path == "-" ? std::string("/dev/stdin") : csv_path};
  RefuseExistingTable(kxt_path, force, env);
  RefuseInputs(TableFiles(kxt_path), inputs, env);

  const std::string name = csv_path == "-" ? "standard input" : csv_path;
  FilePtr source(nullptr, &std::fclose);
  if (csv_path == "-") {
    source = SpoolStandardInput();
    std::rewind(source.get());
  } else {
    source.reset(std::fopen(csv_path.c_str(), "rb"));
    CheckCall(!source, csv_path, "");
  }
  if (StartsAsUtf16(source.get())) source = Utf16ToUtf8(source.get(), name);
  // Reads the file from its start: the header (into `csv` when
  // `read_layout`), then every row into `row`, handed to `take`.
  CsvLayout csv;
  RowBytes row;
  auto each_row = [&](bool read_layout, auto take) {
    std::rewind(source.get());
    CsvReader reader(source.get(), name, format.delimiter);
    CsvLayout header = ReadHeader(reader, format);
    if (read_layout) csv = std::move(header);
    std::span<const std::string> cells;
    int64_t line = 0;
    while (reader.ReadRow(cells, line)) {
      DecodeRow(reader, line, cells, csv, format, row);
      take(reader, line);
    }
  };

  // First pass: check every row and size the payload fields.
  ImportResult result;
  each_row(true, [&](const CsvReader& reader, int64_t line) {
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
  });
  kalvex::TableLayout layout;
  for (const ColumnHeading& heading : csv.payload) {
    layout.payload.push_back(
        {heading.name, heading.width == 0 ? 1 : heading.width});
  }

  // Second pass: write the records.
  NewTable output(kxt_path, layout, force, inputs, env);
  kalvex::RecordTable& table = output.table();
  const std::string blank(layout.RecordLength(), '\0');
  each_row(false, [&](const CsvReader& reader, int64_t line) {
    try {
      table.SetRecordBuffer(blank);
      if (!row.date.empty()) table.FieldPut(1, row.date);
      if (!row.time.empty()) table.FieldPut(2, row.time);
      for (size_t i = 0; i < row.payload.size(); ++i) {
        if (!row.payload[i].empty()) {
          table.FieldPut(static_cast<int>(3 + i), row.payload[i]);
        }
      }
    } catch (const kalvex::TableError& e) {
      throw std::runtime_error(reader.Where(line) + e.what());
    }
    output.Append(row.deleted);
  });
  output.Commit();
  return result;
}

namespace {

// Writes the table as CSV through `write`, which takes the text gathered so
// far and empties it. Returns the engine's problems with the table's files.
template <class Write>
std::vector<std::string> ExportThrough(const std::string& kxt_path,
                                       Write&& write) {
  RequireExisting(kxt_path);
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
    buffer += EscapeStampCell(table.FieldGet(1), StampColumn::kDate);
    buffer += ',';
    buffer += EscapeStampCell(table.FieldGet(2), StampColumn::kTime);
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
    if (buffer.size() >= (1u << 20)) write(buffer);
  }
  write(buffer);
  table.Close();
  return table.Problems();
}

}  // namespace

std::vector<std::string> ExportCsv(const std::string& kxt_path,
                                   std::FILE* out) {
  std::vector<std::string> problems = ExportThrough(
      kxt_path, [out](std::string& buffer) { Flush(buffer, out); });
  if (std::fflush(out) != 0 || std::ferror(out)) FailWriting(out);
  return problems;
}

std::vector<std::string> ExportCsvFile(const std::string& kxt_path,
                                       const std::string& csv_path, bool force,
                                       kxos::Env* env) {
  StagedFile file(csv_path, force, TableFiles(kxt_path), env);
  std::vector<std::string> problems =
      ExportThrough(kxt_path, [&file](std::string& buffer) {
        file.Write(buffer);
        buffer.clear();
      });
  file.Place();
  return problems;
}

}  // namespace kxtable
