// The pair loop of the real probe: the console transcript of a short run, the
// flat-field schedule, and the wait for fresh frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "e2e/e2e_support.h"

namespace {

uint64_t hex_value(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 16);
}

// Value the simulator logged for a pointer ("ptr <name> 0x<hex>"), "" when not logged.
std::string logged_pointer(const ProbeRun& run, const std::string& name)
{
    for (const std::string& line : log_lines(run, "ptr")) {
        std::istringstream in(line);
        std::string word, key, value;
        in >> word >> key >> value;
        if (key == name && value.size() == 18)
            return value.substr(2);
    }
    return "";
}

// Every line of a three-pair run, in order, with the pointers checked against
// each other and against what the simulator says it handed out.
TEST(ProbeTranscript, ShortRunLineByLine)
{
    ProbeRun run = run_probe("transcript", {".", "3", "0"}, with_scenario("fps=7"));
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    const std::vector<std::string>& out = run.out;
    size_t i = 0;
    ASSERT_EQ(out.size(), 34u);  // 25 start-up lines, 2 flat-field lines, 2 per pair, done

    std::string t = field(out[i], "T"), c = field(out[i], "C");
    EXPECT_EQ(out[i++], "T=" + t + " C=" + c);
    EXPECT_TRUE(is_hex16(t) && t != NULLP);
    EXPECT_TRUE(is_hex16(c) && c != NULLP);
    EXPECT_EQ(t, logged_pointer(run, "thermal_handle"));
    EXPECT_EQ(c, logged_pointer(run, "core_handle"));
    const char* labels[] = {"Start", "TempPoint", "Gray", "RGB", "TempRaw", "Bar"};
    const char* exports[] = {"Start", "ReadTemperatureAtPoint", "MAG_GetOutputBMPdata", "MAG_GetOutputBMPdataRGB24",
                             "MAG_GetTemperatureData_Raw", "MAG_GetOutputColorBardata"};
    std::string expect = "";
    for (int k = 0; k < 6; ++k) {
        std::string v = field(out[i], labels[k]);
        EXPECT_TRUE(is_hex16(v) && v != NULLP) << labels[k];
        EXPECT_EQ(v, logged_pointer(run, exports[k])) << labels[k];
        expect += std::string(k ? " " : "") + labels[k] + "=" + v;
    }
    EXPECT_EQ(out[i++], expect);
    EXPECT_EQ(out[i++], "SetTempBoundary(30.0, 44.0, 37.0)");
    EXPECT_EQ(out[i++], "Start()...");
    EXPECT_EQ(out[i++], "Start=1");
    EXPECT_EQ(out[i++], "warming 0 ms...");

    std::string gray = field(out[i], "gray"), hdr = field(out[i], "hdr");
    EXPECT_EQ(out[i++], "chan 0: rc=1 gray=" + gray + " hdr=" + hdr);
    EXPECT_EQ(gray, logged_pointer(run, "gray"));
    EXPECT_EQ(hdr, logged_pointer(run, "hdr"));
    std::string dev = hex16(hex_value(hdr) - 0xAF0);
    std::string rawp = field(out[i], "rawp");
    EXPECT_EQ(out[i++], "dev=" + dev + " w=320 h=240 graybuf=" + gray + " rawp=" + rawp);
    EXPECT_NE(rawp, NULLP);
    for (unsigned off = 0x240; off <= 0x2B0; off += 8) {
        char label[32];
        snprintf(label, sizeof label, "  dev+0x%03x = ", off);
        ASSERT_EQ(out[i].rfind(label, 0), 0u) << out[i];
        std::string word = out[i].substr(strlen(label));
        char key[16];
        snprintf(key, sizeof key, "dev+0x%03x", off);
        EXPECT_EQ(word, logged_pointer(run, key)) << out[i];
        if (off == 0x270) {
            EXPECT_EQ(word, rawp);
        }
        ++i;
    }
    EXPECT_EQ(out[i++], "capturing 3 pairs (disp 320x240, sensor 160x120)...");
    std::string ffc = field(out[i], "TriggerFFC");
    EXPECT_EQ(out[i++], "TriggerFFC=" + ffc);
    EXPECT_NE(ffc, NULLP);
    EXPECT_EQ(ffc, logged_pointer(run, "MAG_TriggerFFC"));

    // Three pairs: the flat-field call with 1 before pair 1, with 0 before pair 2.
    std::vector<std::string> rgb_calls = log_lines(run, "RGB24");
    std::vector<std::string> bar_calls = log_lines(run, "ColorBar");
    ASSERT_EQ(rgb_calls.size(), 3u);
    ASSERT_EQ(bar_calls.size(), 3u);
    for (int pair = 0; pair < 3; ++pair) {
        if (pair == 1) {
            EXPECT_EQ(out[i++], ">>> TriggerFFC(1)");
        }
        if (pair == 2) {
            EXPECT_EQ(out[i++], ">>> TriggerFFC(0)");
        }
        std::string data = field(out[i], "data"), info = field(out[i], "info");
        EXPECT_EQ(out[i++], "  bar rc=1 data=" + data + " info=" + info);
        EXPECT_NE(data, NULLP);
        EXPECT_EQ(data, log_value(bar_calls[pair], "data"));
        EXPECT_EQ(info, log_value(bar_calls[pair], "info"));
        std::string frames = field(out[i], "frames"), fcnt = field(out[i], "fcnt");
        EXPECT_EQ(out[i++], "[" + std::to_string(pair) + "] frames=" + frames + " fcnt=" + fcnt +
                                " rc_rgb=1 rc_temp=1 cb=320x240");
        // The state is read right after the capture, the counter at the end of the pair.
        long captured = std::atol(log_value(rgb_calls[pair], "frame").c_str());
        EXPECT_GE(std::atol(fcnt.c_str()), captured);
        EXPECT_LE(std::atol(fcnt.c_str()), captured + 1);
        EXPECT_GE(std::atol(frames.c_str()), std::atol(fcnt.c_str()));
    }
    EXPECT_EQ(out[i++], "done");
    EXPECT_EQ(i, out.size());
    EXPECT_EQ(log_lines(run, "Stop").size(), 1u);
    EXPECT_TRUE(run.err.empty()) << run.r.err;
}

struct FfcCase {
    int pairs;
    int on_pair, off_pair;
};

void PrintTo(const FfcCase& c, std::ostream* os)
{
    *os << c.pairs << " pairs";
}

class FlatField : public testing::TestWithParam<FfcCase> {};

// The pair in which each flat-field call happens, read from the console (the
// call's line stands before that pair's summary line) and from the simulator's log.
TEST_P(FlatField, ScheduleAtOneAndTwoThirds)
{
    const FfcCase& c = GetParam();
    ProbeRun run = run_probe("ffc", {".", std::to_string(c.pairs), "0"}, with_scenario("fps=50"));
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    int summaries = 0, on_at = -1, off_at = -1;
    for (const std::string& line : run.out) {
        if (!line.empty() && line[0] == '[')  // a summary line closes each pair
            ++summaries;
        if (line == ">>> TriggerFFC(1)") {
            EXPECT_EQ(on_at, -1);
            on_at = summaries;
        }
        if (line == ">>> TriggerFFC(0)") {
            EXPECT_EQ(off_at, -1);
            EXPECT_NE(on_at, -1) << "the call with 1 comes first";
            off_at = summaries;
        }
    }
    EXPECT_EQ(summaries, c.pairs);
    EXPECT_EQ(on_at, c.on_pair);
    EXPECT_EQ(off_at, c.off_pair);
    std::vector<std::string> calls = log_lines(run, "TriggerFFC");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(log_value(calls[0], "chan"), "0");
    EXPECT_EQ(log_value(calls[0], "arg"), "1");
    EXPECT_EQ(log_value(calls[1], "arg"), "0");
}

INSTANTIATE_TEST_SUITE_P(PairCounts, FlatField,
                         testing::Values(FfcCase{1, 0, 0}, FfcCase{2, 0, 1}, FfcCase{3, 1, 2}, FfcCase{5, 1, 3},
                                         FfcCase{24, 8, 16}),
                         [](const testing::TestParamInfo<FfcCase>& info) {
                             return "pairs" + std::to_string(info.param.pairs);
                         });

// A library that never calls the delegate: every wait ends by time-out, which
// standard error reports, and the frame copy stays empty.
TEST(FrameWait, LibraryThatNeverDelivers)
{
    ProbeRun run = run_probe("noframes", {".", "2", "0"}, with_scenario("fps=0,noexport=MAG_TriggerFFC"));
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    std::vector<std::string> summaries = summary_lines(run);
    ASSERT_EQ(summaries.size(), 2u);
    for (size_t pair = 0; pair < summaries.size(); ++pair) {
        EXPECT_EQ(summaries[pair].rfind("[" + std::to_string(pair) + "] frames=0 ", 0), 0u) << summaries[pair];
        EXPECT_EQ(summaries[pair].substr(summaries[pair].size() - 7), " cb=0x0");
    }
    EXPECT_GE(find_line(run.err, "irprobe: pair 0: no new frame within 3000 ms"), 0);
    EXPECT_GE(find_line(run.err, "irprobe: pair 1: no new frame within 3000 ms"), 0);
    EXPECT_TRUE(file_exists(run_file(run, "pair_001.cbrgb")));
    EXPECT_TRUE(read_file(run_file(run, "pair_001.cbrgb")).empty());
}

// Frames of another format only: every wait ends at the next call, nothing is copied.
TEST(FrameWait, FramesOfAnotherFormatOnly)
{
    ProbeRun run = run_probe("fmt5", {".", "3", "0"}, with_scenario("fps=20,fmt=5,noexport=MAG_TriggerFFC"));
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    long last_frames = 0;
    std::vector<std::string> summaries = summary_lines(run);
    EXPECT_EQ(summaries.size(), 3u);
    for (const std::string& line : summaries) {
        long frames = std::atol(field(line, "frames").c_str());
        EXPECT_GT(frames, last_frames);
        last_frames = frames;
        EXPECT_EQ(line.substr(line.size() - 7), " cb=0x0");
    }
    for (const std::string& line : run.err)
        EXPECT_EQ(line.find("no new frame"), std::string::npos) << line;
    EXPECT_TRUE(read_file(run_file(run, "pair_002.cbrgb")).empty());
}

}  // namespace
