// Library memory that cannot be read: the probe never crashes, keeps standard
// output exact, writes exactly the readable bytes, and says on standard error
// what it could not read.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e/e2e_support.h"
#include "sim/sim_model.h"

namespace {

typedef std::vector<uint8_t> Bytes;

bool has_err(const ProbeRun& run, const std::string& part)
{
    for (const std::string& line : run.err)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

int count_err(const ProbeRun& run, const std::string& part)
{
    int n = 0;
    for (const std::string& line : run.err)
        n += line.find(part) != std::string::npos;
    return n;
}

// A two-pair run without flat-field calls: 25 start-up lines, a bar line and a
// summary line per pair, and "done".
void expect_normal_report(const ProbeRun& run)
{
    ASSERT_EQ(run.r.exit_code, 0);
    ASSERT_EQ(run.out.size(), 30u) << run.r.out;
    EXPECT_EQ(run.out[24], "TriggerFFC=" + NULLP);
    EXPECT_EQ(run.out[25].rfind("  bar rc=1 data=", 0), 0u);
    EXPECT_EQ(run.out[26].rfind("[0] frames=", 0), 0u);
    EXPECT_EQ(run.out[27].rfind("  bar rc=1 data=", 0), 0u);
    EXPECT_EQ(run.out[28].rfind("[1] frames=", 0), 0u);
    EXPECT_EQ(run.out[29], "done");
}

ProbeRun run_fault(const std::string& tag, const std::string& faults)
{
    ProbeSetup s;
    s.scenario = "fps=7,noexport=MAG_TriggerFFC," + faults;
    return run_probe(tag, {".", "2", "0"}, s);
}

uint32_t capture_frame(const ProbeRun& run, int pair)
{
    std::vector<std::string> calls = log_lines(run, "RGB24");
    return (uint32_t)std::strtoul(log_value(calls.at(pair), "frame").c_str(), nullptr, 10);
}

TEST(Faults, NullRawPointer)
{
    ProbeRun run = run_fault("nullraw", "null=rawp");
    SCOPED_TRACE(run.r.out + run.r.err);
    expect_normal_report(run);
    EXPECT_NE(run.out[7].find(" rawp=" + NULLP), std::string::npos) << run.out[7];
    for (int pair = 0; pair < 2; ++pair) {
        EXPECT_TRUE(file_exists(run_file(run, "pair_00" + std::to_string(pair) + ".raw")));
        EXPECT_TRUE(read_file(run_file(run, "pair_00" + std::to_string(pair) + ".raw")).empty());
        EXPECT_TRUE(has_err(run, "irprobe: pair " + std::to_string(pair) + ": rawp is null: raw image not copied"));
    }
}

// Blocks that end early (the next byte lies on a no-access page) or pointers to
// memory that cannot be read at all: each file holds exactly the readable prefix.
TEST(Faults, BlocksThatRunIntoUnreadableMemory)
{
    const struct {
        const char* faults;
        const char* suffix;
        size_t readable;
        const char* report;  // part of the standard error line
    } cases[] = {
        {"short=raw:1000", "raw", 1000, "raw image at 0x"},
        {"bad=rawp", "raw", 0, "raw image at 0x"},
        {"short=gray:5000", "gray", 5000, "gray image at 0x"},
        {"short=bardata:100", "bar", 100, "pair_000.bar: library memory at 0x"},
        {"bad=bardata", "bar", 0, "pair_000.bar: library memory at 0x"},
        {"short=barinfo:10", "barinfo", 10, "pair_000.barinfo: library memory at 0x"},
    };
    for (const auto& c : cases) {
        ProbeRun run = run_fault("short", c.faults);
        SCOPED_TRACE(std::string(c.faults) + "\n" + run.r.out + run.r.err);
        expect_normal_report(run);
        SimScenario sc;
        sim_parse_scenario((std::string("fps=7,") + c.faults).c_str(), &sc);
        Bytes got = read_file(run_file(run, std::string("pair_000.") + c.suffix));
        ASSERT_EQ(got.size(), c.readable);
        // The readable prefix is the library's bytes, not made-up ones.
        uint32_t k = capture_frame(run, 0);
        Bytes full;
        bool same = false;
        for (uint32_t j = k ? k - 1 : 0; j <= k + 2 && !same; ++j) {
            if (std::string(c.suffix) == "raw") {
                full.resize(160 * 120 * 2);
                sim_model_raw(&sc, j, full.data());
            } else if (std::string(c.suffix) == "gray") {
                full.resize(320 * 240);
                sim_model_gray(&sc, j, full.data());
            } else if (std::string(c.suffix) == "bar") {
                full.resize(4096);
                sim_model_bar_data(&sc, j, full.data());
            } else {
                full.resize(64);
                sim_model_bar_info(&sc, j, full.data());
            }
            same = std::equal(got.begin(), got.end(), full.begin());
        }
        EXPECT_TRUE(same);
        EXPECT_TRUE(has_err(run, c.report));
        std::string counts = ": " + std::to_string(c.readable) + " of ";
        EXPECT_TRUE(has_err(run, counts)) << counts;
    }
}

// The fixed addresses cannot be read: said once at start-up, nothing else changes
// on standard output.
TEST(Faults, UnreadableFixedAddresses)
{
    ProbeRun run = run_fault("fixed", "noaccess=fixed");
    SCOPED_TRACE(run.r.out + run.r.err);
    expect_normal_report(run);
    const char* names[] = {"gain", "t_base", "t_now", "globframe", "ffcstate"};
    for (const char* name : names)
        EXPECT_EQ(count_err(run, std::string("(") + name + ") is not readable"), 1) << name;
    EXPECT_TRUE(has_err(run, "fixed address 0x000000018006ea60 (gain) is not readable; it reads as 0"));
}

// The state block runs into a no-access page: the fields on it read as 0 and are
// reported in every pair; the header, palette and counter before it are intact.
TEST(Faults, DeviceBlockThatEndsEarly)
{
    ProbeRun run = run_fault("shortdev", "short=dev:266240");  // 0x41000
    SCOPED_TRACE(run.r.out + run.r.err);
    expect_normal_report(run);
    EXPECT_EQ(read_file(run_file(run, "pair_001.pal")).size(), 1024u);
    EXPECT_EQ(read_file(run_file(run, "pair_001.hdr")).size(), 96u);
    for (int pair = 0; pair < 2; ++pair) {
        EXPECT_TRUE(has_err(run, "irprobe: pair " + std::to_string(pair) + ": fdc at 0x"));
        EXPECT_TRUE(has_err(run, "irprobe: pair " + std::to_string(pair) + ": nsegs at 0x"));
    }
    EXPECT_FALSE(has_err(run, "fcnt at"));
}

}  // namespace
