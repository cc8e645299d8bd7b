#include "Platform.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <vector>

namespace {

std::wstring Widen(const char* utf8)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(length > 0 ? size_t(length) : 1, L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

} // namespace

std::string Narrow(const wchar_t* wide)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(length > 0 ? size_t(length) : 1, '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

CMappedFile::~CMappedFile()
{
    if (m_pData)
        ::UnmapViewOfFile(m_pData);
    if (m_hMapping)
        ::CloseHandle(m_hMapping);
}

bool CMappedFile::Open(const char* path)
{
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size);
    if (ok && size.QuadPart > 0) {
        m_hMapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* data = m_hMapping ? ::MapViewOfFile(m_hMapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        ok = data != nullptr;
        if (ok) {
            m_pData = static_cast<const unsigned char*>(data);
            m_cbSize = uint64_t(size.QuadPart);
        }
    }
    ::CloseHandle(file);
    return ok;
}

FILE* OpenOutputFile(const char* path)
{
    return _wfopen(Widen(path).c_str(), L"wb");
}

void WriteErrorLine(const std::string& line)
{
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    if (::GetConsoleMode(error, &mode)) {
        // A console shows UTF-16; redirected output stays UTF-8 like everywhere else.
        const std::wstring wide = Widen((line + "\r\n").c_str());
        DWORD written;
        ::WriteConsoleW(error, wide.c_str(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

