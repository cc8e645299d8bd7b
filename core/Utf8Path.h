#pragma once

#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

// Paths travel through the program as UTF-8 bytes in a std::string, on
// every platform; these turn them into the file system's paths and back,
// and compare places.
inline std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Whether one path lies inside the other or is the same, links resolved.
inline bool Overlap(const std::string& a, const std::string& b)
{
    std::error_code ignored;
    const auto inside = [](const std::filesystem::path& inner, const std::filesystem::path& outer) {
        auto i = inner.begin();
        for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
            if (o->empty() && std::next(o) == outer.end())
                return true;  // the trailing separator of a folder name
            if (i == inner.end() || *i != *o)
                return false;
        }
        return true;
    };
    const auto x = std::filesystem::weakly_canonical(PathOf(a), ignored);
    const auto y = std::filesystem::weakly_canonical(PathOf(b), ignored);
    return inside(x, y) || inside(y, x);
}
