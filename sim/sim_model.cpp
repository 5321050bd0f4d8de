// Scenario parser and the byte patterns of the simulated camera.
#include "sim/sim_model.h"

#include <cstdlib>
#include <cstring>

// ---- Scenario parsing ---------------------------------------------------------------

void sim_default_scenario(SimScenario* out) {
    memset(out, 0, sizeof(*out));
    out->geom_w = 320;
    out->geom_h = 240;
    out->fps = 25;
    out->fmt[0] = 3;
    out->nfmt = 1;
    out->ncb = 0;
    out->chan = 0;
    out->start_rc = 1;
    out->rgb_rc = 1;
    out->temp_rc = 1;
    out->bar_rc = 1;
    out->nsegs = 1;
    out->seed = 1;
    out->asleft_kib = -1;
    for (int i = 0; i < SIM_BLOCK_COUNT; i++) out->short_len[i] = -1;
}

namespace {

struct Name {
    const char* text;
    int value;
};

const Name k_fields[] = {
    {"rawp", SIM_F_RAWP},     {"thrp", SIM_F_PTR3},     {"gainp", SIM_F_PTR6},   {"refp", SIM_F_REFP},
    {"e0bufp", SIM_F_E0BUFP}, {"e0accp", SIM_F_E0ACCP}, {"smop", SIM_F_SMOP},    {"f20p", SIM_F_F20P},
    {"ptr0", SIM_F_PTR0},     {"ptr1", SIM_F_PTR1},     {"ptr2", SIM_F_PTR2},    {"ptr3", SIM_F_PTR3},
    {"ptr4", SIM_F_PTR4},     {"ptr5", SIM_F_PTR5},     {"ptr6", SIM_F_PTR6},    {"ptr7", SIM_F_PTR7},
    {"stream", SIM_F_STREAM}, {"smo", SIM_F_SMO},       {"smoacc", SIM_F_SMOACC}, {"bardata", SIM_F_BARDATA},
    {"barinfo", SIM_F_BARINFO},
};

const Name k_blocks[] = {
    {"gray", SIM_GRAY},     {"raw", SIM_RAW},       {"dev", SIM_DEV},         {"b0", SIM_B0},
    {"b1", SIM_B1},         {"b2", SIM_B2},         {"b3", SIM_B3},           {"b4", SIM_B4},
    {"b5", SIM_B5},         {"b6", SIM_B6},         {"b7", SIM_B7},           {"thr", SIM_B3},
    {"gain", SIM_B6},       {"ref", SIM_REF},       {"e0buf", SIM_E0BUF},     {"e0acc", SIM_E0ACC},
    {"f20", SIM_F20},       {"smoobj", SIM_SMOOBJ}, {"smo", SIM_SMO},         {"smoacc", SIM_SMOACC},
    {"stream", SIM_STREAM}, {"bardata", SIM_BARDATA}, {"barinfo", SIM_BARINFO},
};

const Name k_exports[] = {
    {"Stop", SIM_X_STOP},
    {"SetTempBoundary", SIM_X_SETTEMPBOUNDARY},
    {"SetUnitMode", SIM_X_SETUNITMODE},
    {"ReadTemperatureAtPoint", SIM_X_READTEMPERATUREATPOINT},
    {"MAG_GetTemperatureData_Raw", SIM_X_TEMPRAW},
    {"MAG_GetOutputColorBardata", SIM_X_COLORBAR},
    {"MAG_TriggerFFC", SIM_X_TRIGGERFFC},
};

const Name k_noaccess[] = {
    {"fixed", SIM_NOACCESS_FIXED},
    {"t_now", SIM_NOACCESS_T_NOW},
    {"chantab", SIM_NOACCESS_CHANTAB},
};

// A piece of the IRSIM text: [b, e).
struct Span {
    const char* b;
    const char* e;
};

bool span_is(Span s, const char* word) {
    size_t n = strlen(word);
    return (size_t)(s.e - s.b) == n && memcmp(s.b, word, n) == 0;
}

template <size_t N>
bool lookup(const Name (&table)[N], Span s, int* value) {
    for (size_t i = 0; i < N; i++) {
        if (span_is(s, table[i].text)) {
            *value = table[i].value;
            return true;
        }
    }
    return false;
}

// Whole span as a decimal integer in [lo, hi]; optional sign.
bool parse_int(Span s, int64_t lo, int64_t hi, int64_t* out) {
    const char* p = s.b;
    bool neg = false;
    if (p < s.e && (*p == '-' || *p == '+')) {
        neg = *p == '-';
        p++;
    }
    if (p == s.e) return false;
    int64_t v = 0;
    for (; p < s.e; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > (int64_t)1 << 40) return false;
    }
    if (neg) v = -v;
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parse_i32(Span s, int32_t* out) {
    int64_t v;
    if (!parse_int(s, INT32_MIN, INT32_MAX, &v)) return false;
    *out = (int32_t)v;
    return true;
}

// "WxH" with signed parts.
bool parse_size(Span s, int32_t* w, int32_t* h) {
    const char* x = s.b;
    // The separator is the first 'x' after at least one character (a sign or digit).
    for (x = s.b + 1; x < s.e && *x != 'x'; x++) {
    }
    if (x >= s.e) return false;
    return parse_i32(Span{s.b, x}, w) && parse_i32(Span{x + 1, s.e}, h);
}

// Calls each(item) for the '/'-separated items of s; false when one fails or s is empty.
template <typename F>
bool each_item(Span s, F each) {
    if (s.b == s.e) return false;
    const char* p = s.b;
    while (true) {
        const char* q = p;
        while (q < s.e && *q != '/') q++;
        if (!each(Span{p, q})) return false;
        if (q == s.e) return true;
        p = q + 1;
    }
}

bool apply_item(Span key, Span val, SimScenario* sc) {
    int64_t v;
    if (span_is(key, "geom")) return parse_size(val, &sc->geom_w, &sc->geom_h);
    if (span_is(key, "fps")) {
        if (!parse_int(val, 0, 100000, &v)) return false;
        sc->fps = (int32_t)v;
        return true;
    }
    if (span_is(key, "fmt")) {
        int n = 0;
        int32_t fmt[SIM_MAX_CYCLE];
        bool ok = each_item(val, [&](Span it) { return n < SIM_MAX_CYCLE && parse_i32(it, &fmt[n++]); });
        if (!ok) return false;
        memcpy(sc->fmt, fmt, sizeof(fmt));
        sc->nfmt = n;
        return true;
    }
    if (span_is(key, "cb")) {
        int n = 0;
        SimCbSize cb[SIM_MAX_CYCLE];
        bool ok = each_item(val, [&](Span it) {
            if (n >= SIM_MAX_CYCLE) return false;
            SimCbSize& c = cb[n++];
            c.w = c.h = 0;
            c.null_frame = span_is(it, "null");
            if (c.null_frame) return true;
            if (!parse_size(it, &c.w, &c.h)) return false;
            // Frames larger than 4096x4096 are no test of anything.
            return c.w <= 4096 && c.h <= 4096;
        });
        if (!ok) return false;
        memcpy(sc->cb, cb, sizeof(cb));
        sc->ncb = n;
        return true;
    }
    if (span_is(key, "chan")) {
        if (span_is(val, "none")) {
            sc->chan = -1;
            return true;
        }
        if (!parse_int(val, 0, 7, &v)) return false;
        sc->chan = (int32_t)v;
        return true;
    }
    if (span_is(key, "chanfail")) {
        if (span_is(val, "rc0")) sc->chanfail_nullhdr = false;
        else if (span_is(val, "nullhdr")) sc->chanfail_nullhdr = true;
        else return false;
        return true;
    }
    if (span_is(key, "noexport")) {
        return each_item(val, [&](Span it) {
            int x;
            if (!lookup(k_exports, it, &x)) return false;
            sc->noexport |= 1u << x;
            return true;
        });
    }
    if (span_is(key, "start")) return parse_i32(val, &sc->start_rc);
    if (span_is(key, "rgbrc")) return parse_i32(val, &sc->rgb_rc);
    if (span_is(key, "temprc")) return parse_i32(val, &sc->temp_rc);
    if (span_is(key, "barrc")) return parse_i32(val, &sc->bar_rc);
    if (span_is(key, "barinfo") || span_is(key, "bardata")) {
        if (!span_is(val, "null")) return false;
        sc->null_ptr |= 1u << (span_is(key, "barinfo") ? SIM_F_BARINFO : SIM_F_BARDATA);
        return true;
    }
    if (span_is(key, "nsegs")) {
        if (!parse_int(val, 0, UINT32_MAX, &v)) return false;
        sc->nsegs = (uint32_t)v;
        return true;
    }
    if (span_is(key, "asleft")) {
        if (!parse_int(val, 0, INT32_MAX, &v)) return false;
        sc->asleft_kib = v;
        return true;
    }
    if (span_is(key, "seed")) {
        if (!parse_int(val, 0, UINT32_MAX, &v)) return false;
        sc->seed = (uint32_t)v;
        return true;
    }
    if (span_is(key, "bad") || span_is(key, "null")) {
        uint32_t* mask = span_is(key, "bad") ? &sc->bad : &sc->null_ptr;
        return each_item(val, [&](Span it) {
            int f;
            if (!lookup(k_fields, it, &f)) return false;
            *mask |= 1u << f;
            return true;
        });
    }
    if (span_is(key, "short")) {
        return each_item(val, [&](Span it) {
            const char* colon = it.b;
            while (colon < it.e && *colon != ':') colon++;
            int b;
            int64_t n;
            if (colon == it.e || !lookup(k_blocks, Span{it.b, colon}, &b)) return false;
            if (!parse_int(Span{colon + 1, it.e}, 0, (int64_t)1 << 30, &n)) return false;
            sc->short_len[b] = n;
            return true;
        });
    }
    if (span_is(key, "noaccess")) {
        return each_item(val, [&](Span it) {
            int x;
            if (!lookup(k_noaccess, it, &x)) return false;
            sc->noaccess |= (uint32_t)x;
            return true;
        });
    }
    return false;
}

}  // namespace

bool sim_parse_scenario(const char* text, SimScenario* out) {
    sim_default_scenario(out);
    if (!text) return true;
    bool ok = true;
    const char* p = text;
    while (*p) {
        const char* e = p;
        while (*e && *e != ',') e++;
        Span item{p, e};
        // Blanks around an item are a typing convenience, nothing more.
        while (item.b < item.e && *item.b == ' ') item.b++;
        while (item.e > item.b && item.e[-1] == ' ') item.e--;
        if (item.b < item.e) {
            const char* eq = item.b;
            while (eq < item.e && *eq != '=') eq++;
            bool good = eq < item.e && apply_item(Span{item.b, eq}, Span{eq + 1, item.e}, out);
            if (!good && ok) {
                size_t n = (size_t)(item.e - item.b);
                if (n >= sizeof(out->error)) n = sizeof(out->error) - 1;
                memcpy(out->error, item.b, n);
                out->error[n] = 0;
                ok = false;
            }
        }
        p = *e ? e + 1 : e;
    }
    return ok;
}

void sim_geometry(const SimScenario* sc, SimGeom* out) {
    bool ok = sc->geom_w >= 1 && sc->geom_w <= 1000 && sc->geom_h >= 1 && sc->geom_h <= 1000;
    out->w = ok ? sc->geom_w : 160;
    out->h = ok ? sc->geom_h : 120;
    out->sw = out->w / 2;
    out->sh = out->h / 2;
    size_t px = (size_t)out->w * (size_t)out->h;
    size_t spx = (size_t)out->sw * (size_t)out->sh;
    out->gray_room = px > 19200 ? px : 19200;
    out->raw_room = (spx > 4800 ? spx : 4800) * 2;
    out->acc_room = (spx > 4800 ? spx : 4800) * 4;
}

// ---- Hashes and byte windows ---------------------------------------------------------

namespace {

uint64_t mix64(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// A window [off, off + len) of a block, backed by out.
struct Win {
    uint8_t* out;
    size_t off, len;
};

// Copies the part of src (n bytes placed at block offset at) that falls in the window.
void put(Win w, size_t at, const void* src, size_t n) {
    size_t b = at > w.off ? at : w.off;
    size_t e = at + n < w.off + w.len ? at + n : w.off + w.len;
    if (b >= e) return;
    memcpy(w.out + (b - w.off), (const uint8_t*)src + (b - at), e - b);
}

void put8(Win w, size_t at, uint8_t v) { put(w, at, &v, 1); }

void put16(Win w, size_t at, uint16_t v) {
    uint8_t b[2] = {(uint8_t)v, (uint8_t)(v >> 8)};
    put(w, at, b, 2);
}

void put32(Win w, size_t at, uint32_t v) {
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    put(w, at, b, 4);
}

void put64(Win w, size_t at, uint64_t v) {
    uint8_t b[8];
    for (int i = 0; i < 8; i++) b[i] = (uint8_t)(v >> (8 * i));
    put(w, at, b, 8);
}

void put_double(Win w, size_t at, double d) {
    uint64_t v;
    memcpy(&v, &d, 8);
    put64(w, at, v);
}

// Little-endian 64-bit words of key-derived noise written over the window;
// odd_high sets bit 7 of every odd byte.
void fill_noise(Win w, uint64_t key, bool odd_high) {
    const uint64_t high = odd_high ? 0x8000800080008000ull : 0;
    size_t first = w.off / 8, last = (w.off + w.len + 7) / 8;
    // Whole words inside the window are stored directly; the two ends go through put.
    size_t inner_b = (w.off + 7) / 8, inner_e = (w.off + w.len) / 8;
    for (size_t i = first; i < last; i++) {
        uint64_t v = mix64(key + i) | high;
        if (i >= inner_b && i < inner_e) {
            uint8_t b[8];
            for (int j = 0; j < 8; j++) b[j] = (uint8_t)(v >> (8 * j));
            memcpy(w.out + (i * 8 - w.off), b, 8);
        } else {
            put64(w, i * 8, v);
        }
    }
}

uint64_t static_key(const SimScenario* sc, SimBlock b) {
    return mix64(((uint64_t)sc->seed << 8) ^ (uint64_t)b ^ 0x5354415449430000ull);
}

uint64_t frame_key(const SimScenario* sc, SimBlock b, uint32_t k) {
    return mix64(mix64(((uint64_t)sc->seed << 8) ^ (uint64_t)b) ^ ((uint64_t)k << 32 | 0x4652u));
}

// ---- The scene -------------------------------------------------------------------------

// A warm blob moving over a left-to-right gradient, plus a little noise per
// pixel and frame, in milli-degrees Celsius. Coordinates are scaled to 0..1023 so
// that every rendering size shows the same scene.
struct Scene {
    int64_t cx, cy;
    uint32_t key;
};

int64_t tri(uint64_t p) {
    p %= 1024;
    return p < 512 ? (int64_t)p : (int64_t)(1023 - p);
}

Scene scene_of(const SimScenario* sc, uint32_t k) {
    Scene s;
    s.cx = 192 + tri((uint64_t)k * 24 + (uint64_t)sc->seed * 131) * 640 / 511;
    s.cy = 256 + tri((uint64_t)k * 10 + (uint64_t)sc->seed * 71 + 256) * 512 / 511;
    s.key = mix32(mix32(sc->seed ^ 0x5CE4E5u) + k);
    return s;
}

// Scene temperature of pixel (x, y) of a w x h rendering. render_scene below computes
// the same numbers a row at a time; both must stay in step.
int32_t scene_at(const Scene& s, int32_t x, int32_t y, int32_t w, int32_t h) {
    int64_t u = (int64_t)x * 1024 / w;
    int64_t v = (int64_t)y * 1024 / h;
    int64_t t = 24000 + u * 6 - v * 3;
    int64_t du = u - s.cx, dv = v - s.cy;
    int64_t d2 = du * du + dv * dv;
    const int64_t r2 = 180 * 180;
    if (d2 < r2) t += 14000 * (r2 - d2) / r2;
    uint32_t n = mix32(s.key ^ ((uint32_t)x + (uint32_t)y * 65536u));
    t += (int64_t)(n % 201) - 100;
    return (int32_t)t;
}

// Calls f(i, mc) for the nx * ny pixels (step * xs, step * ys) of a w x h rendering,
// i counting from 0 in row order. The per-column and per-row parts of scene_at are
// computed once.
template <typename F>
void render_scene(const SimScenario* sc, uint32_t k, int32_t w, int32_t h, int32_t nx, int32_t ny, int32_t step, F f) {
    if (nx <= 0 || ny <= 0) return;
    Scene s = scene_of(sc, k);
    struct Col {
        int64_t t, du2;
        uint32_t x;
    };
    Col* cols = (Col*)malloc(sizeof(Col) * (size_t)nx);
    if (!cols) return;
    for (int32_t xs = 0; xs < nx; xs++) {
        int32_t x = xs * step;
        int64_t u = (int64_t)x * 1024 / w;
        cols[xs] = Col{24000 + u * 6, (u - s.cx) * (u - s.cx), (uint32_t)x};
    }
    const int64_t r2 = 180 * 180;
    size_t i = 0;
    for (int32_t ys = 0; ys < ny; ys++) {
        int32_t y = ys * step;
        int64_t v = (int64_t)y * 1024 / h;
        int64_t dv2 = (v - s.cy) * (v - s.cy);
        for (int32_t xs = 0; xs < nx; xs++) {
            const Col& c = cols[xs];
            int64_t t = c.t - v * 3;
            int64_t d2 = c.du2 + dv2;
            if (d2 < r2) t += 14000 * (r2 - d2) / r2;
            uint32_t n = mix32(s.key ^ (c.x + (uint32_t)y * 65536u));
            t += (int64_t)(n % 201) - 100;
            f(i++, (int32_t)t);
        }
    }
    free(cols);
}

uint8_t gray_of(int32_t mc) {
    int64_t g = ((int64_t)mc - 20000) * 255 / 25000;
    return (uint8_t)(g < 0 ? 0 : g > 255 ? 255 : g);
}

uint16_t raw_of(int32_t mc) { return (uint16_t)(6000 + mc / 4); }

// Palette entry g: blue falls and red rises with the gray value; the reserved byte
// carries the frame so that the colour table changes every frame.
void palette_entry(uint32_t g, uint32_t k, uint8_t* e) {
    e[0] = (uint8_t)(255 - g);
    e[1] = (uint8_t)((g * g) >> 8);
    e[2] = (uint8_t)g;
    e[3] = (uint8_t)(0x80 | (k & 0x7F));
}

void render_bgr(const SimScenario* sc, uint32_t k, int32_t w, int32_t h, uint8_t* out) {
    render_scene(sc, k, w, h, w, h, 1, [&](size_t i, int32_t mc) {
        uint8_t e[4];
        palette_entry(gray_of(mc), k, e);
        memcpy(out + 3 * i, e, 3);
    });
}

// ---- DeviceBlock -------------------------------------------------------------------------

const uint32_t k_dev_pointers[] = {
    0x240, 0x248, 0x260, 0x268, 0x270, 0x278, 0x290, 0x298, 0x2A0, 0x2A8, 0x2B0,
    0x41840, 0x41848, 0x41850, 0x41858, 0x41860, 0x41868, 0x41870, 0x41878,
    0x41EE8, 0x41EF0, 0x41EF8, 0x41F10, 0x41F20,
};

const uint32_t k_smoobj_pointers[] = {0x10, 0x18};

const size_t k_dev_min_size = 0x54470 + 32;

// Words whose value is their own offset: a read at the wrong offset shows at once.
const uint32_t k_dev_offset_words[] = {
    0x11C,   0x41340, 0x41348, 0x41558, 0x4155C, 0x41560, 0x41564, 0x41568, 0x41F0C, 0x41F3C,
    0x41FD8, 0x41FE4, 0x47948, 0x4794C, 0x47950, 0x47954,
};

void bitmap_header(const SimScenario* sc, uint8_t* h40) {
    SimGeom g;
    sim_geometry(sc, &g);
    memset(h40, 0, 40);
    Win w{h40, 0, 40};
    put32(w, 0, 40);
    put32(w, 4, (uint32_t)sc->geom_w);
    put32(w, 8, (uint32_t)sc->geom_h);
    put16(w, 12, 1);
    put16(w, 14, 8);
    put32(w, 16, 0);
    put32(w, 20, (uint32_t)(g.w * g.h));
    put32(w, 24, 2835);
    put32(w, 28, 2835);
    put32(w, 32, 256);
    put32(w, 36, 0);
}

// A 1024-byte lookup-table window at `at`, with a 0xFF byte 8 before it and a 0 right
// after it, so that no window overlapping it only in part passes the scan's rising test.
template <typename F>
void plant_lut(Win w, size_t at, F byte_at) {
    put8(w, at - 8, 0xFF);
    for (size_t i = 0; i < 1024; i++) put8(w, at + i, byte_at(i));
    put8(w, at + 1024, 0);
}

void dev_static(const SimScenario* sc, Win w) {
    SimGeom g;
    sim_geometry(sc, &g);
    // The background (written by the caller) has bit 7 set in every odd byte, so no
    // 16-bit, 32-bit or double value in it is positive and no sampled window rises:
    // the scan finds only what is planted here.
    // Scan targets.
    put32(w, 0x200, 25167);
    put_double(w, 0x1F00, 25167.0 - 6.5);
    put_double(w, 0x1F08, 25167.0 - 10.0);
    put_double(w, 0x1F10, 25167.0 + 10.0);
    put32(w, 0x4000, 22500);
    put16(w, 0x6002, 23700);
    put32(w, 0xA000, 31707);
    put32(w, 0xC000, 1200);
    put16(w, 0xFFFE, 5797);
    plant_lut(w, 0x8000, [](size_t i) { return (uint8_t)(i / 4); });
    plant_lut(w, 0xE000, [](size_t) { return (uint8_t)0x42; });
    plant_lut(w, 0x14000, [](size_t i) { return (uint8_t)(50 + i * 100 / 1023); });
    plant_lut(w, 0x18000, [](size_t i) { return (uint8_t)(20 + i * 180 / 1023); });
    plant_lut(w, 0x1C000, [](size_t i) { return (uint8_t)(i == 13 ? 0 : 100 + i * 100 / 1023); });

    // Non-pointer words among the fifteen at 0x240.
    put64(w, 0x250, (uint64_t)(uint32_t)g.w | (uint64_t)(uint32_t)g.h << 32);
    put64(w, 0x258, 0x0000564544534953ull);  // "SIMDEV"
    put64(w, 0x280, 0);
    put64(w, 0x288, (uint64_t)(uint32_t)g.sw | (uint64_t)(uint32_t)g.sh << 32);

    uint8_t h40[40];
    bitmap_header(sc, h40);
    put(w, 0xAF0, h40, 40);

    for (uint32_t off : k_dev_offset_words) put32(w, off, off);
    put32(w, 0x41554, sc->nsegs);
    put32(w, 0x47938, (uint32_t)(g.sw * g.sh));
    for (size_t i = 0; i < 1024; i++) put8(w, 0x4284C + i, (uint8_t)(i / 4));
    for (uint32_t i = 0; i < 16; i++) put16(w, 0x54470 + 2 * i, (uint16_t)(0x4000 + 0x101 * i));

    for (uint32_t off : k_dev_pointers) put64(w, off, 0);
}

bool win_touches(Win w, size_t at, size_t n) { return at < w.off + w.len && w.off < at + n; }

void dev_dynamic(const SimScenario* sc, uint32_t k, Win w) {
    put32(w, 0x8, k);
    put32(w, 0x54, 0x54 + k);
    put32(w, 0x41F00, 2 * k);
    put32(w, 0x41F30, 3 * k + 1);
    put32(w, 0x41FDC, 0x41FDC + k);
    put32(w, 0x41FE0, 0x41FE0 + 2 * k);
    put32(w, 0x4202C, 30000 + k % 1000);
    put32(w, 0x42030, 20000 + k % 500);
    put32(w, 0x47944, 0x47944 + k);
    if (win_touches(w, 0xB18, 1024)) {
        uint8_t pal[1024];
        sim_model_palette(sc, k, pal);
        put(w, 0xB18, pal, 1024);
    }
    if (win_touches(w, 0x4204C, 1024)) {
        // Histogram of the gray image of this frame: 256 u32 counts.
        SimGeom g;
        sim_geometry(sc, &g);
        size_t n = (size_t)g.w * (size_t)g.h;
        uint8_t* gray = (uint8_t*)malloc(n);
        uint32_t hist[256] = {0};
        if (gray) {
            sim_model_gray(sc, k, gray);
            for (size_t i = 0; i < n; i++) hist[gray[i]]++;
            free(gray);
        }
        uint8_t bytes[1024];
        for (int i = 0; i < 256; i++)
            for (int j = 0; j < 4; j++) bytes[4 * i + j] = (uint8_t)(hist[i] >> (8 * j));
        put(w, 0x4204C, bytes, 1024);
    }
}

void stream_dynamic(const SimScenario* sc, uint32_t k, Win w) {
    SimGeom g;
    sim_geometry(sc, &g);
    put32(w, 0x2D78, k);
    put32(w, 0x2D88, 0x2D88 + k);
    put32(w, 0x2D8C, 0x2D8C);
    put32(w, 0x2D90, 0x2D90 + 2 * k);
    put32(w, 0x2D94, 0x2D94);
    put32(w, 0x2D98, (uint32_t)(g.w * g.h));
}

bool is_frame_pattern(SimBlock b) {
    switch (b) {
    case SIM_B0: case SIM_B1: case SIM_B2: case SIM_B4: case SIM_B5: case SIM_B7:
    case SIM_REF: case SIM_E0BUF: case SIM_E0ACC: case SIM_F20: case SIM_SMO: case SIM_SMOACC:
        return true;
    default:
        return false;
    }
}

// Bytes of the image part of gray or raw into the window.
void image_bytes(const SimScenario* sc, SimBlock b, uint32_t k, Win w) {
    SimGeom g;
    sim_geometry(sc, &g);
    size_t n = b == SIM_GRAY ? (size_t)g.w * g.h : (size_t)g.sw * g.sh * 2;
    if (w.off >= n || n == 0) return;
    uint8_t* img = (uint8_t*)malloc(n);
    if (!img) return;
    if (b == SIM_GRAY) sim_model_gray(sc, k, img);
    else sim_model_raw(sc, k, img);
    put(w, 0, img, n);
    free(img);
}

void bar_bytes(const SimScenario* sc, SimBlock b, uint32_t k, Win w) {
    uint8_t buf[4096];
    size_t n = b == SIM_BARDATA ? 4096 : 64;
    if (b == SIM_BARDATA) sim_model_bar_data(sc, k, buf);
    else sim_model_bar_info(sc, k, buf);
    put(w, 0, buf, n);
}

}  // namespace

// ---- Public pattern functions ------------------------------------------------------------

uint32_t sim_model_fixed(const SimScenario*, SimFixed which, uint32_t k) {
    switch (which) {
    case SIM_FIX_GAIN: return 60000;
    case SIM_FIX_T_BASE: return 100000;
    case SIM_FIX_T_NOW: return 100000 + 40 * k;
    case SIM_FIX_GLOBFRAME: return k;
    }
    return 0;
}

size_t sim_model_block_size(const SimScenario* sc, SimBlock b) {
    SimGeom g;
    sim_geometry(sc, &g);
    uint64_t n = 0;
    switch (b) {
    case SIM_GRAY: n = g.gray_room; break;
    case SIM_RAW: n = g.raw_room; break;
    case SIM_DEV:
        n = k_dev_min_size;
        // Room for the inline gain region whenever the probe may dump it.
        if (sc->nsegs <= 327 && 0x41870 + (uint64_t)sc->nsegs * 76800 > n) n = 0x41870 + (uint64_t)sc->nsegs * 76800;
        break;
    case SIM_B3: {
        uint64_t t = (uint64_t)(sc->nsegs < 512 ? sc->nsegs : 512) * 38400;
        n = t > g.raw_room ? t : g.raw_room;
        break;
    }
    case SIM_B6: {
        uint64_t t = (uint64_t)(sc->nsegs < 64 ? sc->nsegs : 64) * 76800;
        n = t > g.raw_room ? t : g.raw_room;
        break;
    }
    case SIM_E0ACC: case SIM_SMOACC: n = g.acc_room; break;
    case SIM_SMOOBJ: n = 64; break;
    case SIM_STREAM: n = 0x2DA0; break;
    case SIM_BARDATA: n = 4096; break;
    case SIM_BARINFO: n = 64; break;
    default: n = g.raw_room; break;
    }
    return (size_t)n;
}

void sim_model_block_bytes(const SimScenario* sc, SimBlock b, uint32_t k, size_t off, size_t len, uint8_t* out) {
    Win w{out, off, len};
    if (len == 0) return;
    if (is_frame_pattern(b)) {
        fill_noise(w, frame_key(sc, b, k), false);
        return;
    }
    fill_noise(w, static_key(sc, b), true);
    switch (b) {
    case SIM_GRAY: case SIM_RAW: image_bytes(sc, b, k, w); break;
    case SIM_DEV: dev_static(sc, w); dev_dynamic(sc, k, w); break;
    case SIM_SMOOBJ: for (uint32_t o : k_smoobj_pointers) put64(w, o, 0); break;
    case SIM_STREAM: stream_dynamic(sc, k, w); break;
    case SIM_BARDATA: case SIM_BARINFO: bar_bytes(sc, b, k, w); break;
    default: break;
    }
}

void sim_model_refresh(const SimScenario* sc, SimBlock b, uint32_t k, uint8_t* mem, size_t readable) {
    Win w{mem, 0, readable};
    if (readable == 0) return;
    if (is_frame_pattern(b)) {
        fill_noise(w, frame_key(sc, b, k), false);
        return;
    }
    switch (b) {
    case SIM_GRAY: case SIM_RAW: image_bytes(sc, b, k, w); break;
    case SIM_DEV: dev_dynamic(sc, k, w); break;
    case SIM_STREAM: stream_dynamic(sc, k, w); break;
    default: break;
    }
}

size_t sim_model_device_pointer_offsets(const uint32_t** list) {
    *list = k_dev_pointers;
    return sizeof(k_dev_pointers) / sizeof(k_dev_pointers[0]);
}

size_t sim_model_smoobj_pointer_offsets(const uint32_t** list) {
    *list = k_smoobj_pointers;
    return sizeof(k_smoobj_pointers) / sizeof(k_smoobj_pointers[0]);
}

uint8_t sim_model_device_byte(const SimScenario* sc, uint32_t k, size_t off) {
    uint8_t v;
    sim_model_block_bytes(sc, SIM_DEV, k, off, 1, &v);
    return v;
}

uint32_t sim_model_device_u32(const SimScenario* sc, uint32_t k, size_t off) {
    uint8_t b[4];
    sim_model_block_bytes(sc, SIM_DEV, k, off, 4, b);
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

int32_t sim_model_scene_mc(const SimScenario* sc, uint32_t k, int32_t x, int32_t y, int32_t w, int32_t h) {
    return scene_at(scene_of(sc, k), x, y, w, h);
}

void sim_model_gray(const SimScenario* sc, uint32_t k, uint8_t* out) {
    SimGeom g;
    sim_geometry(sc, &g);
    render_scene(sc, k, g.w, g.h, g.w, g.h, 1, [&](size_t i, int32_t mc) { out[i] = gray_of(mc); });
}

void sim_model_raw(const SimScenario* sc, uint32_t k, uint8_t* out) {
    SimGeom g;
    sim_geometry(sc, &g);
    render_scene(sc, k, g.w, g.h, g.sw, g.sh, 2, [&](size_t i, int32_t mc) {
        uint16_t v = raw_of(mc);
        out[2 * i] = (uint8_t)v;
        out[2 * i + 1] = (uint8_t)(v >> 8);
    });
}

void sim_model_rgb(const SimScenario* sc, uint32_t k, uint8_t* out) {
    SimGeom g;
    sim_geometry(sc, &g);
    render_bgr(sc, k, g.w, g.h, out);
}

void sim_model_t32(const SimScenario* sc, uint32_t k, size_t n, uint8_t* out) {
    SimGeom g;
    sim_geometry(sc, &g);
    // Only the rows that reach into the first n bytes.
    size_t rows = (n / 4 + (size_t)g.w) / (size_t)g.w;
    int32_t ny = rows < (size_t)g.h ? (int32_t)rows : g.h;
    render_scene(sc, k, g.w, g.h, g.w, ny, 1, [&](size_t i, int32_t mc) {
        uint32_t v = (uint32_t)(mc + 273150);
        for (size_t j = 0; j < 4 && 4 * i + j < n; j++) out[4 * i + j] = (uint8_t)(v >> (8 * j));
    });
}

void sim_model_palette(const SimScenario*, uint32_t k, uint8_t* out1024) {
    for (uint32_t i = 0; i < 256; i++) palette_entry(i, k, out1024 + 4 * i);
}

void sim_model_header(const SimScenario* sc, uint32_t k, uint8_t* out96) {
    uint8_t pal[1024];
    bitmap_header(sc, out96);
    sim_model_palette(sc, k, pal);
    memcpy(out96 + 40, pal, 56);
}

void sim_model_bar_data(const SimScenario*, uint32_t k, uint8_t* out4096) {
    // 1024 colour-table entries from hot (top) to cold; the fourth byte carries the frame.
    for (uint32_t j = 0; j < 1024; j++) {
        uint8_t* e = out4096 + 4 * j;
        palette_entry((1023 - j) / 4, k, e);
        e[3] = (uint8_t)(k * 7 + j);
    }
}

void sim_model_bar_info(const SimScenario* sc, uint32_t k, uint8_t* out64) {
    uint32_t v[16] = {0x52414243u /* "CBAR" */, k, 20000, 45000, 1024, 4};
    for (uint32_t i = 6; i < 16; i++) v[i] = mix32(mix32(sc->seed + i) ^ k);
    for (int i = 0; i < 16; i++)
        for (int j = 0; j < 4; j++) out64[4 * i + j] = (uint8_t)(v[i] >> (8 * j));
}

void sim_model_cb_info(const SimScenario* sc, uint32_t k, SimCbFrame* out) {
    SimGeom g;
    sim_geometry(sc, &g);
    uint32_t i = k ? k - 1 : 0;
    out->fmt = sc->fmt[i % (uint32_t)sc->nfmt];
    out->null_frame = false;
    out->w = g.w;
    out->h = g.h;
    if (sc->ncb > 0) {
        const SimCbSize& c = sc->cb[i % (uint32_t)sc->ncb];
        out->null_frame = c.null_frame;
        if (!c.null_frame) {
            out->w = c.w;
            out->h = c.h;
        }
    }
    out->bytes = out->null_frame || out->w <= 0 || out->h <= 0 ? 0 : (size_t)out->w * (size_t)out->h * 3;
}

void sim_model_cb_frame(const SimScenario* sc, uint32_t k, uint8_t* out) {
    SimCbFrame f;
    sim_model_cb_info(sc, k, &f);
    if (f.bytes) render_bgr(sc, k, f.w, f.h, out);
}

size_t sim_model_cb_max_bytes(const SimScenario* sc) {
    size_t m = 1;
    SimCbFrame f;
    int n = sc->ncb > 0 ? sc->ncb : 1;
    for (int i = 0; i < n; i++) {
        sim_model_cb_info(sc, (uint32_t)i + 1, &f);
        if (f.bytes > m) m = f.bytes;
    }
    return m;
}

void sim_model_point_temps(const SimScenario* sc, uint32_t k, int32_t x, int32_t y, double* temp_raw, double* temp_arm) {
    SimGeom g;
    sim_geometry(sc, &g);
    x = x < 0 ? 0 : x >= g.w ? g.w - 1 : x;
    y = y < 0 ? 0 : y >= g.h ? g.h - 1 : y;
    int32_t mc = scene_at(scene_of(sc, k), x, y, g.w, g.h);
    *temp_raw = mc / 1000.0;
    *temp_arm = (mc - 250) / 1000.0;
}
