// Start-up of the real probe against the simulated libraries: exit codes, the
// argument table, and the console transcript of a short run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e/e2e_support.h"

namespace {

TEST(ProbeExit, MissingLibraryEndsWithCode1AfterTheHandleLine)
{
    const struct {
        bool thermal, core;
    } cases[] = {{false, true}, {true, false}, {false, false}};
    for (const auto& c : cases) {
        ProbeSetup s;
        s.thermal = c.thermal;
        s.core = c.core;
        ProbeRun run = run_probe("nolib", {".", "1", "0"}, s);
        SCOPED_TRACE(run.r.out + run.r.err);
        EXPECT_EQ(run.r.exit_code, 1);
        ASSERT_EQ(run.out.size(), 1u);
        std::string t = field(run.out[0], "T"), cc = field(run.out[0], "C");
        EXPECT_EQ(run.out[0], "T=" + t + " C=" + cc);
        EXPECT_TRUE(is_hex16(t) && is_hex16(cc));
        EXPECT_EQ(t == NULLP, !c.thermal);
        EXPECT_EQ(cc == NULLP, !c.core);
        EXPECT_TRUE(log_lines(run, "Start").empty());
    }
}

TEST(ProbeExit, MissingRequiredExportEndsWithCode2)
{
    const struct {
        const char* variant;
        const char* shown_null;  // label on the entry point line, "" when not printed there
    } cases[] = {{"no_Start", "Start"},
                 {"no_SetNewIRFrameDelegate", ""},
                 {"no_MAG_GetOutputBMPdata", "Gray"},
                 {"no_MAG_GetOutputBMPdataRGB24", "RGB"}};
    for (const auto& c : cases) {
        ProbeSetup s;
        s.variant = c.variant;
        ProbeRun run = run_probe("noexport", {".", "1", "0"}, s);
        SCOPED_TRACE(std::string(c.variant) + "\n" + run.r.out + run.r.err);
        EXPECT_EQ(run.r.exit_code, 2);
        ASSERT_EQ(run.out.size(), 3u);
        EXPECT_EQ(run.out[2], "missing export");
        const char* labels[] = {"Start", "TempPoint", "Gray", "RGB", "TempRaw", "Bar"};
        for (const char* label : labels) {
            std::string v = field(run.out[1], label);
            EXPECT_TRUE(is_hex16(v)) << label;
            EXPECT_EQ(v == NULLP, std::string(label) == c.shown_null) << label;
        }
        EXPECT_TRUE(log_lines(run, "Start").empty());
        EXPECT_TRUE(log_lines(run, "SetUnitMode").empty());
    }
}

TEST(ProbeExit, NoChannelStopsTheCameraAndEndsWithCode3)
{
    ProbeRun run = run_probe("nochan", {".", "2", "0"}, with_scenario("chan=none"));
    SCOPED_TRACE(run.r.out + run.r.err);
    EXPECT_EQ(run.r.exit_code, 3);
    ASSERT_GE(run.out.size(), 9u);
    EXPECT_EQ(run.out.back(), "no channel");
    for (int chan = 0; chan < 8; ++chan)
        EXPECT_EQ(run.out[run.out.size() - 9 + chan].rfind("chan " + std::to_string(chan) + ": rc=0 gray=", 0), 0u);
    EXPECT_EQ(log_lines(run, "Stop").size(), 1u);
    EXPECT_TRUE(log_lines(run, "RGB24").empty());
}

#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ADDRESS_SPACE_LIMIT_WORKS 0
#else
#define ADDRESS_SPACE_LIMIT_WORKS 1
#endif

// The simulator leaves 2 MiB of address space after Start: a 1000x1000 display's
// buffers (8.5 MB) cannot be had, a 320x240 display's can. A display one pixel
// wide has an empty raw buffer, which is not a failure.
TEST(ProbeExit, PairBuffersThatCannotBeAllocatedEndWithCode4)
{
    if (!ADDRESS_SPACE_LIMIT_WORKS)
        GTEST_SKIP() << "needs RLIMIT_AS, and no sanitizer reserving address space";
    ProbeRun run = run_probe("nomem", {".", "2", "0"}, with_scenario("geom=1000x1000,asleft=2048,noexport=MAG_TriggerFFC"));
    SCOPED_TRACE(run.r.out + run.r.err);
    EXPECT_EQ(run.r.exit_code, 4);
    EXPECT_EQ(run.out.back(), "capturing 2 pairs (disp 1000x1000, sensor 500x500)...");
    EXPECT_EQ(run.err, std::vector<std::string>{"irprobe: cannot allocate the pair buffers for a 1000x1000 display; stopping"});
    EXPECT_EQ(log_lines(run, "Stop").size(), 1u);
    EXPECT_TRUE(log_lines(run, "RGB24").empty());

    run = run_probe("nomem", {".", "1", "0"}, with_scenario("geom=1x120,asleft=2048,noexport=MAG_TriggerFFC"));
    EXPECT_EQ(run.r.exit_code, 0);
    EXPECT_GE(find_line(run.out, "capturing 1 pairs (disp 1x120, sensor 0x60)..."), 0);
    EXPECT_TRUE(file_exists(run_file(run, "pair_000.raw")));
    EXPECT_TRUE(read_file(run_file(run, "pair_000.raw")).empty());
    EXPECT_EQ(read_file(run_file(run, "pair_000.gray")).size(), 120u);
}

// Failing channels before the first that delivers; pointers a failing channel
// stored stay visible on the later lines because they are not cleared between tries.
TEST(ProbeChannels, TheFirstDeliveringChannelIsTaken)
{
    ProbeRun run = run_probe("chan3", {".", "0", "0"}, with_scenario("chan=3,chanfail=nullhdr"));
    SCOPED_TRACE(run.r.out + run.r.err);
    EXPECT_EQ(run.r.exit_code, 0);
    int first = find_line(run.out, "warming 0 ms...") + 1;
    ASSERT_GT(first, 0);
    for (int chan = 0; chan < 3; ++chan) {
        const std::string& line = run.out[first + chan];
        EXPECT_EQ(line.rfind("chan " + std::to_string(chan) + ": rc=1 gray=", 0), 0u) << line;
        EXPECT_NE(field(line, "gray"), NULLP);
        EXPECT_EQ(field(line, "hdr"), NULLP);
    }
    EXPECT_EQ(run.out[first + 3].rfind("chan 3: rc=1 gray=", 0), 0u);
    EXPECT_NE(field(run.out[first + 3], "hdr"), NULLP);
    EXPECT_EQ(run.out[first + 4].rfind("dev=", 0), 0u);
    for (const std::string& line : log_lines(run, "RGB24"))
        EXPECT_EQ(log_value(line, "chan"), "3");
}

struct ArgCase {
    std::vector<std::string> args;
    const char* boundary_line;
    const char* boundary_log;
    const char* warming_line;
    const char* capturing_line;  // "" when the run has no channel
};

TEST(ProbeArguments, PositionalArgumentsReachTheCameraAndTheConsole)
{
    const ArgCase cases[] = {
        {{"out", "0", "0", "25"}, "SetTempBoundary(25.0, 44.0, 37.0)", "SetTempBoundary 25.000000 44.000000 37.000000",
         "warming 0 ms...", "capturing 0 pairs (disp 320x240, sensor 160x120)..."},
        {{"out", "abc", "1.5", "abc", "-3.5", "1e2", "seventh"}, "SetTempBoundary(0.0, -3.5, 100.0)",
         "SetTempBoundary 0.000000 -3.500000 100.000000", "warming 1 ms...",
         "capturing 0 pairs (disp 320x240, sensor 160x120)..."},
        {{"out", "-5", "-20"}, "SetTempBoundary(30.0, 44.0, 37.0)", "SetTempBoundary 30.000000 44.000000 37.000000",
         "warming -20 ms...", "capturing -5 pairs (disp 320x240, sensor 160x120)..."},
        {{"out", "-99999999999", "0"}, "SetTempBoundary(30.0, 44.0, 37.0)",
         "SetTempBoundary 30.000000 44.000000 37.000000", "warming 0 ms...",
         "capturing -2147483648 pairs (disp 320x240, sensor 160x120)..."},
    };
    for (const ArgCase& c : cases) {
        ProbeRun run = run_probe("args", c.args, ProbeSetup{});
        SCOPED_TRACE(testing::PrintToString(c.args) + "\n" + run.r.out + run.r.err);
        EXPECT_EQ(run.r.exit_code, 0);
        EXPECT_GE(find_line(run.out, c.boundary_line), 0);
        EXPECT_GE(find_line(run.out, c.warming_line), 0);
        EXPECT_GE(find_line(run.out, c.capturing_line), 0);
        EXPECT_EQ(log_lines(run, "SetTempBoundary"), std::vector<std::string>{c.boundary_log});
        EXPECT_EQ(log_lines(run, "SetUnitMode"), std::vector<std::string>{"SetUnitMode 0"});
        EXPECT_TRUE(log_lines(run, "RGB24").empty()) << "no pair may run";
        EXPECT_EQ(run.out.back(), "done");
    }
}

// Without arguments: the defaults, a 6000 ms warm-up (the run ends at discovery).
TEST(ProbeArguments, DefaultsWithoutArguments)
{
    ProbeRun run = run_probe("defaults", {}, with_scenario("chan=none"));
    EXPECT_EQ(run.r.exit_code, 3);
    EXPECT_GE(find_line(run.out, "SetTempBoundary(30.0, 44.0, 37.0)"), 0);
    EXPECT_GE(find_line(run.out, "warming 6000 ms..."), 0);
    EXPECT_EQ(log_lines(run, "SetTempBoundary"),
              std::vector<std::string>{"SetTempBoundary 30.000000 44.000000 37.000000"});
}

// The optional set-up exports absent: no call, the boundary line all the same;
// without Stop the run still ends normally.
TEST(ProbeArguments, OptionalSetupExportsAbsent)
{
    ProbeRun run = run_probe("noopt", {".", "2", "0"}, with_scenario("noexport=SetTempBoundary/SetUnitMode/Stop/MAG_TriggerFFC"));
    SCOPED_TRACE(run.r.out + run.r.err);
    EXPECT_EQ(run.r.exit_code, 0);
    EXPECT_GE(find_line(run.out, "SetTempBoundary(30.0, 44.0, 37.0)"), 0);
    EXPECT_GE(find_line(run.out, "TriggerFFC=" + NULLP), 0);
    EXPECT_TRUE(log_lines(run, "SetTempBoundary").empty());
    EXPECT_TRUE(log_lines(run, "SetUnitMode").empty());
    EXPECT_TRUE(log_lines(run, "Stop").empty());
    EXPECT_TRUE(log_lines(run, "TriggerFFC").empty());
    for (const std::string& line : run.out)
        EXPECT_EQ(line.find(">>> TriggerFFC"), std::string::npos);
    EXPECT_EQ(log_lines(run, "RGB24").size(), 2u);
    EXPECT_EQ(run.out.back(), "done");
}

}  // namespace
