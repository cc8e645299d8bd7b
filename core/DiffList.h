#pragma once

#include <cstddef>
#include <cstdint>

// One differing pixel; y counts from the top row of the picture.
struct DiffPoint
{
    uint16_t x;
    uint16_t y;
};

static_assert(sizeof(DiffPoint) == 4, "a difference record is two 16-bit numbers");

// The growable array of differences. Its storage survives Clear, so scanning
// the same pair again allocates nothing unless the list gets longer than ever.
class DiffList
{
public:
    using ReallocFn = void* (*)(void* block, size_t bytes);

    // `reallocate` lets tests stand in for the allocator; it must behave like
    // realloc, returning null and keeping the old block on failure.
    explicit DiffList(ReallocFn reallocate = nullptr);
    ~DiffList();
    DiffList(const DiffList&) = delete;
    DiffList& operator=(const DiffList&) = delete;

    // Replaces the allocator for later growth; tests make growth fail with it.
    void SetReallocator(ReallocFn reallocate);

    void Clear() { m_nSize = 0; }
    void Release();

    // False when the storage cannot grow; the list is unchanged then.
    bool Append(DiffPoint point)
    {
        if (m_nSize == m_nCapacity && !Grow())
            return false;
        m_pData[m_nSize++] = point;
        return true;
    }

    // The records from `from` on were appended bottom row first: puts them
    // top row first, keeping the left-to-right order within each row.
    void ReverseRowOrder(int from);

    int Size() const { return m_nSize; }
    int Capacity() const { return m_nCapacity; }
    const DiffPoint& operator[](int index) const { return m_pData[index]; }
    const DiffPoint* Data() const { return m_pData; }

private:
    bool Grow();

    DiffPoint* m_pData = nullptr;
    int m_nSize = 0;
    int m_nCapacity = 0;
    ReallocFn m_pfnRealloc;
};
