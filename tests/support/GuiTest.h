#pragma once

// Helpers for tests that drive real windows on this thread. Every wait is
// bounded: messages are pumped until a condition holds or the time is up.

#include "Win32.h"

#include <functional>
#include <string>
#include <vector>

// Dispatches this thread's messages until `done` holds or `timeoutMs` has
// passed; returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// Dispatches what is queued now, without waiting for more.
void PumpPending();

// Calls `step` every few milliseconds from inside whatever modal loop this
// thread runs (DialogBoxParamW, MessageBoxW, ...), until it returns true.
// If that takes longer than `timeoutMs`, every dialog of the thread is ended
// with -2 so that a broken test fails instead of hanging.
class CModalScript
{
public:
    explicit CModalScript(std::function<bool()> step, DWORD timeoutMs = 10000);
    ~CModalScript();
    CModalScript(const CModalScript&) = delete;
    CModalScript& operator=(const CModalScript&) = delete;

    bool Finished() const { return m_bFinished; }
    bool TimedOut() const { return m_bTimedOut; }

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);

    std::function<bool()> m_step;
    DWORD m_dwDeadline;
    UINT_PTR m_timer = 0;
    bool m_bFinished = false;
    bool m_bTimedOut = false;
    bool m_bInStep = false;
};

// The first visible top-level window of this thread with that class (null:
// any) and caption (null: any).
HWND FindThreadWindow(const wchar_t* className, const wchar_t* caption = nullptr);

std::wstring WindowText(HWND hwnd);
// The window's rectangle in `parent`'s client coordinates (null: the screen's).
RECT RectIn(HWND window, HWND parent);
std::wstring ClassName(HWND hwnd);

// What `paint` draws into a memory DC of width x height pixels that starts
// as 0x010203, as 0xRRGGBB values row by row from the top.
std::vector<uint32_t> CapturePaint(const std::function<void(HDC)>& paint, int width, int height);

// The open dialog remembers the last folder of each program in the registry
// and starts there; tests that type names relative to their own folder make
// it forget, so that no earlier run (an interrupted one included) leaks in.
void ForgetOpenDialogFolders();
