// The OS-independent part of the platform layer: the clipping rule that turns
// a table of regions into the readable prefix of a range.
#include "platform/platform.h"
#include "platform/platform_internal.h"

// Walks the regions in address order from addr on. The prefix ends at the first
// byte that lies in an unreadable region, in a gap between regions, or past the
// last region. Sizes count to the last byte ("last") rather than one past it, so
// a region or a range that ends at the top of the address space does not wrap.
size_t plat_clip_readable(const PlatRegion* regions, size_t count, uintptr_t addr, size_t len)
{
    if (len == 0 || regions == nullptr)
        return 0;
    len = plat_len_to_top(addr, len);

    uintptr_t pos = addr;  // first byte not yet known to be readable
    size_t done = 0;
    for (size_t i = 0; i < count; i++) {
        const PlatRegion& r = regions[i];
        if (r.size == 0)
            continue;
        uintptr_t last = r.base + (r.size - 1);
        if (last < r.base)
            last = UINTPTR_MAX;  // a size that runs past the top is cut there
        if (last < pos)
            continue;  // wholly before the bytes still wanted
        if (r.base > pos || !r.readable)
            break;  // a gap, or the region that stops the read
        size_t want = len - done;
        if (want - 1 <= last - pos)
            return len;  // the rest of the range lies in this region
        done += last - pos + 1;
        pos = last + 1;
    }
    return done;
}

// The copy loop over the guarded copy instruction. `limit` is the end of the
// bytes that may still be readable: each fault with an address in the range
// moves it down to that address, so the loop ends. A fault whose address lies
// outside the range (a general protection fault on a non-canonical address
// reports none) ends the read where the copy started: such an address cannot
// follow readable bytes, as the top page of user space is never mapped.
size_t plat_copy_recovering(void* dst, uintptr_t src, size_t len)
{
    len = plat_len_to_top(src, len);
    if (len == 0 || !plat_fault_handler_ready())
        return 0;
    char* d = static_cast<char*>(dst);
    size_t done = 0;
    size_t limit = len;
    while (done < limit) {
        uintptr_t from = src + done;
        size_t want = limit - done;
        PlatCopyFault fault;
        size_t copied = want - irprobe_copy_bytes(d + done, reinterpret_cast<const void*>(from), want, &fault);
        if (!fault.faulted)
            return limit;
        if (fault.addr < from || fault.addr - from >= want)
            break;
        size_t upto = (size_t)(fault.addr - from);  // bytes before the fault
        done += copied < upto ? copied : upto;
        limit = (size_t)(fault.addr - src);
    }
    return done;
}
