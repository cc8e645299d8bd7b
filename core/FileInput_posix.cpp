#include "FileInput.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// wchar_t is UTF-32 here; file names go to the system as UTF-8.
bool AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c < 0xE000)
            return false;
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        return false;
    }
    return true;
}

} // namespace

FILE* OpenFileForReading(const wchar_t* path)
{
    std::string utf8;
    for (const wchar_t* p = path; *p; ++p) {
        if (!AppendUtf8(utf8, char32_t(*p)))
            return nullptr;
    }
    // Opened without waiting, so that a named pipe with no writer is refused
    // at once instead of blocking the open; only regular files go on.
    const int fd = open(utf8.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file)
        close(fd);
    return file;
}

bool GetRegularFileSize(FILE* file, uint64_t& size)
{
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = uint64_t(info.st_size);
    return true;
}
