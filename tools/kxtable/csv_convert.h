// `kxtable import` and `kxtable export`: tables to and from CSV.
//
// The CSV has a header row. Its first two columns are the date (YYYY-MM-DD)
// and the time (HH:MM:SS); the others are the payload fields, named by their
// headings. Export adds a last column "deleted" (1 for a record with the
// deletion mark, else 0) and writes each payload heading as "name:width";
// import honours both, so export then import gives back the same records,
// marks and layout.
//
// A file without a header row (read with `header` false) has no "deleted"
// column; its payload fields are named field3, field4 and so on. A header
// row whose first two cells look like a date and a time is refused: it is
// most likely the first record.
//
// The date and time cells are the engine's field texts. A date cell must
// read YYYY-MM-DD and a time cell HH:MM:SS, or import refuses the file,
// naming the line and column: a spreadsheet's 01/03/2024 would otherwise
// become a record that Check can only call corrupted. The values are not
// judged (month 13 or a stamp out of order is what a table to be checked
// may hold, and Check reports it with its record number). Bytes written
// \xHH are taken as they are wherever they stand, which is how export writes
// damaged stamps (csv_codec.h); a date must still begin with two characters
// "0".."?", which is all a record can hold there. An empty cell leaves the
// field zero.
//
// With a date or time format (strptime(3) conversions, such as %d/%m/%Y or
// %H:%M) every non-empty cell of that column is read with it instead and
// written as YYYY-MM-DD or HH:MM:SS.
//
// A file that starts with a UTF-16 byte order mark (Excel's "Unicode text")
// is read as UTF-16 of that byte order.
#ifndef KXCHECK_TOOLS_KXTABLE_CSV_CONVERT_H_
#define KXCHECK_TOOLS_KXTABLE_CSV_CONVERT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "os/env.h"

namespace kxtable {

struct ImportResult {
  int64_t records = 0;
  int64_t deleted = 0;
};

struct CsvFormat {
  char delimiter = '\0';    // ',', ';' or '\t'; '\0' finds it in the file
  bool header = true;       // the first row names the columns
  std::string date_format;  // strptime(3) format of the date cells, or ""
  std::string time_format;  // strptime(3) format of the time cells, or ""
};

// Reads `cell` with a strptime(3) format, all of it; gives the date as
// YYYY-MM-DD or the time as HH:MM:SS. False when the cell does not match.
bool ReadDateWithFormat(const std::string& cell, const std::string& format,
                        std::string& date);
bool ReadTimeWithFormat(const std::string& cell, const std::string& format,
                        std::string& time);

// Reads the whole file once to check it and size the fields, and only then
// writes the table (csv_new_table.h: the table appears only when it is
// whole). An existing table is refused unless `force`, and a table file that
// is the CSV file itself whatever `force` says. The path "-" reads standard
// input (kept in a temporary file for the second pass).
ImportResult ImportCsv(const std::string& csv_path, const std::string& kxt_path,
                       bool force, const CsvFormat& format = {},
                       kxos::Env* env = kxos::Env::Default());

// Writes the table as CSV (comma-separated, with a header row, no byte order
// mark) to `out`. Returns the engine's problems with the table's files.
std::vector<std::string> ExportCsv(const std::string& kxt_path, std::FILE* out);
// The same into a new file at `csv_path`, which appears only when complete
// (staged_file.h). An existing file is refused unless `force`, which
// replaces it; one of the table's own files whatever `force` says.
std::vector<std::string> ExportCsvFile(const std::string& kxt_path,
                                       const std::string& csv_path, bool force,
                                       kxos::Env* env = kxos::Env::Default());

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_CSV_CONVERT_H_
