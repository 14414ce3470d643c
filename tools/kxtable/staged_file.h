// A file that `kxtable` writes for the user (a CSV export, a sample's truth):
// written under a fresh name beside its own, synced, and put in place only
// when it is whole, so that nothing is ever written through a link or into
// a file that was there before.
#ifndef KXCHECK_TOOLS_KXTABLE_STAGED_FILE_H_
#define KXCHECK_TOOLS_KXTABLE_STAGED_FILE_H_

#include <cstdio>
#include <string>

namespace kxtable {

class StagedFile {
 public:
  // Refuses a file already at `path` unless `force`; creates the fresh file
  // (mkstemp: a new name, O_EXCL) with the permissions a new file gets.
  StagedFile(const std::string& path, bool force);
  // Removes the fresh file unless it was put in place.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  std::FILE* stream() { return out_; }
  // Writes out what is buffered, syncs and closes; then puts the file at its
  // name: replacing what is there with `force`, otherwise only where nothing
  // is (a file that appeared meanwhile is not replaced).
  void Place();

 private:
  std::string path_;
  std::string temp_;
  bool force_;
  std::FILE* out_ = nullptr;
  bool placed_ = false;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_STAGED_FILE_H_
