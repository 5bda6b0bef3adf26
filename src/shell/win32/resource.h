// Resource ids shared by the resource script and the shell's code.
#pragma once

#define IDS_MAIN_TITLE 103
#define IDS_MAIN_CLASS 109
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109
#define IDD_ABOUT_BOX 103
#define IDI_CORVEL_APP 107
#define IDI_CORVEL_TRAY 108

#define IDM_ABOUT 104
#define IDM_EXIT 105
