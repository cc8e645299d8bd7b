#include "Platform.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>

#include <cstdlib>
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

CFileBytes::~CFileBytes()
{
    std::free(const_cast<unsigned char*>(m_pData));
}

// Read whole rather than mapped: a mapped file that another program (under
// Wine, a Linux one) cuts short would fault in the middle of the scan.
bool CFileBytes::Open(const char* path)
{
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size);
    if (ok && size.QuadPart > 0) {
        auto* data = static_cast<unsigned char*>(std::malloc(size_t(size.QuadPart)));
        uint64_t done = 0;
        while (data && done < uint64_t(size.QuadPart)) {
            const DWORD chunk = DWORD(std::min<uint64_t>(uint64_t(size.QuadPart) - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(file, data + done, chunk, &got, nullptr) || got == 0)
                break;
            done += got;
        }
        ok = data && done == uint64_t(size.QuadPart);
        if (ok) {
            m_pData = data;
            m_cbSize = done;
        } else {
            std::free(data);
        }
    }
    ::CloseHandle(file);
    return ok;
}

bool RunGuarded(const std::function<void()>& work)
{
    work();
    return true;
}

bool IsSameFile(const char* a, const char* b)
{
    const auto identity = [](const char* path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE file = ::CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        const bool ok = ::GetFileInformationByHandle(file, &info);
        ::CloseHandle(file);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION first, second;
    return identity(a, first) && identity(b, second) && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

COutputFile::~COutputFile()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        ::DeleteFileW(Widen(m_temporary.c_str()).c_str());
    }
}

bool COutputFile::Open(const char* path)
{
    m_path = path;
    m_temporary = m_path + ".tmp-" + std::to_string(::GetCurrentProcessId());
    m_pFile = _wfopen(Widen(m_temporary.c_str()).c_str(), L"wbx");
    return m_pFile != nullptr;
}

bool COutputFile::Commit()
{
    FILE* file = m_pFile;
    m_pFile = nullptr;
    const bool written = !m_bFailed && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    const std::wstring temporary = Widen(m_temporary.c_str());
    if (written && closed &&
        ::MoveFileExW(temporary.c_str(), Widen(m_path.c_str()).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileW(temporary.c_str());
    return false;
}

bool IsTerminal(FILE* stream)
{
    DWORD mode;
    return ::GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode);
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
