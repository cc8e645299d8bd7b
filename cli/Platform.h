#pragma once

// The command-line comparer's calls into the operating system, one file per
// platform (Platform_posix.cpp, Platform_win.cpp). Paths are UTF-8.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// The bytes of a whole regular file, mapped read-only (POSIX) or read into
// memory (Windows). A mapped file can shrink while it is mapped: read its
// bytes only inside RunGuarded.
class CFileBytes
{
public:
    CFileBytes() = default;
    ~CFileBytes();
    CFileBytes(const CFileBytes&) = delete;
    CFileBytes& operator=(const CFileBytes&) = delete;

    // False for a missing or unreadable file and for anything but a regular
    // file (folders, devices and named pipes are refused without waiting).
    bool Open(const char* path);
    const unsigned char* Data() const { return m_pData; }
    uint64_t Size() const { return m_cbSize; }

private:
    const unsigned char* m_pData = nullptr;
    uint64_t m_cbSize = 0;
    bool m_bMapped = false;
};

// Runs `work`, which reads mapped files; false, with the work cut short, if
// a file shrank under it and its pages went away. The work must own nothing
// that needs destroying when it is cut short.
bool RunGuarded(const std::function<void()>& work);

// Whether two paths name the same existing file (also through links).
bool IsSameFile(const char* a, const char* b);

// A file written beside its final name and put in place whole, or not at all.
class COutputFile
{
public:
    COutputFile() = default;
    ~COutputFile();  // removes the unfinished file
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    bool Open(const char* path);
    bool Write(const void* data, size_t bytes)
    {
        m_bFailed = m_bFailed || std::fwrite(data, 1, bytes, m_pFile) != bytes;
        return !m_bFailed;
    }
    // Flushes, closes and renames onto the final name; false if any write failed.
    bool Commit();

private:
    FILE* m_pFile = nullptr;
    std::string m_path;
    std::string m_temporary;
    bool m_bFailed = false;
};

bool IsTerminal(FILE* stream);

// One line of text for the user on standard error, shown correctly on a
// Windows console too.
void WriteErrorLine(const std::string& line);

#ifdef _WIN32
// UTF-8 from the UTF-16 of a Windows argument.
std::string Narrow(const wchar_t* wide);
#endif
