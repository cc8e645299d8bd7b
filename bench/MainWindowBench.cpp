// From a drop of a 4096 x 4096 pair on the real main window to the count
// shown, with 1 % of the pixels differing and with every pixel differing
// (16.7 million rows), scrolling the list to its end, and the process's peak
// memory. Run by scripts/bench-main-window (under Wine).

#include "BmpFormat.h"
#include "BaseWindow.h"
#include "DropFiles.h"
#include "ImageCompare.h"
#include "resource.h"

#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER t, f;
    ::QueryPerformanceCounter(&t);
    ::QueryPerformanceFrequency(&f);
    return double(t.QuadPart) / double(f.QuadPart);
}

void WritePair(const std::filesystem::path& a, const std::filesystem::path& b, int side, int changedPercent)
{
    const int32_t stride = BmpStride(side);
    std::vector<unsigned char> first(size_t(stride) * side), second;
    std::mt19937_64 random(7);
    for (auto& byte : first)
        byte = uint8_t(random());
    second = first;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            if (int(random() % 100) < changedPercent)
                second[size_t(y) * stride + 3 * x] ^= 0x40;
        }
    }
    for (const auto& [path, bytes] : {std::pair{a, &first}, std::pair{b, &second}}) {
        WriteBmpFile(ImageBuffer{side, side, stride, bytes->data()}, _wfopen(path.c_str(), L"wb"));
    }
}

struct Job
{
    std::filesystem::path a, b;
    const char* name;
};

std::vector<Job> s_jobs;
size_t s_next = 0;

void CALLBACK RunJob(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND main = g_ImageCompare.m_hWnd;
    if (!main || !::IsWindowVisible(main))
        return;
    if (s_next == s_jobs.size()) {
        ::KillTimer(nullptr, timer);
        ::EndDialog(main, 1);
        return;
    }
    const Job& job = s_jobs[s_next++];
    const double start = Now();
    ::SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDropHandle({job.a.wstring(), job.b.wstring()})), 0);
    const double loaded = Now();
    wchar_t count[32] = {};
    ::GetDlgItemTextW(main, IDC_DIFF_COUNT, count, 32);

    const int rows = int(::SendMessageW(g_ImageCompare.GetList(), LVM_GETITEMCOUNT, 0, 0));
    const double scrollStart = Now();
    ::SendMessageW(g_ImageCompare.GetList(), LVM_ENSUREVISIBLE, rows > 0 ? rows - 1 : 0, FALSE);
    ::UpdateWindow(g_ImageCompare.GetList());
    const double scrolled = Now();

    PROCESS_MEMORY_COUNTERS memory = {};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    std::printf("%-14s count %9ls  drop to count %8.0f ms  list to its end %6.1f ms  peak memory %6.0f MB\n", job.name,
                count, (loaded - start) * 1000, (scrolled - scrollStart) * 1000,
                memory.PeakPagefileUsage / 1048576.0);
    std::fflush(stdout);
}

} // namespace

int main()
{
    InitWindowing(::GetModuleHandleW(nullptr));

    const auto dir = std::filesystem::temp_directory_path() / L"tobrel-bench";
    std::filesystem::create_directories(dir);
    WritePair(dir / L"a1.bmp", dir / L"b1.bmp", 4096, 1);
    WritePair(dir / L"a100.bmp", dir / L"b100.bmp", 4096, 100);
    s_jobs = {{dir / L"a1.bmp", dir / L"b1.bmp", "1 % differ"},
              {dir / L"a100.bmp", dir / L"b100.bmp", "all differ"}};
    std::printf("4096 x 4096 pairs, dropped on the main window:\n");
    ::SetTimer(nullptr, 0, 50, RunJob);
    g_ImageCompare.DoModal(IDD_MAIN, nullptr);
    std::filesystem::remove_all(dir);
    return 0;
}
