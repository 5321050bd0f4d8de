// The simulated camera's model: the scenario switches (environment variable
// IRSIM) and every byte the simulated libraries hand out or keep in memory, as
// pure functions of (scenario, block, frame k, byte index). The libraries fill
// their memory with these functions, so a test predicts each dump byte for byte.
// Integer arithmetic only: Linux and Windows builds give identical bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Scenario -----------------------------------------------------------------

// Memory blocks of the simulated CoreSDKLib. SIM_B3 is the thr table (thrp) and
// SIM_B6 the gain table (gainp); the other b-blocks are the remaining ptrs418x
// targets. SIM_SMOOBJ is the SmoObject itself, SIM_SMO the block behind its smo.
enum SimBlock {
    SIM_GRAY, SIM_RAW, SIM_DEV,
    SIM_B0, SIM_B1, SIM_B2, SIM_B3, SIM_B4, SIM_B5, SIM_B6, SIM_B7,
    SIM_REF, SIM_E0BUF, SIM_E0ACC, SIM_F20,
    SIM_SMOOBJ, SIM_SMO, SIM_SMOACC,
    SIM_STREAM, SIM_BARDATA, SIM_BARINFO,
    SIM_BLOCK_COUNT
};

// Pointer fields that `bad=` and `null=` act on. thrp is SIM_F_PTR3, gainp SIM_F_PTR6.
enum SimField {
    SIM_F_RAWP,
    SIM_F_PTR0, SIM_F_PTR1, SIM_F_PTR2, SIM_F_PTR3, SIM_F_PTR4, SIM_F_PTR5, SIM_F_PTR6, SIM_F_PTR7,
    SIM_F_REFP, SIM_F_E0BUFP, SIM_F_E0ACCP, SIM_F_SMOP, SIM_F_F20P,
    SIM_F_STREAM, SIM_F_SMO, SIM_F_SMOACC, SIM_F_BARDATA, SIM_F_BARINFO,
    SIM_FIELD_COUNT
};

// Optional exports that `noexport=` can remove at run time.
enum SimExport {
    SIM_X_STOP, SIM_X_SETTEMPBOUNDARY, SIM_X_SETUNITMODE, SIM_X_READTEMPERATUREATPOINT,
    SIM_X_TEMPRAW, SIM_X_COLORBAR, SIM_X_TRIGGERFFC,
    SIM_EXPORT_COUNT
};

// `noaccess=` bits.
enum { SIM_NOACCESS_FIXED = 1, SIM_NOACCESS_T_NOW = 2, SIM_NOACCESS_CHANTAB = 4 };

const int SIM_MAX_CYCLE = 16;

// One entry of the `cb=` cycle: the size of the delegate frame; null_frame hands
// the delegate a null pointer (with the image geometry as its size).
struct SimCbSize {
    int32_t w, h;
    bool null_frame;
};

struct SimScenario {
    int32_t geom_w, geom_h;         // header width and height, as written
    int32_t fps;                    // 0: no frame thread
    int32_t fmt[SIM_MAX_CYCLE];     // delegate format codes, cycled
    int nfmt;
    SimCbSize cb[SIM_MAX_CYCLE];    // delegate frame sizes, cycled; ncb 0: image geometry
    int ncb;
    int32_t chan;                   // first delivering channel 0..7, -1: none
    bool chanfail_nullhdr;          // failing channels: rc 1, gray set, header null
    uint32_t noexport;              // bits 1 << SimExport
    int32_t start_rc, rgb_rc, temp_rc, bar_rc;
    uint32_t nsegs;
    uint32_t seed;
    uint32_t bad;                   // bits 1 << SimField: points at no-access memory
    uint32_t null_ptr;              // bits 1 << SimField: null
    int64_t short_len[SIM_BLOCK_COUNT];  // readable bytes of a block; -1: the whole block
    uint32_t noaccess;              // SIM_NOACCESS_* bits
    int64_t asleft_kib;             // Linux: address space left to the process after Start; -1: no limit
    char error[64];                 // first item that did not parse, empty when none
};

// Defaults: every switch at its documented default.
void sim_default_scenario(SimScenario* out);

// Parses the IRSIM text (null or empty: defaults). Items that do not parse are
// skipped; the first one is named in out->error and the result is false.
bool sim_parse_scenario(const char* text, SimScenario* out);

// ---- Geometry -------------------------------------------------------------------

// The image geometry: the header's width and height when both are 1..1000,
// else 160x120 (the probe applies the same rule). sw, sh: half of each.
// The rooms are the sizes every image-like block is allocated with: never less
// than a 160x120 display.
struct SimGeom {
    int32_t w, h, sw, sh;
    size_t gray_room;   // max(w*h, 19200) bytes
    size_t raw_room;    // max(sw*sh, 4800) * 2 bytes
    size_t acc_room;    // max(sw*sh, 4800) * 4 bytes
};
void sim_geometry(const SimScenario* sc, SimGeom* out);

// ---- Fixed library addresses ------------------------------------------------------

const uint64_t SIM_FIXED_BEGIN = 0x18006E000ull;   // pages the library owns there
const uint64_t SIM_FIXED_END = 0x18009A000ull;
const uint64_t SIM_ADDR_GAIN = 0x18006EA60ull;
const uint64_t SIM_ADDR_T_BASE = 0x1800990C0ull;
const uint64_t SIM_ADDR_T_NOW = 0x1800990C4ull;
const uint64_t SIM_ADDR_GLOBFRAME = 0x180073BECull;
const uint64_t SIM_ADDR_FFCSTATE = 0x180073BF4ull;
const uint64_t SIM_ADDR_CHANTAB = 0x180073758ull;
const uint32_t SIM_CHANTAB_STRIDE = 0x4A8;

enum SimFixed { SIM_FIX_GAIN, SIM_FIX_T_BASE, SIM_FIX_T_NOW, SIM_FIX_GLOBFRAME };

// Value of a fixed 32-bit word in frame k. ffcstate is not a function of k: it is
// 0x100 * (MAG_TriggerFFC calls so far) + (last argument & 0xFF), 0 before any call.
uint32_t sim_model_fixed(const SimScenario* sc, SimFixed which, uint32_t k);

// ---- Block contents ------------------------------------------------------------------

// Nominal size of a block (what the library allocates; short= may cut it).
size_t sim_model_block_size(const SimScenario* sc, SimBlock b);

// Bytes [off, off + len) of block b in frame k, for any off and len (a block's
// pattern continues past its nominal size). Pointer words (see the offset lists
// below) read as zero: the library stores run-time addresses there.
void sim_model_block_bytes(const SimScenario* sc, SimBlock b, uint32_t k, size_t off, size_t len, uint8_t* out);

// Rewrites in place the bytes of block b that depend on the frame, for frame k;
// mem holds the block's first `readable` bytes. Static bytes and pointer words
// are not touched. Used by the library's frame thread.
void sim_model_refresh(const SimScenario* sc, SimBlock b, uint32_t k, uint8_t* mem, size_t readable);

// Offsets of the 8-byte pointer words inside the DeviceBlock and the SmoObject.
size_t sim_model_device_pointer_offsets(const uint32_t** list);
size_t sim_model_smoobj_pointer_offsets(const uint32_t** list);

// One DeviceBlock byte of frame k (convenience over sim_model_block_bytes).
uint8_t sim_model_device_byte(const SimScenario* sc, uint32_t k, size_t off);
uint32_t sim_model_device_u32(const SimScenario* sc, uint32_t k, size_t off);

// ---- Images and call results ---------------------------------------------------------------

// Gray image of frame k: w*h bytes, rows top-down.
void sim_model_gray(const SimScenario* sc, uint32_t k, uint8_t* out);
// Raw sensor image: sw*sh u16 little-endian, rows top-down.
void sim_model_raw(const SimScenario* sc, uint32_t k, uint8_t* out);
// RGB24 as MAG_GetOutputBMPdataRGB24 writes it: w*h pixels of B, G, R (the palette
// entry of the gray value).
void sim_model_rgb(const SimScenario* sc, uint32_t k, uint8_t* out);
// First n bytes of the temperature call's output: one u32 per display pixel in
// row order, milli-kelvin. n is clipped to w*h*4 by the caller.
void sim_model_t32(const SimScenario* sc, uint32_t k, size_t n, uint8_t* out);
// Colour table: 256 entries B, G, R, reserved.
void sim_model_palette(const SimScenario* sc, uint32_t k, uint8_t* out1024);
// The 96 bytes from the header: 40-byte BITMAPINFOHEADER and 14 palette entries.
void sim_model_header(const SimScenario* sc, uint32_t k, uint8_t* out96);
// Colour bar: 4096 data bytes and 64 info bytes.
void sim_model_bar_data(const SimScenario* sc, uint32_t k, uint8_t* out4096);
void sim_model_bar_info(const SimScenario* sc, uint32_t k, uint8_t* out64);

// The delegate call of frame k (k >= 1): frame size, format code, whether the
// pointer is null, and the frame bytes (max(w,0)*max(h,0)*3, BGR of the scene
// rendered at that size).
struct SimCbFrame {
    int32_t w, h, fmt;
    bool null_frame;
    size_t bytes;
};
void sim_model_cb_info(const SimScenario* sc, uint32_t k, SimCbFrame* out);
void sim_model_cb_frame(const SimScenario* sc, uint32_t k, uint8_t* out);
// Largest frame of the cb cycle, in bytes (at least 1).
size_t sim_model_cb_max_bytes(const SimScenario* sc);

// ReadTemperatureAtPoint of frame k at display pixel (x, y), clamped into the image:
// the doubles at bytes 16 (tempRaw) and 24 (tempArm) of the result area.
void sim_model_point_temps(const SimScenario* sc, uint32_t k, int32_t x, int32_t y, double* temp_raw, double* temp_arm);

// Scene temperature of display pixel (x, y) of a w x h rendering, milli-degrees Celsius.
int32_t sim_model_scene_mc(const SimScenario* sc, uint32_t k, int32_t x, int32_t y, int32_t w, int32_t h);
