#include "elf_check.h"
#include "safe_file.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include <xsi_version.h>

namespace host {

namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Shdr = ElfW(Shdr);
using Dyn = ElfW(Dyn);
using Sym = ElfW(Sym);
using Rela = ElfW(Rela);
using Rel = ElfW(Rel);

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

std::string Hex(std::uint64_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

// The symbol index of a relocation's r_info (ELF64_R_SYM / ELF32_R_SYM).
std::uint64_t RelocationSymbol(std::uint64_t info) { return sizeof(void*) == 8 ? info >> 32 : info >> 8; }

// [first, first + length) inside [lo, lo + span), without overflow.
bool Inside(std::uint64_t first, std::uint64_t length, std::uint64_t lo, std::uint64_t span) {
  return first >= lo && first - lo <= span && length <= span - (first - lo);
}

const char* TagName(std::int64_t tag) {
  switch (tag) {
    case DT_NEEDED: return "DT_NEEDED";
    case DT_PLTRELSZ: return "DT_PLTRELSZ";
    case DT_PLTGOT: return "DT_PLTGOT";
    case DT_HASH: return "DT_HASH";
    case DT_STRTAB: return "DT_STRTAB";
    case DT_SYMTAB: return "DT_SYMTAB";
    case DT_RELA: return "DT_RELA";
    case DT_RELASZ: return "DT_RELASZ";
    case DT_RELAENT: return "DT_RELAENT";
    case DT_STRSZ: return "DT_STRSZ";
    case DT_SYMENT: return "DT_SYMENT";
    case DT_INIT: return "DT_INIT";
    case DT_FINI: return "DT_FINI";
    case DT_SONAME: return "DT_SONAME";
    case DT_RPATH: return "DT_RPATH";
    case DT_REL: return "DT_REL";
    case DT_RELSZ: return "DT_RELSZ";
    case DT_RELENT: return "DT_RELENT";
    case DT_PLTREL: return "DT_PLTREL";
    case DT_JMPREL: return "DT_JMPREL";
    case DT_INIT_ARRAY: return "DT_INIT_ARRAY";
    case DT_FINI_ARRAY: return "DT_FINI_ARRAY";
    case DT_INIT_ARRAYSZ: return "DT_INIT_ARRAYSZ";
    case DT_FINI_ARRAYSZ: return "DT_FINI_ARRAYSZ";
    case DT_RUNPATH: return "DT_RUNPATH";
    case DT_PREINIT_ARRAY: return "DT_PREINIT_ARRAY";
    case DT_PREINIT_ARRAYSZ: return "DT_PREINIT_ARRAYSZ";
    case DT_RELRSZ: return "DT_RELRSZ";
    case DT_RELR: return "DT_RELR";
    case DT_GNU_HASH: return "DT_GNU_HASH";
    case DT_VERSYM: return "DT_VERSYM";
    case DT_VERDEF: return "DT_VERDEF";
    case DT_VERDEFNUM: return "DT_VERDEFNUM";
    case DT_VERNEED: return "DT_VERNEED";
    case DT_VERNEEDNUM: return "DT_VERNEEDNUM";
    default: return "dynamic tag";
  }
}

constexpr long kMaxLoadSegments = 64;

// The file's layout, read once with every size checked against the file.
class ElfImage {
 public:
  ElfImage(int fd, std::uint64_t size, const Ehdr& header, std::vector<Phdr> segments)
      : fd_(fd), size_(size), header_(header), segments_(std::move(segments)) {}

  std::string Check(SdkVersionExport& version) {
    std::string problem = CheckProgramHeaders();
    if (problem.empty()) problem = ReadDynamic();
    if (problem.empty()) problem = CheckDynamicEntries();
    if (problem.empty()) problem = ReadSections();
    if (problem.empty()) problem = CheckRelocations();
    if (problem.empty()) problem = ReadVersion(version);
    return problem;
  }

 private:
  // The loadable segment whose file bytes hold [address, address + length),
  // or null. The loader maps exactly those bytes there.
  const Phdr* FileBacked(std::uint64_t address, std::uint64_t length) const {
    for (const Phdr& s : segments_)
      if (s.p_type == PT_LOAD && Inside(address, length, s.p_vaddr, s.p_filesz)) return &s;
    return nullptr;
  }
  // The same in memory, in a segment the loader may write to while it
  // relocates: a writable one, or any when the file asks for text
  // relocations (DT_TEXTREL), which the loader then makes writable.
  bool Writable(std::uint64_t address, std::uint64_t length, bool textRelocations) const {
    for (const Phdr& s : segments_)
      if (s.p_type == PT_LOAD && (textRelocations || (s.p_flags & PF_W) != 0) &&
          Inside(address, length, s.p_vaddr, s.p_memsz))
        return true;
    return false;
  }
  // Where the file holds the bytes mapped at `address` (FileBacked checked).
  std::uint64_t FileOffset(std::uint64_t address) const {
    const Phdr* s = FileBacked(address, 0);
    return s->p_offset + (address - s->p_vaddr);
  }
  template <typename T>
  bool ReadTable(std::uint64_t offset, std::uint64_t count, std::vector<T>& out) const {
    // Callers have checked count * sizeof(T) bytes lie inside the file.
    out.assign(static_cast<std::size_t>(count), T{});
    return count == 0 || ReadAt(fd_, out.data(), out.size() * sizeof(T), offset);
  }
  // A table the loader reads at `address`: `length` bytes inside a loadable
  // segment's file bytes.
  std::string TableProblem(const std::string& what, std::uint64_t address,
                           std::uint64_t length) const {
    if (FileBacked(address, length)) return "";
    return what + " (" + std::to_string(length) + " bytes at address " + Hex(address) +
           ") lies outside every loadable segment";
  }
  // The string at `offset` of the dynamic string table ends inside it.
  std::string StringProblem(const std::string& what, std::uint64_t offset) const {
    if (offset < strings_.size() &&
        std::find(strings_.begin() + static_cast<std::ptrdiff_t>(offset), strings_.end(), '\0') !=
            strings_.end())
      return "";
    return what + " names string " + std::to_string(offset) +
           ", which does not end inside the dynamic string table (" +
           std::to_string(strings_.size()) + " bytes)";
  }

  std::string CheckProgramHeaders() {
    // Every address is looked up among the loadable segments; a library has
    // a handful.
    const auto loads = std::count_if(segments_.begin(), segments_.end(),
                                     [](const Phdr& s) { return s.p_type == PT_LOAD; });
    if (loads > kMaxLoadSegments)
      return "it has " + std::to_string(loads) + " loadable segments; a plug-in has at most " +
             std::to_string(kMaxLoadSegments);
    const Phdr* dynamic = nullptr;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
      const Phdr& s = segments_[i];
      if (s.p_type == PT_INTERP)
        return "it names a program interpreter (PT_INTERP, segment " + std::to_string(i) +
               "): it is a program, not a plug-in library";
      if (s.p_type != PT_DYNAMIC) continue;
      if (dynamic) return "it has more than one dynamic segment (PT_DYNAMIC)";
      dynamic = &s;
      const std::string name = "the dynamic segment (segment " + std::to_string(i) + ")";
      if (!Inside(s.p_offset, s.p_filesz, 0, size_)) {
        std::uint64_t end = 0;
        if (__builtin_add_overflow(std::uint64_t{s.p_offset}, std::uint64_t{s.p_filesz}, &end))
          return "truncated: " + name + " starts at byte " + std::to_string(s.p_offset) + " of " +
                 std::to_string(size_);
        return Truncated(name, end, size_);
      }
      const Phdr* load = FileBacked(s.p_vaddr, s.p_filesz);
      if (!load || load->p_offset + (s.p_vaddr - load->p_vaddr) != s.p_offset)
        return name + " (address " + Hex(s.p_vaddr) + ", byte " + std::to_string(s.p_offset) +
               ") does not lie inside a loadable segment";
      if (s.p_filesz < sizeof(Dyn)) return name + " is empty";
      // The loader writes the load address into a dynamic segment marked
      // writable; in a read-only mapping that write faults.
      if ((s.p_flags & PF_W) != 0 && (load->p_flags & PF_W) == 0)
        return name + " is marked writable, but the loadable segment holding it is read-only";
    }
    if (!dynamic) return "no dynamic segment (PT_DYNAMIC): it is not a shared library";
    dynamic_ = *dynamic;
    return "";
  }

  std::string ReadDynamic() {
    std::vector<Dyn> all;
    if (!ReadTable(dynamic_.p_offset, dynamic_.p_filesz / sizeof(Dyn), all))
      return "cannot read the dynamic segment";
    // The loader reads up to DT_NULL and no further.
    const auto end = std::find_if(all.begin(), all.end(), [](const Dyn& d) { return d.d_tag == DT_NULL; });
    if (end == all.end()) return "the dynamic segment does not end with DT_NULL";
    entries_.assign(all.begin(), end);
    return "";
  }

  // The value of the last entry with `tag` (the loader keeps the last), or 0.
  bool Value(std::int64_t tag, std::uint64_t& out) const {
    bool found = false;
    for (const Dyn& d : entries_)
      if (d.d_tag == tag) out = d.d_un.d_val, found = true;
    return found;
  }
  std::uint64_t ValueOr(std::int64_t tag, std::uint64_t fallback) const {
    std::uint64_t v = fallback;
    Value(tag, v);
    return v;
  }

  std::string CheckDynamicEntries() {
    // Entry sizes first: the tables below are read with them.
    const std::pair<std::int64_t, std::uint64_t> sizes[] = {
        {DT_SYMENT, sizeof(Sym)}, {DT_RELAENT, sizeof(Rela)}, {DT_RELENT, sizeof(Rel)}};
    for (const auto& [tag, expected] : sizes) {
      std::uint64_t v = 0;
      if (Value(tag, v) && v != expected)
        return std::string("dynamic entry ") + TagName(tag) + " is " + std::to_string(v) +
               "; this host's is " + std::to_string(expected);
    }
    std::uint64_t pltrel = 0;
    if (Value(DT_PLTREL, pltrel) && pltrel != DT_RELA && pltrel != DT_REL)
      return "dynamic entry DT_PLTREL is " + std::to_string(pltrel) + ", neither DT_REL nor DT_RELA";

    std::uint64_t strtab = 0, symtab = 0;
    if (!Value(DT_STRTAB, strtab) || !Value(DT_SYMTAB, symtab))
      return "no dynamic symbol table (DT_SYMTAB and DT_STRTAB)";
    // Tables with their lengths, then single addresses.
    const std::pair<std::int64_t, std::int64_t> ranges[] = {
        {DT_STRTAB, DT_STRSZ},          {DT_RELA, DT_RELASZ},
        {DT_REL, DT_RELSZ},             {DT_JMPREL, DT_PLTRELSZ},
        {DT_INIT_ARRAY, DT_INIT_ARRAYSZ}, {DT_FINI_ARRAY, DT_FINI_ARRAYSZ},
        {DT_PREINIT_ARRAY, DT_PREINIT_ARRAYSZ}, {DT_RELR, DT_RELRSZ}};
    for (const auto& [tag, sizeTag] : ranges) {
      std::uint64_t address = 0;
      const bool has = Value(tag, address);
      const std::uint64_t length = ValueOr(sizeTag, 0);
      if (!has) continue;
      std::string problem = TableProblem(std::string("dynamic entry ") + TagName(tag) + " (with " +
                                             TagName(sizeTag) + ")",
                                         address, length);
      if (!problem.empty()) return problem;
    }
    const std::pair<std::int64_t, std::uint64_t> points[] = {
        {DT_SYMTAB, sizeof(Sym)}, {DT_PLTGOT, sizeof(ElfW(Addr))}, {DT_HASH, 8},
        {DT_GNU_HASH, 16},        {DT_INIT, 1},                   {DT_FINI, 1},
        {DT_VERSYM, 2},           {DT_VERDEF, sizeof(ElfW(Verdef))},
        {DT_VERNEED, sizeof(ElfW(Verneed))}};
    for (const auto& [tag, length] : points) {
      std::uint64_t address = 0;
      if (!Value(tag, address)) continue;
      std::string problem = TableProblem(std::string("dynamic entry ") + TagName(tag), address, length);
      if (!problem.empty()) return problem;
    }

    const std::uint64_t strsz = ValueOr(DT_STRSZ, 0);
    if (!ReadTable(FileOffset(strtab), strsz, strings_)) return "cannot read the dynamic string table";
    for (const Dyn& d : entries_) {
      if (d.d_tag == DT_NEEDED || d.d_tag == DT_SONAME || d.d_tag == DT_RPATH || d.d_tag == DT_RUNPATH) {
        std::string problem = StringProblem(std::string("dynamic entry ") + TagName(d.d_tag), d.d_un.d_val);
        if (!problem.empty()) return problem;
      }
    }
    std::string problem = CheckHashTables();
    if (problem.empty()) problem = CheckVersionNeeds();
    if (problem.empty()) problem = CheckVersionDefinitions();
    return problem;
  }

  template <typename T>
  bool ReadAtAddress(std::uint64_t address, T& out) const {
    return FileBacked(address, sizeof(T)) && ReadAt(fd_, &out, sizeof(T), FileOffset(address));
  }

  std::string CheckHashTables() const {
    std::uint64_t address = 0;
    if (Value(DT_HASH, address)) {
      std::uint32_t counts[2] = {0, 0};  // buckets, chains
      if (!ReadAtAddress(address, counts)) return "cannot read the DT_HASH table";
      const std::uint64_t bytes = 8 + 4 * (std::uint64_t{counts[0]} + counts[1]);
      std::string problem = TableProblem("the DT_HASH table", address, bytes);
      if (!problem.empty()) return problem;
    }
    if (Value(DT_GNU_HASH, address)) {
      std::uint32_t head[4] = {0, 0, 0, 0};  // buckets, first symbol, bloom words, shift
      if (!ReadAtAddress(address, head)) return "cannot read the DT_GNU_HASH table";
      const std::uint64_t bytes =
          16 + std::uint64_t{head[2]} * sizeof(ElfW(Addr)) + 4 * std::uint64_t{head[0]};
      std::string problem = TableProblem("the DT_GNU_HASH table", address, bytes);
      if (!problem.empty()) return problem;
    }
    return "";
  }

  // The version needs and definitions are chains of records, each linked to
  // the next by an offset, 0 ending the chain, as the loader walks them:
  // every record and every name must be inside. A plug-in has a few; a
  // chain longer than kMaxVersionRecords is refused rather than walked.
  static constexpr int kMaxVersionRecords = 4096;

  template <typename Record, typename Aux>
  std::string CheckVersionChain(std::int64_t tag, const std::string& what) const {
    std::uint64_t address = 0;
    if (!Value(tag, address)) return "";
    int records = 0;
    for (std::uint64_t i = 0;; ++i) {
      Record record{};
      if (++records > kMaxVersionRecords)
        return "the " + what + " chain holds more than " + std::to_string(kMaxVersionRecords) + " records";
      const std::string name = what + " " + std::to_string(i);
      if (!ReadAtAddress(address, record)) return name + " lies outside every loadable segment";
      std::uint64_t aux = address + AuxOffset(record);
      // The loader reads the first entry of every record, then follows
      // the entries' own links.
      for (;;) {
        Aux entry{};
        if (++records > kMaxVersionRecords)
          return "the " + what + " chain holds more than " + std::to_string(kMaxVersionRecords) + " records";
        if (!ReadAtAddress(aux, entry)) return name + " has an entry outside every loadable segment";
        std::string problem = StringProblem(name, AuxName(entry));
        if (!problem.empty()) return problem;
        if (AuxNext(entry) == 0) break;
        aux += AuxNext(entry);
      }
      if (Next(record) == 0) return "";
      address += Next(record);
    }
  }
  static std::uint64_t AuxOffset(const ElfW(Verneed)& r) { return r.vn_aux; }
  static std::uint64_t Next(const ElfW(Verneed)& r) { return r.vn_next; }
  static std::uint64_t AuxName(const ElfW(Vernaux)& a) { return a.vna_name; }
  static std::uint64_t AuxNext(const ElfW(Vernaux)& a) { return a.vna_next; }
  static std::uint64_t AuxOffset(const ElfW(Verdef)& r) { return r.vd_aux; }
  static std::uint64_t Next(const ElfW(Verdef)& r) { return r.vd_next; }
  static std::uint64_t AuxName(const ElfW(Verdaux)& a) { return a.vda_name; }
  static std::uint64_t AuxNext(const ElfW(Verdaux)& a) { return a.vda_next; }

  std::string CheckVersionNeeds() const {
    std::string problem = CheckVersionChain<ElfW(Verneed), ElfW(Vernaux)>(DT_VERNEED, "version need");
    if (!problem.empty()) return problem;
    // The file each need names.
    std::uint64_t address = 0;
    if (!Value(DT_VERNEED, address)) return "";
    for (int i = 0; i < kMaxVersionRecords; ++i) {
      ElfW(Verneed) need{};
      ReadAtAddress(address, need);
      problem = StringProblem("version need " + std::to_string(i), need.vn_file);
      if (!problem.empty() || need.vn_next == 0) return problem;
      address += need.vn_next;
    }
    return "";
  }

  std::string CheckVersionDefinitions() const {
    return CheckVersionChain<ElfW(Verdef), ElfW(Verdaux)>(DT_VERDEF, "version definition");
  }

  // One section header's bytes: inside the file and, when it has bytes in the
  // file, mapped by a loadable segment at its address.
  std::string SectionProblem(std::size_t index, const std::string& what) const {
    const Shdr& s = sections_[index];
    const std::string name = what + " (section " + std::to_string(index) + ")";
    if (s.sh_type == SHT_NOBITS) return name + " has no bytes in the file";
    if (!Inside(s.sh_offset, s.sh_size, 0, size_)) {
      std::uint64_t end = 0;
      if (__builtin_add_overflow(std::uint64_t{s.sh_offset}, std::uint64_t{s.sh_size}, &end))
        return "truncated: " + name + " starts at byte " + std::to_string(s.sh_offset) + " of " +
               std::to_string(size_);
      return Truncated(name, end, size_);
    }
    const Phdr* load = FileBacked(s.sh_addr, s.sh_size);
    if (!load || load->p_offset + (s.sh_addr - load->p_vaddr) != s.sh_offset)
      return name + " (address " + Hex(s.sh_addr) + ", byte " + std::to_string(s.sh_offset) +
             ") does not lie inside a loadable segment";
    return "";
  }

  std::string ReadSections() {
    if (header_.e_shnum == 0 || header_.e_shoff == 0)
      return "no section headers: the SDK version it was built against cannot be read";
    if (header_.e_shentsize != sizeof(Shdr))
      return "bad section header size " + std::to_string(header_.e_shentsize) + " (expected " +
             std::to_string(sizeof(Shdr)) + ")";
    const std::uint64_t tableBytes = std::uint64_t{header_.e_shnum} * sizeof(Shdr);
    if (!Inside(header_.e_shoff, tableBytes, 0, size_)) {
      std::uint64_t end = 0;
      if (__builtin_add_overflow(std::uint64_t{header_.e_shoff}, tableBytes, &end))
        return "truncated: the section header table starts at byte " +
               std::to_string(header_.e_shoff) + " of " + std::to_string(size_);
      return Truncated("the section header table", end, size_);
    }
    if (!ReadTable(header_.e_shoff, header_.e_shnum, sections_)) return "cannot read the section headers";

    std::size_t dynsym = 0;
    for (std::size_t i = 1; i < sections_.size(); ++i) {
      if (sections_[i].sh_type != SHT_DYNSYM) continue;
      if (dynsym != 0) return "it has more than one dynamic symbol table section (.dynsym)";
      dynsym = i;
    }
    if (dynsym == 0) return "no dynamic symbol table section (.dynsym)";
    const Shdr& table = sections_[dynsym];
    if (table.sh_entsize != sizeof(Sym) || table.sh_size % sizeof(Sym) != 0)
      return ".dynsym (section " + std::to_string(dynsym) + ") has entries of " +
             std::to_string(table.sh_entsize) + " bytes and " + std::to_string(table.sh_size) +
             " bytes in all; this host's symbols are " + std::to_string(sizeof(Sym)) + " bytes";
    std::string problem = SectionProblem(dynsym, ".dynsym");
    if (!problem.empty()) return problem;
    if (table.sh_link == 0 || table.sh_link >= sections_.size() ||
        sections_[table.sh_link].sh_type != SHT_STRTAB)
      return ".dynsym (section " + std::to_string(dynsym) + ") links to section " +
             std::to_string(table.sh_link) + ", which is not a string table";
    problem = SectionProblem(table.sh_link, "the string table of .dynsym");
    if (!problem.empty()) return problem;
    // What is read here must be what the loader reads.
    const Shdr& names = sections_[table.sh_link];
    if (table.sh_addr != ValueOr(DT_SYMTAB, 0) || names.sh_addr != ValueOr(DT_STRTAB, 0))
      return ".dynsym and its string table are not the tables of DT_SYMTAB and DT_STRTAB";
    if (names.sh_size != strings_.size())
      return "the string table of .dynsym holds " + std::to_string(names.sh_size) +
             " bytes, DT_STRSZ " + std::to_string(strings_.size());
    if (!ReadTable(table.sh_offset, table.sh_size / sizeof(Sym), symbols_))
      return "cannot read .dynsym";
    return "";
  }

  // Relocations are applied by the loader before any code runs: each must
  // write inside the mapped image and name a symbol of .dynsym.
  template <typename R>
  std::string CheckRelocationTable(std::int64_t tag, std::uint64_t length) const {
    std::uint64_t address = 0;
    if (!Value(tag, address) || length == 0) return "";
    std::uint64_t flags = 0;
    const bool text = Value(DT_TEXTREL, flags) || (Value(DT_FLAGS, flags) && (flags & DF_TEXTREL) != 0);
    std::vector<R> table;
    if (!ReadTable(FileOffset(address), length / sizeof(R), table))
      return std::string("cannot read the relocations of ") + TagName(tag);
    for (std::size_t i = 0; i < table.size(); ++i) {
      const R& r = table[i];
      const std::uint64_t symbol = RelocationSymbol(r.r_info);
      if (!Writable(r.r_offset, sizeof(ElfW(Addr)), text))
        return std::string("relocation ") + std::to_string(i) + " of " + TagName(tag) +
               " writes at address " + Hex(r.r_offset) + ", outside every writable loadable segment";
      if (symbol >= symbols_.size())
        return std::string("relocation ") + std::to_string(i) + " of " + TagName(tag) +
               " names symbol " + std::to_string(symbol) + " of " + std::to_string(symbols_.size());
    }
    return "";
  }

  std::string CheckRelocations() const {
    std::string problem = CheckRelocationTable<Rela>(DT_RELA, ValueOr(DT_RELASZ, 0));
    if (problem.empty()) problem = CheckRelocationTable<Rel>(DT_REL, ValueOr(DT_RELSZ, 0));
    if (!problem.empty()) return problem;
    const std::uint64_t plt = ValueOr(DT_PLTRELSZ, 0);
    return ValueOr(DT_PLTREL, DT_RELA) == DT_REL ? CheckRelocationTable<Rel>(DT_JMPREL, plt)
                                                 : CheckRelocationTable<Rela>(DT_JMPREL, plt);
  }

  std::string ReadVersion(SdkVersionExport& version) const {
    version = SdkVersionExport();
    const std::string wanted = XSI_SDK_VERSION_SYMBOL;
    for (std::size_t i = 1; i < symbols_.size(); ++i) {
      const Sym& s = symbols_[i];
      if (s.st_shndx == SHN_UNDEF || s.st_name >= strings_.size()) continue;
      if (strings_.size() - s.st_name <= wanted.size() ||
          std::memcmp(strings_.data() + s.st_name, wanted.c_str(), wanted.size() + 1) != 0)
        continue;
      const std::string name = std::string(XSI_SDK_VERSION_SYMBOL) + " (symbol " + std::to_string(i) + ")";
      if (s.st_shndx >= sections_.size())
        return name + " is in section " + std::to_string(s.st_shndx) + ", which the file does not have";
      version.found = true;
      version.bytes = s.st_size;
      if (s.st_size < 2 * sizeof(unsigned int)) return "";
      std::string problem = SectionProblem(s.st_shndx, "the section of " + name);
      if (!problem.empty()) return problem;
      const Shdr& data = sections_[s.st_shndx];
      if (!Inside(s.st_value, 2 * sizeof(unsigned int), data.sh_addr, data.sh_size))
        return name + " at address " + Hex(s.st_value) + " lies outside its section " +
               std::to_string(s.st_shndx);
      unsigned int numbers[2] = {0, 0};
      if (!ReadAt(fd_, numbers, sizeof numbers, data.sh_offset + (s.st_value - data.sh_addr)))
        return "cannot read " + name;
      version.major = numbers[0];
      version.minor = numbers[1];
      return "";
    }
    return "";
  }

  int fd_;
  std::uint64_t size_;
  Ehdr header_;
  std::vector<Phdr> segments_;
  Phdr dynamic_{};
  std::vector<Dyn> entries_;
  std::vector<char> strings_;
  std::vector<Shdr> sections_;
  std::vector<Sym> symbols_;
};

}  // namespace

std::string FindSharedObjectProblem(const std::string& path, SdkVersionExport* version) {
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
  problem = CheckSegments(segments, size);
  if (!problem.empty()) return problem;
  SdkVersionExport found;
  problem = ElfImage(fd.get(), size, header, std::move(segments)).Check(found);
  if (problem.empty() && version) *version = found;
  return problem;
}

}  // namespace host
