#pragma once

// Resource, command and control numbers. Plain #defines: the resource
// compiler reads this file too.

// The string table's ids are the core's result codes.
#include "ResultCodes.h"

#define IDD_ABOUTBOX            103
#define IDD_IMAGE               129
#define IDD_MAIN                130

#define IDI_TOBREL              107

#define IDR_MAINMENU            109

#define IDM_ABOUT               104
#define IDM_EXIT                105
#define IDM_OPEN                32772
#define IDM_SHOW_IMAGES         32774
#define IDM_ZOOM_1              32784
#define IDM_ZOOM_2              32785
#define IDM_ZOOM_4              32786
#define IDM_ZOOM_8              32787
#define IDM_TOOLTIP             32789
#define IDM_GRID_NONE           32793
#define IDM_GRID_BLACK          32794
#define IDM_GRID_WHITE          32795
#define IDM_GRID_RED            32796
#define IDM_GRID_GREEN          32797
#define IDM_GRID_BLUE           32798

#define IDC_DIFF_LIST           1000
#define IDC_DIFF_COUNT          1001
#define IDC_THRESHOLD           1002
#define IDC_THRESHOLD_SPIN      1003
#define IDC_RECOMPARE           1004

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
