#include "TobrelProcess.h"

#include "resource.h"

#include <dlgs.h>

#include <algorithm>
#include <filesystem>

namespace {

std::filesystem::path ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

} // namespace

// GetWindowTextW does not ask another process's controls (an edit keeps its
// text to itself); WM_GETTEXT is carried across processes.
std::wstring WindowTextOf(HWND hwnd)
{
    wchar_t text[1024] = {};
    DWORD_PTR ignored;
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, ARRAYSIZE(text), AsLParam(text), SMTO_ABORTIFHUNG, 5000, &ignored);
    return text;
}

namespace {

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, ARRAYSIZE(name));
    return name;
}

} // namespace

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs)
            return false;
        // Another process does the work; a short wait between looks.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

CTobrelProcess::CTobrelProcess(const std::wstring& folder)
{
    // The open dialog starts in the folder it last showed for this program,
    // if the registry remembers one; it should start in `folder`.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32");

    const std::wstring command = L"\"" + (ProgramFolder() / L"tobrel.exe").wstring() + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                          &m_process))
        return;
    // Ready once the main window has made both (hidden) image windows.
    WaitFor([this] {
        const auto found = Windows(L"#32770", L"Tobrel");
        m_hMain = found.empty() ? nullptr : found[0];
        int images = 0;
        for (HWND hwnd = ::GetWindow(::GetDesktopWindow(), GW_CHILD); m_hMain && hwnd;
             hwnd = ::GetWindow(hwnd, GW_HWNDNEXT))
            images += ::GetWindow(hwnd, GW_OWNER) == m_hMain && ::FindWindowExW(hwnd, nullptr, L"ClientView", nullptr);
        return images == 2;
    });
    if (!m_hMain || !::GetMenu(m_hMain))
        m_hMain = nullptr;
}

CTobrelProcess::~CTobrelProcess()
{
    if (m_process.hProcess) {
        if (::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(m_process.hProcess, 99);
        ::CloseHandle(m_process.hProcess);
        ::CloseHandle(m_process.hThread);
    }
}

std::vector<HWND> CTobrelProcess::Windows(const wchar_t* className, const wchar_t* caption) const
{
    struct Search
    {
        const CTobrelProcess* self;
        const wchar_t* className;
        const wchar_t* caption;
        std::vector<HWND> found;
    } search{this, className, caption, {}};
    ::EnumWindows([](HWND hwnd, LPARAM lParam) {
        auto* s = AsPointer<Search>(lParam);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        if (pid == s->self->m_process.dwProcessId && ::IsWindowVisible(hwnd) && ClassOf(hwnd) == s->className &&
            (!s->caption || WindowTextOf(hwnd) == s->caption))
            s->found.push_back(hwnd);
        return TRUE;
    }, AsLParam(&search));
    return search.found;
}

// The image windows are the dialogs owned by the main window with a client
// view inside; hidden ones count too.
std::vector<HWND> CTobrelProcess::ImageWindows() const
{
    std::vector<HWND> found;
    for (HWND hwnd = ::GetWindow(::GetDesktopWindow(), GW_CHILD); hwnd; hwnd = ::GetWindow(hwnd, GW_HWNDNEXT)) {
        if (::GetWindow(hwnd, GW_OWNER) == m_hMain && m_hMain && ::FindWindowExW(hwnd, nullptr, L"ClientView", nullptr) &&
            ::IsWindowVisible(hwnd))
            found.push_back(hwnd);
    }
    // Z order puts the last shown first; creation order follows the caption
    // positions: the second stands 50 pixels right of the first.
    std::sort(found.begin(), found.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        ::GetWindowRect(a, &ra);
        ::GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return found;
}

HWND CTobrelProcess::OpenDialog() const
{
    HWND found = nullptr;
    WaitFor([&] {
        for (HWND hwnd : Windows(L"#32770")) {
            if (::GetDlgItem(hwnd, cmb13) || ::GetDlgItem(hwnd, edt1))
                found = hwnd;
        }
        return found != nullptr;
    });
    return found;
}

bool CTobrelProcess::AnswerOpenDialog(const std::wstring& names) const
{
    HWND dialog = OpenDialog();
    if (!dialog)
        return false;
    HWND box = ::GetDlgItem(dialog, cmb13) ? ::GetDlgItem(dialog, cmb13) : ::GetDlgItem(dialog, edt1);
    ::SendMessageW(box, WM_SETTEXT, 0, AsLParam(names.c_str()));
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return WaitFor([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); });
}

CTobrelProcess::CRemoteBlock::CRemoteBlock(HANDLE process, size_t bytes)
    : m_hProcess(process),
      m_pAddress(::VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
{
}

CTobrelProcess::CRemoteBlock::~CRemoteBlock()
{
    if (m_pAddress)
        ::VirtualFreeEx(m_hProcess, m_pAddress, 0, MEM_RELEASE);
}

bool CTobrelProcess::CRemoteBlock::Write(const void* data, size_t bytes, size_t offset) const
{
    return ::WriteProcessMemory(m_hProcess, static_cast<char*>(m_pAddress) + offset, data, bytes, nullptr);
}

bool CTobrelProcess::CRemoteBlock::Read(void* data, size_t bytes, size_t offset) const
{
    return ::ReadProcessMemory(m_hProcess, static_cast<char*>(m_pAddress) + offset, data, bytes, nullptr);
}

std::wstring CTobrelProcess::ListRow(int row) const
{
    HWND list = ::GetDlgItem(m_hMain, IDC_DIFF_LIST);
    CRemoteBlock block(m_process.hProcess, sizeof(LVITEMW) + 128 * sizeof(wchar_t));
    LVITEMW item = {};
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(block.Address()) + sizeof(LVITEMW));
    item.cchTextMax = 128;
    block.Write(&item, sizeof item);
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.Address()));
    wchar_t text[128] = {};
    block.Read(text, sizeof text - sizeof(wchar_t), sizeof(LVITEMW));
    return text;
}

std::wstring CTobrelProcess::StatusText(HWND imageWindow) const
{
    HWND status = ::FindWindowExW(imageWindow, nullptr, STATUSCLASSNAMEW, nullptr);
    CRemoteBlock block(m_process.hProcess, 256 * sizeof(wchar_t));
    ::SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(block.Address()));
    wchar_t text[256] = {};
    block.Read(text, sizeof text - sizeof(wchar_t));
    return text;
}

void CTobrelProcess::SelectRow(int row) const
{
    HWND list = ::GetDlgItem(m_hMain, IDC_DIFF_LIST);
    CRemoteBlock block(m_process.hProcess, sizeof(LVITEMW));
    LVITEMW item = {};
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    block.Write(&item, sizeof item);
    ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.Address()));
}

int CTobrelProcess::WaitForExit(DWORD timeoutMs)
{
    if (::WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.hProcess, &code);
    return int(code);
}
