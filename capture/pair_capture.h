// Pair capture (the images taken right after the frame wait) and the frame outputs
// (those images, the delegate's frame, the header and the colour bar as dump files).
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/sdk_entry_points.h"

// Geometry and working buffers, allocated once after channel discovery.
struct PairBuffers {
    int32_t w, h;    // display
    int32_t sw, sh;  // sensor: half of each, truncated
    uint8_t* rgb;    // w x h x 3
    uint16_t* raw;   // sw x sh
    uint8_t* pal;    // 1024
    int32_t* t32;    // w x h
    uint8_t* gray;   // w x h
};

const size_t PAL_BYTES = 1024;

inline size_t gray_bytes(const PairBuffers* b) { return (size_t)b->w * (size_t)b->h; }
inline size_t rgb_bytes(const PairBuffers* b) { return gray_bytes(b) * 3; }
inline size_t raw_bytes(const PairBuffers* b) { return (size_t)b->sw * (size_t)b->sh * 2; }
inline size_t sensor_acc_bytes(const PairBuffers* b) { return (size_t)b->sw * (size_t)b->sh * 4; }

// Allocates and clears the buffers for w x h, in the order rgb, raw, pal, t32, gray.
// False when an allocation fails; then no buffer may be used.
bool alloc_pair_buffers(PairBuffers* b, int32_t w, int32_t h);

// What one capture produced: the two call results and how many bytes of each
// copy of library memory could be read.
struct PairCapture {
    int32_t rc_rgb;
    int32_t rc_temp;
    size_t gray_len;
    size_t raw_len;
    size_t pal_len;
};

// Takes the pair's images: gray copy, RGB24 call, raw copy, palette copy, temperature call.
void capture_pair(const SdkEntryPoints* sdk, int32_t chan, const uint8_t* gray_img, const void* hdr,
                  PairBuffers* b, PairCapture* cap);

// Writes the frame output files and prints the bar line and the summary line.
void write_frame_outputs(const SdkEntryPoints* sdk, int32_t chan, int32_t pair, const char* prefix,
                         const void* hdr, const PairBuffers* b, const PairCapture* cap, uint32_t fcnt);
