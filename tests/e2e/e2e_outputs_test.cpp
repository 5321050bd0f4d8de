// The frame output files of the real probe, byte for byte against the simulator's
// model, across geometries, optional exports and output directories.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "e2e/e2e_support.h"
#include "sim/sim_model.h"

namespace {

typedef std::vector<uint8_t> Bytes;
typedef std::function<Bytes(uint32_t k)> Model;

SimScenario scenario(const std::string& text)
{
    SimScenario sc;
    EXPECT_TRUE(sim_parse_scenario(text.c_str(), &sc)) << text;
    return sc;
}

// The frame of each pair's capture, from the simulator's log of the RGB24 calls.
std::vector<uint32_t> capture_frames(const ProbeRun& run)
{
    std::vector<uint32_t> frames;
    for (const std::string& line : log_lines(run, "RGB24"))
        frames.push_back((uint32_t)std::strtoul(log_value(line, "frame").c_str(), nullptr, 10));
    return frames;
}

// The file equals the model of a frame near the capture's (the probe reads some
// blocks later in the pair, and the library runs on meanwhile).
::testing::AssertionResult matches_frame(const std::string& path, uint32_t k, const Model& model)
{
    if (!file_exists(path))
        return ::testing::AssertionFailure() << path << " missing";
    Bytes got = read_file(path);
    for (uint32_t j = k ? k - 1 : 0; j <= k + 2; ++j)
        if (got == model(j))
            return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " (" << got.size() << " bytes, expected "
                                         << model(k).size() << ") matches no frame near " << k;
}

struct Expect {
    SimScenario sc;
    SimGeom g;
};

Expect expect_for(const std::string& text)
{
    Expect e;
    e.sc = scenario(text);
    sim_geometry(&e.sc, &e.g);
    return e;
}

Model gray_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b((size_t)e.g.w * e.g.h); sim_model_gray(&e.sc, k, b.data()); return b; };
}
Model rgb_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b((size_t)e.g.w * e.g.h * 3); sim_model_rgb(&e.sc, k, b.data()); return b; };
}
Model raw_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b((size_t)e.g.sw * e.g.sh * 2); sim_model_raw(&e.sc, k, b.data()); return b; };
}
Model pal_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b(1024); sim_model_palette(&e.sc, k, b.data()); return b; };
}
Model t32_model(const Expect& e)
{
    return [e](uint32_t k) {
        Bytes b((size_t)e.g.sw * e.g.sh * 4);
        sim_model_t32(&e.sc, k, b.size(), b.data());
        return b;
    };
}
Model hdr_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b(96); sim_model_header(&e.sc, k, b.data()); return b; };
}
Model bar_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b(4096); sim_model_bar_data(&e.sc, k, b.data()); return b; };
}
Model barinfo_model(const Expect& e)
{
    return [e](uint32_t k) { Bytes b(64); sim_model_bar_info(&e.sc, k, b.data()); return b; };
}
Model cb_model(const Expect& e)
{
    return [e](uint32_t k) {
        SimCbFrame f;
        sim_model_cb_info(&e.sc, k, &f);
        Bytes b(f.bytes);
        sim_model_cb_frame(&e.sc, k, b.data());
        return b;
    };
}

std::string pair_file(const ProbeRun& run, const std::string& dir, int pair, const char* suffix)
{
    char name[64];
    snprintf(name, sizeof name, "pair_%03d.%s", pair, suffix);
    return run_file(run, dir.empty() ? std::string(name) : dir + "/" + name);
}

// Every frame output of every pair of a run, against the model.
void check_frame_outputs(const ProbeRun& run, const std::string& text, const std::string& dir, bool temp, bool bar)
{
    Expect e = expect_for(text);
    std::vector<uint32_t> frames = capture_frames(run);
    int pairs = (int)summary_lines(run).size();
    ASSERT_EQ((int)frames.size(), pairs);
    for (int p = 0; p < pairs; ++p) {
        SCOPED_TRACE("pair " + std::to_string(p));
        uint32_t k = frames[p];
        EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "gray"), k, gray_model(e)));
        EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "rgb"), k, rgb_model(e)));
        EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "raw"), k, raw_model(e)));
        EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "pal"), k, pal_model(e)));
        EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "hdr"), k, hdr_model(e)));
        EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "cbrgb"), k, cb_model(e)));
        EXPECT_EQ(file_exists(pair_file(run, dir, p, "t32")), temp);
        if (temp) {
            EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "t32"), k, t32_model(e)));
        }
        EXPECT_EQ(file_exists(pair_file(run, dir, p, "bar")), bar);
        if (bar) {
            EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "bar"), k, bar_model(e)));
            EXPECT_TRUE(matches_frame(pair_file(run, dir, p, "barinfo"), k, barinfo_model(e)));
        }
    }
    if (pairs > 1) {
        EXPECT_NE(read_file(pair_file(run, dir, 0, "gray")), read_file(pair_file(run, dir, 1, "gray")))
            << "consecutive pairs hold different frames";
    }
}

struct GeomCase {
    const char* scenario;
    int w, h;
    const char* dev_sizes;  // "w=.. h=.." as the header holds them
    bool fallback;
};

void PrintTo(const GeomCase& c, std::ostream* os)
{
    *os << c.scenario;
}

class FrameOutputs : public testing::TestWithParam<GeomCase> {};

TEST_P(FrameOutputs, EveryFileByteForByte)
{
    const GeomCase& c = GetParam();
    ProbeSetup s;
    s.scenario = c.scenario;
    s.subdirs = {"out"};
    ProbeRun run = run_probe("outputs", {"out", "2", "0"}, s);
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    char capturing[96];
    snprintf(capturing, sizeof capturing, "capturing 2 pairs (disp %dx%d, sensor %dx%d)...", c.w, c.h, c.w / 2,
             c.h / 2);
    EXPECT_GE(find_line(run.out, capturing), 0);
    bool dev_line = false;
    for (const std::string& line : run.out)
        dev_line |= line.rfind("dev=", 0) == 0 && line.find(std::string(" ") + c.dev_sizes + " graybuf=") != std::string::npos;
    EXPECT_TRUE(dev_line);
    bool said = false;
    for (const std::string& line : run.err)
        said |= line.find("header size") != std::string::npos && line.find("using 160x120") != std::string::npos;
    EXPECT_EQ(said, c.fallback) << run.r.err;

    EXPECT_EQ(read_file(pair_file(run, "out", 0, "gray")).size(), (size_t)c.w * c.h);
    EXPECT_EQ(read_file(pair_file(run, "out", 0, "rgb")).size(), (size_t)c.w * c.h * 3);
    EXPECT_EQ(read_file(pair_file(run, "out", 0, "raw")).size(), (size_t)(c.w / 2) * (c.h / 2) * 2);
    EXPECT_EQ(read_file(pair_file(run, "out", 0, "t32")).size(), (size_t)(c.w / 2) * (c.h / 2) * 4);
    EXPECT_EQ(read_file(pair_file(run, "out", 0, "pal")).size(), 1024u);
    EXPECT_EQ(read_file(pair_file(run, "out", 0, "hdr")).size(), 96u);
    check_frame_outputs(run, c.scenario, "out", true, true);
    // The direct-route files are not frame outputs; none of these land outside out/.
    EXPECT_FALSE(file_exists(run_file(run, "pair_000.gray")));
}

INSTANTIATE_TEST_SUITE_P(Geometries, FrameOutputs,
                         testing::Values(GeomCase{"fps=7,noexport=MAG_TriggerFFC", 320, 240, "w=320 h=240", false},
                                         GeomCase{"fps=7,noexport=MAG_TriggerFFC,geom=160x120", 160, 120, "w=160 h=120", false},
                                         GeomCase{"fps=7,noexport=MAG_TriggerFFC,geom=2000x240", 160, 120, "w=2000 h=240", true},
                                         GeomCase{"fps=7,noexport=MAG_TriggerFFC,geom=320x-240", 160, 120, "w=320 h=-240", true}),
                         [](const testing::TestParamInfo<GeomCase>& info) { return "case" + std::to_string(info.index); });

// The temperature and colour-bar calls, present or not, succeeding or not.
TEST(FrameOutputsOptional, TemperatureAndColourBarVariants)
{
    const struct {
        const char* scenario;
        bool temp, bar_line, bar_files;
        const char* rc_temp;
    } cases[] = {
        {"fps=7,noexport=MAG_TriggerFFC/MAG_GetTemperatureData_Raw", false, true, true, "0"},
        {"fps=7,noexport=MAG_TriggerFFC,temprc=0", false, true, true, "0"},
        {"fps=7,noexport=MAG_TriggerFFC/MAG_GetOutputColorBardata", true, false, false, "1"},
        {"fps=7,noexport=MAG_TriggerFFC,barrc=0", true, true, false, "1"},
        {"fps=7,noexport=MAG_TriggerFFC,bardata=null", true, true, false, "1"},
    };
    for (const auto& c : cases) {
        ProbeSetup s;
        s.scenario = c.scenario;
        ProbeRun run = run_probe("optional", {".", "2", "0"}, s);
        SCOPED_TRACE(std::string(c.scenario) + "\n" + run.r.out + run.r.err);
        ASSERT_EQ(run.r.exit_code, 0);
        int bar_lines = 0;
        for (const std::string& line : run.out)
            bar_lines += line.rfind("  bar rc=", 0) == 0;
        for (const std::string& line : summary_lines(run))
            EXPECT_EQ(field(line, "rc_temp"), c.rc_temp);
        EXPECT_EQ(bar_lines, c.bar_line ? 2 : 0);
        check_frame_outputs(run, c.scenario, "", c.temp, c.bar_files);
        EXPECT_EQ(file_exists(run_file(run, "pair_001.barinfo")), c.bar_files);
    }
}

// An RGB24 call that fails and writes nothing: the result is only reported, .rgb is
// still written, from the buffer as it was cleared at allocation. A Start result
// whose low byte is 0 prints as 0 and the run goes on.
TEST(FrameOutputsOptional, FailedRgbCallStillWritesTheClearedBuffer)
{
    ProbeRun run = run_probe("rgbrc0", {".", "1", "0"}, with_scenario("rgbrc=0,start=256,noexport=MAG_TriggerFFC"));
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    EXPECT_GE(find_line(run.out, "Start=0"), 0);
    std::vector<std::string> summaries = summary_lines(run);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(field(summaries[0], "rc_rgb"), "0");
    EXPECT_EQ(read_file(run_file(run, "pair_000.rgb")), Bytes(320 * 240 * 3, 0));
}

TEST(FrameOutputsOptional, NullInfoPointerGivesTheStartOfTheBar)
{
    ProbeRun run = run_probe("barinfo", {".", "1", "0"}, with_scenario("fps=7,noexport=MAG_TriggerFFC,barinfo=null"));
    ASSERT_EQ(run.r.exit_code, 0);
    int bar = find_line(run.out, "[0] frames=" + field(run.out[run.out.size() - 2], "frames") + " fcnt=" +
                                     field(run.out[run.out.size() - 2], "fcnt") + " rc_rgb=1 rc_temp=1 cb=320x240");
    ASSERT_GT(bar, 0);
    EXPECT_EQ(field(run.out[bar - 1], "info"), NULLP);
    Bytes data = read_file(run_file(run, "pair_000.bar"));
    ASSERT_EQ(data.size(), 4096u);
    EXPECT_EQ(read_file(run_file(run, "pair_000.barinfo")), Bytes(data.begin(), data.begin() + 64));
}

// Where the files land: the output directory, the current directory for an empty
// argument, nowhere (with one report per pair) for a directory that cannot be used.
TEST(FrameOutputsDirectory, GivenEmptyMissingAndUnusable)
{
    {
        ProbeRun run = run_probe("emptydir", {"", "1", "0"}, with_scenario("noexport=MAG_TriggerFFC"));
        ASSERT_EQ(run.r.exit_code, 0);
        EXPECT_EQ(read_file(run_file(run, "pair_000.gray")).size(), 76800u);
    }
    for (const char* dir : {"missing", "afile"}) {
        // A plain file where the directory should be: no dump can be opened in it.
        ProbeSetup s;
        s.scenario = "noexport=MAG_TriggerFFC";
        s.files = {"afile"};
        ProbeRun run = run_probe("baddir", {dir, "2", "0"}, s);
        SCOPED_TRACE(run.r.out + run.r.err);
        ASSERT_EQ(run.r.exit_code, 0);
        EXPECT_EQ(run.out.back(), "done");
        for (int pair = 0; pair < 2; ++pair) {
            int reports = 0;
            for (const std::string& line : run.err)
                if (line.rfind("irprobe: pair " + std::to_string(pair) + ": ", 0) == 0 &&
                    line.find("dump files not written") != std::string::npos)
                    ++reports;
            EXPECT_EQ(reports, 1) << "pair " << pair;
        }
    }
}

TEST(FrameOutputsDirectory, RerunReplacesFilesOfEqualNames)
{
    ProbeSetup first;
    first.scenario = "fps=7,noexport=MAG_TriggerFFC,seed=1";
    ProbeRun run = run_probe("rerun", {".", "2", "0"}, first);
    ASSERT_EQ(run.r.exit_code, 0);
    Bytes pair1 = read_file(run_file(run, "pair_001.gray"));
    // A second run in the same directory, with another scene.
    EnvList env = {{"IRSIM", "fps=7,noexport=MAG_TriggerFFC,seed=2"}, {"IRSIM_LOG", "sim2.log"}};
    RunResult again = run_program(run_file(run, std::string("irprobe") + exe_suffix()), {".", "1", "0"}, run.dir, env);
    ASSERT_EQ(again.exit_code, 0);
    Expect e = expect_for("fps=7,noexport=MAG_TriggerFFC,seed=2");
    Bytes log2 = read_file(run_file(run, "sim2.log"));
    uint32_t k = 1;
    for (const std::string& line : split_lines(std::string(log2.begin(), log2.end())))
        if (line.rfind("RGB24 ", 0) == 0)
            k = (uint32_t)std::strtoul(log_value(line, "frame").c_str(), nullptr, 10);
    EXPECT_TRUE(matches_frame(run_file(run, "pair_000.gray"), k, gray_model(e)));
    EXPECT_EQ(read_file(run_file(run, "pair_001.gray")), pair1) << "a pair beyond the second run stays";
}

// The delegate at a high frame rate with changing frame sizes, some too large to
// keep: the .cbrgb of each pair is one whole frame whose size the probe reports.
TEST(FrameOutputsDelegate, ChangingFrameSizesAtAHighRate)
{
    const char* text = "fps=400,noexport=MAG_TriggerFFC,cb=320x240/160x120/640x480/1x1/321x240";
    ProbeSetup s;
    s.scenario = text;
    ProbeRun run = run_probe("cbsizes", {".", "4", "0"}, s);
    SCOPED_TRACE(run.r.out + run.r.err);
    ASSERT_EQ(run.r.exit_code, 0);
    Expect e = expect_for(text);
    Model cb = cb_model(e);
    uint32_t last = (uint32_t)std::strtoul(field(summary_lines(run).back(), "frames").c_str(), nullptr, 10);
    for (int p = 0; p < 4; ++p) {
        Bytes got = read_file(pair_file(run, "", p, "cbrgb"));
        EXPECT_TRUE(got.size() == 230400 || got.size() == 57600 || got.size() == 3) << got.size();
        bool found = false;
        for (uint32_t k = 1; k <= last && !found; ++k) {
            SimCbFrame f;
            sim_model_cb_info(&e.sc, k, &f);
            found = f.bytes == got.size() && cb(k) == got;
        }
        EXPECT_TRUE(found) << "pair " << p;
    }
}

}  // namespace
