#include "dump/dump_writer.h"

#include <cstdio>
#include <cstring>

#include "driver/console.h"
#include "driver/probe_config.h"

// Library blocks are copied through this buffer piece by piece, so a block of any
// size is written without an allocation and stops at its first unreadable byte.
static const size_t CHUNK_BYTES = 1 << 20;
static uint8_t g_chunk[CHUNK_BYTES];

// Failures of the current pair, grouped by cause.
struct DumpFailure {
    char reason[160];
    char first_path[PATH_BYTES];
    int count;
};
static const int MAX_CAUSES = 4;
static DumpFailure g_failures[MAX_CAUSES];
static int g_failure_causes;
static int g_failures_uncounted;

static void note_failure(const char* path, const char* action, const char* reason_text)
{
    char reason[160];
    if (reason_text)
        snprintf(reason, sizeof reason, "%s", reason_text);
    else {
        char os_text[128];
        plat_error_text(os_text, sizeof os_text);
        snprintf(reason, sizeof reason, "%s failed: %s", action, os_text);
    }
    for (int i = 0; i < g_failure_causes; ++i) {
        if (strcmp(g_failures[i].reason, reason) == 0) {
            ++g_failures[i].count;
            return;
        }
    }
    if (g_failure_causes == MAX_CAUSES) {
        ++g_failures_uncounted;
        return;
    }
    DumpFailure* f = &g_failures[g_failure_causes++];
    snprintf(f->reason, sizeof f->reason, "%s", reason);
    snprintf(f->first_path, sizeof f->first_path, "%s", path);
    f->count = 1;
}

void report_dump_failures()
{
    for (int i = 0; i < g_failure_causes; ++i) {
        const DumpFailure* f = &g_failures[i];
        if (f->count == 1)
            diag("dump file %s not written: %s", f->first_path, f->reason);
        else
            diag("%d dump files not written (%s and others): %s", f->count, f->first_path, f->reason);
    }
    if (g_failures_uncounted)
        diag("%d more dump files not written for other causes", g_failures_uncounted);
    g_failure_causes = 0;
    g_failures_uncounted = 0;
}

void make_pair_prefix(char* prefix, int32_t pair)
{
    snprintf(prefix, PREFIX_BYTES, "pair_%03d", (int)pair);
}

void make_dump_name(char* name, const char* format, const char* prefix)
{
    snprintf(name, NAME_BYTES, format, prefix);
}

bool join_dump_path(char* path, const char* name)
{
    int n = snprintf(path, PATH_BYTES, "%s%c%s", g_dir, plat_path_sep, name);
    return n >= 0 && (size_t)n < PATH_BYTES;
}

// Opens the dump file at path, or accounts for the failure.
static PlatFile open_dump(const char* path)
{
    PlatFile f = plat_file_create(path);
    if (f == PLAT_NO_FILE)
        note_failure(path, "open", nullptr);
    return f;
}

static bool write_dump(PlatFile f, const char* path, const void* data, size_t n)
{
    if (plat_file_write(f, data, n))
        return true;
    note_failure(path, "write", nullptr);
    return false;
}

static void close_dump(PlatFile f, const char* path)
{
    if (!plat_file_close(f))
        note_failure(path, "close", nullptr);
}

// Joins the output directory and name into path and opens the file there, or
// accounts for the failure: a path that does not fit is refused, since the cut
// path could name another file (reported by the name within the directory).
static PlatFile open_in_dir(char* path, const char* name)
{
    if (!join_dump_path(path, name)) {
        note_failure(name, "join", "path longer than 511 characters, not opened");
        return PLAT_NO_FILE;
    }
    return open_dump(path);
}

void save(const char* name, const void* data, size_t n)
{
    char path[PATH_BYTES];
    PlatFile f = open_in_dir(path, name);
    if (f == PLAT_NO_FILE)
        return;
    write_dump(f, path, data, n);
    close_dump(f, path);
}

void save_library(const char* name, uintptr_t addr, size_t n)
{
    char path[PATH_BYTES];
    PlatFile f = open_in_dir(path, name);
    if (f == PLAT_NO_FILE)
        return;
    size_t done = 0;
    while (done < n) {
        size_t want = n - done < CHUNK_BYTES ? n - done : CHUNK_BYTES;
        size_t got = plat_read_memory(g_chunk, addr + done, want);
        if (got && !write_dump(f, path, g_chunk, got))
            break;
        done += got;
        if (got < want) {
            diag("%s: library memory at 0x%s: %zu of %zu bytes readable", name, ptr_text(addr).s, done, n);
            break;
        }
    }
    close_dump(f, path);
}

PlatFile direct_open(const char* name)
{
    return open_dump(name);
}

void direct_write(PlatFile f, const char* name, const void* data, size_t n)
{
    write_dump(f, name, data, n);
}

void direct_close(PlatFile f, const char* name)
{
    close_dump(f, name);
}
