#include "DiffList.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

void* SystemRealloc(void* block, size_t bytes)
{
    return std::realloc(block, bytes);
}

} // namespace

DiffList::DiffList(ReallocFn reallocate)
    : m_pfnRealloc(reallocate ? reallocate : SystemRealloc)
{
}

void DiffList::SetReallocator(ReallocFn reallocate)
{
    m_pfnRealloc = reallocate ? reallocate : SystemRealloc;
}

DiffList::~DiffList()
{
    std::free(m_pData);
}

void DiffList::Release()
{
    std::free(m_pData);
    m_pData = nullptr;
    m_nSize = 0;
    m_nCapacity = 0;
}

// Capacity grows by half (1, 2, 3, 4, 6, 9, 13, ...), and never past the
// largest count an int can report.
bool DiffList::Grow()
{
    if (m_nCapacity == INT_MAX)
        return false;
    int64_t capacity = int64_t(m_nCapacity) + m_nCapacity / 2;
    if (capacity < int64_t(m_nSize) + 1)
        capacity = int64_t(m_nSize) + 1;
    if (capacity > INT_MAX)
        capacity = INT_MAX;
    void* block = m_pfnRealloc(m_pData, size_t(capacity) * sizeof(DiffPoint));
    if (!block)
        return false;
    m_pData = static_cast<DiffPoint*>(block);
    m_nCapacity = int(capacity);
    return true;
}

void DiffList::ReverseRowOrder(int from)
{
    DiffPoint* const begin = m_pData + from;
    DiffPoint* const end = m_pData + m_nSize;
    if (end - begin < 2)
        return;
    std::reverse(begin, end);
    for (DiffPoint* run = begin; run != end;) {
        DiffPoint* next = run + 1;
        while (next != end && next->y == run->y)
            ++next;
        std::reverse(run, next);
        run = next;
    }
}
