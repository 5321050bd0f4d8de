// The camera libraries' entry points: one table, bound by export name.
#pragma once

#include <cstdint>

// The frame delegate the library calls for every frame, from a thread of its own.
typedef void (*FrameDelegate)(const void* frame, int32_t width, int32_t height, int32_t format);

typedef int32_t (*StartFn)();
typedef int32_t (*StopFn)();
typedef int32_t (*SetNewIRFrameDelegateFn)(FrameDelegate delegate);
typedef int32_t (*SetTempBoundaryFn)(double first, double second, double third);
typedef int32_t (*SetUnitModeFn)(int32_t mode);
typedef int32_t (*ReadTemperatureAtPointFn)(int32_t x, int32_t y, void* reading64);
typedef int32_t (*GetOutputBMPdataFn)(int32_t chan, const uint8_t** gray, const void** hdr);
typedef int32_t (*GetOutputBMPdataRGB24Fn)(int32_t chan, uint8_t* rgb, int32_t size, int32_t one);
typedef int32_t (*GetTemperatureDataRawFn)(int32_t chan, int32_t* t32, int32_t size, int32_t one);
typedef int32_t (*GetOutputColorBardataFn)(int32_t chan, const void** data, const void** info);
typedef int32_t (*TriggerFFCFn)(int32_t chan, int32_t arg);

// Library handles and one field per export, null when absent.
struct SdkEntryPoints {
    void* thermal_lib;
    void* core_lib;
    StartFn Start;
    StopFn Stop;
    SetNewIRFrameDelegateFn SetNewIRFrameDelegate;
    SetTempBoundaryFn SetTempBoundary;
    SetUnitModeFn SetUnitMode;
    ReadTemperatureAtPointFn ReadTemperatureAtPoint;
    GetOutputBMPdataFn MAG_GetOutputBMPdata;
    GetOutputBMPdataRGB24Fn MAG_GetOutputBMPdataRGB24;
    GetTemperatureDataRawFn MAG_GetTemperatureData_Raw;
    GetOutputColorBardataFn MAG_GetOutputColorBardata;
    TriggerFFCFn MAG_TriggerFFC;
};

// Where the camera libraries are installed on the camera's machine.
extern const char* const SDK_LIBRARY_DIR;

// Sets the library directory and loads ThermalSDK.dll, then CoreSDKLib.dll (tried
// even when the first failed). Handles are null for a library that did not load.
void load_sdk_libraries(SdkEntryPoints* sdk);

// Binds every export except MAG_TriggerFFC, in table order.
void bind_sdk_entry_points(SdkEntryPoints* sdk);

// Binds MAG_TriggerFFC, which the probe looks up once its buffers exist.
void bind_trigger_ffc(SdkEntryPoints* sdk);

// True when the four exports the probe cannot run without are bound.
bool sdk_required_bound(const SdkEntryPoints* sdk);
