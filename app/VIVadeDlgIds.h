#pragma once
// The control, command and timer ids of the main window. The numbers are the
// ones the system's code and its threads use (commands 1 and 1022 are sent
// from other threads, the show and hide lists name controls by number);
// controls that no code names by number have ids of their own from 1300 up.
//
// Hidden in the production tool: the Format and S/N Increase combos, Update
// Config, Ext. Update F/W, the serial-number source boxes, ComponentID and
// its edit-type combo, MinFW, PCI VID/DID, and the engineering buttons.

// ---- commands and buttons ----------------------------------------------------
constexpr int IDOK = 1;                          // "Exit": the one shutdown path
constexpr int IDC_BUTTON_LOADINI = 1000;
constexpr int IDC_BUTTON_SAVEINI = 1001;
constexpr int IDC_BUTTON_UNLOCK_VIVADE = 1002;   // the settings lock
constexpr int IDC_BUTTON_START = 1022;
constexpr int IDC_BUTTON_SAFELY_REMOVE = 1023;
constexpr int IDC_BUTTON_CLEARCOUNT = 1027;
constexpr int IDC_BUTTON_MORE_CONFIG = 1058;
constexpr int IDC_BUTTON_DEBUG = 1068;           // register/debug dialog
constexpr int IDC_BUTTON_MIN = 1094;
constexpr int IDC_BUTTON_SHA256 = 1116;
constexpr int IDC_BUTTON_TEST = 1159;
constexpr int IDC_BUTTON_RST = 1178;
constexpr int IDC_BUTTON_U4_MORE_CONFIG = 1181;
constexpr int IDC_BUTTON_BTN1 = 1182;
constexpr int IDC_BUTTON_BTN2 = 1183;
constexpr int IDC_BUTTON_BTN3 = 1184;
constexpr int IDC_BUTTON_BTN4 = 1185;
constexpr int IDC_BUTTON_PD_TEST = 1186;
constexpr int IDC_BUTTON_U4_DATA = 1188;
constexpr int IDC_BUTTON_PC = 1189;
constexpr int IDC_BUTTON_FW_BROWSE = 1300;
constexpr int IDC_BUTTON_PRELOAD_BROWSE = 1301;
constexpr int IDC_BUTTON_PD = 1302;              // "pd": Power Delivery key

// ---- USB-3 device configuration ------------------------------------------------
constexpr int IDC_COMBO_FORMAT = 1004;
constexpr int IDC_EDIT_VENDOR_ID = 1005;
constexpr int IDC_EDIT_PRODUCT_ID = 1006;
constexpr int IDC_EDIT_DEVICE_REVISION = 1007;
constexpr int IDC_EDIT_SERIAL_NUMBER = 1008;
constexpr int IDC_COMBO_SN_INCREASE = 1009;
constexpr int IDC_EDIT_EP0_MSTRING = 1010;
constexpr int IDC_EDIT_EP0_PSTRING = 1011;
constexpr int IDC_EDIT_T10_MSTRING = 1155;
constexpr int IDC_EDIT_T10_PSTRING = 1156;
constexpr int IDC_COMBO_IDLE_TIMER = 1057;
constexpr int IDC_CHECK_SN_HEX = 1104;           // S/N CHK HEX
constexpr int IDC_CHECK_BARCODE = 1107;
constexpr int IDC_CHECK_SN_INCREASE = 1108;
constexpr int IDC_CHECK_HDDSN = 1115;
constexpr int IDC_CHECK_HEX = 1118;
constexpr int IDC_CHECK_DEC = 1119;
constexpr int IDC_COMBO_SN_EDIT_TYPE = 1175;

// ---- device function -------------------------------------------------------------
constexpr int IDC_CHECK_UPDATE_CONFIG = 1012;
constexpr int IDC_CHECK_UPDATE_FW = 1013;
constexpr int IDC_CHECK_RELOAD_FW = 1014;
constexpr int IDC_CHECK_PARTITION_FORMAT = 1015;
constexpr int IDC_CHECK_WR_TEST = 1016;
constexpr int IDC_EDIT_DRIVE_LABEL = 1017;
constexpr int IDC_COMBO_FORMAT_TYPE = 1018;
constexpr int IDC_COMBO_FW_PATH = 1020;
constexpr int IDC_COMBO_PRELOAD_PATH = 1050;
constexpr int IDC_CHECK_PRELOAD = 1051;
constexpr int IDC_COMBO_PARTITION_TYPE = 1055;
constexpr int IDC_CHECK_MP_AUTO = 1056;
constexpr int IDC_CHECK_USB_STATUS = 1059;
constexpr int IDC_COMBO_USB_STATUS = 1060;
constexpr int IDC_CHECK_SPEED_TEST = 1061;
constexpr int IDC_CHECK_EXT_UPDATE_FW = 1062;
constexpr int IDC_COMBO_AUTO_DEV_NUM = 1066;
constexpr int IDC_CHECK_CONFIG_CHECK = 1067;
constexpr int IDC_CHECK_AUTO_SAFE_REMOVE = 1105;
constexpr int IDC_EDIT_SECONDS = 1109;
constexpr int IDC_EDIT_READ_SPEED = 1111;
constexpr int IDC_EDIT_WRITE_SPEED = 1112;
constexpr int IDC_STATIC_READ = 1113;
constexpr int IDC_STATIC_WRITE = 1114;

// ---- USB4 device configuration -----------------------------------------------------
constexpr int IDC_EDIT_U4_VENDOR_NAME = 1069;
constexpr int IDC_EDIT_U4_MODEL_NAME = 1070;
constexpr int IDC_EDIT_U4_COMPONENT_ID = 1071;
constexpr int IDC_EDIT_U4_TEST_ID = 1072;
constexpr int IDC_EDIT_U4_BCD_PRODUCT_FW = 1073;
constexpr int IDC_EDIT_U4_PRODUCT_HW = 1074;
constexpr int IDC_EDIT_U4_MIN_FW = 1076;
constexpr int IDC_EDIT_TBT3_VENDOR_ID = 1077;
constexpr int IDC_EDIT_TBT3_MODEL_ID = 1078;
constexpr int IDC_EDIT_TBT3_MODEL_REV = 1079;
constexpr int IDC_EDIT_U4_VENDOR_ID = 1080;
constexpr int IDC_EDIT_U4_PRODUCT_ID = 1081;
constexpr int IDC_EDIT_PCI_VID = 1083;
constexpr int IDC_EDIT_PCI_DID = 1084;
constexpr int IDC_COMBO_U4_COMPONENT_ID_TYPE = 1176;
constexpr int IDC_COMBO_U4_MODE = 1180;

// ---- results, counters, progress ------------------------------------------------------
constexpr int IDC_LIST_MAIN_RESULT = 1021;
constexpr int IDC_EDIT_PASS_COUNT = 1024;
constexpr int IDC_EDIT_FAIL_COUNT = 1025;
constexpr int IDC_EDIT_TOTAL_COUNT = 1026;
constexpr int IDC_EDIT_PROGRESS = 1028;          // the run's percentage text
constexpr int IDC_PROGRESS_SCAN = 1029;          // the small progress bar of the scan
constexpr int IDC_PROGRESS_RUN = 1065;           // the run's progress bar
constexpr int IDC_STATIC_TITLE = 1096;
constexpr int IDC_PICTURE_PASS = 1102;
constexpr int IDC_PICTURE_FAIL = 1103;

// ---- labels and groups that the enable sets or start-up name -------------------------
constexpr int IDC_STATIC_FORMAT_TYPE = 1320;
constexpr int IDC_STATIC_DRIVE_LABEL = 1321;
constexpr int IDC_STATIC_PARTITION_TYPE = 1322;
constexpr int IDC_STATIC_SECONDS = 1323;
constexpr int IDC_STATIC_USB_SEARCHING = 1324;
constexpr int IDC_STATIC_WARNING = 1325;          // "Warning message", hidden at start-up
constexpr int IDC_STATIC_VERSION = 1326;
constexpr int IDC_STATIC_U4_COMPONENT_ID = 1327;
constexpr int IDC_STATIC_PCI_VID = 1328;
constexpr int IDC_STATIC_PCI_DID = 1329;
constexpr int IDC_STATIC_U4_MIN_FW = 1330;
constexpr int IDC_GROUP_DEVICE_CONFIG = 1340;
constexpr int IDC_GROUP_DEVICE_FUNCTION = 1341;
constexpr int IDC_GROUP_U4_CONFIG = 1342;
constexpr int IDC_GROUP_TBT3 = 1343;
constexpr int IDC_GROUP_FW_BROWSER = 1344;
constexpr int IDC_GROUP_PRELOAD_BROWSER = 1345;

// ---- timers of the production tool's window (the profile names each program's) -------------------------------------------------------------
constexpr int TIMER_SCAN_PROGRESS = 2;   // 80 ms while the USB walk runs
constexpr int TIMER_RESCAN = 3;          // the rescan decision
constexpr int TIMER_CMDLINE_GIVE_UP = 4;
constexpr int TIMER_CMDLINE_RETRY = 5;

// The system-menu command of the About box.
constexpr int IDM_ABOUTBOX = 0x10;
