// Simulated CoreSDKLib.dll: owns the camera's memory (DeviceBlock, images, tables,
// filter buffers, stream records, the fixed library addresses) and the MAG_ calls.
// The frame thread of ThermalSDK refreshes that memory through SimCoreApi.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/sim_lib.h"
#include "sim/sim_model.h"
#include "sim/sim_os.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Block {
    uint8_t* mem;
    size_t readable;
};

SimScenario g_sc;
char g_text[4096];
SimGeom g_geom;
Block g_blk[SIM_BLOCK_COUNT];
Block g_stream[8];   // one StreamRecord per channel
uint8_t* g_bad;      // no-access region behind every `bad=` pointer
uint8_t* g_fixed;    // SIM_FIXED_BEGIN when the fixed pages are ours, else null
const size_t k_fixed_pages = (SIM_FIXED_END - SIM_FIXED_BEGIN) / 4096;
bool g_fixed_noaccess[k_fixed_pages];
std::atomic<uint32_t> g_k{0};
std::atomic<int32_t> g_delegate_calls{0};
uint32_t g_ffc_calls;

}  // namespace

static uint32_t g_noexport;

#ifdef _WIN32
// The fixed addresses lie inside this image: it is linked at 0x180000000 and this
// zero-filled array spans the pages from SIM_FIXED_BEGIN to SIM_FIXED_END.
alignas(4096) static uint8_t g_fixed_area[0x100000];
#endif

// ---- Log -----------------------------------------------------------------------

static void log_line(const char* text) {
    char buf[8192];
    int n = snprintf(buf, sizeof(buf) - 1, "%s", text);
    if (n < 0) return;
    if ((size_t)n > sizeof(buf) - 2) n = (int)sizeof(buf) - 2;
    buf[n++] = '\n';
    sim_os_log_write(buf, (size_t)n);
}

__attribute__((format(printf, 1, 2))) static void log_fmt(const char* fmt, ...) {
    char buf[8192];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    log_line(buf);
}

// ---- Memory --------------------------------------------------------------------

// Value stored in a pointer field: null or a no-access address when the scenario
// says so, else the target.
static uint64_t field_value(SimField f, const void* target) {
    if (g_sc.null_ptr & (1u << f)) return 0;
    if ((g_sc.bad & (1u << f)) && g_bad) return (uint64_t)(uintptr_t)(g_bad + 4096 * (size_t)f);
    return (uint64_t)(uintptr_t)target;
}

// Stores v at offset off of a block, when those bytes are readable.
static void block_put64(const Block& b, size_t off, uint64_t v) {
    if (b.mem && off + 8 <= b.readable) memcpy(b.mem + off, &v, 8);
}

static Block alloc_block(SimBlock b) {
    // A whole block ends on a 64-byte multiple, so that it starts 64-byte aligned
    // against its guard page; a short one ends exactly where the scenario says.
    size_t size = (sim_model_block_size(&g_sc, b) + 63) / 64 * 64;
    Block blk;
    blk.readable = g_sc.short_len[b] >= 0 ? (size_t)g_sc.short_len[b] : size;
    blk.mem = sim_os_alloc_guarded(blk.readable);
    if (!blk.mem) {
        fprintf(stderr, "irsim: out of address space for block %d (%llu bytes)\n", (int)b, (unsigned long long)blk.readable);
        abort();
    }
    sim_model_block_bytes(&g_sc, b, 0, 0, blk.readable, blk.mem);
    return blk;
}

static bool fixed_page_ok(uint64_t addr, size_t n) {
    if (!g_fixed) return false;
    for (uint64_t a = addr & ~4095ull; a < addr + n; a += 4096)
        if (g_fixed_noaccess[(a - SIM_FIXED_BEGIN) / 4096]) return false;
    return true;
}

static void fixed_put32(uint64_t addr, uint32_t v) {
    if (fixed_page_ok(addr, 4)) memcpy(g_fixed + (addr - SIM_FIXED_BEGIN), &v, 4);
}

static void fixed_put64(uint64_t addr, uint64_t v) {
    if (fixed_page_ok(addr, 8)) memcpy(g_fixed + (addr - SIM_FIXED_BEGIN), &v, 8);
}

static void fixed_noaccess(uint64_t addr, size_t n) {
    for (uint64_t a = addr & ~4095ull; a < addr + n; a += 4096) {
        size_t page = (size_t)((a - SIM_FIXED_BEGIN) / 4096);
        if (g_fixed_noaccess[page]) continue;
        g_fixed_noaccess[page] = sim_os_protect_noaccess(g_fixed + (a - SIM_FIXED_BEGIN), 4096);
    }
}

static void setup_fixed() {
#ifdef _WIN32
    uintptr_t lo = (uintptr_t)g_fixed_area, hi = lo + sizeof(g_fixed_area);
    if (lo <= SIM_FIXED_BEGIN && SIM_FIXED_END <= hi) g_fixed = (uint8_t*)(uintptr_t)SIM_FIXED_BEGIN;
#else
    if (sim_os_map_fixed(SIM_FIXED_BEGIN, SIM_FIXED_END - SIM_FIXED_BEGIN)) g_fixed = (uint8_t*)(uintptr_t)SIM_FIXED_BEGIN;
#endif
    if (!g_fixed) return;
    fixed_put32(SIM_ADDR_GAIN, sim_model_fixed(&g_sc, SIM_FIX_GAIN, 0));
    fixed_put32(SIM_ADDR_T_BASE, sim_model_fixed(&g_sc, SIM_FIX_T_BASE, 0));
    fixed_put32(SIM_ADDR_T_NOW, sim_model_fixed(&g_sc, SIM_FIX_T_NOW, 0));
    fixed_put32(SIM_ADDR_GLOBFRAME, sim_model_fixed(&g_sc, SIM_FIX_GLOBFRAME, 0));
    fixed_put32(SIM_ADDR_FFCSTATE, 0);
    for (uint32_t c = 0; c < 8; c++)
        fixed_put64(SIM_ADDR_CHANTAB + c * SIM_CHANTAB_STRIDE, field_value(SIM_F_STREAM, g_stream[c].mem));

    if (g_sc.noaccess & SIM_NOACCESS_FIXED) {
        fixed_noaccess(SIM_ADDR_GAIN, 4);
        fixed_noaccess(SIM_ADDR_T_BASE, 8);
        fixed_noaccess(SIM_ADDR_GLOBFRAME, 12);
    }
    if (g_sc.noaccess & SIM_NOACCESS_T_NOW) fixed_noaccess(SIM_ADDR_T_NOW, 4);
    if (g_sc.noaccess & SIM_NOACCESS_CHANTAB) fixed_noaccess(SIM_ADDR_CHANTAB, 8 * SIM_CHANTAB_STRIDE);
}

static void log_fixed(const char* name, uint64_t addr) {
    const char* state = !g_fixed ? "unavailable" : fixed_page_ok(addr, 1) ? "ok" : "noaccess";
    log_fmt("fixed %s 0x%016llx %s", name, (unsigned long long)addr, state);
}

static void setup_memory() {
    sim_geometry(&g_sc, &g_geom);
    g_bad = sim_os_reserve_noaccess(4096 * (size_t)SIM_FIELD_COUNT);
    for (int b = 0; b < SIM_BLOCK_COUNT; b++) {
        if (b == SIM_STREAM) continue;
        g_blk[b] = alloc_block((SimBlock)b);
    }
    for (Block& s : g_stream) s = alloc_block(SIM_STREAM);

    const Block& dev = g_blk[SIM_DEV];
    // The fifteen words at 0x240: pointers to the library's blocks and a few
    // distinctive values (written by the model).
    block_put64(dev, 0x240, (uintptr_t)g_blk[SIM_GRAY].mem);
    block_put64(dev, 0x248, (uintptr_t)dev.mem);
    block_put64(dev, 0x260, (uintptr_t)g_blk[SIM_B3].mem);
    block_put64(dev, 0x268, (uintptr_t)g_blk[SIM_B6].mem);
    block_put64(dev, 0x270, field_value(SIM_F_RAWP, g_blk[SIM_RAW].mem));
    block_put64(dev, 0x278, (uintptr_t)g_blk[SIM_SMOOBJ].mem);
    block_put64(dev, 0x290, (uintptr_t)g_blk[SIM_REF].mem);
    block_put64(dev, 0x298, (uintptr_t)g_blk[SIM_E0BUF].mem);
    block_put64(dev, 0x2A0, (uintptr_t)g_blk[SIM_E0ACC].mem);
    block_put64(dev, 0x2A8, (uintptr_t)g_blk[SIM_F20].mem);
    block_put64(dev, 0x2B0, (uintptr_t)g_blk[SIM_BARDATA].mem);
    for (int i = 0; i < 8; i++)
        block_put64(dev, 0x41840 + 8 * (size_t)i, field_value((SimField)(SIM_F_PTR0 + i), g_blk[SIM_B0 + i].mem));
    block_put64(dev, 0x41EE8, field_value(SIM_F_E0BUFP, g_blk[SIM_E0BUF].mem));
    block_put64(dev, 0x41EF0, field_value(SIM_F_REFP, g_blk[SIM_REF].mem));
    block_put64(dev, 0x41EF8, field_value(SIM_F_E0ACCP, g_blk[SIM_E0ACC].mem));
    block_put64(dev, 0x41F10, field_value(SIM_F_SMOP, g_blk[SIM_SMOOBJ].mem));
    block_put64(dev, 0x41F20, field_value(SIM_F_F20P, g_blk[SIM_F20].mem));
    block_put64(g_blk[SIM_SMOOBJ], 0x10, field_value(SIM_F_SMO, g_blk[SIM_SMO].mem));
    block_put64(g_blk[SIM_SMOOBJ], 0x18, field_value(SIM_F_SMOACC, g_blk[SIM_SMOACC].mem));

    setup_fixed();
}

// ---- Interface for ThermalSDK ------------------------------------------------------

static void core_frame(uint32_t k) {
    for (int b = 0; b < SIM_BLOCK_COUNT; b++)
        if (b != SIM_STREAM) sim_model_refresh(&g_sc, (SimBlock)b, k, g_blk[b].mem, g_blk[b].readable);
    for (const Block& s : g_stream) sim_model_refresh(&g_sc, SIM_STREAM, k, s.mem, s.readable);
    fixed_put32(SIM_ADDR_T_NOW, sim_model_fixed(&g_sc, SIM_FIX_T_NOW, k));
    fixed_put32(SIM_ADDR_GLOBFRAME, sim_model_fixed(&g_sc, SIM_FIX_GLOBFRAME, k));
    g_k.store(k, std::memory_order_release);
}

static void core_delegate_called() { g_delegate_calls.fetch_add(1); }

static const SimCoreApi g_api = {log_line, core_frame, core_delegate_called};

SIM_EXPORT const SimCoreApi* irsim_core_api(void) { return &g_api; }

// ---- Exports --------------------------------------------------------------------

static bool delivers(int chan) { return g_sc.chan >= 0 && chan >= g_sc.chan && chan <= 7; }

static uint32_t current_frame() { return g_k.load(std::memory_order_acquire); }

#ifndef SIM_OMIT_MAG_GetOutputBMPdata
SIM_EXPORT int MAG_GetOutputBMPdata(int chan, const unsigned char** gray, const void** hdr) {
    int rc = 0;
    if (delivers(chan)) {
        if (gray) *gray = g_blk[SIM_GRAY].mem;
        if (hdr) *hdr = g_blk[SIM_DEV].mem + 0xAF0;
        rc = 1;
    } else if (chan >= 0 && chan <= 7 && g_sc.chanfail_nullhdr) {
        if (gray) *gray = g_blk[SIM_GRAY].mem;
        if (hdr) *hdr = nullptr;
        rc = 1;
    }
    log_fmt("GetOutputBMPdata chan=%d rc=%d", chan, rc);
    if (delivers(chan)) {
        log_fmt("ptr gray 0x%016llx", (unsigned long long)(uintptr_t)g_blk[SIM_GRAY].mem);
        log_fmt("ptr hdr 0x%016llx", (unsigned long long)(uintptr_t)(g_blk[SIM_DEV].mem + 0xAF0));
        for (unsigned off = 0x240; off <= 0x2B0; off += 8) {
            // A DeviceBlock cut short by the scenario may end before a word: no line for it.
            if (off + 8 > g_blk[SIM_DEV].readable) break;
            uint64_t word;
            memcpy(&word, g_blk[SIM_DEV].mem + off, sizeof word);
            log_fmt("ptr dev+0x%03x 0x%016llx", off, (unsigned long long)word);
        }
    }
    return rc;
}
#endif

// Writes the first min(size, total) bytes that make(k, tmp) produces into buf.
static void write_clipped(unsigned char* buf, int size, size_t total, uint32_t k,
                          void (*make)(const SimScenario*, uint32_t, size_t, uint8_t*)) {
    if (!buf || size <= 0 || total == 0) return;
    size_t n = (size_t)size < total ? (size_t)size : total;
    uint8_t* tmp = (uint8_t*)malloc(total);
    if (!tmp) return;
    make(&g_sc, k, total, tmp);
    memcpy(buf, tmp, n);
    free(tmp);
}

#ifndef SIM_OMIT_MAG_GetOutputBMPdataRGB24
static void make_rgb(const SimScenario* sc, uint32_t k, size_t, uint8_t* out) { sim_model_rgb(sc, k, out); }

SIM_EXPORT int MAG_GetOutputBMPdataRGB24(int chan, unsigned char* buf, int size, int) {
    uint32_t k = current_frame();
    int rc = delivers(chan) ? g_sc.rgb_rc : 0;
    if (rc != 0) write_clipped(buf, size, (size_t)g_geom.w * g_geom.h * 3, k, make_rgb);
    log_fmt("RGB24 chan=%d size=%d frame=%u", chan, size, k);
    return rc;
}
#endif

SIM_OPTIONAL_EXPORT(int, MAG_GetTemperatureData_Raw, (int chan, int* buf, int size, int), SIM_X_TEMPRAW) {
    uint32_t k = current_frame();
    int rc = delivers(chan) ? g_sc.temp_rc : 0;
    if (rc != 0) write_clipped((unsigned char*)buf, size, (size_t)g_geom.w * g_geom.h * 4, k, sim_model_t32);
    log_fmt("TempRaw chan=%d size=%d frame=%u", chan, size, k);
    return rc;
}

SIM_OPTIONAL_EXPORT(int, MAG_GetOutputColorBardata, (int chan, const void** data, const void** info), SIM_X_COLORBAR) {
    uint32_t k = current_frame();
    int rc = 0;
    if (delivers(chan)) {
        // The bar is drawn for the current frame when it is asked for.
        const Block& d = g_blk[SIM_BARDATA];
        const Block& i = g_blk[SIM_BARINFO];
        sim_model_block_bytes(&g_sc, SIM_BARDATA, k, 0, d.readable, d.mem);
        sim_model_block_bytes(&g_sc, SIM_BARINFO, k, 0, i.readable, i.mem);
        if (data) *data = (const void*)(uintptr_t)field_value(SIM_F_BARDATA, g_blk[SIM_BARDATA].mem);
        if (info) *info = (const void*)(uintptr_t)field_value(SIM_F_BARINFO, g_blk[SIM_BARINFO].mem);
        rc = g_sc.bar_rc;
    }
    log_fmt("ColorBar chan=%d frame=%u data=%016llx info=%016llx", chan, k,
            (unsigned long long)(uintptr_t)(data ? *data : nullptr), (unsigned long long)(uintptr_t)(info ? *info : nullptr));
    return rc;
}

SIM_OPTIONAL_EXPORT(int, MAG_TriggerFFC, (int chan, int arg), SIM_X_TRIGGERFFC) {
    g_ffc_calls++;
    fixed_put32(SIM_ADDR_FFCSTATE, 0x100 * g_ffc_calls + ((uint32_t)arg & 0xFF));
    log_fmt("TriggerFFC chan=%d arg=%d frames=%d", chan, arg, (int)g_delegate_calls.load());
    return 1;
}

// ---- Load ----------------------------------------------------------------------

static void core_load() {
    bool have_text = sim_os_getenv("IRSIM", g_text, sizeof(g_text));
    bool ok = sim_parse_scenario(have_text ? g_text : nullptr, &g_sc);
    g_noexport = g_sc.noexport;
    char path[4096];
    if (sim_os_getenv("IRSIM_LOG", path, sizeof(path)) && path[0]) sim_os_log_open(path);
    log_line("load");
    log_fmt("scenario %s", g_text);
    if (!ok) {
        log_fmt("error %s", g_sc.error);
        fprintf(stderr, "irsim: IRSIM item not understood: %s\n", g_sc.error);
    }
    setup_memory();
    log_fixed("gain", SIM_ADDR_GAIN);
    log_fixed("t_base", SIM_ADDR_T_BASE);
    log_fixed("t_now", SIM_ADDR_T_NOW);
    log_fixed("globframe", SIM_ADDR_GLOBFRAME);
    log_fixed("ffcstate", SIM_ADDR_FFCSTATE);
    log_fixed("chantab", SIM_ADDR_CHANTAB);
}

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    core_load();
    static const struct {
        SimExport bit;
        const char* name;
    } optional[] = {
        {SIM_X_TEMPRAW, "MAG_GetTemperatureData_Raw"},
        {SIM_X_COLORBAR, "MAG_GetOutputColorBardata"},
        {SIM_X_TRIGGERFFC, "MAG_TriggerFFC"},
    };
    for (const auto& o : optional)
        if (g_noexport & (1u << o.bit)) sim_os_hide_export((const void*)&core_load, o.name);
    return TRUE;
}
#else
__attribute__((constructor)) static void core_constructor() { core_load(); }
#endif
