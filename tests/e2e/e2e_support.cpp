#include "e2e/e2e_support.h"

#include <filesystem>

namespace fs = std::filesystem;

ProbeRun run_probe(const std::string& tag, const std::vector<std::string>& args, const ProbeSetup& setup)
{
    ProbeRun run;
    run.dir = make_temp_dir(tag);
    fs::path bin = bin_dir();
    fs::path libs = setup.variant.empty() ? bin : bin / "variants" / setup.variant;
    std::string exe = std::string("irprobe") + exe_suffix();
    fs::copy_file(bin / exe, fs::path(run.dir) / exe);
    if (setup.thermal)
        fs::copy_file(libs / "ThermalSDK.dll", fs::path(run.dir) / "ThermalSDK.dll");
    if (setup.core)
        fs::copy_file(libs / "CoreSDKLib.dll", fs::path(run.dir) / "CoreSDKLib.dll");
    for (const std::string& d : setup.subdirs)
        fs::create_directories(fs::path(run.dir) / d);
    for (const std::string& f : setup.files)
        write_text_file((fs::path(run.dir) / f).string(), "not a directory\n");
    EnvList env = {{"IRSIM", setup.scenario}, {"IRSIM_LOG", "sim.log"}};
    run.r = run_program((fs::path(run.dir) / exe).string(), args, run.dir, env);
    run.out = split_lines(run.r.out);
    run.err = split_lines(run.r.err);
    std::vector<uint8_t> log = read_file((fs::path(run.dir) / "sim.log").string());
    run.log = split_lines(std::string(log.begin(), log.end()));
    return run;
}

ProbeSetup with_scenario(const std::string& scenario)
{
    ProbeSetup s;
    s.scenario = scenario;
    return s;
}

std::vector<std::string> summary_lines(const ProbeRun& run)
{
    std::vector<std::string> found;
    for (const std::string& line : run.out)
        if (!line.empty() && line[0] == '[')
            found.push_back(line);
    return found;
}

std::vector<std::string> log_lines(const ProbeRun& run, const std::string& word)
{
    std::vector<std::string> found;
    for (const std::string& line : run.log)
        if (line == word || line.compare(0, word.size() + 1, word + " ") == 0)
            found.push_back(line);
    return found;
}

std::string log_value(const std::string& line, const std::string& key)
{
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

const std::string NULLP = "0000000000000000";

std::string field(const std::string& line, const std::string& key)
{
    return log_value(" " + line, key);
}

int find_line(const std::vector<std::string>& lines, const std::string& text)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == text)
            return (int)i;
    return -1;
}

bool is_hex16(const std::string& text)
{
    if (text.size() != 16)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string run_file(const ProbeRun& run, const std::string& name)
{
    return (fs::path(run.dir) / name).string();
}
