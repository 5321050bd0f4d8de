// The probe's per-pair frame output work (write_frame_outputs: nine files, the
// library blocks through the fault-tolerant read, the two console lines) against
// a bare open/write/close loop of the same blocks, in the same run.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/frame_delegate.h"
#include "capture/pair_capture.h"
#include "driver/probe_config.h"
#include "dump/dump_writer.h"

namespace {

uint8_t g_hdr_block[1064];
uint8_t g_bar[4096];
uint8_t g_barinfo[64];

int32_t stub_color_bar(int32_t, const void** data, const void** info)
{
    *data = g_bar;
    *info = g_barinfo;
    return 1;
}

struct Fixture {
    PairBuffers b;
    PairCapture cap;
    SdkEntryPoints sdk;
    std::string dir;
};

Fixture make_fixture(int w, int h)
{
    Fixture f;
    alloc_pair_buffers(&f.b, w, h);
    memset(f.b.gray, 7, gray_bytes(&f.b));
    memset(f.b.rgb, 9, rgb_bytes(&f.b));
    f.cap = PairCapture{1, 1, gray_bytes(&f.b), raw_bytes(&f.b), PAL_BYTES};
    f.sdk = SdkEntryPoints{};
    f.sdk.MAG_GetOutputColorBardata = stub_color_bar;
    std::vector<uint8_t> frame(320 * 240 * 3, 5);
    onIR(frame.data(), 320, 240, FRAME_FORMAT_RGB24);
    // tmpfs when there is one: the figure is the probe's own work, not the disk's.
    char shm[] = "/dev/shm/irprobe-bench-XXXXXX";
    char tmp[] = "/tmp/irprobe-bench-XXXXXX";
    const char* dir = mkdtemp(shm);
    f.dir = dir ? dir : mkdtemp(tmp);
    return f;
}

// Console lines go to /dev/null while the loop runs, so both sides do file work only
// plus what the probe prints itself.
struct QuietStdout {
    int saved;
    QuietStdout()
    {
        fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout()
    {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

void BM_ProbeFrameOutputs(benchmark::State& state)
{
    Fixture f = make_fixture((int)state.range(0), (int)state.range(1));
    g_dir = f.dir.c_str();
    QuietStdout quiet;
    int32_t pair = 0;
    for (auto _ : state) {
        char prefix[PREFIX_BYTES];
        make_pair_prefix(prefix, pair++ % 4);
        write_frame_outputs(&f.sdk, 0, pair, prefix, g_hdr_block, &f.b, &f.cap, 1);
    }
    g_dir = ".";
}

void write_bare(const std::string& path, const void* data, size_t n)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return;
    ssize_t w = write(fd, data, n);
    (void)w;
    close(fd);
}

void BM_BareWriteLoop(benchmark::State& state)
{
    Fixture f = make_fixture((int)state.range(0), (int)state.range(1));
    const PairBuffers* b = &f.b;
    struct Block {
        const char* suffix;
        const void* data;
        size_t n;
    } blocks[] = {
        {"gray", b->gray, gray_bytes(b)},     {"rgb", b->rgb, rgb_bytes(b)},
        {"raw", b->raw, raw_bytes(b)},        {"pal", b->pal, PAL_BYTES},
        {"cbrgb", g_cb[0], CB_BYTES},         {"t32", b->t32, sensor_acc_bytes(b)},
        {"hdr", g_hdr_block, 96},             {"bar", g_bar, sizeof g_bar},
        {"barinfo", g_barinfo, sizeof g_barinfo},
    };
    int pair = 0;
    for (auto _ : state) {
        char prefix[32];
        snprintf(prefix, sizeof prefix, "pair_%03d", pair++ % 4);
        for (const Block& blk : blocks)
            write_bare(f.dir + "/" + prefix + "." + blk.suffix, blk.data, blk.n);
    }
}

}  // namespace

BENCHMARK(BM_BareWriteLoop)->Args({320, 240})->Args({1000, 1000})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProbeFrameOutputs)->Args({320, 240})->Args({1000, 1000})->Unit(benchmark::kMicrosecond);
