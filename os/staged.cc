#include "os/staged.h"

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace kxos {

namespace {

constexpr std::string_view kPrefix = ".kxs-";
constexpr size_t kHashDigits = 16;
constexpr size_t kRandomDigits = 12;
// ".kxs-" + hash + "-" + random: what the files of one group share.
constexpr size_t kGroupLength =
    kPrefix.size() + kHashDigits + 1 + kRandomDigits;

bool IsHexDigits(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  std::string text(2 * size, '0');
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(&text[2 * i], 3, "%02x", bytes[i]);
  }
  return text;
}

// ".kxt", ".kxd", ".kxa" or ".kxi", in any letter case.
bool IsTableExtension(std::string_view ext) {
  if (ext.size() != 4 || ext[0] != '.' || (ext[1] | 0x20) != 'k' ||
      (ext[2] | 0x20) != 'x') {
    return false;
  }
  const char last = static_cast<char>(ext[3] | 0x20);
  return last == 't' || last == 'd' || last == 'a' || last == 'i';
}

// The name without a last table extension: the files of one table share
// it.
std::string_view TableStem(std::string_view name) {
  if (name.size() > 4 && IsTableExtension(name.substr(name.size() - 4))) {
    return name.substr(0, name.size() - 4);
  }
  return name;
}

// `name` in the folder of `path`, spelled as `path` spells its folder.
std::string Beside(const std::string& path, const std::string& name) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

// A temporary name that an earlier version left beside a file of the table
// whose stem is `stem`: "<stem>.kxi.tmp-" and twelve hexadecimal digits.
bool IsLegacyTemporary(std::string_view name, std::string_view stem) {
  constexpr std::string_view kTmp = ".tmp-";
  return name.size() == stem.size() + 4 + kTmp.size() + kRandomDigits &&
         name.substr(0, stem.size()) == stem &&
         IsTableExtension(name.substr(stem.size(), 4)) &&
         name.substr(stem.size() + 4, kTmp.size()) == kTmp &&
         IsHexDigits(name.substr(stem.size() + 4 + kTmp.size()));
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsStagedName(std::string_view name) {
  return name.size() >= kGroupLength &&
         name.substr(0, kPrefix.size()) == kPrefix &&
         IsHexDigits(name.substr(kPrefix.size(), kHashDigits)) &&
         name[kPrefix.size() + kHashDigits] == '-' &&
         IsHexDigits(
             name.substr(kPrefix.size() + kHashDigits + 1, kRandomDigits)) &&
         (name.size() == kGroupLength || name[kGroupLength] == '.');
}

// Those of its own name when it is staged, else a hash (64-bit FNV-1a) of
// its table stem. Two targets that met in the hash would only look at each
// other's stale files.
std::string TargetHash(const std::string& target) {
  const std::string name = FileNameOf(target);
  if (IsStagedName(name)) {
    return name.substr(kPrefix.size(), kHashDigits);
  }
  uint64_t hash = 0xcbf29ce484222325u;
  for (char c : TableStem(name)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<unsigned char>(hash >> (56 - 8 * i));
  return Hex(bytes, sizeof bytes);
}

int CreateStaged(Env* env, const std::string& target,
                 const std::string& extension, mode_t mode, std::string& path,
                 Fd& fd) {
  const std::string prefix = std::string(kPrefix) + TargetHash(target) + "-";
  int err = EEXIST;
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char random[kRandomDigits / 2];
    if ((err = env->RandomBytes(random, sizeof random)) != 0) return err;
    path = Beside(target, prefix + Hex(random, sizeof random) + extension);
    err = env->Open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK,
                    mode, fd);
    if (err == EEXIST) continue;
    if (err != 0) return err;
    // A writer cleaning up after killed runs may have found the new file
    // before its lock: then it holds the lock, or has removed the name.
    err = env->Lock(fd.get());
    if (err == EWOULDBLOCK) {
      fd.Reset();
      continue;
    }
    FileInfo held, named;
    if (err == 0) err = env->StatOpen(fd.get(), held);
    if (err != 0) {
      fd.Reset();
      env->Unlink(path);
      return err;
    }
    if (env->LinkStat(path, named) == 0 && named.SameFileAs(held)) return 0;
    fd.Reset();
    err = EEXIST;
  }
  fd.Reset();
  return err;
}

void RemoveStaleStaged(Env* env, const std::string& target) {
  const std::string dir = DirectoryOf(target);
  const std::string name = FileNameOf(target);
  const std::string prefix = std::string(kPrefix) + TargetHash(target) + "-";
  const std::string_view stem = TableStem(name);
  std::vector<std::string> names;
  if (env->ListDirectory(dir, names) != 0) return;
  // The files of each group, by the name they share.
  std::map<std::string, std::vector<std::string>> groups;
  for (const std::string& entry : names) {
    if (entry.compare(0, prefix.size(), prefix) == 0 && IsStagedName(entry)) {
      groups[entry.substr(0, kGroupLength)].push_back(entry);
    } else if (stem != name && IsLegacyTemporary(entry, stem)) {
      groups[entry].push_back(entry);
    }
  }
  for (const auto& [group, members] : groups) {
    std::vector<Fd> held;
    bool live = false;
    for (const std::string& member : members) {
      Fd fd;
      const int err = env->Open(Beside(target, member),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, fd);
      if (err == ELOOP || err == ENOENT) continue;  // a link has no writer
      if (err != 0 || env->Lock(fd.get()) != 0) {
        live = true;  // held by its writer, or cannot tell
        break;
      }
      held.push_back(std::move(fd));
    }
    if (live) continue;
    for (const std::string& member : members)
      env->Unlink(Beside(target, member));
  }
}

int DirectoryLock::Take(Env* env, const std::string& path) {
  fd_.Reset();
  Fd fd;
  if (int err = env->Open(DirectoryOf(path),
                          O_RDONLY | O_DIRECTORY | O_NONBLOCK, 0, fd)) {
    return err;
  }
  // A writer holds it for a few renames and syncs: look again every 10 ms.
  for (int tries = 0; tries < 6000; ++tries) {
    const int err = env->Lock(fd.get());
    if (err == 0) {
      fd_ = std::move(fd);
      return 0;
    }
    // NFS locks only files open for writing, which a folder cannot be.
    if (err == ENOLCK || err == EOPNOTSUPP || err == EINVAL || err == EBADF) {
      return 0;
    }
    if (err != EWOULDBLOCK) return err;
    const struct timespec pause = {0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  return EWOULDBLOCK;
}

int SyncDirectoryOf(Env* env, const std::string& path) {
  Fd dir;
  int err =
      env->Open(DirectoryOf(path), O_RDONLY | O_DIRECTORY | O_NONBLOCK, 0, dir);
  if (err == 0 && (err = env->Sync(dir.get())) == EINVAL) err = 0;
  return err;
}

}  // namespace kxos
