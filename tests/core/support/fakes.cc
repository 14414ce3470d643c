#include "tests/core/support/fakes.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "engine/record_codec.h"

namespace kxtest {

void FailurePlan::Check(const std::string& call) const {
  if (!at_) return;
  for (const FailAt& failure : failures_) {
    if (failure.step == at_->step &&
        (!failure.phase || *failure.phase == at_->phase) &&
        (!failure.record || *failure.record == at_->record)) {
      throw InjectedFailure("injected failure in " + call);
    }
  }
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
  record[0] = kalvex::PackCentury(stamp.at(0), stamp.at(1));
  for (int i = 0; i < 8; ++i) record[1 + i] = stamp.at(2 + i);
  for (int i = 0; i < 8; ++i) record[9 + i] = stamp.at(11 + i);
  return record + payload;
}

std::string NullRecord(size_t length) { return std::string(length, '\0'); }

void PrintTo(const Noted& note, std::ostream* out) {
  *out << "{record " << note.record << ", class " << static_cast<int>(note.kind)
       << (note.left_out ? ", left out" : "") << ", stamp \"" << note.stamp
       << "\", failed " << note.failed_tests << "}";
}

void PrintTo(const SetStamp& set, std::ostream* out) {
  *out << "{record " << set.record << ", stamp \"" << set.stamp
       << "\", original \"" << set.original << "\", "
       << kxcheck::StampReasonName(set.reason) << "}";
}

void FakeTable::Open(const std::string& path) {
  Call("Open");
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

void FakeTable::Call(const std::string& name) {
  ++calls_[name];
  plan_.Check(name);
}

FakeTableData& FakeTable::Data() {
  if (!open_) throw std::runtime_error("table is not open");
  return disk_.tables[path_];
}

void FakeTable::GoToRecord(int32_t n) {
  Call("GoToRecord");
  FakeTableData& data = Data();
  if (n < 1 || n > static_cast<int32_t>(data.records.size())) {
    throw std::runtime_error("record " + std::to_string(n) +
                             " is not in the table");
  }
  current_ = n;
  buffer_ = data.records[n - 1].bytes;
}

bool FakeTable::Deleted() {
  Call("Deleted");
  FakeTableData& data = Data();
  if (current_ < 1) throw std::runtime_error("no current record");
  return data.records[current_ - 1].deleted;
}

std::string FakeTable::FieldGet(int field) {
  Call("FieldGet");
  std::string b = buffer_;
  if (b.size() < 17) b.resize(17, '\0');
  if (field == 1) {
    if (std::all_of(b.begin(), b.begin() + 9, [](char c) { return c == 0; })) {
      return "";
    }
    std::string text(10, '\0');
    text[0] = kalvex::CenturyHigh(b[0]);
    text[1] = kalvex::CenturyLow(b[0]);
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
  Call("FieldPut");
  if (buffer_.size() < 17) throw std::runtime_error("buffer too short");
  if (field == 1) {
    if (text.size() > 10) throw std::runtime_error("date text too long");
    for (size_t i = 0; i < 2 && i < text.size(); ++i) {
      if (!kalvex::IsCenturyCharacter(text[i])) {
        throw std::runtime_error("bad century character");
      }
    }
    buffer_[0] = kalvex::PackCentury(text.size() > 0 ? text[0] : '0',
                                     text.size() > 1 ? text[1] : '0');
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
  Call("AppendRecord");
  if (mode_ != 2 || option != 0) throw std::runtime_error("cannot append");
  FakeTableData& data = Data();
  data.records.push_back({buffer_, false});
  data.closed_cleanly = false;
}

void FakeTable::Close() {
  Call("Close");
  if (open_ && mode_ == 2) Data().closed_cleanly = true;
  open_ = false;
}

std::unique_ptr<kxcheck::Table> FakeTableFactory::Create() {
  return std::make_unique<FakeTable>(disk_, plan_, calls_.emplace_back());
}

int64_t FakeTableFactory::Calls(size_t table, const std::string& name) const {
  if (table >= calls_.size()) return 0;
  auto it = calls_[table].find(name);
  return it == calls_[table].end() ? 0 : it->second;
}

void FakeHost::Call(const std::string& name) {
  ++calls_[name];
  plan_.Check(name);
}

int64_t FakeHost::Calls(const std::string& name) const {
  auto it = calls_.find(name);
  return it == calls_.end() ? 0 : it->second;
}

bool FakeHost::SkipOption(kxcheck::SkipKind which) {
  Call("SkipOption");
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

void FakeHost::NoteRecord(const kxcheck::RecordNote& note) {
  Call("NoteRecord");
  notes.push_back({note.record, note.kind, note.left_out,
                   std::string(note.stamp), note.failed_tests});
}

void FakeHost::AddStampSet(const kxcheck::StampSet& set) {
  Call("AddStampSet");
  stamps_set.push_back({set.record, std::string(set.stamp),
                        std::string(set.original), set.reason});
  LogHost::AddStampSet(set);
}

class FakeHost::Staged final : public kxcheck::Files::StagedTable {
 public:
  Staged(FakeHost& host, std::string target)
      : host_(host), target_(std::move(target)) {
    const size_t slash = target_.rfind('/');
    path_ =
        target_.substr(0, slash + 1) + ".staged-" + target_.substr(slash + 1);
  }
  ~Staged() override {
    if (!done_) Remove();
  }
  const std::string& Path() const override { return path_; }
  void Publish() override {
    host_.Call("Publish");
    host_.events.push_back("Publish " + target_);
    FakeDisk& disk = host_.disk_;
    const std::string from = StripKxt(path_), to = StripKxt(target_);
    for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
      disk.files.erase(to + ext);
      if (disk.files.erase(from + ext) > 0) disk.files.insert(to + ext);
    }
    disk.tables.erase(target_);
    if (FakeTableData* data = disk.Table(path_)) {
      disk.tables[target_] = *data;
      disk.tables.erase(path_);
    }
    done_ = true;
  }
  void Discard() override {
    host_.Call("Discard");
    host_.events.push_back("Discard " + target_);
    Remove();
  }

 private:
  void Remove() {
    const std::string from = StripKxt(path_);
    for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
      host_.disk_.files.erase(from + ext);
    }
    host_.disk_.tables.erase(path_);
    done_ = true;
  }

  FakeHost& host_;
  std::string target_;
  std::string path_;
  bool done_ = false;
};

std::unique_ptr<kxcheck::Files::StagedTable> FakeHost::StageTable(
    const std::string& definition, const std::string& target) {
  Call("StageTable");
  events.push_back("Stage " + definition + " -> " + target);
  if (!disk_.Exists(definition)) {
    throw std::runtime_error(definition + ": no such file");
  }
  auto staged = std::make_unique<Staged>(*this, target);
  disk_.files.insert(staged->Path());
  return staged;
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
