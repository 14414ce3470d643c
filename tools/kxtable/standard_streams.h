// kxtable's standard output and standard error.
//
// Both are written in full whatever kind of descriptor they are: a parent
// may hand over a non-blocking pipe (Node's child_process does), where a
// write can take only part of the text or none; the rest is written once
// poll() says the pipe has room again. A reader that has gone away (EPIPE:
// `kxtable check --full T.kxt | head -2`) ends the command quietly: that is
// no error to report, and SIGPIPE is ignored so that a repair still finishes
// or removes its table as a whole.
#ifndef KXCHECK_TOOLS_KXTABLE_STANDARD_STREAMS_H_
#define KXCHECK_TOOLS_KXTABLE_STANDARD_STREAMS_H_

#include <cstddef>
#include <cstdio>
#include <string>

namespace kxtable {

// Replaces stdout and stderr by streams that write as described above, and
// ignores SIGPIPE. Called once, first thing in main().
void UsePatientStandardStreams();

// Writes all `size` bytes to `fd`, waiting with poll() while the descriptor
// would block and going on after a signal. Returns 0, or the errno of the
// failure.
int WriteFully(int fd, const char* data, size_t size);

// Writes all `size` bytes to standard output after what its stream holds,
// straight to the descriptor: a large piece is not copied through the
// stream's buffer first. A failure counts as one of the stream's would for
// StandardOutputClosed() and ReportOutputFailure(). Returns 0, or the errno
// of the failure.
int WriteStandardOutput(const char* data, size_t size);

// The descriptor a stream writes to; fileno() knows none for the streams
// that UsePatientStandardStreams puts in place.
int StreamDescriptor(std::FILE* stream);

// Whether a write to standard output found that nobody reads it any more.
bool StandardOutputClosed();

// Says once on standard error that standard output could not be written and
// why; nothing when the reader has gone (StandardOutputClosed()).
void ReportOutputFailure();

// Writes ErrorLine(table, message) and a line end to standard error.
void PrintError(const std::string& table, const std::string& message);
void PrintError(std::FILE* err, const std::string& table,
                const std::string& message);

// Copies what `from` holds, from its start, to `to`. Returns 0, or the errno
// of the failure (EIO when a stream does not say).
int CopyStream(std::FILE* from, std::FILE* to);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_STANDARD_STREAMS_H_
