#pragma once

// Buffers of several megabytes that are written once from end to end, one
// file per platform (LargeBuffer_posix.cpp). Where the system has large
// pages, such a buffer takes a few of them instead of a fault for every
// four kilobytes, which cost more than filling them.

#include <cstddef>
#include <cstdint>
#include <memory>

struct LargeBufferFree
{
    void operator()(uint8_t* buffer) const;
};
using LargeBuffer = std::unique_ptr<uint8_t[], LargeBufferFree>;

// `bytes` bytes, not cleared; null when there is not the memory.
LargeBuffer AllocateLargeBuffer(size_t bytes);
