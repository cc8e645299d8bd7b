#include "InputFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mapped inputs, for the bus-error handler: a range whose pages it may
// replace, and whether it had to.
struct GuardedRange
{
    std::atomic<uintptr_t> start{0};
    std::atomic<size_t> length{0};
    std::atomic<bool> lost{false};
};

constexpr int c_nGuardedRanges = 256;
GuardedRange s_guarded[c_nGuardedRanges];
std::atomic<bool> s_bGuardInstalled{false};

// A file cut short under its mapping: the access past its new end faults.
// The rest of that mapping becomes zeros and the file is marked as changed;
// the access then runs again, and the reader finishes and reports trouble.
// Anywhere else a bus error is the fault it is.
void OnBusError(int signal, siginfo_t* info, void*)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardedRange& range : s_guarded) {
        const uintptr_t start = range.start.load();
        const size_t length = range.length.load();
        if (start == 0 || address < start || address - start >= length)
            continue;
        const uintptr_t page = address & ~uintptr_t(sysconf(_SC_PAGESIZE) - 1);
        if (mmap(reinterpret_cast<void*>(page), start + length - page, PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            range.lost.store(true);
            return;
        }
        break;
    }
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

} // namespace

void GuardMappedInputs()
{
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, nullptr) == 0)
        s_bGuardInstalled.store(true);
}

CInputFile::~CInputFile()
{
    if (m_pMapped) {
        GuardedRange& range = s_guarded[m_nGuardSlot];
        range.start.store(0);
        munmap(const_cast<uint8_t*>(m_pMapped), size_t(m_cbSize));
    }
    if (m_fd >= 0)
        close(m_fd);
}

const uint8_t* CInputFile::Map()
{
    if (m_pMapped || !s_bGuardInstalled.load() || m_cbSize == 0 || m_cbSize > SIZE_MAX)
        return m_pMapped;
    for (int slot = 0; slot < c_nGuardedRanges && m_nGuardSlot < 0; ++slot) {
        uintptr_t free = 0;
        // Claimed with a placeholder; the real range follows once mapped.
        if (s_guarded[slot].start.compare_exchange_strong(free, 1))
            m_nGuardSlot = slot;
    }
    if (m_nGuardSlot < 0)
        return nullptr;
    GuardedRange& range = s_guarded[m_nGuardSlot];
    void* data = mmap(nullptr, size_t(m_cbSize), PROT_READ, MAP_PRIVATE | MAP_POPULATE, m_fd, 0);
    if (data == MAP_FAILED) {
        range.start.store(0);
        m_nGuardSlot = -1;
        return nullptr;
    }
    range.lost.store(false);
    range.length.store(size_t(m_cbSize));
    range.start.store(reinterpret_cast<uintptr_t>(data));
    m_pMapped = static_cast<const uint8_t*>(data);
    return m_pMapped;
}

bool CInputFile::Open(const char* path)
{
    if (m_pMapped || m_fd >= 0)
        return false;
    // Without waiting: a named pipe with no writer is refused, not waited on.
    m_fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    struct stat info;
    if (fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
    m_cbSize = uint64_t(info.st_size);
    m_nWriteSeconds = int64_t(info.st_mtim.tv_sec);
    m_nWriteNanoseconds = info.st_mtim.tv_nsec;
    return true;
}

bool CInputFile::ReadAt(uint64_t offset, void* buffer, size_t bytes) const
{
    auto* to = static_cast<unsigned char*>(buffer);
    while (bytes > 0) {
        const ssize_t got = pread(m_fd, to, bytes, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        offset += uint64_t(got);
        bytes -= size_t(got);
    }
    return true;
}

bool CInputFile::Unchanged() const
{
    if (m_pMapped && s_guarded[m_nGuardSlot].lost.load())
        return false;
    struct stat info;
    return fstat(m_fd, &info) == 0 && uint64_t(info.st_size) == m_cbSize && info.st_nlink > 0 &&
           int64_t(info.st_mtim.tv_sec) == m_nWriteSeconds && info.st_mtim.tv_nsec == m_nWriteNanoseconds;
}
