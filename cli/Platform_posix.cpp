#include "Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <b64/cencode.h>
}

bool IsSameFile(const char* a, const char* b)
{
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string ResolveLinks(const char* path)
{
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* real = realpath(path, nullptr);
    if (!real)
        return {};
    std::string resolved = real;
    std::free(real);
    return resolved;
}

namespace {

// The unfinished outputs, for the interrupt handler: it may only read what
// was published here whole, and only call unlink.
constexpr int c_nOutputSlots = 256;
std::atomic<const char*> s_unfinished[c_nOutputSlots];

int Publish(const char* temporary)
{
    for (int slot = 0; slot < c_nOutputSlots; ++slot) {
        const char* empty = nullptr;
        if (s_unfinished[slot].compare_exchange_strong(empty, temporary))
            return slot;
    }
    return -1;
}

void Withdraw(int slot)
{
    if (slot >= 0)
        s_unfinished[slot].store(nullptr);
}

void OnInterrupt(int signal)
{
    for (auto& slot : s_unfinished) {
        if (const char* temporary = slot.load())
            unlink(temporary);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void RemoveUnfinishedOutputsOnInterrupt()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that goes away, or a file size limit reached, is a write
    // error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
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
            unlink(m_temporary.c_str());
    }
    Withdraw(m_nSlot);
    m_nSlot = -1;
}

bool COutputFile::Open(const char* path, const std::string& tempFolder)
{
    Discard();
    m_bFailed = false;
    m_path = ResolveLinks(path);
    m_temporary.clear();
    if (m_path.empty())
        return false;

    struct stat info;
    const bool exists = lstat(m_path.c_str(), &info) == 0;
    if (exists && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) || S_ISFIFO(info.st_mode))) {
        // Written in place: a pipe without a reader fails here at once
        // (ENXIO) instead of waiting for one.
        const int fd = open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        if (fcntl(fd, F_SETFL, 0) != 0 || !(m_pFile = fdopen(fd, "wb"))) {
            close(fd);
            return false;
        }
        return true;
    }
    if (exists ? !S_ISREG(info.st_mode) : errno != ENOENT)
        return false;

    // Published before it exists, so that no interrupt can fall between
    // its creation and the handler knowing of it.
    m_temporary = TemporaryName(m_path, tempFolder, std::to_string(getpid()), m_bMakeFolders);
    m_nSlot = Publish(m_temporary.c_str());
    const int fd = open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 && !(m_pFile = fdopen(fd, "wb"))) {
        close(fd);
        unlink(m_temporary.c_str());
    }
    if (!m_pFile) {
        Withdraw(m_nSlot);
        m_nSlot = -1;
        m_temporary.clear();
        return false;
    }
    return true;
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
    const bool direct = m_temporary.empty();
    bool ok = !m_bFailed && std::fflush(file) == 0 && (direct || fsync(fileno(file)) == 0);
    ok = std::fclose(file) == 0 && ok;
    if (!direct) {
        ok = ok && MakeFolders(m_path, m_bMakeFolders);
        ok = ok && rename(m_temporary.c_str(), m_path.c_str()) == 0;
        if (!ok)
            unlink(m_temporary.c_str());
    }
    Withdraw(m_nSlot);
    m_nSlot = -1;
    return ok;
}

namespace {

uint64_t ReadNumber(const std::string& path)
{
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max")
        return UINT64_MAX;
    return std::strtoull(text.c_str(), nullptr, 10);
}

// Room left under a limit and its usage read from two files; no limit where
// the files are missing.
uint64_t Room(const std::string& limitFile, const std::string& usageFile)
{
    const uint64_t limit = ReadNumber(limitFile);
    if (limit == UINT64_MAX)
        return UINT64_MAX;
    const uint64_t used = ReadNumber(usageFile);
    return used == UINT64_MAX ? limit : used < limit ? limit - used : 0;
}

} // namespace

uint64_t ControlGroupRoom(const std::string& groupsText, const std::string& mountRoot)
{
    uint64_t room = UINT64_MAX;
    std::istringstream groups(groupsText);
    for (std::string line; std::getline(groups, line);) {
        std::string root, limit, usage;
        const size_t colon = line.find(':'), second = line.find(':', colon + 1);
        if (colon == std::string::npos || second == std::string::npos)
            continue;
        const std::string controllers = line.substr(colon + 1, second - colon - 1);
        std::string path = line.substr(second + 1);
        if (controllers.empty())
            root = mountRoot, limit = "/memory.max", usage = "/memory.current";
        else if (("," + controllers + ",").find(",memory,") != std::string::npos)
            root = mountRoot + "/memory", limit = "/memory.limit_in_bytes", usage = "/memory.usage_in_bytes";
        else
            continue;
        // Every level counts; inside a namespace the group is the mount's root.
        for (;;) {
            room = std::min(room, Room(root + path + limit, root + path + usage));
            if (path.empty() || path == "/")
                break;
            path.erase(path.rfind('/'));
        }
    }
    return room;
}

namespace {

uint64_t MachineRoom()
{
    std::ifstream info("/proc/meminfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("MemAvailable:", 0) == 0)
            return std::strtoull(line.c_str() + 13, nullptr, 10) * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : UINT64_MAX;
}

uint64_t AddressSpaceRoom()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UINT64_MAX;
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    const uint64_t used = pages * uint64_t(sysconf(_SC_PAGESIZE));
    return used < limit.rlim_cur ? limit.rlim_cur - used : 0;
}

} // namespace

uint64_t AvailableMemory()
{
    std::ifstream groups("/proc/self/cgroup");
    std::stringstream text;
    text << groups.rdbuf();
    return std::min({MachineRoom(), ControlGroupRoom(text.str(), "/sys/fs/cgroup"), AddressSpaceRoom()});
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

std::string Base64(const std::string& bytes)
{
    // libb64 takes an int's worth at a time and breaks lines every 72
    // characters; the breaks are taken out.
    constexpr size_t c_cbPiece = 3 << 20;
    std::string text;
    std::string piece(c_cbPiece / 3 * 4 + c_cbPiece / 54 + 16, '\0');
    base64_encodestate state;
    base64_init_encodestate(&state);
    for (size_t at = 0; at < bytes.size(); at += c_cbPiece) {
        const size_t count = std::min(c_cbPiece, bytes.size() - at);
        const int written = base64_encode_block(bytes.data() + at, int(count), piece.data(), &state);
        text.append(piece.data(), size_t(written));
    }
    const int last = base64_encode_blockend(piece.data(), &state);
    text.append(piece.data(), size_t(last));
    std::erase(text, '\n');
    return text;
}
