#!/usr/bin/env python3
"""Writes the smallest plug-in file the loader's ELF checks accept (x86-64):
one loadable segment, a dynamic segment with a symbol, string and hash
table, and section headers for .dynsym, .dynstr and the SDK version's data.
A seed for fuzz_elf: every structure the checks read is present once.
    python3 tests/fuzz/make_elf_seed.py tests/fuzz/corpus/elf/minimal.so [MAJOR MINOR]
"""
import struct
import sys

out = sys.argv[1]
major, minor = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (2, 0)

EHDR, PHDR, SHDR, DYN, SYM = 64, 56, 64, 16, 24
phoff = EHDR
dyn_off = phoff + 2 * PHDR
dyn = [(4, 0), (5, 0), (6, 0), (10, 0), (11, SYM), (0, 0)]  # HASH STRTAB SYMTAB STRSZ SYMENT NULL
hash_off = dyn_off + len(dyn) * DYN
hash_bytes = struct.pack("<5I", 1, 2, 1, 0, 0)
sym_off = (hash_off + len(hash_bytes) + 7) & ~7
dynstr = b"\0XSIPluginSDKVersion\0"
str_off = sym_off + 2 * SYM
data_off = (str_off + len(dynstr) + 7) & ~7
shstr = b"\0.dynsym\0.dynstr\0.rodata\0.shstrtab\0"
shstr_off = data_off + 8
sh_off = (shstr_off + len(shstr) + 7) & ~7
size = sh_off + 5 * SHDR
dyn = [(4, hash_off), (5, str_off), (6, sym_off), (10, len(dynstr)), (11, SYM), (0, 0)]

b = bytearray(size)
b[0:16] = b"\x7fELF" + bytes([2, 1, 1]) + bytes(9)
struct.pack_into("<HHIQQQIHHHHHH", b, 16, 3, 62, 1, 0, phoff, sh_off, 0, EHDR, PHDR, 2, SHDR, 5, 4)
struct.pack_into("<IIQQQQQQ", b, phoff, 1, 6, 0, 0, 0, size, size, 0x1000)          # PT_LOAD, RW
struct.pack_into("<IIQQQQQQ", b, phoff + PHDR, 2, 6, dyn_off, dyn_off, dyn_off,      # PT_DYNAMIC
                 len(dyn) * DYN, len(dyn) * DYN, 8)
for i, (tag, val) in enumerate(dyn):
    struct.pack_into("<qQ", b, dyn_off + i * DYN, tag, val)
b[hash_off:hash_off + len(hash_bytes)] = hash_bytes
struct.pack_into("<IBBHQQ", b, sym_off + SYM, 1, (1 << 4) | 1, 0, 3, data_off, 8)  # GLOBAL OBJECT in .rodata
b[str_off:str_off + len(dynstr)] = dynstr
struct.pack_into("<II", b, data_off, major, minor)
b[shstr_off:shstr_off + len(shstr)] = shstr
sections = [
    (0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
    (1, 11, 2, sym_off, sym_off, 2 * SYM, 2, 1, 8, SYM),           # .dynsym -> .dynstr
    (9, 3, 2, str_off, str_off, len(dynstr), 0, 0, 1, 0),         # .dynstr
    (17, 1, 2, data_off, data_off, 8, 0, 0, 4, 0),                # .rodata
    (25, 3, 0, 0, shstr_off, len(shstr), 0, 0, 1, 0),             # .shstrtab
]
for i, s in enumerate(sections):
    struct.pack_into("<IIQQQQIIQQ", b, sh_off + i * SHDR, *s)
open(out, "wb").write(bytes(b))
