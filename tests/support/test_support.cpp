#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

const char* exe_suffix()
{
#ifdef _WIN32
    return ".exe";
#else
    return "";
#endif
}

std::string bin_dir()
{
    const char* env = getenv("IRPROBE_BIN_DIR");
    if (env && *env)
        return env;
#ifdef _WIN32
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return fs::path(std::string(buf, n)).parent_path().string();
#else
    return fs::read_symlink("/proc/self/exe").parent_path().string();
#endif
}

std::string make_temp_dir(const std::string& tag)
{
    static std::atomic<int> counter{0};
    fs::path base = fs::temp_directory_path() / "irprobe-tests";
    fs::create_directories(base);
#ifdef _WIN32
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = (unsigned long)getpid();
#endif
    for (;;) {
        fs::path dir = base / (tag + "-" + std::to_string(pid) + "-" + std::to_string(counter++));
        if (fs::create_directory(dir))
            return dir.string();
    }
}

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

void write_text_file(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string hex16(uint64_t v)
{
    char buf[17];
    snprintf(buf, sizeof buf, "%016llx", (unsigned long long)v);
    return buf;
}

static std::string slurp(const std::string& path)
{
    std::vector<uint8_t> bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

#ifdef _WIN32
// One argument quoted the way the C runtime splits a command line back.
static std::string quote_arg(const std::string& arg)
{
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            q.append(backslashes * 2 + 1, '\\');
            backslashes = 0;
        } else {
            q.append(backslashes, '\\');
            backslashes = 0;
        }
        if (c != '\\')
            q += c;
    }
    q.append(backslashes * 2, '\\');
    q += '"';
    return q;
}

RunResult run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                      const EnvList& env, int timeout_s)
{
    RunResult r{-1, "", ""};
    std::string out_path = cwd + "\\.stdout.txt", err_path = cwd + "\\.stderr.txt";
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    std::string cmd = quote_arg(exe);
    for (const std::string& a : args)
        cmd += " " + quote_arg(a);
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto& kv : env) {
        char old[32768];
        DWORD n = GetEnvironmentVariableA(kv.first.c_str(), old, sizeof old);
        saved.push_back({kv.first, n ? std::string(old, n) : std::string("\x01")});
        SetEnvironmentVariableA(kv.first.c_str(), kv.second.c_str());
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::vector<char> cmdline(cmd.begin(), cmd.end());
    cmdline.push_back('\0');
    // A freshly copied executable can be briefly unavailable to the loader (seen
    // under Wine); a few tries tell that apart from a program that cannot start.
    BOOL ok = FALSE;
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
        if (attempt)
            Sleep(200);
        ok = CreateProcessA(nullptr, cmdline.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &si, &pi);
        if (!ok)
            start_error = GetLastError();
    }
    for (const auto& kv : saved)
        SetEnvironmentVariableA(kv.first.c_str(), kv.second == "\x01" ? nullptr : kv.second.c_str());
    CloseHandle(out);
    CloseHandle(err);
    if (ok) {
        if (WaitForSingleObject(pi.hProcess, (DWORD)timeout_s * 1000) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, INFINITE);
        } else {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            r.exit_code = (int)code;
        }
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    if (!ok)
        r.err += "CreateProcess failed: error " + std::to_string(start_error) + "\n";
    DeleteFileA(out_path.c_str());
    DeleteFileA(err_path.c_str());
    return r;
}
#else
RunResult run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                      const EnvList& env, int timeout_s)
{
    RunResult r{-1, "", ""};
    std::string out_path = cwd + "/.stdout.txt", err_path = cwd + "/.stderr.txt";
    std::vector<std::string> argv_text;
    argv_text.push_back(exe);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        for (const auto& kv : env)
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    if (pid > 0) {
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
        for (;;) {
            pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                status = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (status != -1 && WIFEXITED(status))
            r.exit_code = WEXITSTATUS(status);
    }
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return r;
}
#endif

#ifndef _WIN32
#include <sys/mman.h>
#endif

uint8_t* alloc_guarded(size_t readable)
{
    const size_t page = 4096;
    size_t pages = (readable + page - 1) / page;
#ifdef _WIN32
    uint8_t* base = (uint8_t*)VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &old);
#else
    uint8_t* base =
        (uint8_t*)mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    mprotect(base + pages * page, page, PROT_NONE);
#endif
    return base + pages * page - readable;
}
