// Simulated ThermalSDK.dll: camera control, the frame thread that drives the
// delegate, and the point temperature reading. Memory and log belong to
// CoreSDKLib, found at run time; without it the frames still reach the delegate.
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

typedef void (*IrDelegate)(const void* frame, int w, int h, int fmt);

namespace {

SimScenario g_sc;
char g_text[4096];
std::atomic<const SimCoreApi*> g_core{nullptr};
std::atomic<IrDelegate> g_delegate{nullptr};
std::atomic<uint32_t> g_k{0};     // last frame produced; written by the frame thread only
SimThread* g_thread;              // Start and Stop run on the caller's thread
SimEvent* g_stop;
uint8_t* g_frame_buf;             // the delegate frame; frame thread only

}  // namespace

static uint32_t g_noexport;

static const SimCoreApi* core() {
    const SimCoreApi* c = g_core.load(std::memory_order_acquire);
    if (c) return c;
    typedef const SimCoreApi* (*GetApi)(void);
    GetApi get = (GetApi)sim_os_find_loaded_export("CoreSDKLib.dll", SIM_CORE_API_EXPORT);
    if (!get) return nullptr;
    c = get();
    g_core.store(c, std::memory_order_release);
    return c;
}

__attribute__((format(printf, 1, 2))) static void log_fmt(const char* fmt, ...) {
    const SimCoreApi* c = core();
    if (!c) return;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    c->log_line(buf);
}

// ---- Frame thread -------------------------------------------------------------------

#ifndef SIM_OMIT_Start
static void frame_main(void* arg) {
    const SimCoreApi* c = (const SimCoreApi*)arg;
    uint32_t period = 1000 / (uint32_t)g_sc.fps;
    while (!sim_os_event_wait(g_stop, period)) {
        // Memory first, then the delegate: a delegate call announces a frame that is
        // already in place.
        uint32_t k = g_k.load(std::memory_order_relaxed) + 1;
        g_k.store(k, std::memory_order_release);
        if (c) c->frame(k);
        IrDelegate d = g_delegate.load(std::memory_order_acquire);
        if (!d) continue;
        SimCbFrame f;
        sim_model_cb_info(&g_sc, k, &f);
        if (f.bytes) sim_model_cb_frame(&g_sc, k, g_frame_buf);
        d(f.null_frame ? nullptr : g_frame_buf, f.w, f.h, f.fmt);
        if (c) c->delegate_called();
    }
}
#endif

// ---- Exports --------------------------------------------------------------------

#ifndef SIM_OMIT_Start
// Logs what the program's loader hands out for both libraries (handles and every
// export, null when absent), so a test can check the pointers the program prints.
static void log_loaded_pointers() {
    static const char* const thermal[] = {"Start", "Stop", "SetNewIRFrameDelegate", "SetTempBoundary",
                                          "SetUnitMode", "ReadTemperatureAtPoint"};
    static const char* const core[] = {"MAG_GetOutputBMPdata", "MAG_GetOutputBMPdataRGB24",
                                       "MAG_GetTemperatureData_Raw", "MAG_GetOutputColorBardata", "MAG_TriggerFFC"};
    log_fmt("ptr thermal_handle 0x%016llx", (unsigned long long)(uintptr_t)sim_os_loaded_handle("ThermalSDK.dll"));
    log_fmt("ptr core_handle 0x%016llx", (unsigned long long)(uintptr_t)sim_os_loaded_handle("CoreSDKLib.dll"));
    for (const char* name : thermal)
        log_fmt("ptr %s 0x%016llx", name,
                (unsigned long long)(uintptr_t)sim_os_find_loaded_export("ThermalSDK.dll", name));
    for (const char* name : core)
        log_fmt("ptr %s 0x%016llx", name,
                (unsigned long long)(uintptr_t)sim_os_find_loaded_export("CoreSDKLib.dll", name));
}

SIM_EXPORT int Start(void) {
    log_fmt("Start");
    log_loaded_pointers();
    if (g_sc.fps > 0 && !g_thread) {
        sim_os_event_reset(g_stop);
        g_thread = sim_os_thread_start(frame_main, (void*)core());
    }
    if (g_sc.asleft_kib >= 0)
        log_fmt("asleft %s", sim_os_limit_address_space((size_t)g_sc.asleft_kib) ? "set" : "unsupported");
    return g_sc.start_rc;
}
#endif

static void stop_frames() {
    if (g_thread) {
        sim_os_event_set(g_stop);
        sim_os_thread_join(g_thread);
        g_thread = nullptr;
    }
}

SIM_OPTIONAL_EXPORT(int, Stop, (void), SIM_X_STOP) {
    log_fmt("Stop");
    stop_frames();
    return 1;
}

#ifndef SIM_OMIT_SetNewIRFrameDelegate
SIM_EXPORT int SetNewIRFrameDelegate(IrDelegate cb) {
    g_delegate.store(cb, std::memory_order_release);
    log_fmt("SetNewIRFrameDelegate");
    return 1;
}
#endif

SIM_OPTIONAL_EXPORT(int, SetTempBoundary, (double a, double b, double c), SIM_X_SETTEMPBOUNDARY) {
    log_fmt("SetTempBoundary %.6f %.6f %.6f", a, b, c);
    return 1;
}

SIM_OPTIONAL_EXPORT(int, SetUnitMode, (int mode), SIM_X_SETUNITMODE) {
    log_fmt("SetUnitMode %d", mode);
    return 1;
}

SIM_OPTIONAL_EXPORT(int, ReadTemperatureAtPoint, (int x, int y, void* area64), SIM_X_READTEMPERATUREATPOINT) {
    if (!area64) return 0;
    double raw, arm;
    sim_model_point_temps(&g_sc, g_k.load(std::memory_order_acquire), x, y, &raw, &arm);
    memcpy((uint8_t*)area64 + 16, &raw, 8);
    memcpy((uint8_t*)area64 + 24, &arm, 8);
    return 1;
}

// ---- Load ----------------------------------------------------------------------

static void thermal_load() {
    bool have_text = sim_os_getenv("IRSIM", g_text, sizeof(g_text));
    sim_parse_scenario(have_text ? g_text : nullptr, &g_sc);  // CoreSDKLib reports errors
    g_noexport = g_sc.noexport;
    g_stop = sim_os_event_new();
    g_frame_buf = (uint8_t*)malloc(sim_model_cb_max_bytes(&g_sc));
    if (!g_frame_buf) {
        fprintf(stderr, "irsim: no memory for the delegate frame\n");
        abort();
    }
}

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    thermal_load();
    static const struct {
        SimExport bit;
        const char* name;
    } optional[] = {
        {SIM_X_STOP, "Stop"},
        {SIM_X_SETTEMPBOUNDARY, "SetTempBoundary"},
        {SIM_X_SETUNITMODE, "SetUnitMode"},
        {SIM_X_READTEMPERATUREATPOINT, "ReadTemperatureAtPoint"},
    };
    for (const auto& o : optional)
        if (g_noexport & (1u << o.bit)) sim_os_hide_export((const void*)&thermal_load, o.name);
    return TRUE;
}
#else
__attribute__((constructor)) static void thermal_constructor() {
    thermal_load();
    // Windows ends the frame thread before anything of the process is torn down.
    // Here exit() would run the program's destructors while the thread still calls
    // its delegate; a handler registered now runs before them.
    atexit(stop_frames);
}
#endif
