// Console helpers: pointers in the probe's fixed form, and the diagnostic lines
// that go to standard error (standard output carries only the report).
#pragma once

#include <cstdint>

// A pointer as exactly 16 lowercase hexadecimal digits, zero-filled, no prefix.
// The C runtimes print %p differently, so the probe formats pointers itself.
struct PtrText {
    char s[17];
};
PtrText ptr_text(uint64_t value);
inline PtrText ptr_text(const void* p) { return ptr_text((uint64_t)(uintptr_t)p); }

// Pair the diagnostics belong to, -1 outside the pair loop.
extern int32_t g_diag_pair;

// One line on standard error, printf-style, line break added. It starts with
// "irprobe: " and, inside the pair loop, "pair N: ".
#ifdef __MINGW32__
#define DIAG_FORMAT gnu_printf  // the MinGW C99 printf, which the build selects
#else
#define DIAG_FORMAT printf
#endif
void diag(const char* fmt, ...) __attribute__((format(DIAG_FORMAT, 1, 2)));
