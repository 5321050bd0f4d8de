#include "capture/frame_delegate.h"

#include <cstring>

#include "platform/platform.h"

std::atomic<int32_t> g_frames{0};
uint8_t g_cb[3][CB_BYTES];
int32_t g_cbw[3];
int32_t g_cbh[3];

// Slot ownership: one slot belongs to the delegate, one to the driver, and the
// third is parked here, with FRESH set while it holds a frame the driver has not
// taken yet.
static const uint32_t SLOT_MASK = 3;
static const uint32_t FRESH = 4;
static std::atomic<uint32_t> g_cb_parked{2};
static uint32_t g_cb_writer_slot = 1;  // touched only by the delegate's thread
static uint32_t g_cb_reader_slot = 0;  // touched only by the driver's thread

void onIR(const void* frame, int32_t width, int32_t height, int32_t format)
{
    if (frame && width > 0 && height > 0 && format == FRAME_FORMAT_RGB24) {
        int64_t bytes = (int64_t)width * height * 3;
        // A larger frame would not fit the copy; it is counted like any other.
        if (bytes <= (int64_t)CB_BYTES) {
            uint32_t slot = g_cb_writer_slot;
            memcpy(g_cb[slot], frame, (size_t)bytes);
            g_cbw[slot] = width;
            g_cbh[slot] = height;
            uint32_t previous = g_cb_parked.exchange(slot | FRESH, std::memory_order_acq_rel);
            g_cb_writer_slot = previous & SLOT_MASK;
        }
    }
    g_frames.fetch_add(1, std::memory_order_release);
}

FrameCopy latest_frame()
{
    if (g_cb_parked.load(std::memory_order_acquire) & FRESH) {
        uint32_t previous = g_cb_parked.exchange(g_cb_reader_slot, std::memory_order_acq_rel);
        g_cb_reader_slot = previous & SLOT_MASK;
    }
    uint32_t slot = g_cb_reader_slot;
    return FrameCopy{g_cb[slot], g_cbw[slot], g_cbh[slot]};
}

bool wait_for_frame(int32_t* last_frames)
{
    const uint32_t start = plat_tick_ms();
    bool fresh = g_frames.load(std::memory_order_acquire) != *last_frames;
    while (!fresh) {
        // Unsigned difference: correct across the 32-bit wrap of the tick count.
        if ((uint32_t)(plat_tick_ms() - start) > 2999)
            break;
        plat_sleep_ms(5);
        fresh = g_frames.load(std::memory_order_acquire) != *last_frames;
    }
    *last_frames = g_frames.load(std::memory_order_acquire);
    plat_sleep_ms(2);
    return fresh;
}
