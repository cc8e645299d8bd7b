#include "LargeBuffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

constexpr size_t c_cbLargePage = 2 << 20;

} // namespace

void LargeBufferFree::operator()(uint8_t* buffer) const
{
    std::free(buffer);
}

LargeBuffer AllocateLargeBuffer(size_t bytes)
{
    const size_t rounded = (bytes + c_cbLargePage - 1) / c_cbLargePage * c_cbLargePage;
    void* buffer = rounded >= bytes ? std::aligned_alloc(c_cbLargePage, rounded) : nullptr;
#ifdef MADV_HUGEPAGE
    if (buffer)
        madvise(buffer, rounded, MADV_HUGEPAGE);  // a wish: without large pages the buffer works the same
#endif
    return LargeBuffer(static_cast<uint8_t*>(buffer));
}
