#pragma once

// Drives tobrel.exe as a separate process, the way a user's input reaches
// it: windows found by class and caption, messages sent to them, and memory
// in Tobrel's process for the messages that carry pointers.

#include "Win32.h"

#include <functional>
#include <string>
#include <vector>

class CTobrelProcess
{
public:
    // Starts tobrel.exe from this program's folder in `folder`, where the
    // open dialog then starts (the folder it remembers is forgotten first).
    explicit CTobrelProcess(const std::wstring& folder);
    ~CTobrelProcess();  // ends the process if it still runs
    CTobrelProcess(const CTobrelProcess&) = delete;
    CTobrelProcess& operator=(const CTobrelProcess&) = delete;

    bool Started() const { return m_hMain != nullptr; }
    HWND Main() const { return m_hMain; }
    DWORD ProcessId() const { return m_process.dwProcessId; }

    // The visible top-level windows of the process with this class (and
    // caption, unless null).
    std::vector<HWND> Windows(const wchar_t* className, const wchar_t* caption = nullptr) const;
    // The two image windows, in creation order (the first file's first).
    std::vector<HWND> ImageWindows() const;
    // File > Open's dialog once it is up, or null after the wait.
    HWND OpenDialog() const;
    // Types `names` into the open dialog's name box and presses Open.
    bool AnswerOpenDialog(const std::wstring& names) const;

    // Texts that live behind pointers, read through Tobrel's memory.
    std::wstring ListRow(int row) const;
    std::wstring StatusText(HWND imageWindow) const;
    void SelectRow(int row) const;

    // Waits for the process to end; its exit code, or -1 on time-out.
    int WaitForExit(DWORD timeoutMs);

private:
    // A block of Tobrel's memory, freed with the object.
    class CRemoteBlock
    {
    public:
        CRemoteBlock(HANDLE process, size_t bytes);
        ~CRemoteBlock();
        void* Address() const { return m_pAddress; }
        bool Write(const void* data, size_t bytes, size_t offset = 0) const;
        bool Read(void* data, size_t bytes, size_t offset = 0) const;

    private:
        HANDLE m_hProcess;
        void* m_pAddress;
    };

    PROCESS_INFORMATION m_process = {};
    HWND m_hMain = nullptr;
};

std::wstring WindowTextOf(HWND hwnd);
// Pumps nothing (the windows are another process's): polls `done` until it
// holds or the time is up.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 10000);
