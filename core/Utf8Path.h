#pragma once

#include <filesystem>
#include <string>

// Paths travel through the program as UTF-8 bytes in a std::string, on
// every platform; these turn them into the file system's paths and back.
inline std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
