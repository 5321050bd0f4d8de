// Dump files: naming, the writer save, the direct route, and the accounting of
// files that could not be written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

const size_t PREFIX_BYTES = 64;
const size_t NAME_BYTES = 128;
const size_t PATH_BYTES = 512;

// "pair_%03d" of the pair index into prefix (PREFIX_BYTES).
void make_pair_prefix(char* prefix, int32_t pair);

// A file's name from its format (such as "%s.gray") and the pair prefix, into name (NAME_BYTES).
void make_dump_name(char* name, const char* format, const char* prefix);

// g_dir, the separator and name into path (PATH_BYTES). False when the join does
// not fit: a cut path could name another file, so it is never used.
bool join_dump_path(char* path, const char* name);

// Writes n bytes of the probe's own memory to name in the output directory.
void save(const char* name, const void* data, size_t n);

// Writes n bytes of library memory at addr to name in the output directory. The
// file holds the bytes up to the first unreadable one; a shortfall is reported.
void save_library(const char* name, uintptr_t addr, size_t n);

// The direct route: a file opened by its bare name in the current directory.
// direct_open returns PLAT_NO_FILE when it fails (the failure is accounted).
PlatFile direct_open(const char* name);
void direct_write(PlatFile f, const char* name, const void* data, size_t n);
void direct_close(PlatFile f, const char* name);

// Reports the dump files of the pair that could not be written: one line per
// cause, with the count and one of the paths. Called at the end of every pair.
void report_dump_failures();
