// Helpers shared by the test suites: running a program, temporary directories,
// files. Plain functions over std types; the same code serves Linux and Windows.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
    int exit_code;      // -1 when the program could not be started or was killed
    std::string out;    // standard output, line ends as written (CR LF on Windows)
    std::string err;    // standard error
};

typedef std::vector<std::pair<std::string, std::string>> EnvList;

// Runs exe with args in cwd, with env added to the environment; kills it after
// timeout_s seconds.
RunResult run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                      const EnvList& env, int timeout_s = 180);

// Directory with the built probe and the simulated libraries.
std::string bin_dir();

// ".exe" on Windows, "" elsewhere.
const char* exe_suffix();

// A fresh empty directory for one test.
std::string make_temp_dir(const std::string& tag);

std::vector<uint8_t> read_file(const std::string& path);
bool file_exists(const std::string& path);
void write_text_file(const std::string& path, const std::string& text);

// Text split into lines, without line ends (CR LF and LF alike).
std::vector<std::string> split_lines(const std::string& text);

// A pointer as the probe prints it: 16 lowercase hex digits.
std::string hex16(uint64_t v);

// Memory whose first `readable` bytes can be read and written, directly followed
// by a no-access page: reads across the end must stop there.
uint8_t* alloc_guarded(size_t readable);
