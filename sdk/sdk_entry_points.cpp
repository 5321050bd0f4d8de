#include "sdk/sdk_entry_points.h"

#include "platform/platform.h"

const char* const SDK_LIBRARY_DIR = "C:\\Project\\MAG160C\\IR_Camera_SDK-1.0.1\\windows\\windows\\app";

template <typename Fn>
static void bind(Fn* field, void* lib, const char* name)
{
    *field = lib ? (Fn)plat_find_export(lib, name) : nullptr;
}

void load_sdk_libraries(SdkEntryPoints* sdk)
{
    *sdk = SdkEntryPoints{};
    plat_set_library_dir(SDK_LIBRARY_DIR);
    sdk->thermal_lib = plat_load_library("ThermalSDK.dll");
    sdk->core_lib = plat_load_library("CoreSDKLib.dll");
}

void bind_sdk_entry_points(SdkEntryPoints* sdk)
{
    bind(&sdk->Start, sdk->thermal_lib, "Start");
    bind(&sdk->Stop, sdk->thermal_lib, "Stop");
    bind(&sdk->SetNewIRFrameDelegate, sdk->thermal_lib, "SetNewIRFrameDelegate");
    bind(&sdk->SetTempBoundary, sdk->thermal_lib, "SetTempBoundary");
    bind(&sdk->SetUnitMode, sdk->thermal_lib, "SetUnitMode");
    bind(&sdk->ReadTemperatureAtPoint, sdk->thermal_lib, "ReadTemperatureAtPoint");
    bind(&sdk->MAG_GetOutputBMPdata, sdk->core_lib, "MAG_GetOutputBMPdata");
    bind(&sdk->MAG_GetOutputBMPdataRGB24, sdk->core_lib, "MAG_GetOutputBMPdataRGB24");
    bind(&sdk->MAG_GetTemperatureData_Raw, sdk->core_lib, "MAG_GetTemperatureData_Raw");
    bind(&sdk->MAG_GetOutputColorBardata, sdk->core_lib, "MAG_GetOutputColorBardata");
}

void bind_trigger_ffc(SdkEntryPoints* sdk)
{
    bind(&sdk->MAG_TriggerFFC, sdk->core_lib, "MAG_TriggerFFC");
}

bool sdk_required_bound(const SdkEntryPoints* sdk)
{
    return sdk->Start && sdk->SetNewIRFrameDelegate && sdk->MAG_GetOutputBMPdata &&
           sdk->MAG_GetOutputBMPdataRGB24;
}
