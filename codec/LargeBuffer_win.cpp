#include "LargeBuffer.h"

#include <windows.h>

void LargeBufferFree::operator()(uint8_t* buffer) const
{
    if (buffer)
        VirtualFree(buffer, 0, MEM_RELEASE);
}

LargeBuffer AllocateLargeBuffer(size_t bytes)
{
    // Straight from the system, in pages of its own: nothing of the heap's
    // is fragmented by a buffer of several megabytes.
    return LargeBuffer(static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
}
