#include "tools/kxtable/csv_new_table.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kxtable {

namespace fs = std::filesystem;

bool HasKxtExtension(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.size() <= 4) return false;
  const std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'k' && (ext[2] | 0x20) == 'x' &&
         (ext[3] | 0x20) == 't';
}

std::vector<std::string> TableFiles(const std::string& kxt_path) {
  if (!HasKxtExtension(kxt_path)) {
    throw std::runtime_error(kxt_path + ": a table path must end in .kxt");
  }
  const size_t dot = kxt_path.size() - 4;
  const std::string ext = kxt_path.substr(dot);
  const std::string base = kxt_path.substr(0, dot);
  std::vector<std::string> files = {kxt_path};
  for (const char* e : {".kxt", ".kxd", ".kxa", ".kxi"}) {
    if (base + e != kxt_path) files.push_back(base + e);
  }
  if (ext != ".kxt") {
    for (const char* e : {".KXT", ".KXD", ".KXA", ".KXI"}) {
      if (base + e != kxt_path) files.push_back(base + e);
    }
  }
  return files;
}

NewTable::NewTable(const std::string& kxt_path,
                   const kalvex::TableLayout& layout, bool force)
    : files_(TableFiles(kxt_path)) {
  for (const std::string& file : files_) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec))) continue;
    if (!force) {
      throw std::runtime_error(file +
                               ": the table exists (--force replaces it)");
    }
    if (!fs::remove(file, ec) && ec) {
      throw std::runtime_error(file + ": cannot remove: " + ec.message());
    }
  }
  try {
    kalvex::RecordTable::CreateDefinition(kxt_path, layout, false);
    table_ = std::make_unique<kalvex::RecordTable>();
    table_->SetAccessMode(kalvex::kAppend);
    table_->Open(kxt_path);
  } catch (...) {
    table_.reset();
    for (const std::string& file : files_) {
      std::error_code ec;
      fs::remove(file, ec);
    }
    throw;
  }
}

NewTable::~NewTable() {
  if (committed_) return;
  table_.reset();
  for (const std::string& file : files_) {
    std::error_code ec;
    fs::remove(file, ec);
  }
}

void NewTable::Commit() {
  table_->Close();
  committed_ = true;
}

}  // namespace kxtable
