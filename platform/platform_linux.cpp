// The platform layer on Linux: dlopen for the libraries, CLOCK_MONOTONIC for the
// tick, POSIX files, and a fault-tolerant read built on a copy instruction that
// our own SIGSEGV/SIGBUS handler recognises and steps over.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/uio.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

extern const char plat_path_sep = '/';

// ---- Libraries -------------------------------------------------------------

static char g_lib_dir[PATH_MAX];  // empty: no directory set

void plat_set_library_dir(const char* dir)
{
    g_lib_dir[0] = '\0';
    if (dir != nullptr && strlen(dir) < sizeof g_lib_dir)
        strcpy(g_lib_dir, dir);
}

// dlopen of dir/name; null when the joined path does not fit or does not load.
static void* load_from(const char* dir, const char* name)
{
    char path[PATH_MAX];
    int n = snprintf(path, sizeof path, "%s/%s", dir, name);
    if (n < 0 || (size_t)n >= sizeof path)
        return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

// The executable's own directory first, then the set directory, as Windows
// searches after SetDllDirectoryA. Always a path with a slash, so dlopen never
// falls back to LD_LIBRARY_PATH or the system directories.
void* plat_load_library(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return nullptr;
    if (name[0] == '/')
        return dlopen(name, RTLD_NOW | RTLD_LOCAL);

    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        char* slash = strrchr(exe, '/');
        if (slash != nullptr) {
            *slash = '\0';
            if (void* lib = load_from(exe, name))
                return lib;
        }
    }
    if (g_lib_dir[0] != '\0')
        return load_from(g_lib_dir, name);
    return nullptr;
}

void* plat_find_export(void* lib, const char* name)
{
    // dlsym(null) would search the whole process: a missing library finds nothing.
    if (lib == nullptr || name == nullptr)
        return nullptr;
    return dlsym(lib, name);
}

// ---- Time ------------------------------------------------------------------

void plat_sleep_ms(uint32_t ms)
{
    int saved = errno;
    struct timespec left;
    left.tv_sec = ms / 1000;
    left.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    errno = saved;
}

uint32_t plat_tick_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

// ---- Fault-tolerant reads --------------------------------------------------

// irprobe_copy_bytes(dst, src, n, fault): when the source faults, on_fault
// finds the instruction pointer at irprobe_copy_fault_ip, moves it to
// irprobe_copy_resume and sets R8 to 1 and RDX to the fault address; the
// instruction then stands stopped with RCX holding the bytes left.
extern "C" const char irprobe_copy_fault_ip[];
extern "C" const char irprobe_copy_resume[];

asm(R"(
    .pushsection .text
    .p2align 4
    .globl irprobe_copy_bytes
    .hidden irprobe_copy_bytes
    .type irprobe_copy_bytes, @function
irprobe_copy_bytes:
    .cfi_startproc
    mov %rcx, %r9
    mov %rdx, %rcx
    xor %r8d, %r8d
    xor %edx, %edx
    .globl irprobe_copy_fault_ip
    .hidden irprobe_copy_fault_ip
irprobe_copy_fault_ip:
    rep movsb
    .globl irprobe_copy_resume
    .hidden irprobe_copy_resume
irprobe_copy_resume:
    mov %r8, (%r9)
    mov %rdx, 8(%r9)
    mov %rcx, %rax
    ret
    .cfi_endproc
    .size irprobe_copy_bytes, .-irprobe_copy_bytes
    .popsection
)");

static struct sigaction g_prev_segv;  // the handlers we displaced, for faults not ours
static struct sigaction g_prev_bus;

// Hands a fault that is not ours to whoever handled the signal before us. With
// the default action (or an ignored signal, which the kernel does not honour
// for a real fault either) the default is restored; returning re-executes the
// faulting instruction, which then ends the process as it would have without us.
static void pass_on(int sig, siginfo_t* info, void* ctx)
{
    const struct sigaction& prev = sig == SIGBUS ? g_prev_bus : g_prev_segv;
    if (prev.sa_flags & SA_SIGINFO) {
        prev.sa_sigaction(sig, info, ctx);
        return;
    }
    if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
        prev.sa_handler(sig);
        return;
    }
    bool sent = info->si_code <= 0;  // kill() or raise(), not a faulting instruction
    if (sent && prev.sa_handler == SIG_IGN)
        return;
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    if (sent)
        raise(sig);  // pending until we return, then it takes the default action
}

static void on_fault(int sig, siginfo_t* info, void* ctx)
{
    int saved = errno;
    ucontext_t* uc = static_cast<ucontext_t*>(ctx);
    greg_t& rip = uc->uc_mcontext.gregs[REG_RIP];
    // Only a fault raised by our own copy instruction; a SIGSEGV that someone
    // sent while the copy ran (si_code <= 0) is not a fault of the source.
    if (info->si_code > 0 && rip == (greg_t)(uintptr_t)irprobe_copy_fault_ip) {
        rip = (greg_t)(uintptr_t)irprobe_copy_resume;
        uc->uc_mcontext.gregs[REG_R8] = 1;
        uc->uc_mcontext.gregs[REG_RDX] = (greg_t)(uintptr_t)info->si_addr;
    } else {
        pass_on(sig, info, ctx);
    }
    errno = saved;
}

// Installs on_fault for SIGSEGV and SIGBUS (a mapped file read past its end).
// The previous handlers are taken first so a fault in another thread during the
// install is still passed to the right one. Fails when the handler does not
// stick, as under AddressSanitizer with handle_segv=2, which keeps the signal.
static bool install_fault_handler()
{
    if (sigaction(SIGSEGV, nullptr, &g_prev_segv) != 0 || sigaction(SIGBUS, nullptr, &g_prev_bus) != 0)
        return false;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_fault;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    if (sigaction(SIGSEGV, &sa, nullptr) != 0)
        return false;
    if (sigaction(SIGBUS, &sa, nullptr) != 0) {
        sigaction(SIGSEGV, &g_prev_segv, nullptr);
        return false;
    }
    struct sigaction now;
    memset(&now, 0, sizeof now);  // an interceptor that keeps the signal fills nothing
    if (sigaction(SIGSEGV, nullptr, &now) != 0 || !(now.sa_flags & SA_SIGINFO) || now.sa_sigaction != on_fault)
        return false;
    memset(&now, 0, sizeof now);
    if (sigaction(SIGBUS, nullptr, &now) != 0 || !(now.sa_flags & SA_SIGINFO) || now.sa_sigaction != on_fault)
        return false;
    return true;
}

// Installed once, on the first read; the result holds for the process.
bool plat_fault_handler_ready()
{
    static const bool ready = [] {
        int saved = errno;
        bool ok = install_fault_handler();
        errno = saved;
        return ok;
    }();
    return ready;
}

// process_vm_readv on the own pid stops at the first page it cannot read and
// fails with EFAULT when it can read none. A short count is followed up, since
// the next call either reads on or reports the fault. Chunks start at 64 KiB
// and double up to 1 GiB (below the kernel's limit of about 2 GiB per call), so
// the part of dst handed to the kernel stays near the bytes actually readable.
size_t plat_read_memory_syscall(void* dst, uintptr_t src, size_t len)
{
    len = plat_len_to_top(src, len);
    int saved = errno;
    pid_t self = getpid();
    char* d = static_cast<char*>(dst);
    size_t done = 0;
    size_t chunk = (size_t)64 << 10;
    while (done < len) {
        size_t want = len - done < chunk ? len - done : chunk;
        struct iovec local = {d + done, want};
        struct iovec remote = {reinterpret_cast<void*>(src + done), want};
        ssize_t got = process_vm_readv(self, &local, 1, &remote, 1, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += (size_t)got;
        if (chunk < ((size_t)1 << 30))
            chunk *= 2;
    }
    errno = saved;
    return done;
}

size_t plat_read_memory(void* dst, uintptr_t src, size_t len)
{
    if (len == 0)
        return 0;
    if (plat_fault_handler_ready())
        return plat_copy_recovering(dst, src, len);
    return plat_read_memory_syscall(dst, src, len);
}

// ---- File output -------------------------------------------------------------

PlatFile plat_file_create(const char* path)
{
    if (path == nullptr) {
        errno = EINVAL;
        return PLAT_NO_FILE;
    }
    int fd;
    do
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? PLAT_NO_FILE : (PlatFile)fd;
}

bool plat_file_write(PlatFile f, const void* data, size_t n)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        size_t chunk = n > ((size_t)1 << 30) ? ((size_t)1 << 30) : n;
        ssize_t w = write((int)f, p, chunk);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return false;
        if (w == 0) {
            errno = EIO;  // no progress and no error: do not spin
            return false;
        }
        p += w;
        n -= (size_t)w;
    }
    return true;
}

bool plat_file_close(PlatFile f)
{
    // Linux releases the descriptor even when close reports EINTR: no retry.
    return close((int)f) == 0;
}

// strerror_r is the GNU flavour under _GNU_SOURCE (returns the text) and the
// XSI one elsewhere (fills the buffer); these two overloads take either.
[[maybe_unused]] static const char* error_text_of(const char* gnu_result, const char*)
{
    return gnu_result;
}
[[maybe_unused]] static const char* error_text_of(int xsi_result, const char* buf)
{
    return xsi_result == 0 ? buf : "unknown error";
}

void plat_error_text(char* buf, size_t len)
{
    int e = errno;
    if (buf == nullptr || len == 0)
        return;
    char tmp[256];
    tmp[0] = '\0';
    const char* text = error_text_of(strerror_r(e, tmp, sizeof tmp), tmp);
    snprintf(buf, len, "%s", text);
    errno = e;
}
