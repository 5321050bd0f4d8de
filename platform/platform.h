// The probe's small OS layer: library loading, sleep, tick count, fault-tolerant
// reads of memory that the camera libraries own, and file output.
// One implementation per OS: platform_win.cpp and platform_linux.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Libraries -------------------------------------------------------------

// Adds dir to the library search path. Windows: SetDllDirectoryA. Linux: the
// directory searched after the executable's own directory (the order Windows
// gives a program that called SetDllDirectoryA). The result is ignored.
void plat_set_library_dir(const char* dir);

// Loads a library by file name ("ThermalSDK.dll"); null when it does not load.
// Linux looks in the executable's directory first, then in the set directory.
void* plat_load_library(const char* name);

// Entry point of an export, or null when the library does not export it.
void* plat_find_export(void* lib, const char* name);

// ---- Time ------------------------------------------------------------------

void plat_sleep_ms(uint32_t ms);

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t plat_tick_ms();

// ---- Fault-tolerant reads of foreign memory ---------------------------------

// Copies up to len bytes from address src into dst and returns how many leading
// bytes could be read: len when the whole range is readable, less when the range
// runs into memory that is unmapped, reserved, no-access or a guard page (those
// bytes of dst are left untouched). Never faults, never changes the source.
size_t plat_read_memory(void* dst, uintptr_t src, size_t len);

// One region of an address space as the OS describes it, for the pure clipping
// rule below (Windows: from VirtualQuery).
struct PlatRegion {
    uintptr_t base;
    size_t size;
    bool readable;  // committed, readable protection, not no-access, not guard
};

// How many leading bytes of [addr, addr + len) lie in readable regions, given
// regions sorted by base. A gap between regions ends the readable prefix.
size_t plat_clip_readable(const PlatRegion* regions, size_t count, uintptr_t addr, size_t len);

// ---- File output -------------------------------------------------------------

// Path separator that joins the output directory and a file name.
extern const char plat_path_sep;

// A file opened for writing: creates it or empties it (binary, like fopen "wb").
// plat_file_create returns PLAT_NO_FILE when the open fails.
typedef intptr_t PlatFile;
const PlatFile PLAT_NO_FILE = -1;
PlatFile plat_file_create(const char* path);

// Writes all n bytes; false when the OS stored fewer.
bool plat_file_write(PlatFile f, const void* data, size_t n);

// Closes the file; false when the close reports an error.
bool plat_file_close(PlatFile f);

// Text of the last failed OS call of this thread (errno or GetLastError), without
// a trailing line break, into buf of len bytes.
void plat_error_text(char* buf, size_t len);
