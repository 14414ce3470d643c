#include "os/fault_env.h"

#include <utility>

namespace kxos {

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

const char* CallName(Call call) {
  switch (call) {
    case Call::kOpen:
      return "open";
    case Call::kClose:
      return "close";
    case Call::kRead:
      return "read";
    case Call::kReadAt:
      return "pread";
    case Call::kWrite:
      return "write";
    case Call::kWriteAt:
      return "pwrite";
    case Call::kSync:
      return "fsync";
    case Call::kTruncate:
      return "ftruncate";
    case Call::kLock:
      return "flock";
    case Call::kStatOpen:
      return "fstat";
    case Call::kStat:
      return "stat";
    case Call::kLinkStat:
      return "lstat";
    case Call::kFileExists:
      return "exists";
    case Call::kRename:
      return "rename";
    case Call::kLink:
      return "link";
    case Call::kUnlink:
      return "unlink";
    case Call::kListDirectory:
      return "readdir";
    case Call::kRandomBytes:
      return "getrandom";
  }
  return "?";
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
    if (!it->suffix.empty() && !EndsWith(record.path, it->suffix) &&
        !EndsWith(record.to, it->suffix)) {
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
  const int err = EnvWrapper::Open(path, flags, mode, out);
  if (err == 0) open_paths_[out.get()] = path;
  return err;
}

int FaultEnv::Close(int fd) {
  const int injected = Enter({.call = Call::kClose, .path = PathOf(fd)});
  open_paths_.erase(fd);
  const int err = EnvWrapper::Close(fd);
  return injected != 0 ? injected : err;
}

int FaultEnv::Read(int fd, char* out, size_t size, size_t& done) {
  done = 0;
  if (int err = Enter({.call = Call::kRead, .path = PathOf(fd), .size = size}))
    return err;
  return EnvWrapper::Read(fd, out, size, done);
}

int FaultEnv::ReadAt(int fd, char* out, size_t size, int64_t offset,
                     size_t& done) {
  done = 0;
  if (int err = Enter({.call = Call::kReadAt,
                       .path = PathOf(fd),
                       .offset = offset,
                       .size = size}))
    return err;
  return EnvWrapper::ReadAt(fd, out, size, offset, done);
}

int FaultEnv::Write(int fd, const char* data, size_t size) {
  if (int err = Enter({.call = Call::kWrite, .path = PathOf(fd), .size = size}))
    return err;
  return EnvWrapper::Write(fd, data, size);
}

int FaultEnv::WriteAt(int fd, const char* data, size_t size, int64_t offset) {
  if (int err = Enter({.call = Call::kWriteAt,
                       .path = PathOf(fd),
                       .offset = offset,
                       .size = size}))
    return err;
  return EnvWrapper::WriteAt(fd, data, size, offset);
}

int FaultEnv::Sync(int fd) {
  if (int err = Enter({.call = Call::kSync, .path = PathOf(fd)})) return err;
  return EnvWrapper::Sync(fd);
}

int FaultEnv::Truncate(int fd, int64_t size) {
  if (int err = Enter({.call = Call::kTruncate, .path = PathOf(fd)}))
    return err;
  return EnvWrapper::Truncate(fd, size);
}

int FaultEnv::Lock(int fd) {
  if (int err = Enter({.call = Call::kLock, .path = PathOf(fd)})) return err;
  return EnvWrapper::Lock(fd);
}

int FaultEnv::StatOpen(int fd, FileInfo& out) {
  if (int err = Enter({.call = Call::kStatOpen, .path = PathOf(fd)}))
    return err;
  return EnvWrapper::StatOpen(fd, out);
}

int FaultEnv::Stat(const std::string& path, FileInfo& out) {
  if (int err = Enter({.call = Call::kStat, .path = path})) return err;
  return EnvWrapper::Stat(path, out);
}

int FaultEnv::LinkStat(const std::string& path, FileInfo& out) {
  if (int err = Enter({.call = Call::kLinkStat, .path = path})) return err;
  return EnvWrapper::LinkStat(path, out);
}

bool FaultEnv::FileExists(const std::string& path) {
  if (Enter({.call = Call::kFileExists, .path = path}) != 0) return false;
  return EnvWrapper::FileExists(path);
}

int FaultEnv::Rename(const std::string& from, const std::string& to) {
  if (int err = Enter({.call = Call::kRename, .path = from, .to = to}))
    return err;
  return EnvWrapper::Rename(from, to);
}

int FaultEnv::Link(const std::string& from, const std::string& to) {
  if (int err = Enter({.call = Call::kLink, .path = from, .to = to}))
    return err;
  return EnvWrapper::Link(from, to);
}

int FaultEnv::Unlink(const std::string& path) {
  if (int err = Enter({.call = Call::kUnlink, .path = path})) return err;
  return EnvWrapper::Unlink(path);
}

int FaultEnv::ListDirectory(const std::string& path,
                            std::vector<std::string>& names) {
  names.clear();
  if (int err = Enter({.call = Call::kListDirectory, .path = path})) return err;
  return EnvWrapper::ListDirectory(path, names);
}

int FaultEnv::RandomBytes(unsigned char* out, size_t size) {
  if (int err = Enter({.call = Call::kRandomBytes, .size = size})) return err;
  return EnvWrapper::RandomBytes(out, size);
}

}  // namespace kxos
