// AtomicFile: writes a file all or nothing, the way the host saves its own.
// A plug-in streams the bytes in as many pieces as it likes:
//
//   XSI::AtomicFile file;
//   XSI::CString message;
//   XSI::CStatus st = file.Begin("out.bmp", message);
//   for (...) if (st.Succeeded()) st = file.Write(piece, pieceSize, message);
//   if (st.Succeeded()) st = file.Commit(message);
//   if (!st.Succeeded()) ...log message...   // e.g. "'out.bmp' is read-only"
//
// The bytes go to a new file in the target's folder (unnamed where the file
// system allows, else under a fresh hidden name created exclusively, so a
// link planted there is never followed) that replaces the target by a
// rename only at Commit, after it is flushed to disk. A failed or abandoned
// write, or a killed process, leaves the old file as it was.
//   - A symbolic link at the target stays a link; the file it points to is
//     replaced. A link to a missing file is refused.
//   - A folder, another non-regular file and a read-only file are refused.
//   - The new file keeps an existing file's permissions (and, for root, its
//     owner); a new one gets 0666 less the umask.
// One AtomicFile may be used from any thread, one thread at a time.
// No call throws. On failure `message` names the file and what is wrong;
// the status is Fail (OutOfMemory when memory ran out, InvalidArgument for
// bytes at a null pointer) and the file is abandoned: later Write and Commit calls fail until Begin starts again.
#pragma once

#include "xsi_api.h"

#include <cstddef>
#include <string_view>

#include "xsi_status.h"
#include "xsi_string.h"

namespace XSI {

class XSI_API AtomicFile {
 public:
  AtomicFile() noexcept = default;
  // Abandons a file that was begun and not committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Checks the target `path` (the system's bytes, relative to the current
  // folder) and opens the new file beside it. Abandons any earlier file.
  CStatus Begin(std::string_view path, CString& message) noexcept;
  // Appends `size` bytes.
  CStatus Write(const void* data, std::size_t size, CString& message) noexcept;
  // Flushes the new file to disk and puts it in place of the target.
  CStatus Commit(CString& message) noexcept;

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

}  // namespace XSI
