// The frame delegate the camera library calls for every frame, and the driver's
// wait for a fresh frame.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Largest frame the delegate keeps: 320 x 240 pixels of 3 bytes.
const size_t CB_BYTES = 230400;
// Format code of an RGB24 frame, the only one the delegate copies.
const int32_t FRAME_FORMAT_RGB24 = 3;

// Delegate calls so far, accepted or not. Only the delegate writes it.
extern std::atomic<int32_t> g_frames;

// The last accepted frame with its width and height. Three slots make a triple
// buffer: the delegate fills its own slot and swaps it in with one atomic
// exchange, the driver swaps in the newest slot when it wants a frame, so neither
// side ever waits for the other and a slot's sizes always describe its bytes.
extern uint8_t g_cb[3][CB_BYTES];
extern int32_t g_cbw[3];
extern int32_t g_cbh[3];

// The frame copy as the driver sees it: bytes and sizes of one accepted frame.
struct FrameCopy {
    const uint8_t* bytes;
    int32_t width;
    int32_t height;
};

// The delegate: copies an RGB24 frame of at most CB_BYTES, counts every call.
void onIR(const void* frame, int32_t width, int32_t height, int32_t format);

// Driver side: the newest accepted frame. Valid until the next call (the slot is
// the driver's own until then). Width and height are 0 before the first frame.
FrameCopy latest_frame();

// Waits until g_frames differs from *last_frames or 3000 ms pass, then takes the
// counter into *last_frames and pauses 2 ms. Returns false when the wait timed out.
bool wait_for_frame(int32_t* last_frames);
