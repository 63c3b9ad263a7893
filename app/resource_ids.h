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

/* The Setup dialog (IDD_SETUP). Several of its ids coincide with Main window ids; the two
   templates never share a window, and the names keep them apart. */
#define IDC_SETUP_RATIO 4013
#define IDC_SETUP_COMP 4014
#define IDC_SETUP_FIRST_EXT 4017
#define IDC_SETUP_SAMPLE 4018
#define IDC_SETUP_OUTPUT 4020
#define IDC_SETUP_WEIGHT 4021
#define IDC_SETUP_LEAD_IN 4022
#define IDC_SETUP_TAIL 4023
#define IDC_SETUP_FARNS 4024
#define IDC_SETUP_CW_MODE 4025
#define IDC_SETUP_PADDLE_HANG 4026
#define IDC_SETUP_SWAP 4038
#define IDC_SETUP_AUTOSPACE 4039
#define IDC_SETUP_CT_SPACING 4040
#define IDC_SETUP_PADDLE_DOG 4041
#define IDC_SETUP_PADDLE_ECHO 4042
#define IDC_SETUP_SERIAL_ECHO 4043
#define IDC_SETUP_MAX_WPM 4045
#define IDC_SETUP_MIN_WPM 4046
#define IDC_SETUP_POT_LOCK 4047
#define IDC_SETUP_PADDLE_ONLY 4051
#define IDC_SETUP_FREQ 4053
#define IDC_SETUP_NET_OFF 4055
#define IDC_SETUP_NET_CLIENT 4056
#define IDC_SETUP_NET_SERVER 4057
#define IDC_SETUP_IP_ADDRESS 4059
#define IDC_SETUP_IP_PORT 4060
#define IDC_SETUP_ENABLE_PTT 4063
#define IDC_SETUP_OPEN_AT_START 4064
#define IDC_SETUP_DONE 4067
#define IDC_SETUP_PORT 4068
#define IDC_SETUP_PORT_ENABLE 4073
#define IDC_SETUP_REMOTE_SIDETONE 4082
#define IDC_SETUP_IP_OVERRIDE 4083
#define IDC_SETUP_LETTER_PADDLE 4085
#define IDC_SETUP_ROLE 4088
#define PELLMAR_SETUP_CAPTION "Local and Remote Tarvel Setup"
/* The Message Editor (template 1003). Several of its ids are ids of other dialogs too, so
   its names are its own. */
#define IDC_EDITOR_TEXT 4027
#define IDC_EDITOR_RESTORE 4028
#define IDC_EDITOR_INSERT_GROUP 4029
#define IDC_EDITOR_CANCEL_WPM 4030
#define IDC_EDITOR_MERGE 4031
#define IDC_EDITOR_CLEAR_PTT 4032
#define IDC_EDITOR_SET_PTT 4033
#define IDC_EDITOR_SET_WAIT 4034
#define IDC_EDITOR_SET_KEY 4035
#define IDC_EDITOR_SET_WPM 4036
#define IDC_EDITOR_ARGUMENT 4037
#define IDC_EDITOR_ARGUMENT_GROUP 4044
#define IDC_EDITOR_HEADING 4048
#define IDC_EDITOR_CANCEL 4050
#define IDC_EDITOR_SAVE 4084
#define PELLMAR_EDITOR_CAPTION "Message Editor"

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
/* Moves text from the link on to the keyer as its queue drains, and watches for a dead link
   and a lost keyer: quick while text from the link waits for the keyer, slow otherwise,
   since under Wine every tick of an idle station costs the Wine server a round of work. */
#define LINK_WATCH_TIMER_ID 2
#define LINK_FEED_PERIOD_MS 50
#define LINK_WATCH_PERIOD_MS 500

#endif
