/* Resource and control ids, shared by the C++ code and the resource script (so plain
   preprocessor definitions only). */
#ifndef PELLMAR_APP_RESOURCE_IDS_H
#define PELLMAR_APP_RESOURCE_IDS_H

#define IDD_MAIN_WINDOW 1001
#define IDD_SETUP 1002
#define IDD_MESSAGE_EDITOR 1003
#define IDD_ABOUT 1004
#define IDI_PELLMAR 8001

#define IDC_ECHO_LINE 4001
#define IDC_M1 4002
#define IDC_LOG_PANE 4003
#define IDC_M2 4004
#define IDC_M3 4005
#define IDC_M4 4006
#define IDC_M6 4007
#define IDC_M5 4008
#define IDC_TUNE 4009
#define IDC_PAUSE 4010
#define IDC_OPEN_CLOSE 4011
#define IDC_WPM 4012
#define IDC_WPM_GROUP 4014
#define IDC_MSGS_GROUP 4017
#define IDC_CONTROL_GROUP 4018
#define IDC_SETUP 4019
#define IDC_CLEAR 4029
#define IDC_WPM_SPIN 4054
#define IDC_WAIT_STATUS 4071
#define IDC_BUSY_STATUS 4072
#define IDC_NET_STATUS 4076
#define IDC_LOCAL_STATUS 4078
#define IDC_REMOTE_STATUS 4079
#define IDC_EXIT 4080
#define IDC_HEARTBEAT 4081
#define IDC_PADDLES 4090

/* The About box. */
#define IDC_ABOUT_VERSION 4044
#define IDC_ABOUT_OS 4049
#define IDC_ABOUT_ICON 4050
#define IDC_ABOUT_TITLE 4052

/* The program's version: the numbers for the version resource, the text for the Main
   window's caption and the About box. */
#define PELLMAR_VERSION_MAJOR 1
#define PELLMAR_VERSION_MINOR 4
#define PELLMAR_TEXT_OF(x) #x
#define PELLMAR_NUMBER_TEXT(x) PELLMAR_TEXT_OF(x)
#define PELLMAR_VERSION_TEXT \
    PELLMAR_NUMBER_TEXT(PELLMAR_VERSION_MAJOR) "." PELLMAR_NUMBER_TEXT(PELLMAR_VERSION_MINOR)
#define PELLMAR_MAIN_CAPTION "Tarvel Remote Control " PELLMAR_VERSION_TEXT
#define PELLMAR_ABOUT_TITLE "Pellmar - Internet Capable Tarvel"
#define PELLMAR_CLASS_NAME "PellmarClass"

/* Socket notifications reach the Main window as this message (WM_USER + 1). */
#define WM_SOCKET_NOTIFY 0x0401

#define HEARTBEAT_TIMER_ID 1
#define HEARTBEAT_PERIOD_MS 2000

#endif
