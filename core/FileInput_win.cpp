#include "FileInput.h"

#include <sys/stat.h>

FILE* OpenFileForReading(const wchar_t* path)
{
    return _wfopen(path, L"rb");
}

bool GetRegularFileSize(FILE* file, uint64_t& size)
{
    struct _stat64 info;
    if (_fstat64(_fileno(file), &info) != 0 || !(info.st_mode & _S_IFREG))
        return false;
    size = uint64_t(info.st_size);
    return true;
}
