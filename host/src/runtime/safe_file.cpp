#include "safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace host {

const char* FileKindName(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISREG(mode)) return "a regular file";
  return "not a regular file";
}
namespace {

namespace fs = std::filesystem;

// Links in a row followed before giving up, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::string WithFirstLetterLowered(std::string s) {
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

std::string SizeText(std::uint64_t bytes) {
  const std::uint64_t mib = std::uint64_t{1} << 20;
  if (bytes % mib == 0) return std::to_string(bytes / mib) + " MiB";
  return std::to_string(bytes) + " bytes";
}

bool IsReadOnly(const std::string& path, const struct stat& st) {
  if (geteuid() == 0) return (st.st_mode & S_IWUSR) == 0;
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// Follows a chain of links at the last path component; `path` becomes the
// file that would really be written.
bool ResolveLinks(std::string& path, std::string& reason) {
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT && hop > 0) {
        reason = "is a link to a missing file ('" + path + "')";
        return false;
      }
      return true;  // missing: a new file; other errors show when creating it
    }
    if (!S_ISLNK(st.st_mode)) return true;
    std::error_code ec;
    fs::path next = fs::read_symlink(path, ec);
    if (ec) {
      reason = "is a link that cannot be read: " + ErrnoReason(ec.value());
      return false;
    }
    if (next.is_relative()) next = fs::path(FolderOf(path)) / next;
    path = next.string();
  }
  reason = "is a link in a chain of more than " + std::to_string(kMaxLinkHops) + " links";
  return false;
}

// Whether the file at `target` (links already followed) may be replaced:
// it is missing, or a regular file that is not read-only. `exists` and `st`
// say what is there.
bool MayReplace(const std::string& target, struct stat& st, bool& exists, std::string& reason) {
  exists = stat(target.c_str(), &st) == 0;
  if (!exists) return true;
  if (S_ISDIR(st.st_mode)) {
    reason = "is a folder, not a file";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = "is not a regular file";
    return false;
  }
  if (IsReadOnly(target, st)) {
    reason = "is read-only";
    return false;
  }
  return true;
}

std::string RandomSuffix() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
  std::string out(8, 'x');
  for (char& c : out) c = kChars[pick(device)];
  return out;
}

}  // namespace

std::string PrintablePath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\0') {
      out += "\\0";
    } else {
      out += c;
    }
  }
  return out;
}

bool HasNulByte(const std::string& path) { return path.find('\0') != std::string::npos; }

std::string ErrnoReason(int err) {
  return WithFirstLetterLowered(std::generic_category().message(err));
}

bool ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                     std::string& reason, ReadFailure* failure) {
  ReadFailure unused;
  ReadFailure& why = failure ? *failure : unused;
  why = ReadFailure{};
  const auto systemFailure = [&](int err) {
    why.what = ReadFailure::kSystem;
    why.error = err;
    reason = err == ENOENT || err == ENOTDIR ? std::string("no such file") : ErrnoReason(err);
    return false;
  };
  const auto notRegular = [&](mode_t mode) {
    why.what = ReadFailure::kNotRegular;
    why.mode = mode;
    reason = S_ISDIR(mode) ? "is a folder, not a file" : "is not a regular file";
    return false;
  };
  // stat first: opening a device can itself have effects (a tape rewinds).
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return systemFailure(errno);
  if (!S_ISREG(st.st_mode)) return notRegular(st.st_mode);
  // O_NONBLOCK: a FIFO swapped in after the stat must not hang the open.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return systemFailure(errno);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  if (fstat(fd, &st) != 0) return systemFailure(errno);
  if (!S_ISREG(st.st_mode)) return notRegular(st.st_mode);
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    why.what = ReadFailure::kTooLarge;
    reason = "is larger than the limit of " + SizeText(maxBytes);
    return false;
  }
  std::string data(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      systemFailure(err);
      reason = ErrnoReason(err);
      return false;
    }
    if (n == 0) break;  // the file shrank while being read
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  bytes = std::move(data);
  return true;
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

// A fresh temporary name beside the target: short enough for any file-name
// limit, and starting with a dot so folder listings hide it.
std::string AtomicFileWriter::TemporaryName() const {
  const std::string base = fs::path(target_).filename().string().substr(0, 200);
  return FolderOf(target_) + "/." + base + "." + RandomSuffix() + ".tmp";
}

// For file systems without unnamed files: a named temporary file, removed
// again by Discard.
bool AtomicFileWriter::OpenNamedTemporary(const std::string& folder, std::string& reason) {
  (void)folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = TemporaryName();
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temp_ = candidate;
      return true;
    }
    if (errno == EEXIST) continue;
    reason = errno == ENOENT ? std::string("is in a folder that does not exist")
                             : "cannot be created in its folder: " + ErrnoReason(errno);
    return false;
  }
  reason = "cannot be created in its folder: no free temporary name";
  return false;
}

// Gives the unnamed file a temporary name beside the target, for the rename.
bool AtomicFileWriter::NameUnnamed(std::string& reason) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = TemporaryName();
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temp_ = candidate;
      return true;
    }
    if (errno == EEXIST) continue;
    reason = "cannot be put in place: " + ErrnoReason(errno);
    return false;
  }
  reason = "cannot be put in place: no free temporary name";
  return false;
}

void AtomicFileWriter::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

bool AtomicFileWriter::Begin(const std::string& path, std::string& reason) {
  Discard();
  finished_ = false;
  if (HasNulByte(path)) {
    reason = "has a NUL byte in its name";
    return false;
  }
  target_ = path;
  if (!ResolveLinks(target_, reason)) return false;
  struct stat st;
  bool exists = false;
  if (!MayReplace(target_, st, exists, reason)) return false;
  // Preferably an unnamed file in the target's folder, which only gets a
  // name at Commit: a process killed while writing leaves nothing behind.
  const std::string folder = FolderOf(target_);
  fd_ = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd_ < 0 && errno == ENOENT) {
    reason = "is in a folder that does not exist";
    return false;
  }
  if (fd_ < 0 && !OpenNamedTemporary(folder, reason)) return false;
  if (!exists) return true;
  // Owner first: changing it may clear set-id bits that fchmod then restores.
  if (geteuid() == 0 && fchown(fd_, st.st_uid, st.st_gid) != 0) {
    // Not fatal: the file is written, only its owner differs.
  }
  if (fchmod(fd_, st.st_mode & 07777) != 0) {
    reason = "cannot keep its permissions: " + ErrnoReason(errno);
    Discard();
    return false;
  }
  return true;
}

bool AtomicFileWriter::Write(std::string_view bytes, std::string& reason) {
  if (fd_ < 0 || finished_) {
    reason = "cannot be written: the file is not open";
    return false;
  }
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = "cannot be written: " + ErrnoReason(n < 0 ? errno : EIO);
      Discard();
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool AtomicFileWriter::Finish(std::string& reason) {
  if (finished_) return true;
  if (fd_ < 0) {
    reason = "cannot be written: the file is not open";
    return false;
  }
  const bool synced = fsync(fd_) == 0;
  const int syncError = errno;
  if (synced && temp_.empty() && !NameUnnamed(reason)) {
    Discard();
    return false;
  }
  const bool closed = close(fd_) == 0;
  const int closeError = errno;
  fd_ = -1;
  if (!synced || !closed) {
    reason = "cannot be written: " + ErrnoReason(!synced ? syncError : closeError);
    Discard();
    return false;
  }
  finished_ = true;
  return true;
}

bool AtomicFileWriter::Commit(std::string& reason) {
  if (!Finish(reason)) return false;
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    reason = "cannot be put in place: " + ErrnoReason(errno);
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& reason) {
  AtomicFileWriter writer;
  return writer.Begin(path, reason) && writer.Write(bytes, reason) && writer.Commit(reason);
}

}  // namespace host
