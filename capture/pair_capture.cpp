#include "capture/pair_capture.h"

#include <cstdio>
#include <cstdlib>

#include "capture/frame_delegate.h"
#include "driver/console.h"
#include "dump/dump_writer.h"
#include "sdk/device_block.h"

// Cleared memory of n bytes; an empty buffer still gets a valid address.
static void* alloc_cleared(size_t n)
{
    return calloc(n ? n : 1, 1);
}

bool alloc_pair_buffers(PairBuffers* b, int32_t w, int32_t h)
{
    b->w = w;
    b->h = h;
    b->sw = w / 2;
    b->sh = h / 2;
    b->rgb = b->pal = b->gray = nullptr;
    b->raw = nullptr;
    b->t32 = nullptr;
    if (!(b->rgb = (uint8_t*)alloc_cleared(rgb_bytes(b))))
        return false;
    if (!(b->raw = (uint16_t*)alloc_cleared(raw_bytes(b))))
        return false;
    if (!(b->pal = (uint8_t*)alloc_cleared(PAL_BYTES)))
        return false;
    if (!(b->t32 = (int32_t*)alloc_cleared(gray_bytes(b) * 4)))
        return false;
    if (!(b->gray = (uint8_t*)alloc_cleared(gray_bytes(b))))
        return false;
    return true;
}

void capture_pair(const SdkEntryPoints* sdk, int32_t chan, const uint8_t* gray_img, const void* hdr,
                  PairBuffers* b, PairCapture* cap)
{
    uintptr_t dev = device_block_base(hdr);
    cap->rc_temp = 0;
    cap->gray_len = read_block((uintptr_t)gray_img, b->gray, gray_bytes(b), "gray image");
    cap->rc_rgb = sdk->MAG_GetOutputBMPdataRGB24(chan, b->rgb, (int32_t)rgb_bytes(b), 1);
    uint64_t rawp = dev_u64(dev, DEV_RAWP, "rawp");
    if (rawp) {
        cap->raw_len = read_block((uintptr_t)rawp, b->raw, raw_bytes(b), "raw image");
    } else {
        // Nothing to copy: raw keeps the earlier image, this pair's .raw stays empty.
        cap->raw_len = 0;
        diag("rawp is null: raw image not copied");
    }
    cap->pal_len = read_block(dev + DEV_COLOR_TABLE, b->pal, PAL_BYTES, "color table");
    if (sdk->MAG_GetTemperatureData_Raw)
        cap->rc_temp = sdk->MAG_GetTemperatureData_Raw(chan, b->t32, (int32_t)sensor_acc_bytes(b), 1);
}

void write_frame_outputs(const SdkEntryPoints* sdk, int32_t chan, int32_t pair, const char* prefix,
                         const void* hdr, const PairBuffers* b, const PairCapture* cap, uint32_t fcnt)
{
    char name[NAME_BYTES];
    make_dump_name(name, "%s.gray", prefix);
    save(name, b->gray, cap->gray_len);
    make_dump_name(name, "%s.rgb", prefix);
    save(name, b->rgb, rgb_bytes(b));
    make_dump_name(name, "%s.raw", prefix);
    save(name, b->raw, cap->raw_len);
    make_dump_name(name, "%s.pal", prefix);
    save(name, b->pal, cap->pal_len);

    FrameCopy frame = latest_frame();
    make_dump_name(name, "%s.cbrgb", prefix);
    save(name, frame.bytes, (size_t)((intptr_t)frame.width * (intptr_t)frame.height * 3));

    if (cap->rc_temp != 0) {
        make_dump_name(name, "%s.t32", prefix);
        save(name, b->t32, sensor_acc_bytes(b));
    }
    make_dump_name(name, "%s.hdr", prefix);
    save_library(name, (uintptr_t)hdr, 96);

    if (sdk->MAG_GetOutputColorBardata) {
        const void* data = nullptr;
        const void* info = nullptr;
        int32_t rc = sdk->MAG_GetOutputColorBardata(chan, &data, &info);
        printf("  bar rc=%d data=%s info=%s\n", (int)rc, ptr_text(data).s, ptr_text(info).s);
        if (rc != 0 && data) {
            make_dump_name(name, "%s.bar", prefix);
            save_library(name, (uintptr_t)data, 4096);
            make_dump_name(name, "%s.barinfo", prefix);
            save_library(name, (uintptr_t)(info ? info : data), 64);
        }
    }

    frame = latest_frame();
    printf("[%d] frames=%d fcnt=%u rc_rgb=%d rc_temp=%d cb=%dx%d\n", (int)pair,
           (int)g_frames.load(std::memory_order_acquire), (unsigned)fcnt, (int)cap->rc_rgb, (int)cap->rc_temp,
           (int)frame.width, (int)frame.height);
}
