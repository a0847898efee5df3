// Checks a plug-in file before it is handed to dlopen.
//
// dlopen maps a library's segments straight from the file; a segment that
// runs past the end of a truncated file faults (SIGBUS) on first touch and
// takes the whole host down, and a FIFO blocks dlopen forever. So before
// opening a library the loader makes sure that the file is a regular file
// holding an ELF shared object (ET_DYN) of this process's class, byte order
// and machine, and that the program header table and every segment's file
// range lie inside the file. Headers are read with pread and bounds checks,
// never mapped.
//
// dlopen also runs the library's static initialisers before the host could
// look at anything through dlsym, so everything the host must know before
// any of the plug-in's code runs is read from the file here:
//  - no program interpreter (PT_INTERP): a program is not a plug-in;
//  - the dynamic segment (PT_DYNAMIC) lies inside the file and inside a
//    loadable segment, ends with DT_NULL, and every entry the system loader
//    reads (string, symbol, hash, version and relocation tables, init and
//    fini code and arrays) lies inside a loadable segment's bytes; strings
//    it names lie inside the string table; relocations write inside the
//    mapped image and name symbols that exist;
//  - the section headers used here (.dynsym, its string table and the
//    section holding the SDK version) lie inside the file and inside a
//    loadable segment, and .dynsym and its strings are the tables the loader
//    uses (DT_SYMTAB, DT_STRTAB);
//  - the SDK version export XSIPluginSDKVersion, read from .dynsym and the
//    bytes of its section.
//
// Returns an empty string when the file passes, otherwise what is wrong, as
// the tail of a message: "truncated: segment 2 ends at byte 8192 of 4000".
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace host {

// The plug-in's XSIPluginSDKVersion export as the file holds it.
struct SdkVersionExport {
  bool found = false;       // defined in the file's dynamic symbol table
  std::uint64_t bytes = 0;  // the size the symbol table gives it
  unsigned major = 0, minor = 0;  // read when it holds two unsigned ints
};

// Checks `path` as above. When it passes and `version` is given, *version
// holds the SDK version export (found or not).
std::string FindSharedObjectProblem(const std::string& path, SdkVersionExport* version = nullptr);

}  // namespace host
