#include "elf_check.h"
#include "safe_file.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace host {

namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);

constexpr unsigned char kHostClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kHostData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

// Closes the descriptor on every exit path.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads exactly `size` bytes at `offset`; the caller has checked that they
// lie inside the file, so a short read means the file changed or failed.
bool ReadAt(int fd, void* out, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

std::string LowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

std::string ErrnoText(int error) { return LowerFirst(std::generic_category().message(error)); }

// The machine this host was built for, read from the running executable's
// own header, so every architecture is covered without a list.
Elf64_Half ThisMachine() {
  static const Elf64_Half machine = [] {
    Ehdr self{};
    FileHandle fd(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    return fd.get() >= 0 && ReadAt(fd.get(), &self, sizeof self, 0) ? self.e_machine : EM_NONE;
  }();
  return machine;
}

std::string MachineName(unsigned machine) {
  std::string name = std::to_string(machine);
  switch (machine) {
    case EM_X86_64: return name + " (x86-64)";
    case EM_386: return name + " (i386)";
    case EM_AARCH64: return name + " (AArch64)";
    case EM_ARM: return name + " (ARM)";
    case EM_RISCV: return name + " (RISC-V)";
    case EM_PPC64: return name + " (PowerPC 64)";
    case EM_PPC: return name + " (PowerPC)";
    case EM_S390: return name + " (S/390)";
    default: return name;
  }
}

std::string TypeName(unsigned type) {
  switch (type) {
    case ET_REL: return "a relocatable object file (ELF type 1)";
    case ET_EXEC: return "an executable (ELF type 2)";
    case ET_CORE: return "a core dump (ELF type 4)";
    default: return "ELF type " + std::to_string(type);
  }
}

std::string ClassName(unsigned elfClass) {
  if (elfClass == ELFCLASS32) return "32-bit";
  if (elfClass == ELFCLASS64) return "64-bit";
  return "unknown class " + std::to_string(elfClass);
}

std::string Truncated(const std::string& what, std::uint64_t end, std::uint64_t size) {
  return "truncated: " + what + " ends at byte " + std::to_string(end) + " of " +
         std::to_string(size);
}

// The identification bytes: magic, class, byte order, version.
std::string CheckIdent(const unsigned char* ident, std::uint64_t size) {
  if (size < SELFMAG || std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
    return "not a shared library (no ELF header)";
  }
  if (size < EI_NIDENT) return Truncated("the ELF identification", EI_NIDENT, size);
  if (ident[EI_CLASS] != kHostClass) {
    return "wrong class: a " + ClassName(ident[EI_CLASS]) + " ELF file; this host loads " +
           ClassName(kHostClass) + " ones";
  }
  if (ident[EI_DATA] != kHostData) return "wrong byte order for this host";
  if (ident[EI_VERSION] != EV_CURRENT) {
    return "unknown ELF version " + std::to_string(ident[EI_VERSION]);
  }
  return "";
}

std::string CheckHeader(const Ehdr& header, std::uint64_t size) {
  if (header.e_type != ET_DYN) return "not a shared object: it is " + TypeName(header.e_type);
  const unsigned host = ThisMachine();
  if (host != EM_NONE && header.e_machine != host) {
    return "built for another machine: ELF machine " + MachineName(header.e_machine) +
           "; this host is " + MachineName(host);
  }
  if (header.e_phnum == 0) return "no program headers";
  if (header.e_phentsize != sizeof(Phdr)) {
    return "bad program header size " + std::to_string(header.e_phentsize) + " (expected " +
           std::to_string(sizeof(Phdr)) + ")";
  }
  const std::uint64_t tableBytes = std::uint64_t{header.e_phnum} * sizeof(Phdr);
  if (header.e_phoff > size || tableBytes > size - header.e_phoff) {
    // e_phoff may be anything; say where the table would end when that fits.
    std::uint64_t end = 0;
    if (__builtin_add_overflow(std::uint64_t{header.e_phoff}, tableBytes, &end)) {
      return "truncated: the program header table starts at byte " +
             std::to_string(header.e_phoff) + " of " + std::to_string(size);
    }
    return Truncated("the program header table", end, size);
  }
  return "";
}

std::string CheckSegments(const std::vector<Phdr>& segments, std::uint64_t size) {
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Phdr& s = segments[i];
    if (s.p_type != PT_LOAD) continue;
    if (s.p_offset <= size && s.p_filesz <= size - s.p_offset) continue;
    const std::string name = "segment " + std::to_string(i);
    std::uint64_t end = 0;
    if (__builtin_add_overflow(std::uint64_t{s.p_offset}, std::uint64_t{s.p_filesz}, &end)) {
      return "truncated: " + name + " starts at byte " + std::to_string(s.p_offset) + " of " +
             std::to_string(size);
    }
    return Truncated(name, end, size);
  }
  return "";
}

}  // namespace

std::string FindSharedObjectProblem(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer before fstat
  // can tell what it is. It changes nothing for a regular file.
  FileHandle fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return ErrnoText(errno);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return ErrnoText(errno);
  if (!S_ISREG(st.st_mode))
    return std::string("it is ") + FileKindName(st.st_mode) + ", not a regular file";
  const auto size = static_cast<std::uint64_t>(st.st_size);

  unsigned char ident[EI_NIDENT] = {};
  const std::size_t identBytes = size < EI_NIDENT ? static_cast<std::size_t>(size) : EI_NIDENT;
  if (!ReadAt(fd.get(), ident, identBytes, 0)) return "cannot read the ELF header";
  std::string problem = CheckIdent(ident, size);
  if (!problem.empty()) return problem;

  if (size < sizeof(Ehdr)) return Truncated("the ELF header", sizeof(Ehdr), size);
  Ehdr header{};
  if (!ReadAt(fd.get(), &header, sizeof header, 0)) return "cannot read the ELF header";
  problem = CheckHeader(header, size);
  if (!problem.empty()) return problem;

  std::vector<Phdr> segments(header.e_phnum);
  if (!ReadAt(fd.get(), segments.data(), segments.size() * sizeof(Phdr), header.e_phoff)) {
    return "cannot read the program header table";
  }
  return CheckSegments(segments, size);
}

}  // namespace host
