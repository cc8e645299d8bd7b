#include "FileInput.h"

CFileInput::~CFileInput()
{
    if (m_pFile)
        std::fclose(m_pFile);
}

bool CFileInput::Open(const wchar_t* path)
{
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    FILE* file = OpenFileForReading(path);
    if (!file)
        return false;
    if (!GetRegularFileSize(file, m_cbSize)) {
        std::fclose(file);
        return false;
    }
    m_pFile = file;
    return true;
}

size_t CFileInput::Read(void* buffer, size_t bytes)
{
    return m_pFile ? std::fread(buffer, 1, bytes, m_pFile) : 0;
}

bool CFileInput::Skip(uint64_t bytes)
{
    unsigned char scratch[4096];
    while (bytes > 0) {
        const size_t chunk = bytes < sizeof scratch ? size_t(bytes) : sizeof scratch;
        if (Read(scratch, chunk) != chunk)
            return false;
        bytes -= chunk;
    }
    return true;
}
