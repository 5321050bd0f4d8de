#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "driver/probe_config.h"
#include "dump/dump_writer.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

std::string sep() { return std::string(1, plat_path_sep); }

TEST(DumpNames, PairPrefixKeepsEveryDigit)
{
    const struct {
        int32_t pair;
        const char* prefix;
    } cases[] = {{0, "pair_000"}, {7, "pair_007"}, {42, "pair_042"}, {999, "pair_999"},
                 {1000, "pair_1000"}, {INT_MAX, "pair_2147483647"}};
    for (const auto& c : cases) {
        char prefix[PREFIX_BYTES];
        make_pair_prefix(prefix, c.pair);
        EXPECT_STREQ(prefix, c.prefix);
    }
    char prefix[PREFIX_BYTES], name[NAME_BYTES];
    make_pair_prefix(prefix, INT_MAX);
    make_dump_name(name, "%s.gain_inline", prefix);
    EXPECT_STREQ(name, "pair_2147483647.gain_inline");
}

TEST(DumpNames, PathJoinsWithExactlyOneSeparatorAndRefusesCutPaths)
{
    char path[PATH_BYTES];
    g_dir = "out";
    ASSERT_TRUE(join_dump_path(path, "pair_003.gray"));
    EXPECT_EQ(std::string(path), "out" + sep() + "pair_003.gray");

    std::string trailing = "out" + sep();
    g_dir = trailing.c_str();
    ASSERT_TRUE(join_dump_path(path, "pair_003.gray"));
    EXPECT_EQ(std::string(path), "out" + sep() + sep() + "pair_003.gray");

    // 511 characters fit the buffer with its NUL; one more does not.
    std::string name = "pair_000.gray";
    std::string fits(PATH_BYTES - 1 - 1 - name.size(), 'd');
    g_dir = fits.c_str();
    EXPECT_TRUE(join_dump_path(path, name.c_str()));
    EXPECT_EQ(strlen(path), PATH_BYTES - 1);
    std::string too_long = fits + "d";
    g_dir = too_long.c_str();
    EXPECT_FALSE(join_dump_path(path, name.c_str()));
    g_dir = ".";
}

class DumpWriter : public testing::Test {
protected:
    void SetUp() override
    {
        dir = make_temp_dir("dump");
        g_dir = dir.c_str();
    }
    void TearDown() override { g_dir = "."; }
    std::string file(const char* name) { return dir + sep() + name; }
    std::string dir;
};

TEST_F(DumpWriter, SaveWritesTheBareBytesAndReplacesAnOlderFile)
{
    write_text_file(file("pair_000.pal"), std::string(5000, 'x'));
    std::vector<uint8_t> block(1024);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = (uint8_t)(i * 7);
    save("pair_000.pal", block.data(), block.size());
    EXPECT_EQ(read_file(file("pair_000.pal")), block);

    save("pair_000.cbrgb", block.data(), 0);
    ASSERT_TRUE(file_exists(file("pair_000.cbrgb")));
    EXPECT_TRUE(read_file(file("pair_000.cbrgb")).empty());
}

// Library memory is written up to its first unreadable byte, also across the
// pieces the writer copies it in, and an unreadable start gives an empty file.
TEST_F(DumpWriter, LibraryBlocksStopAtTheFirstUnreadableByte)
{
    const size_t sizes[] = {96, 4096, 5000, (3u << 20) + 123};
    for (size_t readable : sizes) {
        uint8_t* mem = alloc_guarded(readable);
        for (size_t i = 0; i < readable; ++i)
            mem[i] = (uint8_t)(i ^ (i >> 8) ^ (i >> 16));
        testing::internal::CaptureStderr();
        save_library("pair_001.thr", (uintptr_t)mem, readable + 4096);
        std::string err = testing::internal::GetCapturedStderr();
        std::vector<uint8_t> got = read_file(file("pair_001.thr"));
        ASSERT_EQ(got.size(), readable);
        EXPECT_EQ(memcmp(got.data(), mem, readable), 0);
        EXPECT_NE(err.find("pair_001.thr: library memory at 0x" + hex16((uintptr_t)mem) + ": " +
                           std::to_string(readable) + " of " + std::to_string(readable + 4096) + " bytes readable"),
                  std::string::npos)
            << err;

        save_library("pair_001.ref", (uintptr_t)mem, readable);
        EXPECT_EQ(read_file(file("pair_001.ref")).size(), readable);
    }
    uint8_t* edge = alloc_guarded(0);
    testing::internal::CaptureStderr();
    save_library("pair_001.f20", (uintptr_t)edge, 100);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(file_exists(file("pair_001.f20")));
    EXPECT_TRUE(read_file(file("pair_001.f20")).empty());
}

TEST_F(DumpWriter, FilesLostForOneCauseAreReportedOncePerPair)
{
    std::string missing = dir + sep() + "missing";
    g_dir = missing.c_str();
    uint8_t block[16] = {};
    save("pair_000.gray", block, sizeof block);
    save("pair_000.rgb", block, sizeof block);
    save_library("pair_000.hdr", (uintptr_t)block, sizeof block);
    testing::internal::CaptureStderr();
    report_dump_failures();
    std::string err = testing::internal::GetCapturedStderr();
    std::vector<std::string> lines = split_lines(err);
    ASSERT_EQ(lines.size(), 1u) << err;
    EXPECT_NE(lines[0].find("3 dump files not written (" + missing + sep() + "pair_000.gray and others): open failed: "),
              std::string::npos)
        << err;
    EXPECT_GT(lines[0].size(), lines[0].find("open failed: ") + 13) << "the OS reason is missing";

    testing::internal::CaptureStderr();
    report_dump_failures();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The direct route opens the name as given (the current directory for a bare
// name), whatever g_dir holds, and takes several writes into one file.
TEST_F(DumpWriter, DirectRouteWritesPiecesIntoTheNamedFile)
{
    std::string other = dir + sep() + "elsewhere";
    g_dir = other.c_str();
    std::string name = file("pair_000.win");
    PlatFile f = direct_open(name.c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    const uint32_t values[3] = {0x11223344, 0, 0xFFFFFFFF};
    for (uint32_t v : values)
        direct_write(f, name.c_str(), &v, sizeof v);
    direct_close(f, name.c_str());
    std::vector<uint8_t> got = read_file(name);
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(memcmp(got.data(), values, 12), 0);

    std::string missing = dir + sep() + "missing" + sep() + "pair_000.win2";
    EXPECT_EQ(direct_open(missing.c_str()), PLAT_NO_FILE);
    testing::internal::CaptureStderr();
    report_dump_failures();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("dump file " + missing + " not written: open failed: "), std::string::npos) << err;
}

TEST_F(DumpWriter, ATooLongPathIsRefusedNotCut)
{
    std::string deep = dir + sep() + std::string(600, 'd');
    g_dir = deep.c_str();
    uint8_t block[4] = {};
    save("pair_000.gray", block, sizeof block);
    testing::internal::CaptureStderr();
    report_dump_failures();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("pair_000.gray not written: path longer than 511 characters"), std::string::npos) << err;
}

}  // namespace
