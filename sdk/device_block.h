// Map of the camera library's internal per-channel state block (DeviceBlock) and of
// the values it keeps at fixed addresses. Every read of library memory goes through
// the platform's fault-tolerant read: a field that cannot be read counts as 0 and is
// reported on standard error.
#pragma once

#include <cstddef>
#include <cstdint>

// The block starts this far before the bitmap header the library hands out.
const uintptr_t DEV_HDR = 0xAF0;

// Field offsets in the DeviceBlock, named after the labels the probe prints.
const uint32_t DEV_FCNT = 0x8;
const uint32_t DEV_54 = 0x54;
const uint32_t DEV_11C = 0x11C;
const uint32_t DEV_PTRS_FIRST = 0x240;  // devptrs: fifteen 64-bit words
const uint32_t DEV_PTRS_LAST = 0x2B0;
const uint32_t DEV_RAWP = 0x270;
const uint32_t DEV_BI_WIDTH = 0xAF4;
const uint32_t DEV_BI_HEIGHT = 0xAF8;
const uint32_t DEV_COLOR_TABLE = 0xB18;
const uint32_t DEV_41340 = 0x41340;
const uint32_t DEV_41348 = 0x41348;
const uint32_t DEV_NSEGS = 0x41554;
const uint32_t DEV_41558 = 0x41558;
const uint32_t DEV_4155C = 0x4155C;
const uint32_t DEV_41560 = 0x41560;
const uint32_t DEV_B64_0 = 0x41564;
const uint32_t DEV_B68_0 = 0x41568;
const uint32_t DEV_PTRS418X = 0x41840;
const uint32_t DEV_41840 = 0x41840;
const uint32_t DEV_41848 = 0x41848;
const uint32_t DEV_THR_INLINE = 0x41848;
const uint32_t DEV_THRP = 0x41858;
const uint32_t DEV_TH = 0x41858;
const uint32_t DEV_GAINP = 0x41870;
const uint32_t DEV_G0 = 0x41870;
const uint32_t DEV_GAIN_INLINE = 0x41870;
const uint32_t DEV_SMO1 = 0x41EE0;
const uint32_t DEV_E0BUFP = 0x41EE8;
const uint32_t DEV_REFP = 0x41EF0;
const uint32_t DEV_E0ACCP = 0x41EF8;
const uint32_t DEV_E0 = 0x41F00;
const uint32_t DEV_REF = 0x41F0C;
const uint32_t DEV_SMOP = 0x41F10;
const uint32_t DEV_SMO2 = 0x41F10;
const uint32_t DEV_F20P = 0x41F20;
const uint32_t DEV_F10 = 0x41F30;
const uint32_t DEV_F3C = 0x41F3C;
const uint32_t DEV_FD8 = 0x41FD8;
const uint32_t DEV_FDC = 0x41FDC;
const uint32_t DEV_FE0 = 0x41FE0;
const uint32_t DEV_FE4 = 0x41FE4;
const uint32_t DEV_HI = 0x4202C;
const uint32_t DEV_LO = 0x42030;
const uint32_t DEV_HIST = 0x4204C;
const uint32_t DEV_LUT = 0x4284C;
const uint32_t DEV_PIXELS = 0x47938;
const uint32_t DEV_P47944 = 0x47944;
const uint32_t DEV_COMP_OFF = 0x47948;
const uint32_t DEV_SHIFT = 0x4794C;
const uint32_t DEV_P47950 = 0x47950;
const uint32_t DEV_P47954 = 0x47954;
const uint32_t DEV_G1 = 0x54470;

// Offsets in the SmoObject that smop points to.
const uint32_t SMO_SMO = 0x10;
const uint32_t SMO_SMOACC = 0x18;

// Fixed addresses inside the camera library's image, used as they stand.
const uintptr_t FIXED_GAIN = 0x18006EA60;
const uintptr_t FIXED_T_BASE = 0x1800990C0;
const uintptr_t FIXED_T_NOW = 0x1800990C4;
const uintptr_t FIXED_GLOBFRAME = 0x180073BEC;
const uintptr_t FIXED_FFCSTATE = 0x180073BF4;
const uintptr_t FIXED_CHANNEL_TABLE = 0x180073758;
const uintptr_t CHANNEL_ENTRY_BYTES = 0x4A8;

// Offsets of the u32 fields of a StreamRecord.
const uint32_t STREAM_FIELDS[6] = {0x2D78, 0x2D88, 0x2D8C, 0x2D90, 0x2D94, 0x2D98};

// The values read from the DeviceBlock and the fixed addresses in one pass per
// pair, right after the capture. Later uses in the pair take these copies.
struct PairState {
    uint32_t fcnt;
    uint32_t hi, lo, span;
    uint32_t pixels, p47944, comp_off, shift, p47950, p47954;
    uint32_t gain, t_base, t_now;
    uint32_t fdc, fe0, ref, f3c;
    uint64_t refp;
    uint32_t dev41340, dev41348;
    uint32_t nsegs, dev41558, dev4155c, dev41560, b64_0, b68_0;
    uint32_t dev41840, dev41848, thrp_low;
    uint32_t dev54;
};

// Base of the DeviceBlock for the header pointer found at channel discovery.
uintptr_t device_block_base(const void* hdr);

// Reads of library memory. name labels the value in the report of a shortfall.
uint32_t read_u32(uintptr_t addr, const char* name);
int32_t read_i32(uintptr_t addr, const char* name);
uint64_t read_u64(uintptr_t addr, const char* name);
// A u32 or u64 that cannot be read whole is 0. read_bytes copies n bytes and
// leaves 0 in the bytes that cannot be read.
void read_bytes(uintptr_t addr, void* dst, size_t n, const char* name);
// Copies up to n bytes and returns how many leading bytes could be read; reports a shortfall.
size_t read_block(uintptr_t addr, void* dst, size_t n, const char* name);

inline uint32_t dev_u32(uintptr_t dev, uint32_t off, const char* name) { return read_u32(dev + off, name); }
inline uint64_t dev_u64(uintptr_t dev, uint32_t off, const char* name) { return read_u64(dev + off, name); }

// The fixed 32-bit values. A value found unreadable at start-up is reported once
// there and then reads as 0 without a further line.
uint32_t read_fixed_u32(uintptr_t addr, const char* name);

// Checks once, at start-up, that the fixed addresses can be read, and says on
// standard error which cannot.
void check_fixed_addresses(int32_t chan);

// Address of the channel's ChannelEntry and the StreamRecord pointer in its first 8 bytes.
uintptr_t channel_entry_address(int32_t chan);
uint64_t read_stream_record_pointer(uintptr_t entry);

// Fills the PairState in one pass and derives span.
void fill_pair_state(uintptr_t dev, PairState* st);
