// The simulator's small OS layer: memory with no-access edges, the log file, the
// frame thread and its stop signal, and finding the other simulated library.
// One implementation per OS: sim_os_linux.cpp and sim_os_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

size_t sim_os_page_size();

// Read-write memory of `readable` bytes whose last byte is directly followed by a
// no-access page (readable may be 0: the pointer is then the first no-access
// byte). Null when the address space is exhausted. Never freed.
uint8_t* sim_os_alloc_guarded(size_t readable);

// Reserved address space with no access at all; len is rounded up to pages.
uint8_t* sim_os_reserve_noaccess(size_t len);

// Makes the pages [p, p + len) no-access; p page-aligned.
bool sim_os_protect_noaccess(void* p, size_t len);

// Maps read-write memory at exactly [addr, addr + len), page-aligned, without
// replacing anything already there. False when the range is taken (Linux only;
// on Windows the library image itself holds its fixed addresses).
bool sim_os_map_fixed(uint64_t addr, size_t len);

// Value of an environment variable into buf (cut to len - 1 bytes); false when unset.
bool sim_os_getenv(const char* name, char* buf, size_t len);

// The log file: created or emptied by open; each write appends one whole line
// under a process-wide lock. Writes before a successful open are dropped.
void sim_os_log_open(const char* path);
void sim_os_log_write(const char* text, size_t len);

// One thread running fn(arg), and its join.
struct SimThread;
SimThread* sim_os_thread_start(void (*fn)(void*), void* arg);
void sim_os_thread_join(SimThread* t);

// A stop signal the frame thread sleeps on: wait returns true as soon as it is set,
// false after ms milliseconds without it.
struct SimEvent;
SimEvent* sim_os_event_new();
void sim_os_event_set(SimEvent* e);
void sim_os_event_reset(SimEvent* e);
bool sim_os_event_wait(SimEvent* e, uint32_t ms);

// Address of an export of the already loaded library named `library` (file name,
// "CoreSDKLib.dll"), without loading it; null when it is not loaded or has no such export.
void* sim_os_find_loaded_export(const char* library, const char* name);

// Limits the process's address space to what it uses now plus kib KiB (Linux
// RLIMIT_AS), so that the program's next large allocation fails. False where
// there is no such limit (Windows).
bool sim_os_limit_address_space(size_t kib);

// Handle of the already loaded library named `library`, the value its loader gave
// the program (HMODULE, or the dlopen handle); null when it is not loaded.
void* sim_os_loaded_handle(const char* library);

// Windows: clears the entry of `name` in the export address table of the module
// that contains `inside`, so that GetProcAddress finds nothing. Linux: false (the
// libraries use ifunc resolvers there).
bool sim_os_hide_export(const void* inside, const char* name);
