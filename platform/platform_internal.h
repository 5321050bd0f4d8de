// The pieces that the fault-tolerant read is made of, shared between the OS
// files and reachable one by one from the tests, so each can be driven against
// bad memory without the others in front of it. The probe calls only
// plat_read_memory.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- The guarded copy ---------------------------------------------------------

// What the OS fault handler leaves for the copy: faulted is 1 when the copy
// instruction faulted, addr the address that the OS reported as faulting.
struct PlatCopyFault {
    uint64_t faulted;
    uint64_t addr;
};

// Copies n bytes with one `rep movsb` and returns the count it did not copy
// (one per OS, in assembly). The OS handler steps over a fault of that one
// instruction and fills *fault. The count comes from the processor's RCX; it
// may overstate the bytes done (valgrind updates RCX before the load that
// faults) or understate them (a fast string copy may stop short of the faulting
// byte), so the caller trusts it only up to the fault address.
extern "C" size_t irprobe_copy_bytes(void* dst, const void* src, size_t n, PlatCopyFault* fault);

// Installs, once, the OS handler that irprobe_copy_bytes needs (per OS); false
// when it could not be installed, and the copy must not run then.
bool plat_fault_handler_ready();

// Copies len bytes from src to dst with irprobe_copy_bytes and returns the count
// of leading bytes before the first byte that faulted. Asks the OS nothing about
// the range first, so on Windows it would fire a guard page's one-shot fault:
// plat_read_memory clips the range first there.
size_t plat_copy_recovering(void* dst, uintptr_t src, size_t len);

#ifndef _WIN32
// The read through process_vm_readv on the own process, which plat_read_memory
// uses when it could not install its fault handler.
size_t plat_read_memory_syscall(void* dst, uintptr_t src, size_t len);
#endif

// How many of len bytes from src lie below the top of the address space: a
// range whose end would wrap is cut at the top.
inline size_t plat_len_to_top(uintptr_t src, size_t len)
{
    if (len != 0 && len - 1 > UINTPTR_MAX - src)
        return UINTPTR_MAX - src + 1;
    return len;
}
