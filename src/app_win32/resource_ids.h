#pragma once
/* The resource script's names for the program's identifiers. The resource
   compiler reads only the preprocessor, so these are macros; the program's
   code uses app/control_ids.h, and identifiers.cpp checks that both agree. */

#define IDM_CONVERT 101
#define IDM_QUIT 102
#define IDM_INPUT 103
#define IDM_README 104
#define IDM_ABOUT 105
#define IDC_TRACK_LIST 106
#define IDC_START 107
#define IDC_CONVERT_AC3 108
#define IDC_README_TEXT 109
#define IDC_RETURN 110
#define IDC_STATUS_TEXT 111
#define IDC_TIME_TEXT 112
#define IDC_ABORT 113
#define IDC_STOP 114
