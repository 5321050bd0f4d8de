#include "sdk/device_block.h"

#include <cstring>

#include "driver/console.h"
#include "platform/platform.h"

uintptr_t device_block_base(const void* hdr)
{
    return (uintptr_t)hdr - DEV_HDR;
}

size_t read_block(uintptr_t addr, void* dst, size_t n, const char* name)
{
    size_t got = plat_read_memory(dst, addr, n);
    if (got < n)
        diag("%s at 0x%s: %zu of %zu bytes readable", name, ptr_text(addr).s, got, n);
    return got;
}

void read_bytes(uintptr_t addr, void* dst, size_t n, const char* name)
{
    size_t got = read_block(addr, dst, n, name);
    memset((uint8_t*)dst + got, 0, n - got);
}

// A value that cannot be read whole counts as 0.
uint32_t read_u32(uintptr_t addr, const char* name)
{
    uint32_t v;
    return read_block(addr, &v, sizeof v, name) == sizeof v ? v : 0;
}

int32_t read_i32(uintptr_t addr, const char* name)
{
    return (int32_t)read_u32(addr, name);
}

uint64_t read_u64(uintptr_t addr, const char* name)
{
    uint64_t v;
    return read_block(addr, &v, sizeof v, name) == sizeof v ? v : 0;
}

struct FixedValue {
    uintptr_t addr;
    const char* name;
};

static const FixedValue FIXED_VALUES[] = {
    {FIXED_GAIN, "gain"},           {FIXED_T_BASE, "t_base"},     {FIXED_T_NOW, "t_now"},
    {FIXED_GLOBFRAME, "globframe"}, {FIXED_FFCSTATE, "ffcstate"},
};
static const size_t FIXED_COUNT = sizeof FIXED_VALUES / sizeof FIXED_VALUES[0];

// Fixed addresses found unreadable at start-up (the five values and the channel's
// entry): reported once there, then read quietly.
static uintptr_t g_quiet[FIXED_COUNT + 1];
static size_t g_quiet_count;

// Reads library memory at a fixed address, reporting a shortfall unless start-up did.
static size_t read_fixed(uintptr_t addr, void* dst, size_t n, const char* name)
{
    for (size_t i = 0; i < g_quiet_count; ++i)
        if (g_quiet[i] == addr)
            return plat_read_memory(dst, addr, n);
    return read_block(addr, dst, n, name);
}

uint32_t read_fixed_u32(uintptr_t addr, const char* name)
{
    uint32_t v;
    return read_fixed(addr, &v, sizeof v, name) == sizeof v ? v : 0;
}

void check_fixed_addresses(int32_t chan)
{
    g_quiet_count = 0;
    for (size_t i = 0; i < FIXED_COUNT; ++i) {
        uint32_t v;
        if (plat_read_memory(&v, FIXED_VALUES[i].addr, sizeof v) < sizeof v) {
            g_quiet[g_quiet_count++] = FIXED_VALUES[i].addr;
            diag("fixed address 0x%s (%s) is not readable; it reads as 0", ptr_text(FIXED_VALUES[i].addr).s,
                 FIXED_VALUES[i].name);
        }
    }
    uintptr_t entry = channel_entry_address(chan);
    uint64_t p;
    if (plat_read_memory(&p, entry, sizeof p) < sizeof p) {
        g_quiet[g_quiet_count++] = entry;
        diag("channel table entry 0x%s (channel %d) is not readable; no stream record is read",
             ptr_text(entry).s, (int)chan);
    }
}

uintptr_t channel_entry_address(int32_t chan)
{
    return FIXED_CHANNEL_TABLE + (uintptr_t)(intptr_t)chan * CHANNEL_ENTRY_BYTES;
}

uint64_t read_stream_record_pointer(uintptr_t entry)
{
    uint64_t p;
    return read_fixed(entry, &p, sizeof p, "stream record pointer") == sizeof p ? p : 0;
}

void fill_pair_state(uintptr_t dev, PairState* st)
{
    st->fcnt = dev_u32(dev, DEV_FCNT, "fcnt");
    st->hi = dev_u32(dev, DEV_HI, "hi");
    st->lo = dev_u32(dev, DEV_LO, "lo");
    st->pixels = dev_u32(dev, DEV_PIXELS, "pixels");
    st->p47944 = dev_u32(dev, DEV_P47944, "p47944");
    st->comp_off = dev_u32(dev, DEV_COMP_OFF, "comp_off");
    st->shift = dev_u32(dev, DEV_SHIFT, "shift");
    st->p47950 = dev_u32(dev, DEV_P47950, "p47950");
    st->p47954 = dev_u32(dev, DEV_P47954, "p47954");
    st->gain = read_fixed_u32(FIXED_GAIN, "gain");
    st->t_base = read_fixed_u32(FIXED_T_BASE, "t_base");
    st->t_now = read_fixed_u32(FIXED_T_NOW, "t_now");
    st->fdc = dev_u32(dev, DEV_FDC, "fdc");
    st->fe0 = dev_u32(dev, DEV_FE0, "fe0");
    st->ref = dev_u32(dev, DEV_REF, "ref");
    st->f3c = dev_u32(dev, DEV_F3C, "f3c");
    st->refp = dev_u64(dev, DEV_REFP, "refp");
    st->dev41340 = dev_u32(dev, DEV_41340, "dev41340");
    st->dev41348 = dev_u32(dev, DEV_41348, "dev41348");
    st->nsegs = dev_u32(dev, DEV_NSEGS, "nsegs");
    st->dev41558 = dev_u32(dev, DEV_41558, "dev41558");
    st->dev4155c = dev_u32(dev, DEV_4155C, "dev4155c");
    st->dev41560 = dev_u32(dev, DEV_41560, "dev41560");
    st->b64_0 = dev_u32(dev, DEV_B64_0, "b64_0");
    st->b68_0 = dev_u32(dev, DEV_B68_0, "b68_0");
    st->dev41840 = dev_u32(dev, DEV_41840, "dev41840");
    st->dev41848 = dev_u32(dev, DEV_41848, "dev41848");
    st->thrp_low = dev_u32(dev, DEV_THRP, "thrp");
    st->dev54 = dev_u32(dev, DEV_54, "dev54");
    st->span = st->lo < st->hi ? st->hi - st->lo : 0;
}
