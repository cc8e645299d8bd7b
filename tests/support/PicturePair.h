#pragma once

// The pair the window tests compare: a 6 x 4 gradient, and the same with
// three pixels changed: (4, 0) by +40 in red, (1, 2) by -12 in green, (5, 3)
// by +3 in blue. At tolerance 1 all three differ, at 12 two, above 40 none.

#include "BmpBuilder.h"

#include <string>

inline Rgb Base(int x, int y)
{
    return {uint8_t(30 + 20 * x), uint8_t(60 + 25 * y), uint8_t(100 + x + y)};
}

inline Rgb Changed(int x, int y)
{
    Rgb c = Base(x, y);
    if (x == 4 && y == 0)
        c.r = uint8_t(c.r + 40);
    if (x == 1 && y == 2)
        c.g = uint8_t(c.g - 12);
    if (x == 5 && y == 3)
        c.b = uint8_t(c.b + 3);
    return c;
}

// The status bar's text for pixel (x, y) of colour c.
inline std::wstring ColourText(int x, int y, const Rgb& c)
{
    return L"XY=(" + std::to_wstring(x) + L", " + std::to_wstring(y) + L"), RGB=(" + std::to_wstring(c.r) + L", " +
           std::to_wstring(c.g) + L", " + std::to_wstring(c.b) + L")";
}
