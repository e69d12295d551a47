#pragma once
// Resource identifiers shared by tolvane.rc and the window code.

#include "app/settings_controls.h"

#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109
// The notes line's own texts.
#define IDS_NOTE_STOPPED 130
#define IDS_NOTE_SECOND_PROGRAM 131

#define IDI_LARGE_ICON 107
#define IDI_SMALL_ICON 108

#define IDM_MAIN_MENU 109
#define IDA_ACCELERATORS 109

#define IDD_ABOUT_BOX 103
#define IDD_SETTINGS 129

#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_SETTINGS 32773
#define IDM_RUN 32774
