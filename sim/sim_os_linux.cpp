// Linux side of the simulator's OS layer.
#include "sim/sim_os.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

size_t sim_os_page_size() {
    static size_t s_page = (size_t)sysconf(_SC_PAGESIZE);
    return s_page;
}

static size_t round_pages(size_t n) {
    size_t p = sim_os_page_size();
    return (n + p - 1) / p * p;
}

uint8_t* sim_os_alloc_guarded(size_t readable) {
    size_t body = round_pages(readable);
    void* base = mmap(nullptr, body + sim_os_page_size(), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    if (body && mprotect(base, body, PROT_READ | PROT_WRITE) != 0) return nullptr;
    return (uint8_t*)base + body - readable;
}

uint8_t* sim_os_reserve_noaccess(size_t len) {
    void* p = mmap(nullptr, round_pages(len), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : (uint8_t*)p;
}

bool sim_os_protect_noaccess(void* p, size_t len) { return mprotect(p, round_pages(len), PROT_NONE) == 0; }

#ifdef __SANITIZE_ADDRESS__
// True when [addr, addr + len) lies inside one anonymous read-write mapping.
static bool inside_anonymous_rw(uint64_t addr, size_t len) {
    FILE* f = fopen("/proc/self/maps", "r");
    if (!f) return false;
    char line[512];
    bool found = false;
    while (!found && fgets(line, sizeof(line), f)) {
        unsigned long long lo, hi, inode;
        char perms[8];
        int n = 0;
        if (sscanf(line, "%llx-%llx %7s %*s %*s %llu %n", &lo, &hi, perms, &inode, &n) < 4) continue;
        bool anonymous = inode == 0 && (line[n] == 0 || line[n] == '\n');
        found = lo <= addr && addr + len <= hi && strncmp(perms, "rw", 2) == 0 && anonymous;
    }
    fclose(f);
    return found;
}
#endif

bool sim_os_map_fixed(uint64_t addr, size_t len) {
    void* want = (void*)(uintptr_t)addr;
    void* p = mmap(want, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED) {
#ifdef __SANITIZE_ADDRESS__
        // With protect_shadow_gap=0 AddressSanitizer maps the shadow of its own shadow
        // gap read-write, and that mapping covers these addresses. It describes gap
        // addresses that nothing uses, so the library may keep its words there.
        if (errno == EEXIST && inside_anonymous_rw(addr, len)) return true;
#endif
        return false;
    }
    if (p != want) {
        // A kernel without MAP_FIXED_NOREPLACE treats the address as a hint only.
        munmap(p, len);
        return false;
    }
    return true;
}

bool sim_os_getenv(const char* name, char* buf, size_t len) {
    const char* v = getenv(name);
    if (!v || len == 0) return false;
    size_t n = strlen(v);
    if (n >= len) n = len - 1;
    memcpy(buf, v, n);
    buf[n] = 0;
    return true;
}

// ---- Log -----------------------------------------------------------------------

static pthread_mutex_t g_log_lock = PTHREAD_MUTEX_INITIALIZER;
static int g_log_fd = -1;

void sim_os_log_open(const char* path) {
    pthread_mutex_lock(&g_log_lock);
    g_log_fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    pthread_mutex_unlock(&g_log_lock);
}

void sim_os_log_write(const char* text, size_t len) {
    pthread_mutex_lock(&g_log_lock);
    if (g_log_fd >= 0) {
        while (len > 0) {
            ssize_t n = write(g_log_fd, text, len);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text += n;
            len -= (size_t)n;
        }
    }
    pthread_mutex_unlock(&g_log_lock);
}

// ---- Thread and stop signal ------------------------------------------------------

struct SimThread {
    pthread_t id;
    void (*fn)(void*);
    void* arg;
};

static void* thread_main(void* p) {
    SimThread* t = (SimThread*)p;
    t->fn(t->arg);
    return nullptr;
}

SimThread* sim_os_thread_start(void (*fn)(void*), void* arg) {
    SimThread* t = new SimThread{pthread_t(), fn, arg};
    if (pthread_create(&t->id, nullptr, thread_main, t) != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

void sim_os_thread_join(SimThread* t) {
    if (!t) return;
    pthread_join(t->id, nullptr);
    delete t;
}

struct SimEvent {
    pthread_mutex_t lock;
    pthread_cond_t cond;
    bool set;
};

SimEvent* sim_os_event_new() {
    SimEvent* e = new SimEvent;
    pthread_mutex_init(&e->lock, nullptr);
    pthread_condattr_t a;
    pthread_condattr_init(&a);
    pthread_condattr_setclock(&a, CLOCK_MONOTONIC);
    pthread_cond_init(&e->cond, &a);
    pthread_condattr_destroy(&a);
    e->set = false;
    return e;
}

void sim_os_event_set(SimEvent* e) {
    pthread_mutex_lock(&e->lock);
    e->set = true;
    pthread_cond_broadcast(&e->cond);
    pthread_mutex_unlock(&e->lock);
}

void sim_os_event_reset(SimEvent* e) {
    pthread_mutex_lock(&e->lock);
    e->set = false;
    pthread_mutex_unlock(&e->lock);
}

bool sim_os_event_wait(SimEvent* e, uint32_t ms) {
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += (long)(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&e->lock);
    while (!e->set) {
        if (pthread_cond_timedwait(&e->cond, &e->lock, &until) == ETIMEDOUT) break;
    }
    bool set = e->set;
    pthread_mutex_unlock(&e->lock);
    return set;
}

// ---- The other library -------------------------------------------------------------

struct FindLoaded {
    const char* library;
    char path[4096];
};

static int find_loaded(dl_phdr_info* info, size_t, void* p) {
    FindLoaded* f = (FindLoaded*)p;
    const char* name = info->dlpi_name;
    if (!name || !*name) return 0;
    const char* base = strrchr(name, '/');
    base = base ? base + 1 : name;
    if (strcmp(base, f->library) != 0) return 0;
    size_t n = strlen(name);
    if (n >= sizeof(f->path)) return 0;
    memcpy(f->path, name, n + 1);
    return 1;
}

void* sim_os_find_loaded_export(const char* library, const char* name) {
    FindLoaded f;
    f.library = library;
    f.path[0] = 0;
    if (!dl_iterate_phdr(find_loaded, &f)) return nullptr;
    // RTLD_NOLOAD only takes a reference on the object already in the process.
    void* h = dlopen(f.path, RTLD_LAZY | RTLD_NOLOAD);
    if (!h) return nullptr;
    void* sym = dlsym(h, name);
    dlclose(h);
    return sym;
}

bool sim_os_limit_address_space(size_t kib) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return false;
    char line[256];
    unsigned long long vm_kib = 0;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmSize: %llu kB", &vm_kib) == 1) break;
    fclose(f);
    if (!vm_kib) return false;
    struct rlimit lim;
    lim.rlim_cur = lim.rlim_max = (rlim_t)(vm_kib + kib) * 1024;
    return setrlimit(RLIMIT_AS, &lim) == 0;
}

void* sim_os_loaded_handle(const char* library) {
    FindLoaded f;
    f.library = library;
    f.path[0] = 0;
    if (!dl_iterate_phdr(find_loaded, &f)) return nullptr;
    // The same handle the program's dlopen returned; the extra reference is dropped
    // at once, the object stays loaded by the program's own.
    void* h = dlopen(f.path, RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h;
}

bool sim_os_hide_export(const void*, const char*) { return false; }
