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
// Returns an empty string when the file passes, otherwise what is wrong, as
// the tail of a message: "truncated: segment 2 ends at byte 8192 of 4000".
#pragma once

#include <sys/types.h>

#include <string>

namespace host {

std::string FindSharedObjectProblem(const std::string& path);

}  // namespace host
