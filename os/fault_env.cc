#include "os/fault_env.h"

#include <iterator>
#include <utility>

namespace kxos {

const char* CallName(Call call) {
  static constexpr const char* kNames[] = {
      "open",   "close",     "read",  "pread",  "write",   "pwrite",
      "fsync",  "ftruncate", "flock", "fstat",  "stat",    "lstat",
      "exists", "rename",    "link",  "unlink", "readdir", "getrandom"};
  static_assert(std::size(kNames) ==
                static_cast<size_t>(Call::kRandomBytes) + 1);
  return kNames[static_cast<size_t>(call)];
}

void FaultEnv::FailCall(Call call, int nth, int error,
                        const std::string& path_suffix) {
  faults_.push_back({call, nth, error, path_suffix});
}

void FaultEnv::BeforeCall(Call call, std::function<bool(const Record&)> when,
                          std::function<void(const std::string&)> action) {
  hooks_.push_back({call, std::move(when), std::move(action)});
}

int FaultEnv::Enter(Record record) {
  for (auto it = hooks_.begin(); it != hooks_.end(); ++it) {
    if (it->call == record.call && it->when(record)) {
      const Hook hook = std::move(*it);
      hooks_.erase(it);
      hook.action(record.to.empty() ? record.path : record.to);
      break;
    }
  }
  int error = 0;
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->call != record.call) continue;
    if (!record.path.ends_with(it->suffix) &&
        !record.to.ends_with(it->suffix)) {
      continue;
    }
    if (--it->countdown == 0) {
      error = it->error;
      faults_.erase(it);
      break;
    }
  }
  calls_.push_back(std::move(record));
  return error;
}

std::string FaultEnv::PathOf(int fd) const {
  auto it = open_paths_.find(fd);
  return it == open_paths_.end() ? std::string() : it->second;
}

int FaultEnv::Open(const std::string& path, int flags, mode_t mode, Fd& out) {
  if (int err = Enter({.call = Call::kOpen, .path = path})) {
    out.Reset();
    return err;
  }
  const int err = target_->Open(path, flags, mode, out);
  out.CloseThrough(this);
  if (err == 0) open_paths_[out.get()] = path;
  return err;
}

int FaultEnv::Close(int fd) {
  const int injected = Enter({.call = Call::kClose, .path = PathOf(fd)});
  open_paths_.erase(fd);
  const int err = target_->Close(fd);
  return injected != 0 ? injected : err;
}

int FaultEnv::Read(int fd, char* out, size_t size, size_t& done) {
  done = 0;
  return Pass({.call = Call::kRead, .path = PathOf(fd), .size = size},
              [&] { return target_->Read(fd, out, size, done); });
}

int FaultEnv::ReadAt(int fd, char* out, size_t size, int64_t offset,
                     size_t& done) {
  done = 0;
  return Pass({.call = Call::kReadAt,
               .path = PathOf(fd),
               .offset = offset,
               .size = size},
              [&] { return target_->ReadAt(fd, out, size, offset, done); });
}

int FaultEnv::Write(int fd, const char* data, size_t size) {
  return Pass({.call = Call::kWrite, .path = PathOf(fd), .size = size},
              [&] { return target_->Write(fd, data, size); });
}

int FaultEnv::WriteAt(int fd, const char* data, size_t size, int64_t offset) {
  return Pass({.call = Call::kWriteAt,
               .path = PathOf(fd),
               .offset = offset,
               .size = size},
              [&] { return target_->WriteAt(fd, data, size, offset); });
}

int FaultEnv::Sync(int fd) {
  return Pass({.call = Call::kSync, .path = PathOf(fd)},
              [&] { return target_->Sync(fd); });
}

int FaultEnv::Truncate(int fd, int64_t size) {
  return Pass({.call = Call::kTruncate, .path = PathOf(fd)},
              [&] { return target_->Truncate(fd, size); });
}

int FaultEnv::Lock(int fd) {
  return Pass({.call = Call::kLock, .path = PathOf(fd)},
              [&] { return target_->Lock(fd); });
}

int FaultEnv::StatOpen(int fd, FileInfo& out) {
  return Pass({.call = Call::kStatOpen, .path = PathOf(fd)},
              [&] { return target_->StatOpen(fd, out); });
}

int FaultEnv::Stat(const std::string& path, FileInfo& out) {
  return Pass({.call = Call::kStat, .path = path},
              [&] { return target_->Stat(path, out); });
}

int FaultEnv::LinkStat(const std::string& path, FileInfo& out) {
  return Pass({.call = Call::kLinkStat, .path = path},
              [&] { return target_->LinkStat(path, out); });
}

bool FaultEnv::FileExists(const std::string& path) {
  return Enter({.call = Call::kFileExists, .path = path}) == 0 &&
         target_->FileExists(path);
}

int FaultEnv::Rename(const std::string& from, const std::string& to) {
  return Pass({.call = Call::kRename, .path = from, .to = to},
              [&] { return target_->Rename(from, to); });
}

int FaultEnv::Link(const std::string& from, const std::string& to) {
  return Pass({.call = Call::kLink, .path = from, .to = to},
              [&] { return target_->Link(from, to); });
}

int FaultEnv::Unlink(const std::string& path) {
  return Pass({.call = Call::kUnlink, .path = path},
              [&] { return target_->Unlink(path); });
}

int FaultEnv::ListDirectory(const std::string& path,
                            std::vector<std::string>& names) {
  names.clear();
  return Pass({.call = Call::kListDirectory, .path = path},
              [&] { return target_->ListDirectory(path, names); });
}

int FaultEnv::RandomBytes(unsigned char* out, size_t size) {
  return Pass({.call = Call::kRandomBytes, .size = size},
              [&] { return target_->RandomBytes(out, size); });
}

}  // namespace kxos
