#include "Platform.h"

#include <csetjmp>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

CFileBytes::~CFileBytes()
{
    if (m_bMapped)
        munmap(const_cast<unsigned char*>(m_pData), size_t(m_cbSize));
}

bool CFileBytes::Open(const char* path)
{
    // Without waiting: a named pipe with no writer is refused, not waited on.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
            m_bMapped = true;
        }
    }
    close(fd);
    return ok;
}

namespace {

thread_local sigjmp_buf* t_pGuard = nullptr;

// A mapped file that shrank: the access behind its new end raises SIGBUS.
// Inside RunGuarded that ends the work; anywhere else it is the fault it is.
void OnBusError(int signal)
{
    if (sigjmp_buf* guard = t_pGuard)
        siglongjmp(*guard, 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

bool RunGuarded(const std::function<void()>& work)
{
    static const bool s_bInstalled = [] {
        struct sigaction action = {};
        action.sa_handler = OnBusError;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    (void)s_bInstalled;
    sigjmp_buf guard;
    sigjmp_buf* const outer = t_pGuard;
    if (sigsetjmp(guard, 1)) {
        t_pGuard = outer;
        return false;
    }
    t_pGuard = &guard;
    work();
    t_pGuard = outer;
    return true;
}

bool IsSameFile(const char* a, const char* b)
{
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

COutputFile::~COutputFile()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        unlink(m_temporary.c_str());
    }
}

bool COutputFile::Open(const char* path)
{
    m_path = path;
    m_temporary = m_path + ".tmp-" + std::to_string(getpid());
    const int fd = open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    m_pFile = fdopen(fd, "wb");
    if (!m_pFile) {
        close(fd);
        unlink(m_temporary.c_str());
    }
    return m_pFile != nullptr;
}

bool COutputFile::Commit()
{
    FILE* file = m_pFile;
    m_pFile = nullptr;
    const bool written = !m_bFailed && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    if (written && closed && rename(m_temporary.c_str(), m_path.c_str()) == 0)
        return true;
    unlink(m_temporary.c_str());
    return false;
}

bool IsTerminal(FILE* stream)
{
    return isatty(fileno(stream));
}

void WriteErrorLine(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}
