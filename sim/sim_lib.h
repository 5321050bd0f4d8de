// What the two simulated libraries share: the export macros and the internal
// interface that ThermalSDK finds in CoreSDKLib at run time (the libraries import
// nothing from each other, so either one loads alone).
#pragma once

#include <cstdint>

#ifdef _WIN32
#define SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Optional exports that the scenario can remove at run time.
// Windows: an ordinary export; DllMain clears its export table entry when the
// scenario names it. Linux: a GNU ifunc whose resolver answers null when the
// scenario names it, so dlsym finds nothing.
#ifdef _WIN32
#define SIM_OPTIONAL_EXPORT(ret, name, params, bit) SIM_EXPORT ret name params
#else
#define SIM_OPTIONAL_EXPORT(ret, name, params, bit)                                  \
    extern "C" ret sim_impl_##name params;                                           \
    typedef ret (*sim_fn_##name) params;                                             \
    extern "C" __attribute__((no_sanitize("address", "thread", "undefined")))        \
    sim_fn_##name sim_resolve_##name(void) {                                         \
        return (g_noexport & (1u << (bit))) ? nullptr : sim_impl_##name;             \
    }                                                                                \
    SIM_EXPORT ret name params __attribute__((ifunc("sim_resolve_" #name)));         \
    extern "C" ret sim_impl_##name params
#endif

// Name of the internal export of CoreSDKLib that hands out SimCoreApi.
#define SIM_CORE_API_EXPORT "irsim_core_api"

struct SimCoreApi {
    // Appends one line (text without its line end) to the log.
    void (*log_line)(const char* text);
    // The frame thread's step: refresh every frame-dependent byte for frame k, then
    // make k the current frame of the calls.
    void (*frame)(uint32_t k);
    // Counts one delegate call (for the TriggerFFC log line).
    void (*delegate_called)(void);
};
