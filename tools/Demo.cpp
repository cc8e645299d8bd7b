// The headless demonstration behind scripts/run: starts tobrel.exe in the
// samples folder, opens the sample pair through File > Open, selects the
// first difference, saves a screenshot of the screen and ends Tobrel.
//   tobrel_demo SAMPLES_FOLDER SCREENSHOT.bmp

#include "ScreenShot.h"
#include "TobrelProcess.h"
#include "resource.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tobrel_demo SAMPLES_FOLDER SCREENSHOT.bmp\n");
        return 2;
    }
    CTobrelProcess tobrel(argv[1]);
    if (!tobrel.Started()) {
        std::fprintf(stderr, "tobrel_demo: Tobrel did not start\n");
        return 1;
    }
    ::SetWindowPos(tobrel.Main(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_OPEN, 0);
    if (!tobrel.AnswerOpenDialog(L"\"before.bmp\" \"after.bmp\"")) {
        std::fprintf(stderr, "tobrel_demo: the open dialog did not appear\n");
        return 1;
    }

    std::vector<HWND> images;
    std::wstring count;
    if (!WaitFor([&] {
            count = WindowTextOf(::GetDlgItem(tobrel.Main(), IDC_DIFF_COUNT));
            return !count.empty() && (images = tobrel.ImageWindows()).size() == 2;
        })) {
        std::fprintf(stderr, "tobrel_demo: the pair was not compared\n");
        return 1;
    }

    // Zoom 2 with a white grid, the first difference selected, the image
    // windows beside the main window.
    ::SendMessageW(tobrel.Main(), WM_COMMAND, IDM_ZOOM_2, 0);
    ::SendMessageW(tobrel.Main(), WM_COMMAND, IDM_GRID_WHITE, 0);
    tobrel.SelectRow(0);
    RECT main;
    ::GetWindowRect(tobrel.Main(), &main);
    ::SetWindowPos(images[0], HWND_TOP, main.right + 10, 0, 0, 0, SWP_NOSIZE);
    ::SetWindowPos(images[1], HWND_TOP, main.right + 60, 430, 0, 0, SWP_NOSIZE);
    ::Sleep(500);  // Tobrel repaints in its own process; nothing here to wait on
    const bool saved = SaveWindowShot(::GetDesktopWindow(), argv[2]);
    const std::wstring first = tobrel.ListRow(0);

    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_EXIT, 0);
    tobrel.WaitForExit(10000);
    std::printf("%ls pixels differ between before.bmp and after.bmp; the first: %ls\n", count.c_str(), first.c_str());
    return saved ? 0 : 1;
}
