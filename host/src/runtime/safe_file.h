// Safe file access for paths that come from users and model files.
//
// Reading: only regular files (links followed), never devices, FIFOs or
// folders, and never more than a stated size, checked with fstat before any
// byte is read.
//
// Writing: AtomicFileWriter never writes into the target. It creates a fresh
// temporary file (O_CREAT|O_EXCL, so a link planted at its name is never
// followed) in the folder of the file being replaced and renames it into
// place once everything is written, so a failed save keeps the old file.
//   - A target that is a symbolic link is written through: its final target
//     is replaced and the link is kept. A link to a missing file is refused.
//   - A read-only target is refused. "Read-only" means not writable by the
//     effective user (faccessat with AT_EACCESS) or, for root, whose owner
//     write bit is clear: root may write anything, but saving over a file
//     someone protected is a mistake, as `cp` reports for other users.
//   - The new file keeps an existing target's permission bits (and, when
//     running as root, its owner and group); a new file gets 0666 & ~umask.
//
// Reasons are returned as text without the path, phrased to follow a
// subject ("the file", "its material file 'x.mtl'"): e.g. "is read-only".
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// The path with every NUL byte shown as "\0", for messages.
std::string PrintablePath(const std::string& path);

// True when the path holds a NUL byte (the system would cut it there).
bool HasNulByte(const std::string& path);

// "a folder", "a FIFO", "a character device", ...: for refusing a file that
// is not a regular one.
const char* FileKindName(mode_t mode);

// Lower-case text of an errno value ("no such file or directory").
std::string ErrnoReason(int err);

// Reads a whole regular file of at most `maxBytes` bytes into `bytes`.
// On failure returns false with a reason: "no such file", "is a folder, not
// a file", "is not a regular file", "is larger than N bytes", or the
// system's reason.
// `failure`, when given, says what stopped the read for callers that phrase
// their own messages.
struct ReadFailure {
  enum What { kNone, kSystem, kNotRegular, kTooLarge } what = kNone;
  int error = 0;  // kSystem: the errno value
  mode_t mode = 0;  // kNotRegular: the file's type bits
};
bool ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                     std::string& reason, ReadFailure* failure = nullptr);

class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();  // removes a temporary file that was not committed
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Checks the target and creates the temporary file next to it.
  bool Begin(const std::string& path, std::string& reason);
  bool Write(std::string_view bytes, std::string& reason);
  // Flushes the temporary file to disk and closes it; call before the first
  // Commit of a group of files so a full disk is found before any rename.
  bool Finish(std::string& reason);
  // Finishes if needed, then renames the temporary file over the target.
  bool Commit(std::string& reason);

 private:
  void Discard();
  std::string TemporaryName() const;
  bool OpenNamedTemporary(const std::string& folder, std::string& reason);
  bool NameUnnamed(std::string& reason);

  std::string target_;  // the final file (links resolved)
  std::string temp_;  // empty while the file is unnamed (O_TMPFILE)
  int fd_ = -1;
  bool finished_ = false;
};

// One file, all or nothing: Begin, Write, Commit.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& reason);

}  // namespace host
