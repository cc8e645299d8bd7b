#pragma once

// Reading an input file, one file per platform (InputFile_posix.cpp,
// InputFile_win.cpp). Paths are UTF-8.

#include <cstddef>
#include <cstdint>

// A regular file opened for reading at any offset, from any thread, or
// mapped whole where the platform lets a mapping be guarded: a file cut
// short, grown or rewritten while it is read gives a failed read or a
// changed file, never a fault.
class CInputFile
{
public:
    CInputFile() = default;
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // False for a missing or unreadable file and for anything but a regular
    // file (folders, devices and named pipes are refused without waiting).
    // An object opens one file.
    bool Open(const char* path);
    uint64_t Size() const { return m_cbSize; }

    // Reads exactly `bytes` from `offset`; false when the file ends first or
    // cannot be read.
    bool ReadAt(uint64_t offset, void* buffer, size_t bytes) const;
    // The whole file mapped read-only, or null: on Windows, before
    // GuardMappedInputs, or when it cannot be mapped. Pages that the file
    // loses while mapped read as zeros, and the file no longer counts as
    // unchanged.
    const uint8_t* Map();
    // Whether the file is still the one opened: same size, same time of the
    // last write, still linked in its folder, and none of it lost while mapped.
    bool Unchanged() const;

private:
#ifdef _WIN32
    void* m_hFile = nullptr;
    uint64_t m_nWriteTime = 0;
#else
    int m_fd = -1;
    int64_t m_nWriteSeconds = 0;
    long m_nWriteNanoseconds = 0;
    const uint8_t* m_pMapped = nullptr;
    int m_nGuardSlot = -1;
#endif
    uint64_t m_cbSize = 0;
};

// Lets CInputFile map files: a page a mapped file loses (it was cut short
// meanwhile) is replaced with zeros where the access faults, and the file is
// marked as changed, so the reader goes on to its end and reports trouble.
// No jump, nothing skipped. Called once by main; without it files are read.
void GuardMappedInputs();

