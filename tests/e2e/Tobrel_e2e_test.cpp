// The shipped tobrel.exe, started as a separate process and driven from
// outside: what only the real program catches (its entry point, its
// resources, its manifest) on one short road; the rest is covered in-process.

#include "BmpBuilder.h"
#include "TobrelProcess.h"
#include "resource.h"

#include <gtest/gtest.h>

TEST(Tobrel, ComparesAPairOpenedThroughTheDialogAndExitsWithOne)
{
    TempDir dir;
    dir.WriteBmp("before.bmp", Picture(6, 4, PairBase));
    dir.WriteBmp("after.bmp", Picture(6, 4, PairChanged));
    CTobrelProcess tobrel(dir.Path().wstring());
    ASSERT_TRUE(tobrel.Started());

    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_OPEN, 0);
    ASSERT_TRUE(tobrel.AnswerOpenDialog(L"\"before.bmp\" \"after.bmp\""));
    std::wstring count;
    EXPECT_TRUE(WaitFor([&] { return (count = WindowTextOf(::GetDlgItem(tobrel.Main(), IDC_DIFF_COUNT))) == L"3"; }))
        << testing::PrintToString(count);
    EXPECT_EQ(tobrel.ListRow(1), L"x=1, y=2");

    std::vector<HWND> images;
    ASSERT_TRUE(WaitFor([&] { return (images = tobrel.ImageWindows()).size() == 2; }));
    tobrel.SelectRow(1);
    EXPECT_EQ(tobrel.StatusText(images[1]), ColourText(1, 2, PairChanged(1, 2)));

    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(tobrel.WaitForExit(10000), 1);
}
