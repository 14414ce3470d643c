#include "tools/kxtable/csv_new_table.h"

#include <stdexcept>

#include "tools/kxtable/errors.h"
#include "tools/kxtable/staged_file.h"

namespace kxtable {

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

void RefuseExistingTable(const std::string& kxt_path, bool force,
                         kxos::Env* env) {
  if (force) return;
  for (const std::string& file : TableFiles(kxt_path)) {
    kxos::FileInfo info;
    if (env->LinkStat(file, info) == 0) {
      throw std::runtime_error(file +
                               ": the table exists (--force replaces it)");
    }
  }
}

NewTable::NewTable(const std::string& kxt_path,
                   const kalvex::TableLayout& layout, bool force,
                   const std::vector<std::string>& inputs, kxos::Env* env)
    : path_(kxt_path), force_(force), env_(env) {
  RefuseExistingTable(kxt_path, force, env);
  RefuseInputs(TableFiles(kxt_path), inputs, env);
  staged_ = kalvex::StagedTable::WithLayout(kxt_path, layout, env);
  table_ = std::make_unique<kalvex::RecordTable>(env);
  table_->SetAccessMode(kalvex::kAppend);
  try {
    table_->Open(staged_->Path());
  } catch (const kalvex::TableError& e) {
    throw CannotWork(
        kxt_path,
        std::string("the new table was not put in place: ") + e.what());
  }
}

NewTable::~NewTable() {
  // Released before its files go: nothing more is committed.
  table_.reset();
}

void NewTable::Append(bool deleted) {
  try {
    if (deleted) {
      table_->AppendDeletedRecord();
    } else {
      table_->AppendRecord(0);
    }
  } catch (const kalvex::TableError& e) {
    throw CannotWork(
        path_, std::string("the new table was not put in place: ") + e.what());
  }
}

void NewTable::Commit() {
  // A table that appeared meanwhile is not replaced without --force.
  RefuseExistingTable(path_, force_, env_);
  try {
    table_->Close();
    staged_->Publish(force_);
  } catch (const kalvex::TableError& e) {
    throw CannotWork(
        path_, std::string("the new table was not put in place: ") + e.what());
  }
}

}  // namespace kxtable
