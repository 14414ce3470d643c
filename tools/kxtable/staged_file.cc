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
    if (int err = folder.Take(env_, path)) {
      throw CannotWork(path, "cannot lock its folder: " + ErrorText(err));
    }
    kxos::RemoveStaleStaged(env_, path);
  }
  if (int err = kxos::CreateStaged(env_, path, ".new", 0666, staged_, fd_)) {
    throw CannotWork(path, "cannot create: " + ErrorText(err));
  }
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
  if (int err = env_->Write(fd_.get(), bytes.data(), bytes.size())) {
    throw CannotWork(path_, "cannot write: " + ErrorText(err));
  }
}

void StagedFile::Place() {
  Flush();
  if (int err = env_->Sync(fd_.get())) {
    throw CannotWork(path_, "cannot write: " + ErrorText(err));
  }
  kxos::DirectoryLock folder;
  if (int err = folder.Take(env_, path_)) {
    throw CannotWork(path_, "cannot lock its folder: " + ErrorText(err));
  }
  if (replace_) {
    if (int err = env_->Rename(staged_, path_)) {
      throw CannotWork(path_,
                       "cannot put the file in place: " + ErrorText(err));
    }
  } else {
    // link() refuses a name that appeared meanwhile; then the staged name
    // goes.
    if (int err = env_->Link(staged_, path_)) {
      if (err == EEXIST) throw Exists(path_);
      throw CannotWork(path_,
                       "cannot put the file in place: " + ErrorText(err));
    }
    env_->Unlink(staged_);
  }
  placed_ = true;
  fd_.Reset();
  if (int err = kxos::SyncDirectoryOf(env_, path_)) {
    throw CannotWork(path_, "cannot sync its folder: " + ErrorText(err));
  }
}

}  // namespace kxtable
