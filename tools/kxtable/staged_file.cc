#include "tools/kxtable/staged_file.h"

#include <cerrno>
#include <stdexcept>

#include "os/staged.h"
#include "tools/kxtable/errors.h"

namespace kxtable {

namespace {

using kxos::ErrorText;

std::runtime_error Exists(const std::string& path) {
  return std::runtime_error(path + ": the file exists (--force replaces it)");
}

// Throws CannotWork "<path>: <what><the system's reason>" for a failed call.
void Check(int err, const std::string& path, const char* what) {
  if (err != 0) throw CannotWork(path, what + ErrorText(err));
}

}  // namespace

void RefuseInputs(const std::vector<std::string>& targets,
                  const std::vector<std::string>& inputs, kxos::Env* env) {
  for (const std::string& target : targets) {
    kxos::FileInfo at_target;
    if (env->Stat(target, at_target) != 0) continue;
    for (const std::string& input : inputs) {
      kxos::FileInfo read;
      if (env->Stat(input, read) == 0 && read.SameFileAs(at_target)) {
        throw std::runtime_error(target +
                                 (target == input
                                      ? std::string(": this command reads it")
                                      : ": it is the same file as " + input +
                                            ", which this command reads") +
                                 "; nothing was written");
      }
    }
  }
}

StagedFile::StagedFile(const std::string& path, bool replace,
                       const std::vector<std::string>& inputs, kxos::Env* env)
    : env_(env), path_(path), replace_(replace) {
  kxos::FileInfo info;
  if (!replace && env_->LinkStat(path, info) == 0) throw Exists(path);
  RefuseInputs({path}, inputs, env_);
  {
    kxos::DirectoryLock folder;
    Check(folder.Take(env_, path), path, "cannot lock its folder: ");
    kxos::RemoveStaleStaged(env_, path);
  }
  Check(kxos::CreateStaged(env_, path, ".new", 0666, staged_, fd_), path,
        "cannot create: ");
}

StagedFile::~StagedFile() {
  if (!placed_ && !staged_.empty()) env_->Unlink(staged_);
}

void StagedFile::Write(std::string_view bytes) {
  // Small pieces are gathered in the buffer, which is given its size once;
  // a piece of some kilobytes goes to the file as it is, with no copy made of
  // it (a report page's script and data).
  if (bytes.size() >= kDirectSize) {
    Flush();
    WriteOut(bytes);
    return;
  }
  if (buffer_.size() + bytes.size() > kBufferSize) Flush();
  if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
  buffer_.append(bytes);
}

void StagedFile::Flush() {
  if (buffer_.empty()) return;
  WriteOut(buffer_);
  buffer_.clear();
}

void StagedFile::WriteOut(std::string_view bytes) {
  Check(env_->Write(fd_.get(), bytes.data(), bytes.size()), path_,
        "cannot write: ");
}

void StagedFile::Place() {
  Flush();
  Check(env_->Sync(fd_.get()), path_, "cannot write: ");
  kxos::DirectoryLock folder;
  Check(folder.Take(env_, path_), path_, "cannot lock its folder: ");
  // Without `replace_`, link() refuses a name that appeared meanwhile; then
  // the staged name goes.
  const int err =
      replace_ ? env_->Rename(staged_, path_) : env_->Link(staged_, path_);
  if (err == EEXIST && !replace_) throw Exists(path_);
  Check(err, path_, "cannot put the file in place: ");
  if (!replace_) env_->Unlink(staged_);
  placed_ = true;
  fd_.Reset();
  Check(kxos::SyncDirectoryOf(env_, path_), path_, "cannot sync its folder: ");
}

}  // namespace kxtable
