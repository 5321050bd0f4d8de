// Running the real irprobe against the simulated camera libraries, and reading
// back its console report, dump files and the simulator's log.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

struct ProbeRun {
    RunResult r;
    std::string dir;                     // the run's directory (its current directory)
    std::vector<std::string> out;        // standard output lines
    std::vector<std::string> err;        // standard error lines
    std::vector<std::string> log;        // simulator log lines
};

struct ProbeSetup {
    std::string scenario;                // IRSIM
    std::string variant;                 // sim variant directory under bin/variants, "" for the normal build
    bool thermal = true;                 // copy ThermalSDK.dll
    bool core = true;                    // copy CoreSDKLib.dll
    std::vector<std::string> subdirs;    // made inside the run directory before the run
    std::vector<std::string> files;      // plain files made there before the run
};

// A setup that only sets the scenario.
ProbeSetup with_scenario(const std::string& scenario);

// The pair summary lines ("[n] frames=...") of a run's standard output.
std::vector<std::string> summary_lines(const ProbeRun& run);

// Copies the probe and the libraries into a fresh directory and runs it there.
ProbeRun run_probe(const std::string& tag, const std::vector<std::string>& args, const ProbeSetup& setup);

// Log lines that start with the word.
std::vector<std::string> log_lines(const ProbeRun& run, const std::string& word);

// The value of key=<value> in a log line, "" when absent.
std::string log_value(const std::string& line, const std::string& key);

// Index of the first output line equal to text, or -1.
int find_line(const std::vector<std::string>& lines, const std::string& text);

// A null pointer as the probe prints it.
extern const std::string NULLP;

// The value of key=<value> in a console line ("" when absent).
std::string field(const std::string& line, const std::string& key);

// True when the text is 16 lowercase hexadecimal digits.
bool is_hex16(const std::string& text);

// File in the run directory (name may hold a subdirectory "out/...").
std::string run_file(const ProbeRun& run, const std::string& name);
