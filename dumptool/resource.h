// Resource numbers of Vantor.exe, shared by the code and Vantor.rc.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_DUMP_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_READ 1000
#define IDC_WRITE 1001
#define IDC_SUMMARY 1007
#define IDC_PICK_FOR_READ 1008
#define IDC_PICK_FOR_WRITE 1009
#define IDC_FOR_READ 1010
#define IDC_FOR_WRITE 1011

#define IDC_STATIC -1

// System-menu command of the About box.
#define IDM_ABOUTBOX 0x0010
