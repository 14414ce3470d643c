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
// Stamps are taken as they stand, damage included (that is what tables to be
// checked hold): import refuses only what a record cannot hold, a date that
// is not 10 characters or does not begin with two characters "0".."?", and a
// time that is not 8 characters; an empty cell leaves the field zero. The
// date and time cells are the engine's field texts; bytes that are not text
// are escaped as \xHH (see csv_codec.h).
#ifndef KXCHECK_TOOLS_KXTABLE_CSV_CONVERT_H_
#define KXCHECK_TOOLS_KXTABLE_CSV_CONVERT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kxtable {

struct ImportResult {
  int64_t records = 0;
  int64_t deleted = 0;
};

struct CsvFormat {
  char delimiter = '\0';  // ',', ';' or '\t'; '\0' finds it in the file
  bool header = true;     // the first row names the columns
};

// Reads the whole file once to check it and size the fields, and only then
// creates the table. An existing table is refused unless `force`. The path
// "-" reads standard input (kept in a temporary file for the second pass).
ImportResult ImportCsv(const std::string& csv_path, const std::string& kxt_path,
                       bool force, const CsvFormat& format = {});

// Writes the table as CSV (comma-separated, with a header row, no byte order
// mark) to `out`. Returns the engine's problems with the table's files.
std::vector<std::string> ExportCsv(const std::string& kxt_path, std::FILE* out);
// The same into a new file at `csv_path`, which appears only when complete.
// An existing file is refused unless `force`, which replaces it.
std::vector<std::string> ExportCsvFile(const std::string& kxt_path,
                                       const std::string& csv_path, bool force);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_CSV_CONVERT_H_
