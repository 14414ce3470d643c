#include "tools/kxtable/staged_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tools/kxtable/errors.h"

namespace kxtable {

namespace {

CannotWork Failure(const std::string& path, const char* what) {
  return CannotWork(path, std::string(what) + ": " + std::strerror(errno));
}

std::runtime_error Exists(const std::string& path) {
  return std::runtime_error(path + ": the file exists (--force replaces it)");
}

}  // namespace

StagedFile::StagedFile(const std::string& path, bool force)
    : path_(path), temp_(path + ".XXXXXX"), force_(force) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!force && fs::exists(fs::symlink_status(path, ec))) throw Exists(path);
  const int fd = ::mkstemp(temp_.data());
  if (fd < 0) throw Failure(path, "cannot create");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  out_ = ::fdopen(fd, "wb");
  if (out_ == nullptr) {
    const int error = errno;
    ::close(fd);
    ::unlink(temp_.c_str());
    errno = error;
    throw Failure(path, "cannot write");
  }
}

StagedFile::~StagedFile() {
  if (out_ != nullptr) std::fclose(out_);
  // Renamed into place, nothing is left under the fresh name; linked, the
  // fresh name goes.
  if (!placed_ || !force_) ::unlink(temp_.c_str());
}

void StagedFile::Place() {
  std::FILE* out = out_;
  out_ = nullptr;
  const bool flushed = std::fflush(out) == 0;
  const bool synced = flushed && ::fsync(fileno(out)) == 0;
  if (std::fclose(out) != 0 || !synced) throw Failure(path_, "cannot write");
  const int placed = force_ ? ::rename(temp_.c_str(), path_.c_str())
                            : ::link(temp_.c_str(), path_.c_str());
  if (placed != 0) {
    if (errno == EEXIST) throw Exists(path_);
    throw Failure(path_, "cannot put the file in place");
  }
  placed_ = true;
}

}  // namespace kxtable
