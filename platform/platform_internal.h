// The two halves of the fault-tolerant read, reachable one by one so the tests
// can drive each against bad memory without the other in front of it. Not for
// the probe: it calls plat_read_memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies len bytes from src to dst with the OS fault handler armed around the
// copy instruction; returns the count of leading bytes copied before the first
// byte that faulted. Asks the OS nothing about the range first, so on Windows
// it would consume a guard page's one-shot fault: plat_read_memory clips first.
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
