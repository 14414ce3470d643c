// CSV reading and writing for `kxtable import` and `kxtable export`.
//
// Fields are quoted as RFC 4180 has it. Record bytes that are not printable
// text (control characters other than tab, CR and LF, DEL, and bytes that do
// not form valid UTF-8) are written as \xHH; a backslash is written as \x5c
// only where it would otherwise be read as such an escape. Reading turns
// every \xHH back into its byte and takes everything else as it stands, so
// any bytes survive export and import unchanged, and a plain CSV file (say
// with Windows paths in it) reads as it looks.
#ifndef KXCHECK_TOOLS_KXTABLE_CSV_CODEC_H_
#define KXCHECK_TOOLS_KXTABLE_CSV_CODEC_H_

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct csv_parser;

namespace kxtable {

// Record bytes -> cell text, and back.
std::string EscapeCell(std::string_view bytes);
// EscapeCell(bytes) appended to `out`.
void AppendEscapedCell(std::string& out, std::string_view bytes);
void UnescapeCell(std::string_view cell, std::string& bytes);

// Bytes (a file name, a message) as one line of text: as EscapeCell, with
// tab, CR and LF written \xHH as well. UnescapeCell reads it back.
std::string EscapeLine(std::string_view bytes);

// The stamp's two columns. A date cell reads YYYY-MM-DD and a time cell
// HH:MM:SS: digits and separators, each at its place. Export writes every
// byte of a stamp that does not stand where that layout has it as \xHH, so
// import tells a damaged stamp kept on purpose ("2024\x2f01-05") from a cell
// written in another layout ("01/05/2024"), which it refuses.
enum class StampColumn { kDate, kTime };
// Stamp bytes -> cell text.
std::string EscapeStampCell(std::string_view bytes, StampColumn column);
// Cell text -> stamp bytes. False when the bytes are not as many as the
// layout has, or a character not written \xHH stands where the layout does
// not have it.
bool UnescapeStampCell(std::string_view cell, StampColumn column,
                       std::string& bytes);

// A cell shortened and with every control character escaped, for messages.
std::string DisplayCell(std::string_view cell);

// Appends the cell to a CSV line, in double quotes when it holds a comma,
// a quote, a line break, or leading or trailing blanks.
void AppendCsvCell(std::string& line, std::string_view cell);

// A payload column heading: "name" or "name:width", width 1..65535 setting
// the least width of the field (0 when not given).
struct ColumnHeading {
  std::string name;
  uint32_t width = 0;
};
ColumnHeading ParseColumnHeading(std::string_view heading);
std::string FormatColumnHeading(const ColumnHeading& heading);

// The delimiter of a file whose first line is `line`: a comma when the line
// has one outside quotes, else a semicolon, else a tab, when it has one.
char DetectDelimiter(std::string_view line);

// Reads a CSV file row by row with libcsv in strict mode. Fields are taken
// exactly as written (no trimming of blanks); a UTF-8 byte order mark before
// the first line is skipped, and so are blank lines between rows. Errors are
// std::runtime_error naming the file and the line.
class CsvReader {
 public:
  // Reads `file` from where it stands (it is not closed here), naming it
  // `name` in messages, with `delimiter`, or with the one that
  // DetectDelimiter finds when it is '\0'.
  CsvReader(std::FILE* file, const std::string& name, char delimiter);
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // The next row and the line it starts on; false at the end of the file.
  // The cells stay valid until the next call.
  bool ReadRow(std::span<const std::string>& cells, int64_t& line);

  // Makes the next ReadRow give the row that the last one gave again.
  void Unread() { --next_ready_; }

  // "<path>: line <n>: " for messages about a row, and "<path>: line <n>,
  // column <c>: " for messages about a cell (columns counted from 1).
  std::string Where(int64_t line) const;
  std::string Where(int64_t line, size_t column) const;
  const std::string& name() const { return path_; }

 private:
  struct Row {
    std::vector<std::string> cells;
    size_t size = 0;
    int64_t line = 0;
  };
  static void OnField(void* bytes, size_t length, void* self);
  static void OnRowEnd(int terminator, void* self);
  void FeedLine();

  std::string path_;
  std::FILE* file_ = nullptr;
  char delimiter_ = '\0';  // '\0': found on the first line that is not blank
  bool delimiter_set_ = false;
  csv_parser* parser_ = nullptr;
  char* line_buffer_ = nullptr;
  size_t line_capacity_ = 0;
  int64_t line_ = 0;  // physical lines read so far
  bool at_end_ = false;
  bool at_row_start_ = true;
  int64_t row_start_ = 0;
  bool out_of_memory_ = false;
  Row current_;
  std::vector<Row> ready_;
  size_t ready_count_ = 0;
  size_t next_ready_ = 0;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_CSV_CODEC_H_
