#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// A regular file opened for reading by its UTF-16 path. Folders, devices and
// pipes are refused at open, so a loader never mistakes them for short files.
class CFileInput
{
public:
    CFileInput() = default;
    ~CFileInput();
    CFileInput(const CFileInput&) = delete;
    CFileInput& operator=(const CFileInput&) = delete;

    bool Open(const wchar_t* path);
    uint64_t Size() const { return m_cbSize; }

    // Reads up to `bytes`; fewer means the end of the file or a read error.
    size_t Read(void* buffer, size_t bytes);
    // Reads and discards `bytes`; false if the file ends first.
    bool Skip(uint64_t bytes);

private:
    FILE* m_pFile = nullptr;
    uint64_t m_cbSize = 0;
};

// Platform halves (FileInput_posix.cpp, FileInput_win.cpp).
FILE* OpenFileForReading(const wchar_t* path);
bool GetRegularFileSize(FILE* file, uint64_t& size);
