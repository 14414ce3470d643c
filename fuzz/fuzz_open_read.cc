// libFuzzer target: any bytes as the four files of a table. Opens the table
// read-only, reads every record (RecordBuffer, Deleted, FieldGet 1 and 2) and
// closes it; then opens it for appending and, where that is allowed, appends
// one record and checks that it was committed.
//
// Input: one flag byte, then the .kxt, .kxd, .kxa and .kxi contents separated
// by kSeparator. A file whose part is absent is not created. Flag bits 0-2
// recompute the checksums of the definition, of the data and attribute
// headers and of the index, so that mutations reach past them.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_codec.h"
#include "engine/record_table.h"
#include "engine/table_format.h"

namespace {

constexpr std::string_view kSeparator = "\n==KX==\n";
constexpr const char* kExtensions[] = {".kxt", ".kxd", ".kxa", ".kxi"};

const std::string& WorkDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/kxfuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  return dir;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "engine property violated: %s\n", what);
    std::abort();
  }
}

void Reseal(std::string& bytes, size_t covered) {
  if (bytes.size() < covered + 4) return;
  std::string crc;
  kalvex::format::PutU32(crc, kalvex::format::Checksum(bytes.data(), covered));
  bytes.replace(covered, 4, crc);
}

std::string ReadAll(const std::string& path, bool& exists) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  exists = f != nullptr;
  if (f == nullptr) return out;
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) out.append(block, n);
  std::fclose(f);
  return out;
}

void ReadEverything(const std::string& kxt) {
  kalvex::RecordTable t;
  try {
    t.Open(kxt);
  } catch (const kalvex::TableError&) {
    return;
  }
  const uint32_t length = t.Layout().RecordLength();
  int32_t count = t.RecordCount();
  for (int32_t n = 1; n <= count; ++n) {
    try {
      t.GoToRecord(n);
    } catch (const kalvex::TableError&) {
      break;  // the rest of a short data file is missing too
    }
    Check(t.RecordBuffer().size() == length, "buffer length");
    bool deleted = t.Deleted();
    (void)deleted;
    std::string date = t.FieldGet(1);
    std::string time = t.FieldGet(2);
    Check(date.empty() || date.size() == 10, "date length");
    Check(time.empty() || time.size() == 8, "time length");
  }
  t.Close();
}

void AppendOne(const std::string& kxt) {
  int32_t before = 0;
  std::string record;
  {
    kalvex::RecordTable t;
    t.SetAccessMode(kalvex::kAppend);
    try {
      t.Open(kxt);
    } catch (const kalvex::TableError&) {
      return;
    }
    before = t.RecordCount();
    record = t.RecordBuffer();
    record[kalvex::kCenturyOffset] = kalvex::PackCentury('2', '0');
    t.SetRecordBuffer(record);
    t.FieldPut(2, "12:00:00");
    record = t.RecordBuffer();
    t.AppendRecord(0);
    t.Close();
  }
  kalvex::RecordTable r;
  r.Open(kxt);
  Check(r.RecordCount() == before + 1, "appended record counted");
  r.GoToRecord(before + 1);
  Check(r.RecordBuffer() == record, "appended record read back");
  Check(!r.Deleted(), "appended record live");
  if (before > 0) r.GoToRecord(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> parts;
  while (parts.size() < 3) {
    size_t at = rest.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
  }
  parts.emplace_back(rest);

  if (flags & 1)
    Reseal(parts[0], parts[0].size() >= 4 ? parts[0].size() - 4 : 0);
  if (flags & 2) {
    if (parts.size() > 1) Reseal(parts[1], 12);
    if (parts.size() > 2) Reseal(parts[2], 12);
  }
  if ((flags & 4) && parts.size() > 3) Reseal(parts[3], 16);

  const std::string base = WorkDir() + "/t";
  for (size_t i = 0; i < 4; ++i) {
    std::string path = base + kExtensions[i];
    ::unlink(path.c_str());
    if (i < parts.size()) {
      FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr) std::abort();
      std::fwrite(parts[i].data(), 1, parts[i].size(), f);
      std::fclose(f);
    }
  }
  ::unlink((base + ".kxi.tmp").c_str());

  // A read-only open writes nothing.
  std::string before[4];
  bool existed[4];
  for (size_t i = 0; i < 4; ++i)
    before[i] = ReadAll(base + kExtensions[i], existed[i]);
  ReadEverything(base + ".kxt");
  for (size_t i = 0; i < 4; ++i) {
    bool exists = false;
    Check(ReadAll(base + kExtensions[i], exists) == before[i] &&
              exists == existed[i],
          "read-only open changed a file");
  }

  AppendOne(base + ".kxt");
  return 0;
}
