#pragma once

// The command-line comparer's few calls into the operating system, one file
// per platform (Platform_posix.cpp, Platform_win.cpp). Paths are UTF-8.

#include <cstdint>
#include <cstdio>
#include <string>

// A whole file mapped read-only into memory.
class CMappedFile
{
public:
    CMappedFile() = default;
    ~CMappedFile();
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    // False for a missing or unreadable file and for anything but a regular file.
    bool Open(const char* path);
    const unsigned char* Data() const { return m_pData; }
    uint64_t Size() const { return m_cbSize; }

private:
    const unsigned char* m_pData = nullptr;
    uint64_t m_cbSize = 0;
    [[maybe_unused]] void* m_hMapping = nullptr;  // the Windows mapping object
};

FILE* OpenOutputFile(const char* path);

// UTF-8 from the UTF-16 of a Windows argument.
#ifdef _WIN32
std::string Narrow(const wchar_t* wide);
#endif

// One line of text for the user on standard error, shown correctly on a
// Windows console too.
void WriteErrorLine(const std::string& line);
