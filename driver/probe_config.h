// Run configuration of the probe and the process-wide state every unit shares.
#pragma once

#include <cstdint>

// What the six positional arguments configure.
struct ProbeConfig {
    const char* dir;      // output directory of the dump files
    int32_t pairs;        // capture iterations
    int32_t warm_ms;      // warm-up pause after Start
    double boundary[3];   // SetTempBoundary arguments, in the order passed
};

// Output directory that the dump writer joins file names to; "." unless argument 1 gives one.
extern const char* g_dir;

// Builds the configuration from the command line and sets g_dir.
ProbeConfig parse_config(int argc, char** argv);

// Integer argument as atoi reads it (white space, sign, digits, rest ignored), but a
// number beyond 32 bits saturates at the nearest bound instead of being undefined.
int32_t arg_to_int(const char* text);

// Floating-point argument as atof reads it (longest decimal prefix, 0.0 without one).
double arg_to_double(const char* text);
