// The platform layer on 64-bit Windows: the loader, Sleep/GetTickCount, Win32
// files, and a fault-tolerant read that clips the range with VirtualQuery and
// copies with an instruction that a vectored exception handler can step over.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

extern const char plat_path_sep = '\\';

// ---- Libraries -------------------------------------------------------------

void plat_set_library_dir(const char* dir)
{
    SetDllDirectoryA(dir);
}

void* plat_load_library(const char* name)
{
    if (name == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(LoadLibraryA(name));
}

void* plat_find_export(void* lib, const char* name)
{
    // GetProcAddress(null) would search the executable: a missing library finds nothing.
    if (lib == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

// ---- Time ------------------------------------------------------------------

void plat_sleep_ms(uint32_t ms)
{
    Sleep(ms);
}

uint32_t plat_tick_ms()
{
    return GetTickCount();
}

// ---- Fault-tolerant reads --------------------------------------------------

// irprobe_copy_bytes(dst, src, n, fault): when the source faults,
// on_exception finds the instruction pointer at irprobe_copy_fault_ip, moves it
// to irprobe_copy_resume and sets R10 to 1 and R11 to the fault address; RCX
// then holds the bytes left. RSI and RDI are callee-saved in the Windows x64
// convention, hence the pushes and their unwind notes.
extern "C" const char irprobe_copy_fault_ip[];
extern "C" const char irprobe_copy_resume[];

asm(R"(
    .text
    .p2align 4
    .globl irprobe_copy_bytes
    .def irprobe_copy_bytes; .scl 2; .type 32; .endef
    .seh_proc irprobe_copy_bytes
irprobe_copy_bytes:
    push %rdi
    .seh_pushreg %rdi
    push %rsi
    .seh_pushreg %rsi
    .seh_endprologue
    mov %rcx, %rdi
    mov %rdx, %rsi
    mov %r8, %rcx
    xor %r10d, %r10d
    xor %r11d, %r11d
    .globl irprobe_copy_fault_ip
irprobe_copy_fault_ip:
    rep movsb
    .globl irprobe_copy_resume
irprobe_copy_resume:
    mov %r10, (%r9)
    mov %r11, 8(%r9)
    mov %rcx, %rax
    pop %rsi
    pop %rdi
    ret
    .seh_endproc
)");

// Steps over a fault of our own copy instruction; every other exception goes on
// to the handlers behind us. A guard-page fault is listed because a page can
// become a guard page between the query and the copy. The fault address is the
// second parameter of all three.
static LONG CALLBACK on_exception(EXCEPTION_POINTERS* ep)
{
    const EXCEPTION_RECORD* er = ep->ExceptionRecord;
    DWORD code = er->ExceptionCode;
    bool fault = code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_GUARD_PAGE || code == EXCEPTION_IN_PAGE_ERROR;
    if (fault && ep->ContextRecord->Rip == (DWORD64)(uintptr_t)irprobe_copy_fault_ip) {
        ep->ContextRecord->Rip = (DWORD64)(uintptr_t)irprobe_copy_resume;
        ep->ContextRecord->R10 = 1;
        ep->ContextRecord->R11 = er->NumberParameters >= 2 ? (DWORD64)er->ExceptionInformation[1] : ~(DWORD64)0;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Installed once, first in the chain, on the first read.
bool plat_fault_handler_ready()
{
    static const bool ready = AddVectoredExceptionHandler(1, on_exception) != nullptr;
    return ready;
}

// Committed memory with a protection that reads; guard pages are left alone,
// since touching one fires its one-shot fault and changes the owner's memory.
static bool protect_reads(DWORD protect)
{
    if (protect & (PAGE_GUARD | PAGE_NOACCESS))
        return false;
    switch (protect & 0xFF) {
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return true;
    default:
        return false;
    }
}

// Asks VirtualQuery for the regions ahead, a table at a time, clips the range to
// their readable prefix and copies that. ReadProcessMemory is no help here: on
// the own process under Wine it reports success on reserved, no-access and guard
// pages. The copy is still guarded, as the library may release or protect memory
// between the query and the copy.
size_t plat_read_memory(void* dst, uintptr_t src, size_t len)
{
    const size_t table_max = 16;
    len = plat_len_to_top(src, len);
    char* d = static_cast<char*>(dst);
    size_t done = 0;
    while (done < len) {
        uintptr_t from = src + done;
        uintptr_t last_wanted = src + (len - 1);
        PlatRegion table[table_max];
        size_t count = 0;
        uintptr_t pos = from;
        while (count < table_max) {
            MEMORY_BASIC_INFORMATION mbi;
            if (VirtualQuery(reinterpret_cast<void*>(pos), &mbi, sizeof mbi) == 0)
                break;  // beyond the user address space
            PlatRegion& r = table[count++];
            r.base = reinterpret_cast<uintptr_t>(mbi.BaseAddress);
            r.size = mbi.RegionSize;
            r.readable = mbi.State == MEM_COMMIT && protect_reads(mbi.Protect);
            uintptr_t region_last = r.base + (r.size - 1);
            if (!r.readable || region_last >= last_wanted || r.size == 0)
                break;
            pos = region_last + 1;
        }
        size_t n = plat_clip_readable(table, count, from, len - done);
        if (n == 0)
            break;
        size_t got = plat_copy_recovering(d + done, from, n);
        done += got;
        if (got < n || count < table_max)
            break;  // a fault, or the table already reached the end of the prefix
    }
    return done;
}

// ---- File output -------------------------------------------------------------

PlatFile plat_file_create(const char* path)
{
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return PLAT_NO_FILE;
    }
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? PLAT_NO_FILE : reinterpret_cast<PlatFile>(h);
}

bool plat_file_write(PlatFile f, const void* data, size_t n)
{
    HANDLE h = reinterpret_cast<HANDLE>(f);
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        DWORD chunk = n > ((size_t)1 << 30) ? (DWORD)1 << 30 : (DWORD)n;  // WriteFile counts in DWORDs
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr))
            return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);  // no progress and no error: do not spin
            return false;
        }
        p += written;
        n -= written;
    }
    return true;
}

bool plat_file_close(PlatFile f)
{
    return CloseHandle(reinterpret_cast<HANDLE>(f)) != 0;
}

// One line: the system text without its trailing period and line break, or the
// number when the system has no text for it.
void plat_error_text(char* buf, size_t len)
{
    DWORD e = GetLastError();
    if (buf == nullptr || len == 0)
        return;
    char tmp[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, e, 0, tmp, sizeof tmp, nullptr);
    if (n == 0) {
        snprintf(buf, len, "error %lu", (unsigned long)e);
    } else {
        while (n > 0 && (tmp[n - 1] == '\r' || tmp[n - 1] == '\n' || tmp[n - 1] == ' ' || tmp[n - 1] == '.'))
            n--;
        tmp[n] = '\0';
        snprintf(buf, len, "%s", tmp);
    }
    SetLastError(e);
}
