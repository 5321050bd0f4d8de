// Tests of the simulator's model: the scenario parser, the geometry rule, and the
// properties of the byte patterns that the simulated libraries and the probe's
// tests both rely on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_model.h"

namespace {

SimScenario parsed(const char* text) {
    SimScenario sc;
    EXPECT_TRUE(sim_parse_scenario(text, &sc)) << text << ": " << sc.error;
    return sc;
}

std::vector<uint8_t> block(const SimScenario& sc, SimBlock b, uint32_t k, size_t off, size_t len) {
    std::vector<uint8_t> v(len);
    sim_model_block_bytes(&sc, b, k, off, len, v.data());
    return v;
}

uint32_t u32_at(const std::vector<uint8_t>& v, size_t off) {
    return (uint32_t)v[off] | (uint32_t)v[off + 1] << 8 | (uint32_t)v[off + 2] << 16 | (uint32_t)v[off + 3] << 24;
}

}  // namespace

// ---- Parser -----------------------------------------------------------------------

TEST(SimScenarioParse, DefaultsWithoutText) {
    SimScenario sc;
    ASSERT_TRUE(sim_parse_scenario(nullptr, &sc));
    EXPECT_EQ(320, sc.geom_w);
    EXPECT_EQ(240, sc.geom_h);
    EXPECT_EQ(25, sc.fps);
    EXPECT_EQ(1, sc.nfmt);
    EXPECT_EQ(3, sc.fmt[0]);
    EXPECT_EQ(0, sc.ncb);
    EXPECT_EQ(0, sc.chan);
    EXPECT_FALSE(sc.chanfail_nullhdr);
    EXPECT_EQ(1, sc.start_rc);
    EXPECT_EQ(1, sc.rgb_rc);
    EXPECT_EQ(1, sc.temp_rc);
    EXPECT_EQ(1, sc.bar_rc);
    EXPECT_EQ(1u, sc.nsegs);
    EXPECT_EQ(1u, sc.seed);
    EXPECT_EQ(0u, sc.noexport | sc.bad | sc.null_ptr | sc.noaccess);
    for (int b = 0; b < SIM_BLOCK_COUNT; b++) EXPECT_EQ(-1, sc.short_len[b]);
    ASSERT_TRUE(sim_parse_scenario("", &sc));
    EXPECT_EQ(320, sc.geom_w);
}

TEST(SimScenarioParse, EveryKeyReachesItsField) {
    SimScenario sc = parsed(
        "geom=-320x0, fps=0,fmt=3/1/-2,cb=640x480/null/0x-5,chan=none,chanfail=nullhdr,"
        "noexport=Stop/MAG_TriggerFFC,start=0,rgbrc=-1,temprc=7,barrc=0,barinfo=null,"
        "nsegs=4294967295,seed=0,bad=thrp/stream,null=rawp/ptr6,short=thr:5/dev:4096/gray:0,"
        "noaccess=t_now/chantab");
    EXPECT_EQ(-320, sc.geom_w);
    EXPECT_EQ(0, sc.geom_h);
    EXPECT_EQ(0, sc.fps);
    ASSERT_EQ(3, sc.nfmt);
    EXPECT_EQ(-2, sc.fmt[2]);
    ASSERT_EQ(3, sc.ncb);
    EXPECT_EQ(640, sc.cb[0].w);
    EXPECT_EQ(480, sc.cb[0].h);
    EXPECT_TRUE(sc.cb[1].null_frame);
    EXPECT_EQ(-5, sc.cb[2].h);
    EXPECT_EQ(-1, sc.chan);
    EXPECT_TRUE(sc.chanfail_nullhdr);
    EXPECT_EQ((1u << SIM_X_STOP) | (1u << SIM_X_TRIGGERFFC), sc.noexport);
    EXPECT_EQ(0, sc.start_rc);
    EXPECT_EQ(-1, sc.rgb_rc);
    EXPECT_EQ(7, sc.temp_rc);
    EXPECT_EQ(0, sc.bar_rc);
    EXPECT_EQ(4294967295u, sc.nsegs);
    EXPECT_EQ(0u, sc.seed);
    // thrp is ptrs418x entry 3; gainp would be entry 6.
    EXPECT_EQ((1u << SIM_F_PTR3) | (1u << SIM_F_STREAM), sc.bad);
    EXPECT_EQ((1u << SIM_F_BARINFO) | (1u << SIM_F_RAWP) | (1u << SIM_F_PTR6), sc.null_ptr);
    EXPECT_EQ(5, sc.short_len[SIM_B3]);
    EXPECT_EQ(4096, sc.short_len[SIM_DEV]);
    EXPECT_EQ(0, sc.short_len[SIM_GRAY]);
    EXPECT_EQ(-1, sc.short_len[SIM_RAW]);
    EXPECT_EQ((uint32_t)(SIM_NOACCESS_T_NOW | SIM_NOACCESS_CHANTAB), sc.noaccess);
}

TEST(SimScenarioParse, BadItemsAreNamedAndSkipped) {
    static const char* const bad[] = {
        "geom=320",        "geom=320x",     "geom=x240",       "fps=-1",         "fps=ten",
        "fmt=",            "fmt=3//1",      "cb=640",          "chan=8",         "chan=-1",
        "chanfail=maybe",  "noexport=Start", "noexport=stop",   "start=",         "nsegs=-1",
        "nsegs=4294967296", "seed=1.5",     "bad=rawq",        "null=",          "short=thr",
        "short=nothing:5", "short=raw:-1",  "noaccess=all",    "barinfo=0",      "colour=red",
        "geom",            "fmt=1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17",
    };
    for (const char* item : bad) {
        std::string text = std::string("fps=7,") + item + ",seed=9";
        SimScenario sc;
        EXPECT_FALSE(sim_parse_scenario(text.c_str(), &sc)) << item;
        EXPECT_STREQ(item, sc.error) << item;
        // The good items on both sides still apply.
        EXPECT_EQ(7, sc.fps) << item;
        EXPECT_EQ(9u, sc.seed) << item;
    }
}

// ---- Geometry -----------------------------------------------------------------------

TEST(SimGeometry, HeaderSizeOrFallback) {
    static const struct {
        int32_t gw, gh, w, h;
    } cases[] = {
        {320, 240, 320, 240}, {1000, 1000, 1000, 1000}, {1, 1, 1, 1},     {0, 0, 160, 120},
        {1001, 5, 160, 120},  {-320, 240, 160, 120},    {320, -240, 160, 120}, {5, 1001, 160, 120},
    };
    for (const auto& c : cases) {
        SimScenario sc = parsed(nullptr);
        sc.geom_w = c.gw;
        sc.geom_h = c.gh;
        SimGeom g;
        sim_geometry(&sc, &g);
        EXPECT_EQ(c.w, g.w) << c.gw << "x" << c.gh;
        EXPECT_EQ(c.h, g.h) << c.gw << "x" << c.gh;
        EXPECT_EQ(c.w / 2, g.sw);
        EXPECT_EQ(c.h / 2, g.sh);
        // Every image-like block has room for at least a 160x120 display.
        EXPECT_GE(g.gray_room, (size_t)c.w * c.h);
        EXPECT_GE(g.gray_room, 19200u);
        EXPECT_GE(g.raw_room, (size_t)g.sw * g.sh * 2);
        EXPECT_GE(g.raw_room, 9600u);
        EXPECT_GE(g.acc_room, 19200u);
    }
}

TEST(SimGeometry, TableSizesFollowSegmentCount) {
    static const struct {
        uint32_t nsegs;
        size_t dev, thr, gain;
    } cases[] = {
        {0, 0x54490, 38400, 38400},
        {1, 0x54490, 38400, 76800},
        {64, 0x41870 + 64 * 76800, 64 * 38400, 64 * 76800},
        {65, 0x41870 + 65 * 76800, 65 * 38400, 64 * 76800},
        {327, 0x41870 + 327 * 76800, 327 * 38400, 64 * 76800},
        {328, 0x54490, 328 * 38400, 64 * 76800},
        {4294967295u, 0x54490, 512 * 38400, 64 * 76800},
    };
    for (const auto& c : cases) {
        SimScenario sc = parsed(nullptr);
        sc.nsegs = c.nsegs;
        EXPECT_EQ(c.dev, sim_model_block_size(&sc, SIM_DEV)) << c.nsegs;
        EXPECT_EQ(c.thr, sim_model_block_size(&sc, SIM_B3)) << c.nsegs;
        EXPECT_EQ(c.gain, sim_model_block_size(&sc, SIM_B6)) << c.nsegs;
    }
}

// ---- Patterns ---------------------------------------------------------------------------

// The library fills a block with block_bytes(frame 0) and then calls refresh for
// every frame; that must give exactly block_bytes(frame k), also for a block cut short.
TEST(SimModelPatterns, RefreshInPlaceGivesTheFrame) {
    SimScenario sc = parsed("geom=100x80,nsegs=2,seed=5");
    for (int b = 0; b < SIM_BLOCK_COUNT; b++) {
        if (b == SIM_BARDATA || b == SIM_BARINFO) continue;  // drawn by the colour-bar call itself
        size_t n = sim_model_block_size(&sc, (SimBlock)b);
        for (size_t readable : {n, n / 3 + 1}) {
            std::vector<uint8_t> mem = block(sc, (SimBlock)b, 0, 0, readable);
            for (uint32_t k : {1u, 2u, 77u}) {
                sim_model_refresh(&sc, (SimBlock)b, k, mem.data(), readable);
                std::vector<uint8_t> want = block(sc, (SimBlock)b, k, 0, readable);
                ASSERT_EQ(want, mem) << "block " << b << " frame " << k << " readable " << readable;
            }
        }
    }
}

// A window of a block is the same bytes as that slice of the whole block.
TEST(SimModelPatterns, WindowsAreSlicesOfTheBlock) {
    SimScenario sc = parsed("seed=3");
    for (SimBlock b : {SIM_DEV, SIM_GRAY, SIM_RAW, SIM_B0, SIM_STREAM, SIM_BARINFO}) {
        size_t n = sim_model_block_size(&sc, b);
        std::vector<uint8_t> whole = block(sc, b, 4, 0, n);
        for (size_t off : {(size_t)0, (size_t)1, (size_t)7, (size_t)0xAF3, n / 2 + 5}) {
            if (off >= n) continue;
            size_t len = off + 29 < n ? 29 : n - off;
            std::vector<uint8_t> part = block(sc, b, 4, off, len);
            EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + (long)off)) << "block " << b << " off " << off;
        }
    }
}

TEST(SimModelPatterns, FrameDependentBlocksChangeEveryFrameStaticOnesDoNot) {
    SimScenario sc = parsed(nullptr);
    for (int b = 0; b < SIM_BLOCK_COUNT; b++) {
        size_t n = sim_model_block_size(&sc, (SimBlock)b);
        bool dynamic = !(b == SIM_B3 || b == SIM_B6 || b == SIM_SMOOBJ);
        for (uint32_t k = 0; k < 4; k++) {
            bool same = block(sc, (SimBlock)b, k, 0, n) == block(sc, (SimBlock)b, k + 1, 0, n);
            EXPECT_EQ(!dynamic, same) << "block " << b << " frames " << k << "," << k + 1;
        }
    }
    uint8_t a[1024], c[1024];
    sim_model_palette(&sc, 1, a);
    sim_model_palette(&sc, 2, c);
    EXPECT_NE(0, memcmp(a, c, sizeof(a)));
    // The seed changes every pattern.
    SimScenario other = parsed("seed=2");
    for (SimBlock b : {SIM_B0, SIM_B3, SIM_DEV, SIM_GRAY})
        EXPECT_NE(block(sc, b, 1, 0, 4096), block(other, b, 1, 0, 4096)) << "block " << b;
}

// Gray, RGB24, raw, t32, the histogram and the point reading all show one scene.
TEST(SimModelPatterns, ImagesAgreeWithEachOther) {
    for (const char* text : {"geom=320x240", "geom=99x77,seed=12", "geom=1x1", "geom=0x0"}) {
        SimScenario sc = parsed(text);
        SimGeom g;
        sim_geometry(&sc, &g);
        const uint32_t k = 9;
        size_t px = (size_t)g.w * g.h;
        std::vector<uint8_t> gray(px), rgb(px * 3), t32(px * 4), raw((size_t)g.sw * g.sh * 2 + 1), pal(1024);
        sim_model_gray(&sc, k, gray.data());
        sim_model_rgb(&sc, k, rgb.data());
        sim_model_t32(&sc, k, px * 4, t32.data());
        sim_model_raw(&sc, k, raw.data());
        sim_model_palette(&sc, k, pal.data());
        uint32_t hist[256] = {0};
        for (size_t i = 0; i < px; i++) {
            hist[gray[i]]++;
            ASSERT_EQ(0, memcmp(&rgb[3 * i], &pal[4 * gray[i]], 3)) << text << " pixel " << i;
            int32_t mc = (int32_t)u32_at(t32, 4 * i) - 273150;
            int x = (int)(i % (size_t)g.w), y = (int)(i / (size_t)g.w);
            ASSERT_EQ(sim_model_scene_mc(&sc, k, x, y, g.w, g.h), mc) << text;
            double tr, ta;
            sim_model_point_temps(&sc, k, x, y, &tr, &ta);
            ASSERT_EQ(mc / 1000.0, tr);
            ASSERT_EQ((mc - 250) / 1000.0, ta);
        }
        for (int y = 0; y < g.sh; y++)
            for (int x = 0; x < g.sw; x++) {
                size_t i = (size_t)(y * g.sw + x) * 2;
                int32_t mc = sim_model_scene_mc(&sc, k, 2 * x, 2 * y, g.w, g.h);
                ASSERT_EQ(6000 + mc / 4, raw[i] | raw[i + 1] << 8) << text;
            }
        std::vector<uint8_t> dev = block(sc, SIM_DEV, k, 0, sim_model_block_size(&sc, SIM_DEV));
        for (int v = 0; v < 256; v++) ASSERT_EQ(hist[v], u32_at(dev, 0x4204C + 4 * (size_t)v)) << text << " value " << v;
        // The header and its palette inside the DeviceBlock.
        uint8_t hdr[96];
        sim_model_header(&sc, k, hdr);
        EXPECT_EQ(0, memcmp(hdr, &dev[0xAF0], 96));
        EXPECT_EQ(0, memcmp(pal.data(), &dev[0xB18], 1024));
        EXPECT_EQ((uint32_t)sc.geom_w, u32_at(dev, 0xAF4));
        EXPECT_EQ((uint32_t)sc.geom_h, u32_at(dev, 0xAF8));
    }
}

TEST(SimModelPatterns, PointReadingIsClampedIntoTheImage) {
    SimScenario sc = parsed("geom=100x50");
    double a, b, c, d;
    sim_model_point_temps(&sc, 3, 155, 115, &a, &b);
    sim_model_point_temps(&sc, 3, 99, 49, &c, &d);
    EXPECT_EQ(c, a);
    EXPECT_EQ(d, b);
    sim_model_point_temps(&sc, 3, -4, -1, &a, &b);
    sim_model_point_temps(&sc, 3, 0, 0, &c, &d);
    EXPECT_EQ(c, a);
}

TEST(SimModelPatterns, DelegateFramesCycleSizesAndFormats) {
    SimScenario sc = parsed("fmt=3/1,cb=640x480/null/0x7/2x3");
    static const struct {
        uint32_t k;
        int32_t w, h, fmt;
        bool null_frame;
        size_t bytes;
    } cases[] = {
        {1, 640, 480, 3, false, 921600}, {2, 320, 240, 1, true, 0}, {3, 0, 7, 3, false, 0},
        {4, 2, 3, 1, false, 18},         {5, 640, 480, 3, false, 921600},
    };
    for (const auto& c : cases) {
        SimCbFrame f;
        sim_model_cb_info(&sc, c.k, &f);
        EXPECT_EQ(c.w, f.w) << c.k;
        EXPECT_EQ(c.h, f.h) << c.k;
        EXPECT_EQ(c.fmt, f.fmt) << c.k;
        EXPECT_EQ(c.null_frame, f.null_frame) << c.k;
        EXPECT_EQ(c.bytes, f.bytes) << c.k;
    }
    EXPECT_EQ(921600u, sim_model_cb_max_bytes(&sc));
    // Without cb= the frames have the image geometry and are the RGB24 image.
    SimScenario plain = parsed("geom=64x48");
    SimCbFrame f;
    sim_model_cb_info(&plain, 6, &f);
    ASSERT_EQ(64 * 48 * 3u, f.bytes);
    std::vector<uint8_t> frame(f.bytes), rgb(f.bytes);
    sim_model_cb_frame(&plain, 6, frame.data());
    sim_model_rgb(&plain, 6, rgb.data());
    EXPECT_EQ(rgb, frame);
}

// ---- DeviceBlock ---------------------------------------------------------------------------

// The probe's end-of-run scan, run over the model's bytes: it must find exactly the
// planted values, whatever the seed and the frame (the background is built so
// that it matches nothing).
static std::vector<std::string> scan(const std::vector<uint8_t>& d) {
    static const int32_t targets[6] = {22500, 23700, 25167, 31707, 5797, 1200};
    std::vector<std::string> out;
    char line[128];
    for (size_t o = 0x100; o < 0x10000; o += 4)
        for (int t = 0; t < 6; t++)
            if ((int32_t)u32_at(d, o) == targets[t]) {
                snprintf(line, sizeof(line), "u32 %05zx t%d", o, t);
                out.push_back(line);
            }
    for (size_t o = 0x100; o < 0x10000; o += 2)
        for (int t = 0; t < 6; t++)
            if ((int16_t)(d[o] | d[o + 1] << 8) == targets[t]) {
                snprintf(line, sizeof(line), "u16 %05zx t%d", o, t);
                out.push_back(line);
            }
    for (size_t o = 0x100; o < 0x1FC00; o += 16) {
        int prev = -1;
        bool rising = true;
        for (size_t s = 0; s < 1024 && rising; s += 8) {
            rising = d[o + s] >= prev;
            prev = d[o + s];
        }
        if (!rising) continue;
        int lo = 255, hi = 0;
        for (size_t i = 0; i < 1024; i++) {
            lo = d[o + i] < lo ? d[o + i] : lo;
            hi = d[o + i] > hi ? d[o + i] : hi;
        }
        if (hi - lo > 100) {
            snprintf(line, sizeof(line), "lut %05zx %d %d %d %d", o, lo, hi, d[o], d[o + 1023]);
            out.push_back(line);
        }
    }
    for (size_t o = 0x100; o < 0x10000; o += 8) {
        double v;
        memcpy(&v, &d[o], 8);
        if (v > 20000.0 && v < 40000.0 && (v - 25167.0 < 10.0 && 25167.0 - v < 10.0)) {
            snprintf(line, sizeof(line), "double %05zx %.1f", o, v);
            out.push_back(line);
        }
    }
    return out;
}

TEST(SimModelDevice, ScanFindsExactlyThePlantedValues) {
    const std::vector<std::string> want = {
        "u32 00200 t2",   "u32 04000 t0", "u32 0a000 t3", "u32 0c000 t5",
        "u16 00200 t2",   "u16 04000 t0", "u16 06002 t1", "u16 0a000 t3", "u16 0c000 t5", "u16 0fffe t4",
        "lut 08000 0 255 0 255", "lut 18000 20 200 20 200", "lut 1c000 0 200 100 200",
        "double 01f00 25160.5",
    };
    for (const char* text : {"seed=1", "seed=2", "seed=0", "seed=4294967295,geom=1000x1000", "geom=0x0,nsegs=0"}) {
        SimScenario sc = parsed(text);
        for (uint32_t k : {0u, 1u, 250u}) EXPECT_EQ(want, scan(block(sc, SIM_DEV, k, 0, 0x20000))) << text << " frame " << k;
    }
}

TEST(SimModelDevice, DocumentedWordValues) {
    SimScenario sc = parsed("geom=200x100,nsegs=3");
    const uint32_t k = 41;
    static const struct {
        uint32_t off, value;
    } words[] = {
        {0x8, k},          {0x54, 0x54 + k},   {0x11C, 0x11C},          {0x41340, 0x41340},   {0x41348, 0x41348},
        {0x41554, 3},      {0x41558, 0x41558}, {0x4155C, 0x4155C},      {0x41560, 0x41560},   {0x41564, 0x41564},
        {0x41568, 0x41568}, {0x41F00, 2 * k},  {0x41F0C, 0x41F0C},      {0x41F30, 3 * k + 1}, {0x41F3C, 0x41F3C},
        {0x41FD8, 0x41FD8}, {0x41FDC, 0x41FDC + k}, {0x41FE0, 0x41FE0 + 2 * k}, {0x41FE4, 0x41FE4},
        {0x4202C, 30000 + k}, {0x42030, 20000 + k}, {0x47938, 100 * 50}, {0x47944, 0x47944 + k},
        {0x47948, 0x47948}, {0x4794C, 0x4794C}, {0x47950, 0x47950},     {0x47954, 0x47954},
        {0x250, 200},      {0x254, 100},       {0x288, 100},            {0x28C, 50},          {0x280, 0},
    };
    for (const auto& w : words) EXPECT_EQ(w.value, sim_model_device_u32(&sc, k, w.off)) << std::hex << w.off;
    // Pointer words read as zero in the model; the library stores addresses there.
    const uint32_t* ptrs;
    size_t n = sim_model_device_pointer_offsets(&ptrs);
    EXPECT_EQ(24u, n);
    for (size_t i = 0; i < n; i++) EXPECT_EQ(0u, sim_model_device_u32(&sc, k, ptrs[i]) | sim_model_device_u32(&sc, k, ptrs[i] + 4));
    std::vector<uint8_t> stream = block(sc, SIM_STREAM, k, 0, sim_model_block_size(&sc, SIM_STREAM));
    EXPECT_EQ(k, u32_at(stream, 0x2D78));
    EXPECT_EQ(0x2D88 + k, u32_at(stream, 0x2D88));
    EXPECT_EQ(0x2D90 + 2 * k, u32_at(stream, 0x2D90));
    EXPECT_EQ(200u * 100u, u32_at(stream, 0x2D98));
    EXPECT_EQ(100000u + 40 * k, sim_model_fixed(&sc, SIM_FIX_T_NOW, k));
    EXPECT_EQ(k, sim_model_fixed(&sc, SIM_FIX_GLOBFRAME, k));
}
