#include "Platform.h"

#include "Utf8Path.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <wincrypt.h>

#include <io.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// Text for the wide calls: the conversion the paths go through.
std::wstring Widen(const char* utf8)
{
    return PathOf(utf8).wstring();
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

std::string ResolveLinks(const char* path)
{
    return path;
}

void RemoveUnfinishedOutputsOnInterrupt()
{
}

uint64_t AvailableMemory()
{
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    // Under Wine, calls from two threads at once now and then report no
    // memory at all: that says nothing, and nothing is refused for it.
    if (!::GlobalMemoryStatusEx(&memory) || memory.ullAvailPhys == 0 || memory.ullAvailVirtual == 0)
        return UINT64_MAX;
    return std::min<uint64_t>(memory.ullAvailPhys, memory.ullAvailVirtual);
}

COutputFile::~COutputFile()
{
    Discard();
}

void COutputFile::Discard()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
        if (!m_temporary.empty())
            ::DeleteFileW(Widen(m_temporary.c_str()).c_str());
    }
}

bool COutputFile::Open(const char* path, const std::string& tempFolder)
{
    Discard();
    m_bFailed = false;
    m_path = path;
    m_temporary.clear();
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
    // A folder not there yet is made at the end when a temporary folder is given.
    const bool missing = error == ERROR_FILE_NOT_FOUND || (error == ERROR_PATH_NOT_FOUND && !tempFolder.empty());
    if (attributes == INVALID_FILE_ATTRIBUTES && !missing) {
        // Not a file name: a device such as NUL is written directly.
        m_pFile = _wfopen(Widen(path).c_str(), L"wb");
        return m_pFile != nullptr;
    }
    m_temporary = TemporaryName(m_path, tempFolder, std::to_string(::GetCurrentProcessId()), m_bMakeFolders);
    m_pFile = _wfopen(Widen(m_temporary.c_str()).c_str(), L"wbx");
    if (!m_pFile)
        m_temporary.clear();
    return m_pFile != nullptr;
}

bool COutputFile::Write(const void* data, size_t bytes)
{
    m_bFailed = m_bFailed || !m_pFile || std::fwrite(data, 1, bytes, m_pFile) != bytes;
    return !m_bFailed;
}

bool COutputFile::Commit()
{
    if (!m_pFile)
        return false;
    FILE* file = m_pFile;
    m_pFile = nullptr;
    bool ok = !m_bFailed && std::fflush(file) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (m_temporary.empty())
        return ok;
    const std::wstring temporary = Widen(m_temporary.c_str());
    if (ok && MakeFolders(m_path, m_bMakeFolders) && ::MoveFileExW(temporary.c_str(), Widen(m_path.c_str()).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
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

std::string Base64(const std::string& bytes)
{
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
    DWORD size = 0;
    if (bytes.size() > 0x3FFFFFFF || !CryptBinaryToStringA(data, DWORD(bytes.size()), flags, nullptr, &size))
        return {};
    std::string text(size, '\0');
    if (!CryptBinaryToStringA(data, DWORD(bytes.size()), flags, text.data(), &size))
        return {};
    text.resize(size);
    return text;
}
