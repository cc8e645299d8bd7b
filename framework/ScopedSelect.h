#pragma once

#include "Win32.h"

// Selects a GDI object into a device context for one scope and puts the
// previous one back when the scope ends, so that no bitmap or pen is still
// selected when its DC or the object itself is deleted.
class CScopedSelect
{
public:
    CScopedSelect(HDC dc, HGDIOBJ object) : m_hDC(dc), m_hPrevious(::SelectObject(dc, object)) {}
    ~CScopedSelect() { ::SelectObject(m_hDC, m_hPrevious); }
    CScopedSelect(const CScopedSelect&) = delete;
    CScopedSelect& operator=(const CScopedSelect&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hPrevious;
};
