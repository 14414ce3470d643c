// New tables written under staged names and put in place (docs/FORMAT.md:
// putting a new table in place).
#include "engine/staged_table.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "engine/file_io.h"
#include "engine/table_format.h"
#include "os/staged.h"

namespace kalvex {

using format::HasTableExtension;
using internal::Fail;
using kxos::ErrorText;
using kxos::Fd;
using kxos::FileInfo;

namespace {

// What MarkIncomplete replaced: the index's bytes and permission bits,
// none when it left the file alone.
struct IndexBefore {
  std::string path;
  std::string bytes;
  mode_t permissions = 0;
};

// Sets the incomplete mark in the index file at `path`, by replacing it
// whole, when it is an index that does not carry it yet. Anything else at
// the name (nothing, a damaged index) is left: readers report it already.
IndexBefore MarkIncomplete(kxos::Env* env, const std::string& path) {
  std::string bytes;
  bool missing = false;
  FileInfo info;
  if (!internal::ReadSmallFile(env, path, format::kIndexBytes, bytes, missing,
                               &info)
           .empty() ||
      bytes.size() != format::kIndexBytes) {
    return {};
  }
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  if (bytes.compare(0, 4, format::kIndexMagic) != 0 ||
      format::GetU32(p + 16) != format::Checksum(p, 16)) {
    return {};
  }
  const uint16_t flags = format::GetU16(p + 6);
  if (flags & format::kIndexIncomplete) return {};
  std::string marked = bytes.substr(0, 6);
  format::PutU16(marked, flags | format::kIndexIncomplete);
  marked.append(bytes, 8, 8);
  format::PutU32(marked, format::Checksum(marked.data(), marked.size()));
  internal::ReplaceFile(env, path, marked, "index file", info.permissions);
  return {path, bytes, info.permissions};
}

// The names a table at `target` has, as a new table takes them: its main
// file, then the data, attribute and index files (upper-case companions for
// an upper-case main file); then the companions of the other spelling,
// which the engine would read for such a table too.
std::vector<std::string> TargetNames(const std::string& target) {
  const std::string base = target.substr(0, target.size() - 4);
  if (target.compare(target.size() - 4, 4, ".KXT") == 0) {
    return {target,        base + ".KXD", base + ".KXA", base + ".KXI",
            base + ".kxd", base + ".kxa", base + ".kxi"};
  }
  return {target, base + ".kxd", base + ".kxa", base + ".kxi"};
}

}  // namespace

bool StagedTable::CheckTargetNames(const std::string& target_kxt,
                                   kxos::Env* env) {
  if (!HasTableExtension(target_kxt)) {
    Fail(target_kxt, "not a table definition file (the name must end in .kxt)");
  }
  bool exists = false;
  for (const std::string& name : TargetNames(target_kxt)) {
    FileInfo info;
    const int err = env->LinkStat(name, info);
    if (err == ENOENT) continue;
    if (err != 0) Fail(name, ErrorText(err));
    if (info.type != FileInfo::Type::kRegular &&
        info.type != FileInfo::Type::kLink) {
      Fail(name, "it is " + kxos::KindText(info.type) +
                     ", not a table file; nothing was replaced");
    }
    exists = true;
  }
  return exists;
}

StagedTable::StagedTable(kxos::Env* env, std::string target)
    : env_(env), target_(std::move(target)) {
  if (!HasTableExtension(target_)) {
    Fail(target_, "not a table definition file (the name must end in .kxt)");
  }
}

std::unique_ptr<StagedTable> StagedTable::WithLayout(
    const std::string& target_kxt, const TableLayout& layout, kxos::Env* env) {
  if (std::string why = format::LayoutProblem(layout); !why.empty()) {
    Fail(target_kxt, why);
  }
  std::unique_ptr<StagedTable> table(new StagedTable(env, target_kxt));
  table->Begin(format::EncodeDefinition(layout), nullptr, 0666);
  return table;
}

std::unique_ptr<StagedTable> StagedTable::CopyingDefinition(
    const std::string& target_kxt, const std::string& definition,
    kxos::Env* env) {
  std::unique_ptr<StagedTable> table(new StagedTable(env, target_kxt));
  Fd in;
  if (int err = env->Open(definition, O_RDONLY | O_NONBLOCK, 0, in)) {
    Fail(definition, "cannot read the definition: " + ErrorText(err));
  }
  FileInfo info;
  if (int err = env->StatOpen(in.get(), info)) {
    Fail(definition, "cannot read the definition: " + ErrorText(err));
  }
  if (info.type != FileInfo::Type::kRegular) {
    Fail(definition,
         "it is " + kxos::KindText(info.type) + ", not a table definition");
  }
  table->Begin({}, &in, info.permissions);
  return table;
}

void StagedTable::Begin(const std::string& bytes, const Fd* copy_from,
                        mode_t mode) {
  // What no table can replace, and a name the folder cannot hold, are
  // found before any work.
  CheckTargetNames(target_, env_);
  {
    kxos::DirectoryLock lock;
    if (int err = lock.Take(env_, target_)) {
      Fail(target_, "cannot lock its folder for writing: " + ErrorText(err));
    }
    kxos::RemoveStaleStaged(env_, target_);
  }
  if (int err = kxos::CreateStaged(env_, target_, ".kxt", mode, path_, fd_)) {
    Fail(target_, "cannot create a new table beside it: " + ErrorText(err));
  }
  base_ = path_.substr(0, path_.size() - 4);
  int err = 0;
  if (copy_from == nullptr) {
    err = internal::WriteDurably(env_, fd_, bytes);
  } else {
    char block[1 << 16];
    size_t got = sizeof block;
    while (err == 0 && got == sizeof block) {
      err = env_->Read(copy_from->get(), block, sizeof block, got);
      if (err == 0 && got > 0) err = env_->Write(fd_.get(), block, got);
    }
    if (err == 0) err = env_->Sync(fd_.get());
  }
  if (err != 0) {
    env_->Unlink(path_);
    fd_.Reset();
    Fail(target_, "cannot write the new definition: " + ErrorText(err));
  }
}

StagedTable::~StagedTable() {
  try {
    Discard();
  } catch (const TableError&) {
    // Left for the next writer of the target, which removes stale files.
  }
}

void StagedTable::Discard() {
  if (published_ || path_.empty()) return;
  std::string failure;
  for (const std::string& file :
       {base_ + ".kxd", base_ + ".kxa", base_ + ".kxi", path_}) {
    const int err = env_->Unlink(file);
    if (err != 0 && err != ENOENT && failure.empty()) {
      failure = file + ": cannot remove: " + ErrorText(err);
    }
  }
  fd_.Reset();
  path_.clear();
  if (!failure.empty()) throw TableError(failure);
}

void StagedTable::Publish(bool replace) {
  if (published_) return;
  if (path_.empty()) Fail(target_, "the new table was removed");
  // The staged files and the names they take, the index last; then the
  // companions of the other spelling, which go once the new index is in
  // place.
  const std::vector<std::string> names = TargetNames(target_);
  const std::pair<std::string, std::string> moves[] = {
      {base_ + ".kxd", names[1]},
      {base_ + ".kxa", names[2]},
      {path_, names[0]},
      {base_ + ".kxi", names[3]},
  };
  const std::vector<std::string> others(names.begin() + 4, names.end());

  std::string index;
  bool missing = false;
  if (!internal::ReadSmallFile(env_, moves[3].first, format::kIndexBytes, index,
                               missing)
           .empty() ||
      index.size() != format::kIndexBytes ||
      (format::GetU16(reinterpret_cast<const unsigned char*>(index.data()) +
                      6) &
       format::kIndexIncomplete)) {
    Fail(target_, "the new table was not committed; nothing was put in place");
  }

  kxos::DirectoryLock lock;
  if (int err = lock.Take(env_, target_)) {
    Fail(target_, "cannot lock its folder for writing: " + ErrorText(err));
  }
  const bool exists = CheckTargetNames(target_, env_);
  if (exists && !replace) {
    Fail(target_, "the table exists; nothing was replaced");
  }

  // From the first rename until the new index is in place the target's
  // files are of two tables: the old index, marked incomplete first, makes
  // every reader say so.
  std::vector<IndexBefore> marked = {MarkIncomplete(env_, names[3])};
  if (!others.empty()) marked.push_back(MarkIncomplete(env_, others[2]));
  bool moved = false;
  auto move = [&](const std::pair<std::string, std::string>& step) {
    if (int err = env_->Rename(step.first, step.second)) {
      std::string what = "cannot put the new table in place: " + ErrorText(err);
      if (!moved) {
        // Nothing was renamed yet: the old index goes back as it was.
        try {
          for (const IndexBefore& index : marked) {
            if (index.path.empty()) continue;
            internal::ReplaceFile(env_, index.path, index.bytes, "index file",
                                  index.permissions);
          }
          what += "; nothing was replaced";
        } catch (const TableError&) {
          what += "; the table there is incomplete now";
        }
      } else if (exists) {
        what += "; the table there is incomplete now";
      }
      Fail(step.second, what);
    }
    moved = true;
  };
  for (int i = 0; i < 3; ++i) move(moves[i]);
  if (int err = kxos::SyncDirectoryOf(env_, target_)) {
    Fail(target_, "cannot sync its directory: " + ErrorText(err) +
                      (exists ? "; the table there is incomplete now" : ""));
  }
  move(moves[3]);
  published_ = true;
  fd_.Reset();
  if (int err = kxos::SyncDirectoryOf(env_, target_)) {
    Fail(target_, "cannot sync its directory: " + ErrorText(err));
  }
  // What is left of the old table under the other spelling goes, unless
  // the file system tells no case apart and it is the new file itself.
  for (size_t i = 0; i < others.size(); ++i) {
    FileInfo other, placed;
    if (env_->LinkStat(others[i], other) == 0 &&
        !(env_->LinkStat(names[1 + i], placed) == 0 &&
          placed.SameFileAs(other))) {
      env_->Unlink(others[i]);
    }
  }
}

}  // namespace kalvex
