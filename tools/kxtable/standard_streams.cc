#include "tools/kxtable/standard_streams.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include "tools/kxtable/errors.h"

namespace kxtable {

namespace {

std::atomic<bool> output_closed{false};
std::atomic<int> output_error{0};
std::atomic<bool> output_failure_reported{false};

// Keeps the first failure to write standard output for ReportOutputFailure.
void NoteOutputError(int err) {
  if (err == EPIPE) output_closed = true;
  int none = 0;
  output_error.compare_exchange_strong(none, err);
}

ssize_t WriteCookie(void* cookie, const char* data, size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  const int err = WriteFully(fd, data, size);
  if (err == 0) return static_cast<ssize_t>(size);
  if (fd == STDOUT_FILENO) NoteOutputError(err);
  errno = err;
  return -1;
}

// A stream that writes to `fd` through WriteFully, buffered as `mode` says.
std::FILE* PatientStream(int fd, int mode) {
  cookie_io_functions_t functions{};
  functions.write = WriteCookie;
  std::FILE* stream = fopencookie(
      reinterpret_cast<void*>(static_cast<intptr_t>(fd)), "w", functions);
  if (stream != nullptr) std::setvbuf(stream, nullptr, mode, BUFSIZ);
  return stream;
}

}  // namespace

int WriteFully(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd wait{fd, POLLOUT, 0};
      // A poll that fails for a reason of its own is tried again; a closed
      // reader shows as POLLERR, and the next write says EPIPE.
      if (::poll(&wait, 1, -1) < 0 && errno != EINTR) return errno;
      continue;
    }
    return n < 0 ? errno : EIO;
  }
  return 0;
}

void UsePatientStandardStreams() {
  std::signal(SIGPIPE, SIG_IGN);
  std::fflush(stdout);
  std::fflush(stderr);
  // A terminal shows each line as it comes; anything else gets full
  // buffers. Standard error is written a line at a time.
  if (std::FILE* out = PatientStream(
          STDOUT_FILENO, ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF)) {
    stdout = out;
  }
  if (std::FILE* err = PatientStream(STDERR_FILENO, _IOLBF)) stderr = err;
}

int WriteStandardOutput(const char* data, size_t size) {
  // What the stream holds goes first; its failure is noted by the stream.
  if (std::fflush(stdout) != 0) return errno != 0 ? errno : EIO;
  const int err = WriteFully(STDOUT_FILENO, data, size);
  if (err != 0) NoteOutputError(err);
  return err;
}

int StreamDescriptor(std::FILE* stream) {
  if (stream == stdout) return STDOUT_FILENO;
  if (stream == stderr) return STDERR_FILENO;
  return fileno(stream);
}

bool StandardOutputClosed() { return output_closed; }

void ReportOutputFailure() {
  if (output_closed || output_failure_reported.exchange(true)) return;
  const int err = output_error != 0 ? output_error.load() : EIO;
  PrintError("", std::string("cannot write to standard output: ") +
                     std::strerror(err));
}

void PrintError(const std::string& table, const std::string& message) {
  PrintError(stderr, table, message);
}

void PrintError(std::FILE* err, const std::string& table,
                const std::string& message) {
  const std::string line = ErrorLine(table, message) + "\n";
  std::fwrite(line.data(), 1, line.size(), err);
  std::fflush(err);
}

int CopyStream(std::FILE* from, std::FILE* to) {
  if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0) {
    return errno != 0 ? errno : EIO;
  }
  char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, from)) > 0) {
    if (std::fwrite(chunk, 1, n, to) != n) return errno != 0 ? errno : EIO;
  }
  if (std::ferror(from)) return errno != 0 ? errno : EIO;
  return 0;
}

}  // namespace kxtable
