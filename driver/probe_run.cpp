#include "driver/probe_run.h"

#include <cstdio>

#include "capture/frame_delegate.h"
#include "capture/pair_capture.h"
#include "driver/console.h"
#include "driver/probe_config.h"
#include "dump/dump_writer.h"
#include "platform/platform.h"
#include "sdk/device_block.h"
#include "sdk/sdk_entry_points.h"

static const int32_t CHANNELS = 8;
static const int32_t MAX_SIDE = 1000;
static const int32_t FALLBACK_W = 160;
static const int32_t FALLBACK_H = 120;
static const uint32_t FFC_PAUSE_MS = 1500;
static const uint32_t PAIR_PAUSE_MS = 100;

// Channel discovery: the first channel that delivers a gray image and a header.
// Returns the channel, or -1 when none of the eight does.
static int32_t discover_channel(const SdkEntryPoints* sdk, const uint8_t** gray_img, const void** hdr)
{
    *gray_img = nullptr;
    *hdr = nullptr;
    for (int32_t chan = 0; chan < CHANNELS; ++chan) {
        int32_t rc = sdk->MAG_GetOutputBMPdata(chan, gray_img, hdr);
        printf("chan %d: rc=%d gray=%s hdr=%s\n", (int)chan, (int)rc, ptr_text(*gray_img).s, ptr_text(*hdr).s);
        if (rc != 0 && *gray_img && *hdr)
            return chan;
    }
    return -1;
}

// Prints the block pointer line and the fifteen devptrs words; returns the display
// size the run uses (the header's, or 160 x 120 when it is out of range).
static void read_geometry(uintptr_t dev, const uint8_t* gray_img, int32_t* w, int32_t* h)
{
    int32_t width = read_i32(dev + DEV_BI_WIDTH, "biWidth");
    int32_t height = read_i32(dev + DEV_BI_HEIGHT, "biHeight");
    uint64_t rawp = dev_u64(dev, DEV_RAWP, "rawp");
    printf("dev=%s w=%d h=%d graybuf=%s rawp=%s\n", ptr_text(dev).s, (int)width, (int)height,
           ptr_text(gray_img).s, ptr_text(rawp).s);
    for (uint32_t off = DEV_PTRS_FIRST; off <= DEV_PTRS_LAST; off += 8)
        printf("  dev+0x%03x = %s\n", (unsigned)off, ptr_text(dev_u64(dev, off, "devptrs")).s);
    if (width >= 1 && width <= MAX_SIDE && height >= 1 && height <= MAX_SIDE) {
        *w = width;
        *h = height;
    } else {
        diag("header size %dx%d is outside 1..%d; using %dx%d", (int)width, (int)height, (int)MAX_SIDE,
             (int)FALLBACK_W, (int)FALLBACK_H);
        *w = FALLBACK_W;
        *h = FALLBACK_H;
    }
}

static void trigger_ffc(const SdkEntryPoints* sdk, int32_t chan, int32_t arg, int32_t* last_frames)
{
    printf(">>> TriggerFFC(%d)\n", (int)arg);
    fflush(stdout);
    sdk->MAG_TriggerFFC(chan, arg);
    plat_sleep_ms(FFC_PAUSE_MS);
    *last_frames = g_frames.load(std::memory_order_acquire);
}

int run_probe(int argc, char** argv)
{
    ProbeConfig cfg = parse_config(argc, argv);

    SdkEntryPoints sdk;
    load_sdk_libraries(&sdk);
    printf("T=%s C=%s\n", ptr_text(sdk.thermal_lib).s, ptr_text(sdk.core_lib).s);
    if (!sdk.thermal_lib || !sdk.core_lib)
        return EXIT_NO_LIBRARY;

    bind_sdk_entry_points(&sdk);
    printf("Start=%s TempPoint=%s Gray=%s RGB=%s TempRaw=%s Bar=%s\n", ptr_text((void*)sdk.Start).s,
           ptr_text((void*)sdk.ReadTemperatureAtPoint).s, ptr_text((void*)sdk.MAG_GetOutputBMPdata).s,
           ptr_text((void*)sdk.MAG_GetOutputBMPdataRGB24).s, ptr_text((void*)sdk.MAG_GetTemperatureData_Raw).s,
           ptr_text((void*)sdk.MAG_GetOutputColorBardata).s);
    if (!sdk_required_bound(&sdk)) {
        printf("missing export\n");
        return EXIT_MISSING_EXPORT;
    }

    if (sdk.SetUnitMode)
        sdk.SetUnitMode(0);
    if (sdk.SetTempBoundary)
        sdk.SetTempBoundary(cfg.boundary[0], cfg.boundary[1], cfg.boundary[2]);
    printf("SetTempBoundary(%.1f, %.1f, %.1f)\n", cfg.boundary[0], cfg.boundary[1], cfg.boundary[2]);
    fflush(stdout);

    sdk.SetNewIRFrameDelegate(onIR);

    printf("Start()...\n");
    fflush(stdout);
    int32_t started = sdk.Start();
    printf("Start=%d\n", (int)(uint8_t)started);
    fflush(stdout);

    printf("warming %d ms...\n", (int)cfg.warm_ms);
    fflush(stdout);
    plat_sleep_ms(cfg.warm_ms > 0 ? (uint32_t)cfg.warm_ms : 0);

    const uint8_t* gray_img;
    const void* hdr;
    int32_t chan = discover_channel(&sdk, &gray_img, &hdr);
    if (chan < 0) {
        printf("no channel\n");
        if (sdk.Stop)
            sdk.Stop();
        return EXIT_NO_CHANNEL;
    }

    uintptr_t dev = device_block_base(hdr);
    int32_t w, h;
    read_geometry(dev, gray_img, &w, &h);
    printf("capturing %d pairs (disp %dx%d, sensor %dx%d)...\n", (int)cfg.pairs, (int)w, (int)h, (int)(w / 2),
           (int)(h / 2));
    fflush(stdout);

    PairBuffers bufs;
    if (!alloc_pair_buffers(&bufs, w, h)) {
        diag("cannot allocate the pair buffers for a %dx%d display; stopping", (int)w, (int)h);
        if (sdk.Stop)
            sdk.Stop();
        return EXIT_NO_MEMORY;
    }

    bind_trigger_ffc(&sdk);
    printf("TriggerFFC=%s\n", ptr_text((void*)sdk.MAG_TriggerFFC).s);
    fflush(stdout);

    check_fixed_addresses(chan);
    int32_t last_frames = g_frames.load(std::memory_order_acquire);

    if (cfg.pairs > 0) {
        const int32_t ffc_on = cfg.pairs / 3;
        const int32_t ffc_off = (int32_t)(((int64_t)cfg.pairs * 2) / 3);
        for (int32_t pair = 0; pair < cfg.pairs; ++pair) {
            g_diag_pair = pair;
            if (sdk.MAG_TriggerFFC) {
                if (pair == ffc_on)
                    trigger_ffc(&sdk, chan, 1, &last_frames);
                if (pair == ffc_off)
                    trigger_ffc(&sdk, chan, 0, &last_frames);
            }
            if (!wait_for_frame(&last_frames))
                diag("no new frame within 3000 ms");

            PairCapture cap;
            capture_pair(&sdk, chan, gray_img, hdr, &bufs, &cap);
            PairState st;
            fill_pair_state(dev, &st);
            char prefix[PREFIX_BYTES];
            make_pair_prefix(prefix, pair);

            write_frame_outputs(&sdk, chan, pair, prefix, hdr, &bufs, &cap, st.fcnt);
            report_dump_failures();

            fflush(stdout);
            plat_sleep_ms(PAIR_PAUSE_MS);
        }
        g_diag_pair = -1;
    }

    fflush(stdout);
    if (sdk.Stop)
        sdk.Stop();
    printf("done\n");
    return EXIT_DONE;
}
