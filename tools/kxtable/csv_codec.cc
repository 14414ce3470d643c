#include "tools/kxtable/csv_codec.h"

#include <csv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "tools/kxtable/errors.h"

namespace kxtable {

namespace {

constexpr char kHex[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsEscape(std::string_view text, size_t i) {
  return i + 3 < text.size() && text[i] == '\\' && text[i + 1] == 'x' &&
         HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0;
}

void AppendEscape(std::string& out, unsigned char b) {
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

// Length of the valid UTF-8 sequence starting at text[i] (a byte >= 0x80),
// or 0 when there is none.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) -> int {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : -1;
  };
  const auto cont = [](int b) { return b >= 0x80 && b <= 0xbf; };
  const int b0 = at(0);
  if (b0 >= 0xc2 && b0 <= 0xdf) return cont(at(1)) ? 2 : 0;
  if (b0 >= 0xe0 && b0 <= 0xef) {
    const int b1 = at(1);
    const int low = b0 == 0xe0 ? 0xa0 : 0x80;
    const int high = b0 == 0xed ? 0x9f : 0xbf;
    return b1 >= low && b1 <= high && cont(at(2)) ? 3 : 0;
  }
  if (b0 >= 0xf0 && b0 <= 0xf4) {
    const int b1 = at(1);
    const int low = b0 == 0xf0 ? 0x90 : 0x80;
    const int high = b0 == 0xf4 ? 0x8f : 0xbf;
    return b1 >= low && b1 <= high && cont(at(2)) && cont(at(3)) ? 4 : 0;
  }
  return 0;
}

int NoBlanks(unsigned char) { return 0; }

// Escapes as EscapeCell does; `breaks` escapes tab, CR and LF too.
void AppendEscaped(std::string& out, std::string_view bytes, bool breaks) {
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const bool kept_control = !breaks && (b == '\t' || b == '\n' || b == '\r');
    if (b == '\\') {
      if (StartsEscape(bytes, i)) {
        AppendEscape(out, b);
      } else {
        out += '\\';
      }
      ++i;
    } else if ((b < 0x20 && !kept_control) || b == 0x7f) {
      AppendEscape(out, b);
      ++i;
    } else if (b >= 0x80) {
      const size_t n = Utf8Length(bytes, i);
      if (n == 0) {
        AppendEscape(out, b);
        ++i;
      } else {
        out.append(bytes.substr(i, n));
        i += n;
      }
    } else {
      out += static_cast<char>(b);
      ++i;
    }
  }
}

// Where each character of a stamp's column stands: 'd' a digit, else the
// separator itself.
std::string_view StampShape(StampColumn column) {
  return column == StampColumn::kDate ? "dddd-dd-dd" : "dd:dd:dd";
}

bool FitsShape(std::string_view shape, size_t i, char c) {
  if (i >= shape.size()) return false;
  return shape[i] == 'd' ? c >= '0' && c <= '9' : c == shape[i];
}

}  // namespace

std::string EscapeStampCell(std::string_view bytes, StampColumn column) {
  const std::string_view shape = StampShape(column);
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (FitsShape(shape, i, bytes[i])) {
      out += bytes[i];
    } else {
      AppendEscape(out, static_cast<unsigned char>(bytes[i]));
    }
  }
  return out;
}

bool UnescapeStampCell(std::string_view cell, StampColumn column,
                       std::string& bytes) {
  const std::string_view shape = StampShape(column);
  bytes.clear();
  for (size_t i = 0; i < cell.size();) {
    if (StartsEscape(cell, i)) {
      bytes +=
          static_cast<char>(HexValue(cell[i + 2]) << 4 | HexValue(cell[i + 3]));
      i += 4;
    } else {
      if (!FitsShape(shape, bytes.size(), cell[i])) return false;
      bytes += cell[i++];
    }
  }
  return bytes.size() == shape.size();
}

std::string EscapeCell(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendEscaped(out, bytes, false);
  return out;
}

void AppendEscapedCell(std::string& out, std::string_view bytes) {
  AppendEscaped(out, bytes, false);
}

std::string EscapeLine(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendEscaped(out, bytes, true);
  return out;
}

void UnescapeCell(std::string_view cell, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < cell.size();) {
    if (StartsEscape(cell, i)) {
      bytes +=
          static_cast<char>(HexValue(cell[i + 2]) << 4 | HexValue(cell[i + 3]));
      i += 4;
    } else {
      bytes += cell[i++];
    }
  }
}

std::string DisplayCell(std::string_view cell) {
  constexpr size_t kShown = 40;
  std::string out;
  for (size_t i = 0; i < cell.size() && i < kShown; ++i) {
    const auto b = static_cast<unsigned char>(cell[i]);
    if (b < 0x20 || b == 0x7f) {
      AppendEscape(out, b);
    } else {
      out += static_cast<char>(b);
    }
  }
  if (cell.size() > kShown) out += "...";
  return out;
}

void AppendCsvCell(std::string& line, std::string_view cell) {
  const bool quote =
      cell.find_first_of(",\"\r\n") != std::string_view::npos ||
      (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t' ||
                         cell.back() == ' ' || cell.back() == '\t'));
  if (!quote) {
    line.append(cell);
    return;
  }
  line += '"';
  for (char c : cell) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

ColumnHeading ParseColumnHeading(std::string_view heading) {
  const size_t colon = heading.rfind(':');
  if (colon != std::string_view::npos) {
    const std::string_view digits = heading.substr(colon + 1);
    uint32_t width = 0;
    bool ok = !digits.empty() && digits.size() <= 5 && digits[0] != '0';
    for (char c : digits) {
      if (c < '0' || c > '9') {
        ok = false;
        break;
      }
      width = width * 10 + static_cast<uint32_t>(c - '0');
    }
    if (ok && width <= 65535) {
      return {std::string(heading.substr(0, colon)), width};
    }
  }
  return {std::string(heading), 0};
}

std::string FormatColumnHeading(const ColumnHeading& heading) {
  if (heading.width == 0) return heading.name;
  return heading.name + ":" + std::to_string(heading.width);
}

char DetectDelimiter(std::string_view line) {
  bool quoted = false;
  bool semicolon = false;
  bool tab = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted) {
      if (c == ',') return ',';
      semicolon |= c == ';';
      tab |= c == '\t';
    }
  }
  return semicolon ? ';' : tab ? '\t' : ',';
}

CsvReader::CsvReader(std::FILE* file, const std::string& name, char delimiter)
    : path_(name), file_(file), delimiter_(delimiter), parser_(new csv_parser) {
  if (csv_init(parser_, CSV_STRICT | CSV_STRICT_FINI) != 0) {
    delete parser_;
    throw std::bad_alloc();
  }
  csv_set_space_func(parser_, NoBlanks);
}

CsvReader::~CsvReader() {
  csv_free(parser_);
  delete parser_;
  std::free(line_buffer_);
}

std::string CsvReader::Where(int64_t line) const {
  return path_ + ": line " + std::to_string(line) + ": ";
}

std::string CsvReader::Where(int64_t line, size_t column) const {
  return path_ + ": line " + std::to_string(line) + ", column " +
         std::to_string(column) + ": ";
}

// libcsv is C: these callbacks must not throw, so they only note a failure.
void CsvReader::OnField(void* bytes, size_t length, void* self) {
  auto* reader = static_cast<CsvReader*>(self);
  Row& row = reader->current_;
  try {
    if (row.size == row.cells.size()) row.cells.emplace_back();
    row.cells[row.size].assign(static_cast<const char*>(bytes), length);
    ++row.size;
  } catch (...) {
    reader->out_of_memory_ = true;
  }
}

void CsvReader::OnRowEnd(int, void* self) {
  auto* reader = static_cast<CsvReader*>(self);
  try {
    if (reader->ready_count_ == reader->ready_.size()) {
      reader->ready_.emplace_back();
    }
    Row& row = reader->ready_[reader->ready_count_++];
    std::swap(row.cells, reader->current_.cells);
    row.size = reader->current_.size;
    row.line = reader->row_start_;
    reader->current_.size = 0;
  } catch (...) {
    reader->out_of_memory_ = true;
  }
  // A row ended by a lone CR may be followed by another on the same line.
  reader->at_row_start_ = true;
  reader->row_start_ = reader->line_;
}

void CsvReader::FeedLine() {
  errno = 0;
  const ssize_t length = getline(&line_buffer_, &line_capacity_, file_);
  if (length < 0) {
    CheckCall(std::ferror(file_), path_, "cannot read: ");
    at_end_ = true;
    if (csv_fini(parser_, OnField, OnRowEnd, this) != 0) {
      throw std::runtime_error(
          Where(row_start_) +
          "a quoted field is not closed before the end of the file");
    }
    if (out_of_memory_) throw std::bad_alloc();
    return;
  }
  std::string_view text(line_buffer_, static_cast<size_t>(length));
  if (line_++ == 0) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      text.remove_prefix(kByteOrderMark.size());
    }
  }
  if (at_row_start_) {
    if (text == "\n" || text == "\r\n") return;  // blank line
    at_row_start_ = false;
    row_start_ = line_;
  }
  if (!delimiter_set_) {
    if (delimiter_ == '\0') delimiter_ = DetectDelimiter(text);
    csv_set_delim(parser_, static_cast<unsigned char>(delimiter_));
    delimiter_set_ = true;
  }
  const size_t parsed =
      csv_parse(parser_, text.data(), text.size(), OnField, OnRowEnd, this);
  if (out_of_memory_) throw std::bad_alloc();
  if (parsed != text.size()) {
    throw std::runtime_error(
        Where(line_) +
        (csv_error(parser_) == CSV_EPARSE
             ? std::string("misplaced quote (a field holding quotes, commas "
                           "or line breaks must be in double quotes, with "
                           "its quotes doubled)")
             : std::string(csv_strerror(csv_error(parser_)))));
  }
}

bool CsvReader::ReadRow(std::span<const std::string>& cells, int64_t& line) {
  while (next_ready_ == ready_count_) {
    if (at_end_) return false;
    next_ready_ = ready_count_ = 0;
    FeedLine();
  }
  const Row& row = ready_[next_ready_++];
  cells = std::span<const std::string>(row.cells.data(), row.size);
  line = row.line;
  return true;
}

}  // namespace kxtable
