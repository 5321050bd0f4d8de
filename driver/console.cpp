#include "driver/console.h"

#include <cstdarg>
#include <cstdio>

int32_t g_diag_pair = -1;

PtrText ptr_text(uint64_t value)
{
    static const char digits[] = "0123456789abcdef";
    PtrText t;
    for (int i = 15; i >= 0; --i) {
        t.s[i] = digits[value & 0xF];
        value >>= 4;
    }
    t.s[16] = '\0';
    return t;
}

void diag(const char* fmt, ...)
{
    char line[768];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    // One write per line so the line stays whole beside standard output.
    if (g_diag_pair >= 0)
        fprintf(stderr, "irprobe: pair %d: %s\n", (int)g_diag_pair, line);
    else
        fprintf(stderr, "irprobe: %s\n", line);
    fflush(stderr);
}
