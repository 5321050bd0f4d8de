#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/probe_config.h"

namespace {

struct ConfigCase {
    std::vector<std::string> args;  // after the program name
    const char* dir;
    int32_t pairs;
    int32_t warm_ms;
    double b0, b1, b2;
};

ProbeConfig parse(std::vector<std::string> args)
{
    std::vector<char*> argv;
    static char prog[] = "irprobe";
    argv.push_back(prog);
    static std::vector<std::string> keep;
    keep = std::move(args);
    for (std::string& a : keep)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    g_dir = ".";
    return parse_config((int)keep.size() + 1, argv.data());
}

TEST(ProbeConfig, PositionalArgumentsAndDefaults)
{
    const ConfigCase cases[] = {
        {{}, ".", 24, 6000, 30.0, 44.0, 37.0},
        {{"out"}, "out", 24, 6000, 30.0, 44.0, 37.0},
        {{"out", "5", "0", "25"}, "out", 5, 0, 25.0, 44.0, 37.0},
        {{"o", "12x", "1.5", "abc", "-3.25e1", " 7"}, "o", 12, 1, 0.0, -32.5, 7.0},
        {{"o", "abc", "-5"}, "o", 0, -5, 30.0, 44.0, 37.0},
        {{"o", "-5", "  +42rest"}, "o", -5, 42, 30.0, 44.0, 37.0},
        {{"o", "1", "2", "3", "4", "5", "seventh"}, "o", 1, 2, 3.0, 4.0, 5.0},
    };
    for (const ConfigCase& c : cases) {
        ProbeConfig cfg = parse(c.args);
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_STREQ(cfg.dir, c.dir);
        EXPECT_STREQ(g_dir, c.dir);
        EXPECT_EQ(cfg.pairs, c.pairs);
        EXPECT_EQ(cfg.warm_ms, c.warm_ms);
        EXPECT_EQ(cfg.boundary[0], c.b0);
        EXPECT_EQ(cfg.boundary[1], c.b1);
        EXPECT_EQ(cfg.boundary[2], c.b2);
    }
}

TEST(ProbeConfig, EmptyDirectoryMeansCurrentDirectoryForDumps)
{
    ProbeConfig cfg = parse({""});
    EXPECT_STREQ(cfg.dir, "");
    EXPECT_STREQ(g_dir, ".");
}

TEST(ProbeConfig, IntegersSaturateAt32Bits)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"-99999999999999999999x", -2147483647 - 1},
        {"000000000000000000000012", 12},
        {"", 0},
        {"-", 0},
        {"\t\n 3", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(arg_to_int(c.text), c.value) << "text '" << c.text << "'";
}

}  // namespace
