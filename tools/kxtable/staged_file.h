// A file that kxtable writes for the user (a CSV export, a sample's truth, a
// page or a report): written under a staged name beside its own
// (os/staged.h), synced, and put at its name only when it is whole, so that
// it is never seen half written, nothing is ever written through a link or
// into a file that was there before, and a failed or killed run leaves the
// file that was there as it was.
#ifndef KXCHECK_TOOLS_KXTABLE_STAGED_FILE_H_
#define KXCHECK_TOOLS_KXTABLE_STAGED_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "os/env.h"

namespace kxtable {

// Refuses (std::runtime_error) to write any of `targets` that exists and is,
// following links, one of the files in `inputs`, which the command reads:
// "<target>: it is the same file as <input>, which this command reads".
void RefuseInputs(const std::vector<std::string>& targets,
                  const std::vector<std::string>& inputs,
                  kxos::Env* env = kxos::Env::Default());

class StagedFile {
 public:
  // Refuses a file (or a link) already at `path` unless `replace`, and one
  // of `inputs` there (RefuseInputs) whatever `replace` says; removes what
  // killed runs left for `path`; creates the staged file with the
  // permissions a new file gets (0666 as limited by the umask). A refusal is
  // std::runtime_error, a failure to write CannotWork.
  StagedFile(const std::string& path, bool replace,
             const std::vector<std::string>& inputs = {},
             kxos::Env* env = kxos::Env::Default());
  // Removes the staged file unless it was placed.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Adds bytes to the file.
  void Write(std::string_view bytes);
  // Writes out what is buffered, syncs, and puts the file at its name:
  // replacing what is there with `replace`, otherwise only where nothing is
  // (a file that appeared meanwhile is not replaced).
  void Place();

 private:
  static constexpr size_t kBufferSize = size_t{256} << 10;
  static constexpr size_t kDirectSize = size_t{4} << 10;

  void Flush();
  void WriteOut(std::string_view bytes);

  kxos::Env* env_;
  std::string path_;
  std::string staged_;
  bool replace_;
  kxos::Fd fd_;
  std::string buffer_;
  bool placed_ = false;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_STAGED_FILE_H_
