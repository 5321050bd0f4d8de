// simcheck: loads the simulated ThermalSDK.dll and CoreSDKLib.dll the way the
// probe does, drives them for a few frames under the scenario in IRSIM, stops
// them, and compares every byte they expose with the model (sim/sim_model.h):
// exports present or absent, channel discovery, DeviceBlock, every block behind a
// pointer with its readable extent, fixed addresses, call results, the last
// delegate frame and the log. Exit code 0 when everything matches.
//
//   simcheck [--dir DIR] [--frames N] [--missing EXPORT] [--fixed-optional]
//
// DIR holds the two libraries (default: simcheck's own directory). --missing names
// a required export that this build lacks (the bin/variants/ builds).
// --fixed-optional accepts a library that could not place its fixed addresses
// (AddressSanitizer without protect_shadow_gap=0).
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_model.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>
#endif

static int g_failures;

__attribute__((format(printf, 1, 2))) static void fail(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    printf("FAIL ");
    vprintf(fmt, ap);
    printf("\n");
    va_end(ap);
    g_failures++;
}

// ---- OS helpers ----------------------------------------------------------------

static void* load(const std::string& path) {
#ifdef _WIN32
    return (void*)LoadLibraryA(path.c_str());
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

static void* find(void* lib, const char* name) {
#ifdef _WIN32
    return lib ? (void*)GetProcAddress((HMODULE)lib, name) : nullptr;
#else
    return lib ? dlsym(lib, name) : nullptr;
#endif
}

static void sleep_ms(unsigned ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    usleep(ms * 1000u);
#endif
}

static std::string exe_dir(const char* argv0) {
    (void)argv0;
#ifdef _WIN32
    char buf[MAX_PATH];
    GetModuleFileNameA(nullptr, buf, sizeof(buf));
    std::string p = buf;
    size_t s = p.find_last_of("\\/");
#else
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::string p = n > 0 ? std::string(buf, (size_t)n) : std::string(argv0);
    size_t s = p.find_last_of('/');
#endif
    return s == std::string::npos ? "." : p.substr(0, s);
}

// How many leading bytes of [addr, addr + len) can be read (copied into dst when
// given), without touching memory that would fault.
static size_t readable(uintptr_t addr, size_t len, uint8_t* dst = nullptr) {
    if (len == 0) return 0;
#ifdef _WIN32
    size_t done = 0;
    while (done < len) {
        MEMORY_BASIC_INFORMATION mi;
        if (!VirtualQuery((const void*)(addr + done), &mi, sizeof(mi))) break;
        DWORD p = mi.Protect & 0xFF;
        bool ok = mi.State == MEM_COMMIT && !(mi.Protect & PAGE_GUARD) && p != PAGE_NOACCESS && p != 0;
        if (!ok) break;
        size_t end = (uintptr_t)mi.BaseAddress + mi.RegionSize - addr;
        size_t n = (end < len ? end : len) - done;
        if (dst) memcpy(dst + done, (const void*)(addr + done), n);
        done += n;
    }
    return done;
#else
    std::vector<uint8_t> tmp;
    if (!dst) {
        tmp.resize(len);
        dst = tmp.data();
    }
    iovec local{dst, len}, remote{(void*)addr, len};
    ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    return n < 0 ? 0 : (size_t)n;
#endif
}

static bool read_u32(uintptr_t addr, uint32_t* v) {
    uint8_t b[4];
    if (readable(addr, 4, b) != 4) return false;
    memcpy(v, b, 4);
    return true;
}

static bool read_u64(uintptr_t addr, uint64_t* v) {
    uint8_t b[8];
    if (readable(addr, 8, b) != 8) return false;
    memcpy(v, b, 8);
    return true;
}

// ---- Delegate ------------------------------------------------------------------

static std::atomic<int> g_calls{0};
// The last frame; written by the library's thread only. A plain array: without
// Stop the thread may still call in while the process ends.
static uint8_t g_last[4096 * 4096 * 3];
static size_t g_last_n;
static int g_last_w, g_last_h, g_last_fmt;
static bool g_last_null;

static void on_ir(const void* frame, int w, int h, int fmt) {
    size_t n = w > 0 && h > 0 ? (size_t)w * (size_t)h * 3 : 0;
    g_last_null = frame == nullptr;
    g_last_n = frame ? n : 0;
    if (g_last_n) memcpy(g_last, frame, n);
    g_last_w = w;
    g_last_h = h;
    g_last_fmt = fmt;
    g_calls.fetch_add(1);
}

// ---- Checks ---------------------------------------------------------------------

static SimScenario g_sc;
static SimGeom g_geom;

static size_t expected_len(SimBlock b) {
    return g_sc.short_len[b] >= 0 ? (size_t)g_sc.short_len[b] : (sim_model_block_size(&g_sc, b) + 63) / 64 * 64;
}

// Compares block b at p with the model of frame k: exactly its readable length
// can be read, and every byte but the pointer words matches.
static void check_block(const char* what, uintptr_t p, SimBlock b, uint32_t k) {
    size_t n = expected_len(b);
    std::vector<uint8_t> got(n + 1), want(n);
    size_t r = readable(p, n + 1, got.data());
    if (r != n) {
        fail("%s: %llu bytes readable, expected %llu", what, (unsigned long long)r, (unsigned long long)n);
        if (r < n) n = r;
    }
    sim_model_block_bytes(&g_sc, b, k, 0, n, want.data());
    const uint32_t* ptrs = nullptr;
    size_t nptrs = b == SIM_DEV ? sim_model_device_pointer_offsets(&ptrs)
                 : b == SIM_SMOOBJ ? sim_model_smoobj_pointer_offsets(&ptrs) : 0;
    for (size_t i = 0; i < nptrs; i++)
        for (size_t j = ptrs[i]; j < ptrs[i] + 8 && j < n; j++) got[j] = want[j];
    for (size_t i = 0; i < n; i++) {
        if (got[i] != want[i]) {
            fail("%s: byte %llu is 0x%02x, model 0x%02x (frame %u)", what, (unsigned long long)i, got[i], want[i], k);
            return;
        }
    }
}

// A pointer field: null, no-access or a block equal to the model.
static void check_field(const char* what, uint64_t v, SimField f, SimBlock b, uint32_t k) {
    if (g_sc.null_ptr & (1u << f)) {
        if (v != 0) fail("%s: 0x%llx, expected null", what, (unsigned long long)v);
        return;
    }
    if (g_sc.bad & (1u << f)) {
        if (v == 0 || readable((uintptr_t)v, 1) != 0) fail("%s: 0x%llx is not a no-access address", what, (unsigned long long)v);
        return;
    }
    if (v == 0) {
        fail("%s: null", what);
        return;
    }
    check_block(what, (uintptr_t)v, b, k);
}

static void check_dev_field(uintptr_t dev, uint32_t off, const char* name, SimField f, SimBlock b, uint32_t k) {
    uint64_t v;
    // A short DeviceBlock ends before it (what lies beyond its guard page is not its own).
    if (off + 8 > expected_len(SIM_DEV) || !read_u64(dev + off, &v)) return;
    check_field(name, v, f, b, k);
}

static std::vector<std::string> read_lines(const char* path) {
    std::vector<std::string> lines;
    FILE* f = fopen(path, "rb");
    if (!f) return lines;
    std::string cur;
    int c;
    while ((c = fgetc(f)) != EOF) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur += (char)c;
        }
    }
    fclose(f);
    return lines;
}

// The wanted lines appear in the log in this order (others may come between). A
// log line matches when it is the wanted text or continues it after a blank.
static void check_log_order(const std::vector<std::string>& log, const std::vector<std::string>& want) {
    size_t at = 0;
    auto matches = [](const std::string& line, const std::string& w) {
        return line == w || (line.size() > w.size() && line.compare(0, w.size(), w) == 0 && line[w.size()] == ' ');
    };
    for (const std::string& w : want) {
        while (at < log.size() && !matches(log[at], w)) at++;
        if (at == log.size()) {
            fail("log: line \"%s\" missing or out of order", w.c_str());
            return;
        }
        at++;
    }
}

typedef int (*FnVoid)(void);
typedef int (*FnDelegate)(void (*)(const void*, int, int, int));
typedef int (*FnBoundary)(double, double, double);
typedef int (*FnInt)(int);
typedef int (*FnPoint)(int, int, void*);
typedef int (*FnBmp)(int, const unsigned char**, const void**);
typedef int (*FnRgb)(int, unsigned char*, int, int);
typedef int (*FnTemp)(int, int*, int, int);
typedef int (*FnBar)(int, const void**, const void**);
typedef int (*FnFfc)(int, int);

int main(int argc, char** argv) {
    std::string dir;
    int frames = 5;
    std::string missing;
    bool fixed_optional = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) dir = argv[++i];
        else if (a == "--frames" && i + 1 < argc) frames = atoi(argv[++i]);
        else if (a == "--missing" && i + 1 < argc) missing = argv[++i];
        else if (a == "--fixed-optional") fixed_optional = true;
        else {
            fprintf(stderr, "usage: simcheck [--dir DIR] [--frames N] [--missing EXPORT] [--fixed-optional]\n");
            return 2;
        }
    }
    if (dir.empty()) dir = exe_dir(argv[0]);
    const char* text = getenv("IRSIM");
    if (!sim_parse_scenario(text, &g_sc)) fail("IRSIM item not understood: %s", g_sc.error);
    sim_geometry(&g_sc, &g_geom);
#ifdef _WIN32
    const char sep = '\\';
#else
    const char sep = '/';
#endif
    void* tlib = load(dir + sep + "ThermalSDK.dll");
    void* clib = load(dir + sep + "CoreSDKLib.dll");
    printf("T=%p C=%p\n", tlib, clib);
    if (!tlib || !clib) {
        fail("a library did not load");
        return 1;
    }

    // Exports.
    static const struct {
        const char* name;
        bool core;
        int optional_bit;  // -1: required
    } exports[] = {
        {"Start", false, -1},
        {"Stop", false, SIM_X_STOP},
        {"SetNewIRFrameDelegate", false, -1},
        {"SetTempBoundary", false, SIM_X_SETTEMPBOUNDARY},
        {"SetUnitMode", false, SIM_X_SETUNITMODE},
        {"ReadTemperatureAtPoint", false, SIM_X_READTEMPERATUREATPOINT},
        {"MAG_GetOutputBMPdata", true, -1},
        {"MAG_GetOutputBMPdataRGB24", true, -1},
        {"MAG_GetTemperatureData_Raw", true, SIM_X_TEMPRAW},
        {"MAG_GetOutputColorBardata", true, SIM_X_COLORBAR},
        {"MAG_TriggerFFC", true, SIM_X_TRIGGERFFC},
    };
    void* fn[11];
    bool required_missing = false;
    for (int i = 0; i < 11; i++) {
        fn[i] = find(exports[i].core ? clib : tlib, exports[i].name);
        bool want = exports[i].optional_bit < 0 ? missing != exports[i].name
                                                : !(g_sc.noexport & (1u << exports[i].optional_bit));
        printf("export %s %s\n", exports[i].name, fn[i] ? "present" : "absent");
        if ((fn[i] != nullptr) != want) fail("export %s should be %s", exports[i].name, want ? "present" : "absent");
        if (!fn[i] && exports[i].optional_bit < 0) required_missing = true;
    }
    if (required_missing) {
        printf("simcheck: %s (a required export is absent; nothing more to check)\n", g_failures ? "FAILED" : "OK");
        return g_failures ? 1 : 0;
    }
    FnVoid start = (FnVoid)fn[0], stop = (FnVoid)fn[1];
    FnDelegate set_delegate = (FnDelegate)fn[2];
    FnBoundary boundary = (FnBoundary)fn[3];
    FnInt unit = (FnInt)fn[4];
    FnPoint point = (FnPoint)fn[5];
    FnBmp bmp = (FnBmp)fn[6];
    FnRgb rgb = (FnRgb)fn[7];
    FnTemp temp = (FnTemp)fn[8];
    FnBar bar = (FnBar)fn[9];
    FnFfc ffc = (FnFfc)fn[10];

    // Run like the probe: set-up, delegate, start, a few frames.
    if (unit) unit(0);
    if (boundary) boundary(30.0, 44.0, 37.0);
    set_delegate(on_ir);
    int rc_start = start();
    if (rc_start != g_sc.start_rc) fail("Start returned %d, expected %d", rc_start, g_sc.start_rc);
    if (g_sc.fps > 0) {
        for (int waited = 0; g_calls.load() < frames && waited < 10000; waited += 5) sleep_ms(5);
        if (g_calls.load() < frames) fail("only %d delegate calls in 10 s", g_calls.load());
    } else {
        sleep_ms(300);
        if (g_calls.load() != 0) fail("fps=0 but the delegate was called");
    }

    // Channel discovery.
    const unsigned char* gray = nullptr;
    const void* hdr = nullptr;
    int chan = -1;
    for (int c = 0; c < 8; c++) {
        const unsigned char* g = nullptr;
        const void* h = nullptr;
        int rc = bmp(c, &g, &h);
        bool delivers = g_sc.chan >= 0 && c >= g_sc.chan;
        if (delivers) {
            if (rc != 1 || !g || !h) fail("chan %d: rc=%d gray=%p hdr=%p, expected delivery", c, rc, (const void*)g, h);
            if (chan < 0) {
                chan = c;
                gray = g;
                hdr = h;
            }
        } else if (g_sc.chanfail_nullhdr) {
            if (rc != 1 || !g || h) fail("chan %d: rc=%d gray=%p hdr=%p, expected rc 1 and a null header", c, rc, (const void*)g, h);
        } else if (rc != 0 || g || h) {
            fail("chan %d: rc=%d gray=%p hdr=%p, expected rc 0 and untouched pointers", c, rc, (const void*)g, h);
        }
    }
    printf("chan=%d gray=%p hdr=%p\n", chan, (const void*)gray, hdr);

    // Stop, so that the memory holds one frame while it is compared.
    if (stop) stop();
    int calls = g_calls.load();
    sleep_ms(50);
    if (stop && g_calls.load() != calls) fail("delegate still called after Stop");
    bool stable = stop != nullptr || g_sc.fps == 0;
    if (!stable) printf("note: no Stop, frame-dependent bytes are not compared\n");

    uint32_t k = (uint32_t)calls;
    uintptr_t dev = hdr ? (uintptr_t)hdr - 0xAF0 : 0;
    if (dev) {
        uint32_t fcnt;
        if (12 <= expected_len(SIM_DEV) && read_u32(dev + 8, &fcnt)) {
            if (stable && fcnt != k) fail("fcnt=%u but %u delegate calls", fcnt, k);
            k = fcnt;
        }
    }
    printf("frame k=%u\n", k);

    if (dev && stable) {
        check_block("gray", (uintptr_t)gray, SIM_GRAY, k);
        check_block("DeviceBlock", dev, SIM_DEV, k);
        check_dev_field(dev, 0x270, "rawp", SIM_F_RAWP, SIM_RAW, k);
        for (int i = 0; i < 8; i++) {
            char name[16];
            snprintf(name, sizeof(name), "ptr%d", i);
            check_dev_field(dev, 0x41840 + 8 * (uint32_t)i, name, (SimField)(SIM_F_PTR0 + i), (SimBlock)(SIM_B0 + i), k);
        }
        check_dev_field(dev, 0x41EE8, "e0bufp", SIM_F_E0BUFP, SIM_E0BUF, k);
        check_dev_field(dev, 0x41EF0, "refp", SIM_F_REFP, SIM_REF, k);
        check_dev_field(dev, 0x41EF8, "e0accp", SIM_F_E0ACCP, SIM_E0ACC, k);
        check_dev_field(dev, 0x41F10, "smop", SIM_F_SMOP, SIM_SMOOBJ, k);
        check_dev_field(dev, 0x41F20, "f20p", SIM_F_F20P, SIM_F20, k);
        uint64_t smop;
        if (0x41F18 <= expected_len(SIM_DEV) && read_u64(dev + 0x41F10, &smop) && smop && !(g_sc.bad & (1u << SIM_F_SMOP))) {
            uint64_t v;
            if (read_u64((uintptr_t)smop + 0x10, &v)) check_field("smo", v, SIM_F_SMO, SIM_SMO, k);
            if (read_u64((uintptr_t)smop + 0x18, &v)) check_field("smoacc", v, SIM_F_SMOACC, SIM_SMOACC, k);
        }
        // The copies among the fifteen words at 0x240 always point at the blocks.
        static const struct {
            uint32_t off;
            SimBlock b;
        } copies[] = {{0x240, SIM_GRAY}, {0x248, SIM_DEV}, {0x260, SIM_B3}, {0x268, SIM_B6}, {0x278, SIM_SMOOBJ},
                      {0x290, SIM_REF},  {0x298, SIM_E0BUF}, {0x2A0, SIM_E0ACC}, {0x2A8, SIM_F20}};
        for (const auto& c : copies) {
            uint64_t v;
            char name[32];
            snprintf(name, sizeof(name), "dev+0x%03x", c.off);
            if (c.off + 8 <= expected_len(SIM_DEV) && read_u64(dev + c.off, &v)) check_block(name, (uintptr_t)v, c.b, k);
        }
    }

    // Fixed addresses.
    uint8_t probe;
    bool fixed_here = readable((uintptr_t)SIM_ADDR_T_BASE, 1, &probe) == 1 || (g_sc.noaccess & (SIM_NOACCESS_FIXED | SIM_NOACCESS_T_NOW));
    std::vector<std::string> log;
    const char* log_path = getenv("IRSIM_LOG");
    if (log_path) log = read_lines(log_path);
    bool logged_unavailable = false;
    for (const std::string& l : log)
        if (l.find("fixed ") == 0 && l.find(" unavailable") != std::string::npos) logged_unavailable = true;
    if (logged_unavailable) {
        printf("note: the library could not place its fixed addresses\n");
        if (!fixed_optional) fail("fixed addresses unavailable");
    } else if (fixed_here && stable) {
        struct Fixed {
            const char* name;
            uint64_t addr;
            uint32_t want;
            uint32_t noaccess_bits;
        } fixed[] = {
            {"gain", SIM_ADDR_GAIN, sim_model_fixed(&g_sc, SIM_FIX_GAIN, k), SIM_NOACCESS_FIXED},
            {"t_base", SIM_ADDR_T_BASE, sim_model_fixed(&g_sc, SIM_FIX_T_BASE, k), SIM_NOACCESS_FIXED | SIM_NOACCESS_T_NOW},
            {"t_now", SIM_ADDR_T_NOW, sim_model_fixed(&g_sc, SIM_FIX_T_NOW, k), SIM_NOACCESS_FIXED | SIM_NOACCESS_T_NOW},
            {"globframe", SIM_ADDR_GLOBFRAME, sim_model_fixed(&g_sc, SIM_FIX_GLOBFRAME, k), SIM_NOACCESS_FIXED | SIM_NOACCESS_CHANTAB},
            {"ffcstate", SIM_ADDR_FFCSTATE, 0, SIM_NOACCESS_FIXED | SIM_NOACCESS_CHANTAB},
        };
        for (const Fixed& f : fixed) {
            uint32_t v;
            bool r = read_u32((uintptr_t)f.addr, &v);
            bool want_r = !(g_sc.noaccess & f.noaccess_bits);
            if (r != want_r) fail("fixed %s: %s, expected %s", f.name, r ? "readable" : "no access", want_r ? "readable" : "no access");
            else if (r && v != f.want) fail("fixed %s = %u, model %u", f.name, v, f.want);
        }
        for (uint32_t c = 0; c < 8; c++) {
            uint64_t v;
            uint64_t entry = SIM_ADDR_CHANTAB + c * SIM_CHANTAB_STRIDE;
            bool entry_noaccess = (g_sc.noaccess & SIM_NOACCESS_CHANTAB) ||
                                  ((g_sc.noaccess & SIM_NOACCESS_FIXED) && (entry & ~4095ull) == (SIM_ADDR_GLOBFRAME & ~4095ull));
            bool r = read_u64((uintptr_t)entry, &v);
            if (r == entry_noaccess) fail("channel entry %u: %s", c, r ? "readable" : "no access");
            char name[32];
            snprintf(name, sizeof(name), "stream[%u]", c);
            if (r) check_field(name, v, SIM_F_STREAM, SIM_STREAM, k);
        }
    } else if (!fixed_here) {
        fail("fixed addresses not readable, and the log does not say why");
    }

    // Calls, in the stopped frame k.
    if (chan >= 0 && stable) {
        size_t n = (size_t)g_geom.w * g_geom.h * 3;
        std::vector<uint8_t> got(n, 0xEE), want(n);
        int rc = rgb(chan, got.data(), (int)n, 1);
        if (rc != g_sc.rgb_rc) fail("RGB24 returned %d, expected %d", rc, g_sc.rgb_rc);
        if (rc) {
            sim_model_rgb(&g_sc, k, want.data());
            if (got != want) fail("RGB24 bytes differ from the model");
        } else if (got != std::vector<uint8_t>(n, 0xEE)) {
            fail("RGB24 wrote although it failed");
        }
        if (temp) {
            size_t tn = (size_t)g_geom.sw * g_geom.sh * 4;
            std::vector<uint8_t> t(tn + 8, 0xEE), tw(tn + 1);
            rc = temp(chan, (int*)t.data(), (int)tn, 1);
            if (rc != g_sc.temp_rc) fail("TempRaw returned %d, expected %d", rc, g_sc.temp_rc);
            if (rc) {
                sim_model_t32(&g_sc, k, tn, tw.data());
                if (memcmp(t.data(), tw.data(), tn) != 0) fail("TempRaw bytes differ from the model");
                for (size_t i = tn; i < tn + 8; i++)
                    if (t[i] != 0xEE) fail("TempRaw wrote past the size it was given");
            }
        }
        if (bar) {
            const void* data = nullptr;
            const void* info = nullptr;
            rc = bar(chan, &data, &info);
            if (rc != g_sc.bar_rc) fail("ColorBar returned %d, expected %d", rc, g_sc.bar_rc);
            check_field("bardata", (uint64_t)(uintptr_t)data, SIM_F_BARDATA, SIM_BARDATA, k);
            check_field("barinfo", (uint64_t)(uintptr_t)info, SIM_F_BARINFO, SIM_BARINFO, k);
        }
        if (point) {
            uint8_t area[64] = {0};
            point(80, 60, area);
            double raw, arm, gr, ga;
            memcpy(&gr, area + 16, 8);
            memcpy(&ga, area + 24, 8);
            sim_model_point_temps(&g_sc, k, 80, 60, &raw, &arm);
            if (gr != raw || ga != arm) fail("ReadTemperatureAtPoint %.3f %.3f, model %.3f %.3f", gr, ga, raw, arm);
        }
        if (ffc) {
            ffc(chan, 1);
            ffc(chan, 0);
            uint32_t v;
            if (fixed_here && !(g_sc.noaccess & (SIM_NOACCESS_FIXED | SIM_NOACCESS_CHANTAB)) && !logged_unavailable &&
                read_u32((uintptr_t)SIM_ADDR_FFCSTATE, &v) && v != 0x200)
                fail("ffcstate=0x%x after two TriggerFFC calls, expected 0x200", v);
        }
    }

    // The last delegate frame.
    if (calls > 0 && stable) {
        SimCbFrame f;
        sim_model_cb_info(&g_sc, (uint32_t)calls, &f);
        if (g_last_w != f.w || g_last_h != f.h || g_last_fmt != f.fmt || g_last_null != f.null_frame)
            fail("delegate frame %d: %dx%d fmt %d%s, model %dx%d fmt %d%s", calls, g_last_w, g_last_h, g_last_fmt,
                 g_last_null ? " null" : "", f.w, f.h, f.fmt, f.null_frame ? " null" : "");
        std::vector<uint8_t> want(f.bytes + 1);
        sim_model_cb_frame(&g_sc, (uint32_t)calls, want.data());
        if (!f.null_frame && (g_last_n != f.bytes || memcmp(g_last, want.data(), f.bytes) != 0))
            fail("delegate frame %d: bytes differ from the model", calls);
    }

    // The log.
    if (log_path) {
        log = read_lines(log_path);
        char line[4200];
        std::vector<std::string> want = {"load"};
        snprintf(line, sizeof(line), "scenario %s", text ? text : "");
        want.push_back(line);
        if (unit) want.push_back("SetUnitMode 0");
        if (boundary) want.push_back("SetTempBoundary 30.000000 44.000000 37.000000");
        want.push_back("SetNewIRFrameDelegate");
        want.push_back("Start");
        for (int c = 0; c < 8; c++) {
            bool delivers = g_sc.chan >= 0 && c >= g_sc.chan;
            snprintf(line, sizeof(line), "GetOutputBMPdata chan=%d rc=%d", c, delivers || g_sc.chanfail_nullhdr ? 1 : 0);
            want.push_back(line);
        }
        if (stop) want.push_back("Stop");
        if (chan >= 0 && stable) {
            snprintf(line, sizeof(line), "RGB24 chan=%d size=%d frame=%u", chan, g_geom.w * g_geom.h * 3, k);
            want.push_back(line);
            if (temp) {
                snprintf(line, sizeof(line), "TempRaw chan=%d size=%d frame=%u", chan, g_geom.sw * g_geom.sh * 4, k);
                want.push_back(line);
            }
            if (bar) {
                snprintf(line, sizeof(line), "ColorBar chan=%d frame=%u", chan, k);
                want.push_back(line);
            }
            if (ffc) {
                snprintf(line, sizeof(line), "TriggerFFC chan=%d arg=1 frames=%d", chan, calls);
                want.push_back(line);
            }
        }
        check_log_order(log, want);
        for (const std::string& l : log) printf("log: %s\n", l.c_str());
    }

    printf("simcheck: %s (%d failures)\n", g_failures ? "FAILED" : "OK", g_failures);
    fflush(stdout);
    return g_failures ? 1 : 0;
}
