#include "Platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

CMappedFile::~CMappedFile()
{
    if (m_pData)
        munmap(const_cast<unsigned char*>(m_pData), size_t(m_cbSize));
}

bool CMappedFile::Open(const char* path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && info.st_size > 0) {
        void* data = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        ok = data != MAP_FAILED;
        if (ok) {
            m_pData = static_cast<const unsigned char*>(data);
            m_cbSize = uint64_t(info.st_size);
        }
    }
    close(fd);
    return ok;
}

FILE* OpenOutputFile(const char* path)
{
    return std::fopen(path, "wb");
}

void WriteErrorLine(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
}

