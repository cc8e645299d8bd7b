#include "GuiTest.h"

#include "ScopedSelect.h"

#include <algorithm>

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        PumpPending();
        if (done())
            return true;
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        // Wake for new input or every few milliseconds to test again.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(10, timeoutMs - elapsed), QS_ALLINPUT);
    }
}

void PumpPending()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

namespace {

CModalScript* s_pScript = nullptr;

BOOL CALLBACK EndDialogs(HWND hwnd, LPARAM)
{
    if (ClassName(hwnd) == L"#32770")
        ::EndDialog(hwnd, -2);
    return TRUE;
}

} // namespace

CModalScript::CModalScript(std::function<bool()> step, DWORD timeoutMs)
    : m_step(std::move(step)), m_dwDeadline(::GetTickCount() + timeoutMs)
{
    s_pScript = this;
    m_timer = ::SetTimer(nullptr, 0, 15, OnTimer);
}

CModalScript::~CModalScript()
{
    ::KillTimer(nullptr, m_timer);
    s_pScript = nullptr;
}

void CALLBACK CModalScript::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    CModalScript* script = s_pScript;
    // A step may itself run a modal loop (a message box): no nesting.
    if (!script || script->m_bFinished || script->m_bInStep)
        return;
    if (int(::GetTickCount() - script->m_dwDeadline) > 0) {
        script->m_bTimedOut = true;
        script->m_bFinished = true;
        ::EnumThreadWindows(::GetCurrentThreadId(), EndDialogs, 0);
        return;
    }
    script->m_bInStep = true;
    script->m_bFinished = script->m_step();
    script->m_bInStep = false;
}

namespace {

struct FindRequest
{
    const wchar_t* className;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    auto* request = AsPointer<FindRequest>(lParam);
    if (!::IsWindowVisible(hwnd))
        return TRUE;
    if (request->className && ClassName(hwnd) != request->className)
        return TRUE;
    if (request->caption && WindowText(hwnd) != request->caption)
        return TRUE;
    request->found = hwnd;
    return FALSE;
}

} // namespace

HWND FindThreadWindow(const wchar_t* className, const wchar_t* caption)
{
    FindRequest request{className, caption, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), MatchWindow, AsLParam(&request));
    return request.found;
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t text[1024] = {};
    ::GetWindowTextW(hwnd, text, ARRAYSIZE(text));
    return text;
}

RECT RectIn(HWND window, HWND parent)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring ClassName(HWND hwnd)
{
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, ARRAYSIZE(name));
    return name;
}


void ForgetOpenDialogFolders()
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32");
}

std::vector<uint32_t> CapturePaint(const std::function<void(HDC)>& paint, int width, int height)
{
    std::vector<uint32_t> out(size_t(width) * height);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC memory = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    {
        const CScopedSelect selected(memory, bitmap);
        auto* pixels = static_cast<uint32_t*>(bits);
        std::fill(pixels, pixels + out.size(), 0x010203);
        paint(memory);
        ::GdiFlush();
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = pixels[i] & 0xFFFFFF;
    }
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    return out;
}
