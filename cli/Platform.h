#pragma once

// The command-line comparer's calls into the operating system, one file per
// platform (Platform_posix.cpp, Platform_win.cpp). Paths are UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "InputFile.h"

// Whether two paths name the same existing file (also through links).
bool IsSameFile(const char* a, const char* b);

// The output's real place: a path through symbolic links to the file they
// name, the path itself otherwise. Empty when a link leads nowhere.
std::string ResolveLinks(const char* path);

// An output file. A regular file (or a name not taken yet) is written beside
// its final name and renamed into place whole, or not at all; a symbolic
// link is followed to the file it names, which is replaced and the link
// kept; a device or named pipe is written directly (a pipe without a reader
// is refused at once). Anything else (a folder, a socket) is refused.
class COutputFile
{
public:
    COutputFile() = default;
    ~COutputFile();  // removes the unfinished file
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // With `tempFolder`, a file whose folder is not there yet is written in
    // that folder, and its folders are made only when it is put in place.
    bool Open(const char* path, const std::string& tempFolder = {});
    bool Write(const void* data, size_t bytes);
    // Flushes, closes and puts the file in place; false if any write failed.
    bool Commit();

private:
    void Discard();

    FILE* m_pFile = nullptr;
    std::string m_path;
    std::string m_temporary;  // empty when writing the target directly
    bool m_bMakeFolders = false;
    int m_nSlot = -1;         // where the interrupt handler finds m_temporary
    bool m_bFailed = false;
};

// Where an output is written before it is put in place: beside it, named
// for the `process`, or in `tempFolder` while its own folder is not there
// (then `makeFolders`). The same on every platform (OutputPlace.cpp).
std::string TemporaryName(const std::string& path, const std::string& tempFolder, const std::string& process,
                          bool& makeFolders);
// Makes the folders of `path` when `makeFolders`; false when that fails.
bool MakeFolders(const std::string& path, bool makeFolders);

// Has an interrupt or termination remove the unfinished output files before
// the process ends as the signal says. Called once by main.
void RemoveUnfinishedOutputsOnInterrupt();

// The memory this process can still take: what the machine has available,
// within a container's limit and the process's own address-space limit.
uint64_t AvailableMemory();

#ifndef _WIN32
// The tightest room (limit less usage) of the memory control groups that
// `groupsText` lists (as /proc/self/cgroup does: version 2's "0::PATH" and
// version 1's memory controller), at every level of their paths under
// `mountRoot`; UINT64_MAX where none sets a limit.
uint64_t ControlGroupRoom(const std::string& groupsText, const std::string& mountRoot);
#endif

bool IsTerminal(FILE* stream);

// One line of text for the user on standard error, shown correctly on a
// Windows console too.
void WriteErrorLine(const std::string& line);

#ifdef _WIN32
// UTF-8 from the UTF-16 of a Windows argument.
std::string Narrow(const wchar_t* wide);
#endif

// `bytes` in base64, on one line.
std::string Base64(const std::string& bytes);
