#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "capture/frame_delegate.h"

namespace {

std::vector<uint8_t> frame_bytes(int w, int h, uint8_t fill)
{
    return std::vector<uint8_t>((size_t)(w > 0 && h > 0 ? w * h * 3 : 1), fill);
}

TEST(FrameDelegate, CopiesOnlyRgb24FramesThatFitAndCountsEveryCall)
{
    std::vector<uint8_t> big = frame_bytes(320, 240, 0xAB);
    onIR(big.data(), 320, 240, FRAME_FORMAT_RGB24);
    FrameCopy f = latest_frame();
    ASSERT_EQ(f.width, 320);
    ASSERT_EQ(f.height, 240);
    EXPECT_EQ(f.bytes[0], 0xAB);
    EXPECT_EQ(f.bytes[CB_BYTES - 1], 0xAB);

    // Frames the delegate must not take: each still counts as a call.
    std::vector<uint8_t> other = frame_bytes(400, 400, 0x11);
    const struct {
        const void* data;
        int w, h, fmt;
    } rejected[] = {
        {nullptr, 160, 120, 3},       {other.data(), 0, 120, 3},   {other.data(), 160, -1, 3},
        {other.data(), 160, 120, 5},  {other.data(), 321, 240, 3}, {other.data(), 400, 400, 3},
        {other.data(), 76801, 1, 3},
    };
    for (const auto& r : rejected) {
        int32_t before = g_frames.load();
        onIR(r.data, r.w, r.h, r.fmt);
        EXPECT_EQ(g_frames.load(), before + 1);
        FrameCopy now = latest_frame();
        EXPECT_EQ(now.width, 320) << r.w << "x" << r.h << " fmt " << r.fmt;
        EXPECT_EQ(now.height, 240);
        EXPECT_EQ(now.bytes[0], 0xAB);
    }

    // A smaller frame after a larger one: sizes follow the new frame.
    std::vector<uint8_t> small = frame_bytes(160, 120, 0x5C);
    onIR(small.data(), 160, 120, FRAME_FORMAT_RGB24);
    f = latest_frame();
    EXPECT_EQ(f.width, 160);
    EXPECT_EQ(f.height, 120);
    EXPECT_EQ(f.bytes[160 * 120 * 3 - 1], 0x5C);
}

TEST(FrameDelegate, WaitReturnsAtOnceWhenTheCounterAlreadyMoved)
{
    int32_t last = g_frames.load() - 1;
    EXPECT_TRUE(wait_for_frame(&last));
    EXPECT_EQ(last, g_frames.load());
}

TEST(FrameDelegate, WaitEndsAtTheNextCallOfAnyFormat)
{
    int32_t last = g_frames.load();
    std::thread caller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        onIR(nullptr, 0, 0, 7);
    });
    EXPECT_TRUE(wait_for_frame(&last));
    caller.join();
    EXPECT_EQ(last, g_frames.load());
}

// The delegate runs on the library's thread while the driver reads the frame copy.
// Every frame is filled with one byte value that also selects its size, so a reader
// can tell a torn copy or sizes that do not describe the bytes.
TEST(FrameDelegate, ReaderAlwaysSeesWholeFramesWithMatchingSizes)
{
    const int sizes[4][2] = {{320, 240}, {160, 120}, {1, 1}, {200, 100}};
    std::vector<std::vector<uint8_t>> frames;
    for (int k = 0; k < 256; ++k)
        frames.push_back(frame_bytes(sizes[k % 4][0], sizes[k % 4][1], (uint8_t)k));

    onIR(frames[0].data(), sizes[0][0], sizes[0][1], FRAME_FORMAT_RGB24);
    std::atomic<bool> stop{false};
    std::thread library([&] {
        for (int k = 1; !stop.load(std::memory_order_relaxed); k = (k + 1) % 256)
            onIR(frames[k].data(), sizes[k % 4][0], sizes[k % 4][1], FRAME_FORMAT_RGB24);
    });
    int checked = 0;
    std::string fault;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (fault.empty() && std::chrono::steady_clock::now() < until) {
        FrameCopy f = latest_frame();
        uint8_t k = f.bytes[0];
        if (f.width != sizes[k % 4][0] || f.height != sizes[k % 4][1])
            fault = "sizes " + std::to_string(f.width) + "x" + std::to_string(f.height) + " for frame " +
                    std::to_string(k);
        size_t n = (size_t)f.width * f.height * 3;
        for (size_t i = 0; fault.empty() && i < n; ++i)
            if (f.bytes[i] != k)
                fault = "torn frame " + std::to_string(k) + " at byte " + std::to_string(i);
        ++checked;
    }
    stop = true;
    library.join();
    EXPECT_EQ(fault, "");
    EXPECT_GT(checked, 0);
}

}  // namespace
