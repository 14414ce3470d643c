#include "tests/core/support/fakes.h"

#include <algorithm>
#include <cctype>

namespace kxtest {

void FailurePlan::Clear() {
  calls_.clear();
  records_.clear();
  record_calls_.clear();
  always_.clear();
}

void FailurePlan::Check(const std::string& op, int32_t current_record) {
  int64_t nth = ++counts_[op];
  bool fail = always_.count(op) > 0;
  if (auto it = calls_.find(op); it != calls_.end() && it->second.count(nth)) {
    fail = true;
  }
  if (auto it = records_.find(op);
      it != records_.end() && it->second.count(current_record)) {
    fail = true;
  }
  int64_t nth_here = ++record_counts_[op][current_record];
  if (auto it = record_calls_.find(op); it != record_calls_.end()) {
    auto at = it->second.find(current_record);
    if (at != it->second.end() && at->second.count(nth_here)) fail = true;
  }
  if (fail) {
    throw InjectedFailure("injected failure in " + op + " (call " +
                          std::to_string(nth) + ", record " +
                          std::to_string(current_record) + ")");
  }
}

int64_t FailurePlan::Calls(const std::string& op) const {
  auto it = counts_.find(op);
  return it == counts_.end() ? 0 : it->second;
}

std::string StripKxt(const std::string& path) {
  if (path.size() >= 4) {
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (ext == ".kxt") return path.substr(0, path.size() - 4);
  }
  return path;
}

void FakeDisk::AddTable(const std::string& kxt_path,
                        std::vector<FakeRecord> records) {
  std::string base = StripKxt(kxt_path);
  files.insert(kxt_path);
  for (const char* ext : {".kxd", ".kxi", ".kxa"}) files.insert(base + ext);
  tables[kxt_path].records = std::move(records);
}

FakeTableData* FakeDisk::Table(const std::string& kxt_path) {
  auto it = tables.find(kxt_path);
  return it == tables.end() ? nullptr : &it->second;
}

std::string MakeRecord(const std::string& stamp, const std::string& payload) {
  std::string record(17, '\0');
  record[0] =
      static_cast<char>(((stamp.at(0) - '0') << 4) | (stamp.at(1) - '0'));
  for (int i = 0; i < 8; ++i) record[1 + i] = stamp.at(2 + i);
  for (int i = 0; i < 8; ++i) record[9 + i] = stamp.at(11 + i);
  return record + payload;
}

std::string NullRecord(size_t length) { return std::string(length, '\0'); }

void FakeTable::SetAccessMode(int mode) {
  plan_.Check("SetAccessMode", current_);
  mode_ = mode;
}

void FakeTable::Open(const std::string& path) {
  plan_.Check("Open", current_);
  if (open_) throw std::runtime_error("table is open already");
  if (!disk_.Exists(path)) throw std::runtime_error(path + ": no such file");
  std::string base = StripKxt(path);
  if (mode_ == 2) {
    if (!disk_.Exists(base + ".kxd")) disk_.tables[path].records.clear();
    for (const char* ext : {".kxd", ".kxi", ".kxa"}) {
      disk_.files.insert(base + ext);
    }
    disk_.tables[path].closed_cleanly = false;
  } else if (!disk_.Table(path) || !disk_.Exists(base + ".kxd")) {
    throw std::runtime_error(base + ".kxd: no such file");
  }
  path_ = path;
  open_ = true;
}

FakeTableData& FakeTable::Data() {
  if (!open_) throw std::runtime_error("table is not open");
  return disk_.tables[path_];
}

std::string FakeTable::BasePath() {
  plan_.Check("BasePath", current_);
  return StripKxt(path_);
}

int32_t FakeTable::RecordCount() {
  plan_.Check("RecordCount", current_);
  return static_cast<int32_t>(Data().records.size());
}

void FakeTable::GoToRecord(int32_t n) {
  plan_.Check("GoToRecord", n);
  FakeTableData& data = Data();
  if (n < 1 || n > static_cast<int32_t>(data.records.size())) {
    throw std::runtime_error("record " + std::to_string(n) +
                             " is not in the table");
  }
  current_ = n;
  buffer_ = data.records[n - 1].bytes;
}

std::string_view FakeTable::RecordBuffer() {
  plan_.Check("RecordBuffer", current_);
  return buffer_;
}

void FakeTable::SetRecordBuffer(std::string_view bytes) {
  plan_.Check("SetRecordBuffer", current_);
  buffer_ = bytes;
}

bool FakeTable::Deleted() {
  plan_.Check("Deleted", current_);
  FakeTableData& data = Data();
  if (current_ < 1) throw std::runtime_error("no current record");
  return data.records[current_ - 1].deleted;
}

std::string FakeTable::FieldGet(int field) {
  plan_.Check("FieldGet", current_);
  std::string b = buffer_;
  if (b.size() < 17) b.resize(17, '\0');
  if (field == 1) {
    if (std::all_of(b.begin(), b.begin() + 9, [](char c) { return c == 0; })) {
      return "";
    }
    unsigned char c = static_cast<unsigned char>(b[0]);
    std::string text(10, '\0');
    text[0] = static_cast<char>('0' + (c >> 4));
    text[1] = static_cast<char>('0' + (c & 15));
    b.copy(text.data() + 2, 8, 1);
    return text;
  }
  if (field == 2) {
    if (std::all_of(b.begin() + 9, b.begin() + 17,
                    [](char c) { return c == 0; })) {
      return "";
    }
    return b.substr(9, 8);
  }
  throw std::runtime_error("no field " + std::to_string(field));
}

void FakeTable::FieldPut(int field, std::string_view text) {
  plan_.Check("FieldPut", current_);
  if (buffer_.size() < 17) throw std::runtime_error("buffer too short");
  if (field == 1) {
    if (text.size() > 10) throw std::runtime_error("date text too long");
    for (size_t i = 0; i < 2 && i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '?') {
        throw std::runtime_error("bad century character");
      }
    }
    int hi = text.size() > 0 ? text[0] - '0' : 0;
    int lo = text.size() > 1 ? text[1] - '0' : 0;
    buffer_[0] = static_cast<char>((hi << 4) | lo);
    for (size_t i = 0; i < 8; ++i) {
      buffer_[1 + i] = i + 2 < text.size() ? text[i + 2] : '\0';
    }
    return;
  }
  if (field == 2) {
    if (text.size() > 8) throw std::runtime_error("time text too long");
    for (size_t i = 0; i < 8; ++i) {
      buffer_[9 + i] = i < text.size() ? text[i] : '\0';
    }
    return;
  }
  throw std::runtime_error("no field " + std::to_string(field));
}

void FakeTable::AppendRecord(int option) {
  plan_.Check("AppendRecord", current_);
  if (mode_ != 2 || option != 0) throw std::runtime_error("cannot append");
  FakeTableData& data = Data();
  data.records.push_back({buffer_, false});
  data.closed_cleanly = false;
}

void FakeTable::Close() {
  plan_.Check("Close", current_);
  if (open_ && mode_ == 2) Data().closed_cleanly = true;
  open_ = false;
}

std::unique_ptr<kxcheck::Table> FakeTableFactory::Create() {
  return std::make_unique<FakeTable>(disk_, plan(created_++));
}

FailurePlan& FakeTableFactory::plan(size_t index) { return plans_[index]; }

void FakeHost::AddResult(const std::string& line) {
  plan.Check("AddResult", 0);
  LogHost::AddResult(line);
}

void FakeHost::AddResultAlways(const std::string& line) {
  plan.Check("AddResultAlways", 0);
  LogHost::AddResultAlways(line);
}

void FakeHost::ClearResults() {
  plan.Check("ClearResults", 0);
  events.push_back("ClearResults");
  LogHost::ClearResults();
}

int64_t FakeHost::ResultsLength() {
  plan.Check("ResultsLength", 0);
  return LogHost::ResultsLength();
}

void FakeHost::ShowProgress(const std::string& text) {
  plan.Check("ShowProgress", 0);
  events.push_back("Progress " + text);
  progress.push_back(text);
}

void FakeHost::EnterBusy() {
  plan.Check("EnterBusy", 0);
  events.push_back("EnterBusy");
}

void FakeHost::LeaveBusy() {
  plan.Check("LeaveBusy", 0);
  events.push_back("LeaveBusy");
}

void FakeHost::PumpEvents() {
  plan.Check("PumpEvents", 0);
  ++pumps;
  if (on_pump) on_pump(pumps);
}

void FakeHost::WarnBox(const std::string& text) {
  plan.Check("WarnBox", 0);
  events.push_back("Warn " + text);
  warnings.push_back(text);
}

bool FakeHost::AskYesNo(const std::string& text) {
  plan.Check("AskYesNo", 0);
  events.push_back("Ask " + text);
  return answer_yes;
}

bool FakeHost::SkipOption(kxcheck::SkipKind which) {
  plan.Check("SkipOption", 0);
  switch (which) {
    case kxcheck::SkipKind::kDeleted:
      return skip_deleted;
    case kxcheck::SkipKind::kCorrupted:
      return skip_corrupted;
    case kxcheck::SkipKind::kDuplicates:
      return skip_duplicates;
  }
  return false;
}

bool FakeHost::FileExists(const std::string& path) {
  plan.Check("FileExists", 0);
  return disk_.Exists(path);
}

void FakeHost::CopyFile(const std::string& from, const std::string& to) {
  plan.Check("CopyFile", 0);
  events.push_back("Copy " + from + " -> " + to);
  if (!disk_.Exists(from)) throw std::runtime_error(from + ": no such file");
  disk_.files.insert(to);
}

void FakeHost::DeleteFile(const std::string& path) {
  plan.Check("DeleteFile", 0);
  events.push_back("Delete " + path);
  disk_.files.erase(path);
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".kxd") == 0) {
    disk_.tables.erase(path.substr(0, path.size() - 4) + ".kxt");
  }
}

int FakeHost::CurrentYear() {
  plan.Check("CurrentYear", 0);
  return year;
}

std::vector<std::string> FakeHost::Lines() const {
  std::vector<std::string> lines;
  const std::string& text = Log().Text();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace kxtest
