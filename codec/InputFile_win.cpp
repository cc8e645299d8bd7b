#include "InputFile.h"

#include "Utf8Path.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

CInputFile::~CInputFile()
{
    if (m_hFile)
        ::CloseHandle(m_hFile);
}

namespace {

uint64_t LastWrite(const BY_HANDLE_FILE_INFORMATION& info)
{
    return uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
}

uint64_t FileSize(const BY_HANDLE_FILE_INFORMATION& info)
{
    return uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

} // namespace

bool CInputFile::Open(const char* path)
{
    if (m_hFile)
        ::CloseHandle(m_hFile);
    m_hFile = nullptr;
    HANDLE file = ::CreateFileW(PathOf(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(file);
        return false;
    }
    m_hFile = file;
    m_cbSize = FileSize(info);
    m_nWriteTime = LastWrite(info);
    return true;
}

bool CInputFile::ReadAt(uint64_t offset, void* buffer, size_t bytes) const
{
    auto* to = static_cast<unsigned char*>(buffer);
    while (bytes > 0) {
        // The offset travels with each read, so threads can share the handle.
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        const DWORD chunk = DWORD(std::min<size_t>(bytes, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(m_hFile, to, chunk, &got, &at) || got == 0)
            return false;
        to += got;
        offset += got;
        bytes -= got;
    }
    return true;
}

const uint8_t* CInputFile::Map()
{
    // A mapped view of a file that another program cuts short faults under
    // Wine and Windows alike, with no page to put in its place: read instead.
    return nullptr;
}

bool CInputFile::Unchanged() const
{
    BY_HANDLE_FILE_INFORMATION info;
    return ::GetFileInformationByHandle(m_hFile, &info) && FileSize(info) == m_cbSize &&
           LastWrite(info) == m_nWriteTime && info.nNumberOfLinks > 0;
}

void GuardMappedInputs()
{
}
