// plat_read_memory against memcpy of the same bytes from mapped memory, at the
// block sizes the probe reads: 64 KiB, one 320x240 RGB24 frame, 1000x1000
// bytes and 8 MiB. The Ratio benchmarks time both in the same loop, in turns,
// and report read time / memcpy time as the counter "ratio".
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <sys/mman.h>

namespace {

const int64_t g_sizes[] = {64 * 1024, 320 * 240 * 3, 1000 * 1000, 8 * 1024 * 1024};

// Source and destination, mapped and touched once so no page faults are timed.
struct Buffers {
    char* src;
    char* dst;
    size_t size;
};

Buffers buffers_make(size_t size)
{
    Buffers b;
    b.size = size;
    b.src = (char*)mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    b.dst = (char*)mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    for (size_t i = 0; i < size; i++) {
        b.src[i] = (char)(i * 7);
        b.dst[i] = 0;
    }
    return b;
}

void buffers_free(Buffers* b)
{
    munmap(b->src, b->size);
    munmap(b->dst, b->size);
}

void BM_memcpy(benchmark::State& state)
{
    Buffers b = buffers_make((size_t)state.range(0));
    for (auto _ : state) {
        memcpy(b.dst, b.src, b.size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
    buffers_free(&b);
}

void BM_plat_read_memory(benchmark::State& state)
{
    Buffers b = buffers_make((size_t)state.range(0));
    for (auto _ : state) {
        if (plat_read_memory(b.dst, (uintptr_t)b.src, b.size) != b.size)
            state.SkipWithError("short read");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
    buffers_free(&b);
}

// The fallback used when the fault handler cannot be installed.
void BM_process_vm_readv(benchmark::State& state)
{
    Buffers b = buffers_make((size_t)state.range(0));
    for (auto _ : state) {
        if (plat_read_memory_syscall(b.dst, (uintptr_t)b.src, b.size) != b.size)
            state.SkipWithError("short read");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
    buffers_free(&b);
}

typedef size_t (*ReadFn)(void*, uintptr_t, size_t);

// Times `read` and memcpy over the same buffers in turns (which one goes first
// alternates), so both see the same caches and clock; the iteration time is
// the read's.
void ratio_run(benchmark::State& state, ReadFn read)
{
    typedef std::chrono::steady_clock Clock;
    Buffers b = buffers_make((size_t)state.range(0));
    double read_s = 0, copy_s = 0;
    bool read_first = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; turn++) {
            bool reading = (turn == 0) == read_first;
            Clock::time_point t0 = Clock::now();
            if (reading)
                read(b.dst, (uintptr_t)b.src, b.size);
            else
                memcpy(b.dst, b.src, b.size);
            benchmark::ClobberMemory();
            double s = std::chrono::duration<double>(Clock::now() - t0).count();
            (reading ? read_s : copy_s) += s;
            if (reading)
                state.SetIterationTime(s);
        }
        read_first = !read_first;
    }
    state.counters["ratio"] = read_s / copy_s;
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
    buffers_free(&b);
}

void BM_Ratio_plat_read_memory(benchmark::State& state)
{
    ratio_run(state, plat_read_memory);
}

void BM_Ratio_process_vm_readv(benchmark::State& state)
{
    ratio_run(state, plat_read_memory_syscall);
}

void sizes(benchmark::internal::Benchmark* b)
{
    for (int64_t s : g_sizes)
        b->Arg(s);
}

BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK(BM_plat_read_memory)->Apply(sizes);
BENCHMARK(BM_process_vm_readv)->Apply(sizes);
BENCHMARK(BM_Ratio_plat_read_memory)->Apply(sizes)->UseManualTime();
BENCHMARK(BM_Ratio_process_vm_readv)->Apply(sizes)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
