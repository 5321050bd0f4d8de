// Windows side of the simulator's OS layer.
#include "sim/sim_os.h"

#include <windows.h>

#include <string.h>

size_t sim_os_page_size() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwPageSize;
}

static size_t round_pages(size_t n) {
    size_t p = sim_os_page_size();
    return (n + p - 1) / p * p;
}

uint8_t* sim_os_alloc_guarded(size_t readable) {
    size_t body = round_pages(readable);
    // The page after the body stays reserved and uncommitted: any access faults.
    uint8_t* base = (uint8_t*)VirtualAlloc(nullptr, body + sim_os_page_size(), MEM_RESERVE, PAGE_NOACCESS);
    if (!base) return nullptr;
    if (body && !VirtualAlloc(base, body, MEM_COMMIT, PAGE_READWRITE)) return nullptr;
    return base + body - readable;
}

uint8_t* sim_os_reserve_noaccess(size_t len) {
    return (uint8_t*)VirtualAlloc(nullptr, round_pages(len), MEM_RESERVE, PAGE_NOACCESS);
}

bool sim_os_protect_noaccess(void* p, size_t len) {
    DWORD old;
    return VirtualProtect(p, round_pages(len), PAGE_NOACCESS, &old) != 0;
}

bool sim_os_map_fixed(uint64_t, size_t) { return false; }

bool sim_os_getenv(const char* name, char* buf, size_t len) {
    if (len == 0) return false;
    DWORD n = GetEnvironmentVariableA(name, buf, (DWORD)len);
    if (n == 0) {
        // Set but empty reads as 0 too; tell the two apart by the error.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        buf[0] = 0;
        return true;
    }
    if (n >= len) {
        // Too long: n is the size needed. Keep what fits.
        char* big = (char*)HeapAlloc(GetProcessHeap(), 0, n);
        if (!big) return false;
        GetEnvironmentVariableA(name, big, n);
        memcpy(buf, big, len - 1);
        buf[len - 1] = 0;
        HeapFree(GetProcessHeap(), 0, big);
    }
    return true;
}

// ---- Log -----------------------------------------------------------------------

static SRWLOCK g_log_lock = SRWLOCK_INIT;
static HANDLE g_log_file = INVALID_HANDLE_VALUE;

void sim_os_log_open(const char* path) {
    AcquireSRWLockExclusive(&g_log_lock);
    g_log_file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ReleaseSRWLockExclusive(&g_log_lock);
}

void sim_os_log_write(const char* text, size_t len) {
    AcquireSRWLockExclusive(&g_log_lock);
    if (g_log_file != INVALID_HANDLE_VALUE) {
        DWORD n;
        WriteFile(g_log_file, text, (DWORD)len, &n, nullptr);
    }
    ReleaseSRWLockExclusive(&g_log_lock);
}

// ---- Thread and stop signal ------------------------------------------------------

struct SimThread {
    HANDLE handle;
    void (*fn)(void*);
    void* arg;
};

static DWORD WINAPI thread_main(LPVOID p) {
    SimThread* t = (SimThread*)p;
    t->fn(t->arg);
    return 0;
}

SimThread* sim_os_thread_start(void (*fn)(void*), void* arg) {
    SimThread* t = new SimThread{nullptr, fn, arg};
    t->handle = CreateThread(nullptr, 0, thread_main, t, 0, nullptr);
    if (!t->handle) {
        delete t;
        return nullptr;
    }
    return t;
}

void sim_os_thread_join(SimThread* t) {
    if (!t) return;
    WaitForSingleObject(t->handle, INFINITE);
    CloseHandle(t->handle);
    delete t;
}

struct SimEvent {
    HANDLE handle;
};

SimEvent* sim_os_event_new() { return new SimEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)}; }

void sim_os_event_set(SimEvent* e) { SetEvent(e->handle); }

void sim_os_event_reset(SimEvent* e) { ResetEvent(e->handle); }

bool sim_os_event_wait(SimEvent* e, uint32_t ms) { return WaitForSingleObject(e->handle, ms) == WAIT_OBJECT_0; }

// ---- The other library -------------------------------------------------------------

void* sim_os_find_loaded_export(const char* library, const char* name) {
    HMODULE h = GetModuleHandleA(library);
    return h ? (void*)GetProcAddress(h, name) : nullptr;
}

bool sim_os_limit_address_space(size_t) { return false; }

void* sim_os_loaded_handle(const char* library) {
    return (void*)GetModuleHandleA(library);
}

bool sim_os_hide_export(const void* inside, const char* name) {
    HMODULE mod;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)inside, &mod))
        return false;
    uint8_t* base = (uint8_t*)mod;
    IMAGE_DOS_HEADER* dos = (IMAGE_DOS_HEADER*)base;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress) return false;
    IMAGE_EXPORT_DIRECTORY* ed = (IMAGE_EXPORT_DIRECTORY*)(base + dir.VirtualAddress);
    DWORD* names = (DWORD*)(base + ed->AddressOfNames);
    WORD* ordinals = (WORD*)(base + ed->AddressOfNameOrdinals);
    DWORD* functions = (DWORD*)(base + ed->AddressOfFunctions);
    for (DWORD i = 0; i < ed->NumberOfNames; i++) {
        if (strcmp((const char*)(base + names[i]), name) != 0) continue;
        // A zero RVA in the export address table reads as "no such export".
        DWORD* slot = &functions[ordinals[i]];
        DWORD old;
        if (!VirtualProtect(slot, sizeof(DWORD), PAGE_READWRITE, &old)) return false;
        *slot = 0;
        VirtualProtect(slot, sizeof(DWORD), old, &old);
        return true;
    }
    return false;
}
