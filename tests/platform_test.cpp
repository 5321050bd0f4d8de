// Tests of the platform layer: fault-tolerant reads against real bad memory,
// the region clipping rule, library loading, file output, tick and sleep.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// ---- Memory layouts ----------------------------------------------------------

// How the page after a readable page is made unreadable.
enum BadKind {
    BAD_NOACCESS,  // mapped/committed with no access
    BAD_UNMAPPED,  // nothing there (Linux: unmapped; Windows: free, never allocated)
    BAD_RESERVED,  // Windows: reserved, not committed
    BAD_GUARD,     // Windows: a guard page, which must survive the read
    BAD_FILE_END,  // Linux: a file mapping past the end of its file (SIGBUS)
};

const char* bad_kind_name(BadKind k)
{
    switch (k) {
    case BAD_NOACCESS: return "no-access";
    case BAD_UNMAPPED: return "unmapped";
    case BAD_RESERVED: return "reserved";
    case BAD_GUARD: return "guard";
    case BAD_FILE_END: return "file-end";
    }
    return "?";
}

#ifdef _WIN32
const BadKind g_bad_kinds[] = {BAD_NOACCESS, BAD_UNMAPPED, BAD_RESERVED, BAD_GUARD};
#else
const BadKind g_bad_kinds[] = {BAD_NOACCESS, BAD_UNMAPPED, BAD_FILE_END};
#endif

size_t page_size()
{
#ifdef _WIN32
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwPageSize;
#else
    return (size_t)sysconf(_SC_PAGESIZE);
#endif
}

// A readable page holding a known pattern, then an unreadable page at `bad`.
struct Edge {
    char* good;
    char* bad;
    size_t page;
    BadKind kind;
};

unsigned char pattern_byte(size_t i)
{
    return (unsigned char)(i * 131 + 7);
}

bool edge_make(Edge* e, BadKind kind)
{
    size_t page = page_size();
    e->page = page;
    e->kind = kind;
    char* base = nullptr;
#ifdef _WIN32
    switch (kind) {
    case BAD_NOACCESS:
    case BAD_GUARD: {
        base = (char*)VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        DWORD prot = kind == BAD_GUARD ? (PAGE_READWRITE | PAGE_GUARD) : PAGE_NOACCESS;
        if (base && !VirtualProtect(base + page, page, prot, &old))
            return false;
        break;
    }
    case BAD_RESERVED:
        base = (char*)VirtualAlloc(nullptr, 2 * page, MEM_RESERVE, PAGE_NOACCESS);
        if (base && !VirtualAlloc(base, page, MEM_COMMIT, PAGE_READWRITE))
            return false;
        break;
    case BAD_UNMAPPED:
        // One page of a 64 KiB allocation granule: the pages after it stay free.
        base = (char*)VirtualAlloc(nullptr, page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        break;
    default:
        return false;
    }
    if (base == nullptr)
        return false;
    for (size_t i = 0; i < page; i++)
        base[i] = (char)pattern_byte(i);
#else
    if (kind == BAD_FILE_END) {
        FILE* f = tmpfile();
        if (f == nullptr)
            return false;
        std::vector<char> bytes(page);
        for (size_t i = 0; i < page; i++)
            bytes[i] = (char)pattern_byte(i);
        bool ok = fwrite(bytes.data(), 1, page, f) == page && fflush(f) == 0;
        void* m = ok ? mmap(nullptr, 2 * page, PROT_READ, MAP_SHARED, fileno(f), 0) : MAP_FAILED;
        fclose(f);  // the mapping keeps the file
        if (m == MAP_FAILED)
            return false;
        base = (char*)m;
    } else {
        void* m = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED)
            return false;
        base = (char*)m;
        for (size_t i = 0; i < page; i++)
            base[i] = (char)pattern_byte(i);
        int rc = kind == BAD_UNMAPPED ? munmap(base + page, page) : mprotect(base + page, page, PROT_NONE);
        if (rc != 0)
            return false;
    }
#endif
    e->good = base;
    e->bad = base + page;
    return true;
}

// Whether the bad page is still as it was made: a read must not consume a guard.
bool edge_intact(const Edge& e)
{
#ifdef _WIN32
    if (e.kind == BAD_GUARD) {
        MEMORY_BASIC_INFORMATION mbi;
        return VirtualQuery(e.bad, &mbi, sizeof mbi) != 0 && (mbi.Protect & PAGE_GUARD) != 0;
    }
#endif
    (void)e;
    return true;
}

void edge_free(Edge* e)
{
#ifdef _WIN32
    VirtualFree(e->good, 0, MEM_RELEASE);
#else
    munmap(e->good, e->kind == BAD_UNMAPPED ? e->page : 2 * e->page);
#endif
}

// ---- Readers ------------------------------------------------------------------

typedef size_t (*ReadFn)(void*, uintptr_t, size_t);

struct Reader {
    const char* name;
    ReadFn fn;
    bool queries_first;  // asks the OS before it touches memory, so guard pages are safe
};

// plat_read_memory itself, and each half it is made of that the tests can drive alone.
const Reader g_readers[] = {
    {"plat_read_memory", plat_read_memory, true},
#ifdef _WIN32
    {"plat_copy_recovering", plat_copy_recovering, false},
#else
    {"plat_read_memory_syscall", plat_read_memory_syscall, true},
#endif
};

const unsigned char SENTINEL = 0xA5;

// Reads len bytes at src into a sentinel-filled buffer; checks that the count
// is `expect`, that those bytes equal the source and that the rest is untouched.
// The buffer has room for more than any layout here holds (40 pages at most),
// so a reader that reads too far fails the check instead of overrunning the heap.
void check_read(const Reader& r, uintptr_t src, size_t len, size_t expect)
{
    const size_t dst_size = 48 * page_size();
    std::vector<unsigned char> dst(dst_size, SENTINEL);
    size_t n = r.fn(dst.data(), src, len);
    ASSERT_EQ(n, expect) << r.name << " src=" << (void*)src << " len=" << len;
    if (n > 0) {
        EXPECT_EQ(memcmp(dst.data(), (const void*)src, n), 0) << r.name;
    }
    for (size_t i = n; i < dst_size; i++) {
        if (dst[i] != SENTINEL) {
            ADD_FAILURE() << r.name << ": byte " << i << " of dst written past the count " << n;
            break;
        }
    }
}

// ---- Fault-tolerant reads -------------------------------------------------------

// Reads that end before, at and across the edge of a readable page, from a few
// offsets before it, for every way of being unreadable and every reader.
TEST(PlatRead, StopsExactlyAtTheFirstUnreadableByte)
{
    for (BadKind kind : g_bad_kinds) {
        for (const Reader& r : g_readers) {
            if (kind == BAD_GUARD && !r.queries_first)
                continue;
            SCOPED_TRACE(std::string(r.name) + " against a " + bad_kind_name(kind) + " page");
            Edge e;
            ASSERT_TRUE(edge_make(&e, kind));
            const size_t page = e.page;
            const size_t befores[] = {0, 1, 7, 64, page / 2 + 3, page};
            for (size_t before : befores) {
                uintptr_t src = (uintptr_t)e.bad - before;
                const size_t lens[] = {1, before ? before - 1 : 0, before, before + 1, before + page, SIZE_MAX};
                for (size_t len : lens) {
                    size_t expect = len < before ? len : before;
                    check_read(r, src, len, expect);
                }
            }
            // Starting inside the bad page reads nothing.
            check_read(r, (uintptr_t)e.bad, 16, 0);
            check_read(r, (uintptr_t)e.bad + 100, page, 0);
            EXPECT_TRUE(edge_intact(e));
            edge_free(&e);
        }
    }
}

// Addresses nothing could be mapped at, and ranges that wrap past the top.
TEST(PlatRead, WildAddressesReadNothing)
{
    static char readable[64] = "readable";
    struct Case {
        uintptr_t src;
        size_t len;
        size_t expect;
    };
    const Case cases[] = {
        {0, 16, 0},                                 // null
        {0, 0, 0},                                  // null, nothing asked
        {16, SIZE_MAX, 0},                          // the null page, any length
        {(uintptr_t)readable, 0, 0},                // nothing asked of good memory
        {UINTPTR_MAX - 15, 64, 0},                  // wraps past the top
        {(uintptr_t)1 << 63, 16, 0},                // not a canonical address
        {(uintptr_t)0xffff800000000000ull, 16, 0},  // the kernel's half
    };
    for (const Reader& r : g_readers)
        for (const Case& c : cases)
            check_read(r, c.src, c.len, c.expect);
}

// A range over many separate regions (alternating protections keep each page a
// region of its own): read whole, then cut at a no-access page deep inside.
TEST(PlatRead, RangeOverManyRegions)
{
    const size_t page = page_size();
    const size_t pages = 40;
    const size_t cut = 30;
#ifdef _WIN32
    char* base = (char*)VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(base, nullptr);
#else
    void* m = mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    char* base = (char*)m;
#endif
    for (size_t i = 0; i < pages * page; i++)
        base[i] = (char)pattern_byte(i);
    for (size_t p = 1; p < pages; p += 2) {
#ifdef _WIN32
        DWORD old;
        ASSERT_TRUE(VirtualProtect(base + p * page, page, PAGE_READONLY, &old));
#else
        ASSERT_EQ(mprotect(base + p * page, page, PROT_READ), 0);
#endif
    }
    for (const Reader& r : g_readers)
        check_read(r, (uintptr_t)base + 5, pages * page - 5, pages * page - 5);

#ifdef _WIN32
    DWORD old;
    ASSERT_TRUE(VirtualProtect(base + cut * page, page, PAGE_NOACCESS, &old));
#else
    ASSERT_EQ(mprotect(base + cut * page, page, PROT_NONE), 0);
#endif
    for (const Reader& r : g_readers)
        check_read(r, (uintptr_t)base + 5, pages * page - 5, cut * page - 5);

#ifdef _WIN32
    VirtualFree(base, 0, MEM_RELEASE);
#else
    munmap(base, pages * page);
#endif
}

// Another thread flips the second page between readable and no-access while
// this one reads across both, as the camera library may do to its memory
// between our look and our copy. Every read must keep the whole first page and
// the source's bytes, and the process must survive. A copy may stop inside the
// second page: it was readable up to the moment its protection changed.
TEST(PlatRead, SurvivesMemoryChangingDuringTheRead)
{
    Edge e;
    ASSERT_TRUE(edge_make(&e, BAD_NOACCESS));
    const size_t page = e.page;
    for (size_t i = 0; i < page; i++)
        ((volatile char*)e.good)[i] = (char)pattern_byte(i);
    std::vector<unsigned char> expect(2 * page);
    for (size_t i = 0; i < 2 * page; i++)
        expect[i] = pattern_byte(i);
#ifdef _WIN32
    DWORD old;
    ASSERT_TRUE(VirtualProtect(e.bad, page, PAGE_READWRITE, &old));
    memcpy(e.bad, expect.data() + page, page);
    ASSERT_TRUE(VirtualProtect(e.bad, page, PAGE_NOACCESS, &old));
#else
    ASSERT_EQ(mprotect(e.bad, page, PROT_READ | PROT_WRITE), 0);
    memcpy(e.bad, expect.data() + page, page);
    ASSERT_EQ(mprotect(e.bad, page, PROT_NONE), 0);
#endif

    std::atomic<bool> stop(false);
    std::thread flipper([&] {
        bool open = false;
        while (!stop.load()) {
            open = !open;
#ifdef _WIN32
            DWORD was;
            VirtualProtect(e.bad, page, open ? PAGE_READONLY : PAGE_NOACCESS, &was);
#else
            mprotect(e.bad, page, open ? PROT_READ : PROT_NONE);
#endif
        }
    });
    // Each reader goes on until it has seen both outcomes (or for a few seconds:
    // the flipper may be starved of the CPU), so both paths of the copy run.
    std::vector<unsigned char> dst(2 * page);
    for (const Reader& r : g_readers) {
        size_t reads = 0, partial = 0;  // partial: stopped short of the second page's end
        uint32_t start = plat_tick_ms();
        while (reads < 2000 || ((partial == 0 || partial == reads) && plat_tick_ms() - start < 3000)) {
            size_t n = r.fn(dst.data(), (uintptr_t)e.good, 2 * page);
            if (n < page || n > 2 * page) {
                ADD_FAILURE() << r.name << " read " << n << " bytes";
                break;
            }
            if (memcmp(dst.data(), expect.data(), n) != 0) {
                ADD_FAILURE() << r.name << " read bytes that differ from the source";
                break;
            }
            reads++;
            partial += n < 2 * page;
        }
        printf("%s: %zu of %zu reads stopped inside the flipping page or before it\n", r.name, partial, reads);
    }
    stop = true;
    flipper.join();
    edge_free(&e);
}

#ifndef _WIN32
// A SIGSEGV handler installed before ours must still see the faults that are
// not ours, and must not see ours. In a fresh child process, so the test's
// handler is the one ours displaces.
volatile sig_atomic_t g_phase;

void exit_with_phase(int)
{
    _exit(40 + g_phase);
}

TEST(PlatReadDeathTest, FaultsNotOursReachTheEarlierHandler)
{
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            struct sigaction sa;
            memset(&sa, 0, sizeof sa);
            sa.sa_handler = exit_with_phase;
            sigaction(SIGSEGV, &sa, nullptr);
            Edge e;
            if (!edge_make(&e, BAD_NOACCESS))
                _exit(3);
            g_phase = 1;
            char buf[32];
            if (plat_read_memory(buf, (uintptr_t)e.bad - 8, 32) != 8)
                _exit(4);
            g_phase = 2;
            (void)*(volatile char*)e.bad;  // a fault of the test's own code
            _exit(5);
        },
        testing::ExitedWithCode(42), "");
    GTEST_FLAG_SET(death_test_style, style);
}
#endif

// ---- Region clipping ------------------------------------------------------------

TEST(PlatClip, ReadablePrefixOverARegionTable)
{
    const uintptr_t top = UINTPTR_MAX;
    const PlatRegion regions[] = {
        {0x1000, 0x1000, true},
        {0x2000, 0x2000, true},  // adjoins the first
        {0x4000, 0x1000, false},
        {0x5000, 0, true},  // empty: ignored
        {0x6000, 0x1000, true},  // after a gap at 0x5000
        {0x8000, 0x1000, true},  // after a gap at 0x7000
        {top - 0xFFF, 0x1000, true},  // the last page of the address space
    };
    const size_t count = sizeof regions / sizeof regions[0];
    struct Case {
        uintptr_t addr;
        size_t len;
        size_t expect;
    };
    const Case cases[] = {
        {0x1000, 0x1000, 0x1000},          // exactly one region
        {0x1800, 0x1000, 0x1000},          // starts mid-region, crosses into the next
        {0x1000, 0x3000, 0x3000},          // ends exactly at the edge of the unreadable one
        {0x1800, 0x3000, 0x2800},          // runs into the unreadable region
        {0x3fff, 2, 1},                    // one byte each side of that edge
        {0x1000, SIZE_MAX, 0x3000},        // any length stops there
        {0x4000, 16, 0},                   // starts in the unreadable region
        {0x5000, 16, 0},                   // starts in a gap
        {0x6800, 0x1000, 0x800},           // runs into a gap
        {0x8000, 0x2000, 0x1000},          // runs past the last region before the top
        {0x0, 0x2000, 0},                  // starts before the first region
        {0x1000, 0, 0},                    // nothing asked
        {top - 0xFFF, 0x1000, 0x1000},     // ends at the top of the address space
        {top - 0xF, 0x100, 0x10},          // would wrap: cut at the top
        {top - 0xF, SIZE_MAX, 0x10},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat_clip_readable(regions, count, c.addr, c.len), c.expect)
            << "addr=0x" << std::hex << c.addr << " len=0x" << c.len;
    EXPECT_EQ(plat_clip_readable(regions, 0, 0x1000, 16), 0u);
    // A region that claims to run past the top is cut there, not wrapped.
    const PlatRegion wide = {top - 0xF, 0x100, true};
    EXPECT_EQ(plat_clip_readable(&wide, 1, top - 0x7, 0x100), 8u);
}

// ---- Helpers for files and libraries -----------------------------------------------

// A fresh empty directory for the test's files; removed by dir_remove with the
// names put in it.
std::string dir_make()
{
#ifdef _WIN32
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    for (unsigned i = 0;; i++) {
        std::string d = std::string(tmp) + "plat_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(i);
        if (CreateDirectoryA(d.c_str(), nullptr))
            return d;
        if (i > 100)
            return "";
    }
#else
    char tmpl[] = "/tmp/plat_test_XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "";
#endif
}

void dir_remove(const std::string& dir, const std::vector<std::string>& names)
{
    for (const std::string& n : names)
        remove((dir + plat_path_sep + n).c_str());
#ifdef _WIN32
    RemoveDirectoryA(dir.c_str());
#else
    rmdir(dir.c_str());
#endif
}

// The whole content of a file, or "<missing>".
std::string file_bytes(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return "<missing>";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

std::string exe_dir()
{
    char path[4096];
#ifdef _WIN32
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
#else
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
#endif
    if (n <= 0 || (size_t)n >= sizeof path)
        return "";
    std::string s(path, (size_t)n);
    size_t cut = s.find_last_of("/\\");
    return cut == std::string::npos ? "" : s.substr(0, cut);
}

bool copy_file(const std::string& from, const std::string& to)
{
    std::string bytes = file_bytes(from);
    if (bytes == "<missing>")
        return false;
    PlatFile f = plat_file_create(to.c_str());
    if (f == PLAT_NO_FILE)
        return false;
    bool ok = plat_file_write(f, bytes.data(), bytes.size());
    return plat_file_close(f) && ok;
}

// ---- File output ---------------------------------------------------------------

TEST(PlatFile, CreatesReplacesAndEmpties)
{
    std::string dir = dir_make();
    ASSERT_FALSE(dir.empty());
    std::string path = dir + plat_path_sep + "block.bin";

    // Bytes of every value, CR and LF among them: nothing may be translated.
    std::string block(300000, '\0');
    for (size_t i = 0; i < block.size(); i++)
        block[i] = (char)pattern_byte(i);
    PlatFile f = plat_file_create(path.c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    EXPECT_TRUE(plat_file_write(f, block.data(), block.size()));
    EXPECT_TRUE(plat_file_write(f, "tail", 4));
    EXPECT_TRUE(plat_file_close(f));
    EXPECT_TRUE(file_bytes(path) == block + "tail");

    // The same name again replaces the file, however much shorter.
    f = plat_file_create(path.c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    EXPECT_TRUE(plat_file_write(f, "abc", 3));
    EXPECT_TRUE(plat_file_close(f));
    EXPECT_EQ(file_bytes(path), "abc");

    // Nothing written leaves an empty file.
    f = plat_file_create(path.c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    EXPECT_TRUE(plat_file_write(f, "", 0));
    EXPECT_TRUE(plat_file_close(f));
    EXPECT_EQ(file_bytes(path), "");

    dir_remove(dir, {"block.bin"});
}

TEST(PlatFile, MissingDirectoryFailsWithAnErrorText)
{
    std::string dir = dir_make();
    ASSERT_FALSE(dir.empty());
    std::string path = dir + plat_path_sep + "no_such_dir" + plat_path_sep + "x.bin";
    EXPECT_EQ(plat_file_create(path.c_str()), PLAT_NO_FILE);

    char text[256];
    memset(text, 'x', sizeof text);
    plat_error_text(text, sizeof text);
    size_t n = strlen(text);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(strcspn(text, "\r\n"), n) << "one line: " << text;
    printf("error text: %s\n", text);

    // A short buffer gets a cut, terminated text; an empty one nothing.
    char small[4];
    plat_error_text(small, sizeof small);
    EXPECT_EQ(strlen(small), 3u);
    plat_error_text(nullptr, 0);
    dir_remove(dir, {});
}

#ifndef _WIN32
TEST(PlatFile, WriteReportsAFullDevice)
{
    PlatFile f = plat_file_create("/dev/full");
    if (f == PLAT_NO_FILE)
        GTEST_SKIP() << "no /dev/full here";
    char block[8192] = {1};
    EXPECT_FALSE(plat_file_write(f, block, sizeof block));
    char text[256];
    plat_error_text(text, sizeof text);
    EXPECT_STRNE(text, "");
    plat_file_close(f);
}
#endif

// ---- Libraries ----------------------------------------------------------------------

TEST(PlatLibrary, MissingLibraryAndExportGiveNull)
{
    plat_set_library_dir("irprobe_no_such_dir");
    EXPECT_EQ(plat_load_library("irprobe_no_such_library.dll"), nullptr);
    EXPECT_EQ(plat_find_export(nullptr, "Start"), nullptr);
}

// The simulated camera library sits beside the test executable, as the real
// ones sit beside the probe.
TEST(PlatLibrary, LoadsFromTheExecutableDirectory)
{
    std::string dir = exe_dir();
    if (file_bytes(dir + plat_path_sep + "ThermalSDK.dll") == "<missing>")
        GTEST_SKIP() << "no ThermalSDK.dll beside the test executable";
    plat_set_library_dir("irprobe_no_such_dir");
    void* lib = plat_load_library("ThermalSDK.dll");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(plat_find_export(lib, "Start"), nullptr);
    EXPECT_EQ(plat_find_export(lib, "irprobe_no_such_export"), nullptr);
}

// A library found only in the set directory loads from there.
TEST(PlatLibrary, LoadsFromTheSetDirectory)
{
    std::string from = exe_dir() + plat_path_sep + "ThermalSDK.dll";
    if (file_bytes(from) == "<missing>")
        GTEST_SKIP() << "no ThermalSDK.dll beside the test executable";
    std::string dir = dir_make();
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(copy_file(from, dir + plat_path_sep + "PlatCopy.dll"));

    plat_set_library_dir(nullptr);
    EXPECT_EQ(plat_load_library("PlatCopy.dll"), nullptr);  // not before the directory is set
    plat_set_library_dir(dir.c_str());
    void* lib = plat_load_library("PlatCopy.dll");
    EXPECT_NE(lib, nullptr);
    EXPECT_NE(plat_find_export(lib, "Start"), nullptr);
    plat_set_library_dir(nullptr);
    // Loaded libraries stay loaded (as the probe's do), so the copy stays too on
    // Windows; only the directory entry is tidied where the OS allows it.
    dir_remove(dir, {"PlatCopy.dll"});
}

// ---- Time -------------------------------------------------------------------------

TEST(PlatTime, SleepMovesTheTick)
{
    // GetTickCount moves in steps of about 16 ms (coarser under Wine): sleep long
    // enough that a step cannot hide the pause.
    uint32_t t0 = plat_tick_ms();
    plat_sleep_ms(200);
    uint32_t waited = plat_tick_ms() - t0;  // unsigned: right across a wrap too
    EXPECT_GE(waited, 150u);
    EXPECT_LT(waited, 10000u);
}

}  // namespace
