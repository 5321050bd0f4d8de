// plat_read_memory against memcpy of the same bytes on Windows (run under
// Wine), timed with QueryPerformanceCounter: the same block sizes as
// bench_read, plus a 4-byte read, the size of most single fields the probe
// reads. The read and memcpy run in turns over the same buffers, which one
// goes first alternating, and the ratio is read time / memcpy time.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef size_t (*ReadFn)(void*, uintptr_t, size_t);

static double g_tick_s;  // seconds per performance-counter tick

static double now_s()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * g_tick_s;
}

static size_t memcpy_read(void* dst, uintptr_t src, size_t len)
{
    memcpy(dst, reinterpret_cast<const void*>(src), len);
    return len;
}

// Runs `read` and memcpy in turns for about `budget_s` seconds; prints the mean
// time of each per call and their ratio.
static void measure(const char* name, ReadFn read, size_t size, double budget_s)
{
    char* src = (char*)VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    char* dst = (char*)VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (src == nullptr || dst == nullptr) {
        printf("%-22s %9zu  allocation failed\n", name, size);
        return;
    }
    for (size_t i = 0; i < size; i++)
        src[i] = (char)(i * 7);
    memset(dst, 0, size);

    double read_s = 0, copy_s = 0;
    long calls = 0;
    bool short_read = false;
    double end = now_s() + budget_s;
    while (now_s() < end) {
        for (int turn = 0; turn < 2; turn++) {
            bool reading = (turn == 0) == (calls % 2 == 0);
            double t0 = now_s();
            size_t n = (reading ? read : memcpy_read)(dst, (uintptr_t)src, size);
            double s = now_s() - t0;
            (reading ? read_s : copy_s) += s;
            short_read |= n != size;
        }
        calls++;
    }
    printf("%-22s %9zu  %12.3f us  memcpy %10.3f us  ratio %6.2f%s\n", name, size, read_s / calls * 1e6,
           copy_s / calls * 1e6, read_s / copy_s, short_read ? "  SHORT READ" : "");
    VirtualFree(src, 0, MEM_RELEASE);
    VirtualFree(dst, 0, MEM_RELEASE);
}

int main()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_tick_s = 1.0 / (double)f.QuadPart;

    const size_t sizes[] = {4, 64 * 1024, 320 * 240 * 3, 1000 * 1000, 8 * 1024 * 1024};
    printf("%-22s %9s  %15s  %17s\n", "reader", "bytes", "per call", "memcpy per call");
    for (size_t size : sizes) {
        measure("plat_read_memory", plat_read_memory, size, 0.5);
        measure("plat_copy_recovering", plat_copy_recovering, size, 0.5);
    }
    fflush(stdout);
    return 0;
}
