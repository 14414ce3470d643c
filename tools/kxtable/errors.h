// How kxtable says what went wrong: every message is one line on standard
// error, "kxtable: <path>: <reason>" (or "kxtable: <reason>" when no file is
// involved), with names escaped to one line; and the failures that end a
// command, with the exit status each calls for.
//
// Exit status, the same for every command:
//   0  success (and, for check and info, a clean table);
//   1  damage or problems found, or an output refused for a stated reason;
//   2  the work could not be done: a missing or unreadable input, a wrong
//      command line, a failed write.
#ifndef KXCHECK_TOOLS_KXTABLE_ERRORS_H_
#define KXCHECK_TOOLS_KXTABLE_ERRORS_H_

#include <stdexcept>
#include <string>
#include <string_view>

namespace kxtable {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFound = 1;       // damage, problems, a refusal
inline constexpr int kExitCannotWork = 2;  // input, usage, a failed write

// A failure that ends a command, with the file it concerns and the exit
// status it calls for. what() is "<path>: <reason>", or the reason alone.
// Any other std::exception ends a command with status 1 (refusals and
// problems found in the input are std::runtime_error).
class CommandError : public std::runtime_error {
 public:
  CommandError(int status, const std::string& path, const std::string& reason)
      : std::runtime_error(path.empty() ? reason : path + ": " + reason),
        status_(status),
        path_(path),
        reason_(reason) {}
  int status() const { return status_; }
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  int status_;
  std::string path_;
  std::string reason_;
};

// The work could not be done: exit status 2.
class CannotWork : public CommandError {
 public:
  CannotWork(const std::string& path, const std::string& reason)
      : CommandError(kExitCannotWork, path, reason) {}
};

// Standard output could not be written; what went wrong is reported once, by
// ReportOutputFailure (standard_streams.h), and not at all when the reader
// has gone.
class OutputFailed : public CannotWork {
 public:
  OutputFailed() : CannotWork("", "cannot write to standard output") {}
};

// Line breaks in `text` (a message box's lines) as single spaces.
std::string OneLine(std::string_view text);

// A message as one line: "kxtable: <table>: <message>", or "kxtable:
// <message>" without a table. The table's path is not repeated where the
// message names it just before a reason. Line breaks in the message (a
// message box's lines) become spaces; the table's name and any control
// characters or bytes that are not UTF-8 are written \xHH.
std::string ErrorLine(const std::string& table, std::string_view message);

// Throws CannotWork "<path>: <what><the system's reason>" (from errno) when
// `failed`.
void CheckCall(bool failed, const std::string& path, const char* what);

// Throws CannotWork "<path>: <the system's reason>" unless `path` names
// something that exists and is no folder.
void RequireExisting(const std::string& path);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_ERRORS_H_
