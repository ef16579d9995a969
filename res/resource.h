// Resource ids of the console: dialog templates, icon, strings and the
// control ids. Every control of a template carries its id in its object name
// ("id1039"), so code can find it by id.
#pragma once

// Dialog templates
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_CONSOLE_DIALOG = 102;
constexpr int IDD_PASSWORD = 130;
constexpr int IDD_CONFIRM = 131;
constexpr int IDD_WAIT = 132;

// Icon, string table, system menu
constexpr int IDR_MAINFRAME = 128;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDM_ABOUTBOX = 0x0010;

// Standard dialog buttons
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Main window (template 102): connection settings
constexpr int IDC_ADDRESS = 1000;
constexpr int IDC_PORT = 1001;
constexpr int IDC_BAUD = 1002;

// Parameter search
constexpr int IDC_SEARCH_1200 = 1003;
constexpr int IDC_SEARCH_2400 = 1004;
constexpr int IDC_SEARCH_4800 = 1005;
constexpr int IDC_SEARCH_9600 = 1006;
constexpr int IDC_SEARCH_19200 = 1007;
constexpr int IDC_SEARCH_38400 = 1008;
constexpr int IDC_SEARCH = 1009;
constexpr int IDC_SEARCH_RESULT = 1055;

// Alarm log
constexpr int IDC_ALARM_LIST = 1011;
constexpr int IDC_READ_LOG_COUNT = 1035;
constexpr int IDC_READ_ENTRY_COUNT = 1052;
constexpr int IDC_READ_LOG = 1053;
constexpr int IDC_CLEAR_LOG = 1054;
constexpr int IDC_READ_ALL_DATA = 1071;
constexpr int IDC_LOG_COUNT = 1072;

// Working mode
constexpr int IDC_WORK_MODE = 1012;
constexpr int IDC_READ_MODE_STATE = 1070;

// Calibration panel: group "A0"
constexpr int IDC_A0_CAL_VOLTAGE1 = 1014;
constexpr int IDC_READ_A0_CAL_VOLTAGE1 = 1015;
constexpr int IDC_SET_A0_CAL_VOLTAGE1 = 1016;
constexpr int IDC_A0_CAL_VOLTAGE2 = 1017;
constexpr int IDC_READ_A0_CAL_VOLTAGE2 = 1018;
constexpr int IDC_SET_A0_CAL_VOLTAGE2 = 1019;
constexpr int IDC_A0_COEFFICIENT = 1056;
constexpr int IDC_READ_A0_COEFFICIENT = 1082;

// Calibration panel: group "A1"
constexpr int IDC_A1_RANGE = 1020;
constexpr int IDC_READ_A1_RANGE = 1021;
constexpr int IDC_SET_A1_RANGE = 1022;
constexpr int IDC_A1_CAL_VOLTAGE1 = 1023;
constexpr int IDC_READ_A1_CAL_VOLTAGE1 = 1024;
constexpr int IDC_SET_A1_CAL_VOLTAGE1 = 1025;
constexpr int IDC_A1_CAL_VOLTAGE2 = 1026;
constexpr int IDC_READ_A1_CAL_VOLTAGE2 = 1027;
constexpr int IDC_SET_A1_CAL_VOLTAGE2 = 1028;
constexpr int IDC_A1_COEFFICIENT1 = 1057;
constexpr int IDC_A1_COEFFICIENT2 = 1058;
constexpr int IDC_A1_COEFFICIENT3 = 1059;
constexpr int IDC_A1_COEFFICIENT4 = 1060;
constexpr int IDC_A1_5_GAIN = 1061;
constexpr int IDC_READ_A1_COEFFICIENTS = 1081;

// Calibration panel: group "A2"
constexpr int IDC_A2_CAL_VOLTAGE1 = 1029;
constexpr int IDC_READ_A2_CAL_VOLTAGE1 = 1030;
constexpr int IDC_SET_A2_CAL_VOLTAGE1 = 1031;
constexpr int IDC_A2_CAL_VOLTAGE2 = 1032;
constexpr int IDC_READ_A2_CAL_VOLTAGE2 = 1033;
constexpr int IDC_SET_A2_CAL_VOLTAGE2 = 1034;
constexpr int IDC_A2_COEFFICIENT = 1062;
constexpr int IDC_READ_A2_COEFFICIENT = 1083;

// Current (hidden row)
constexpr int IDC_READ_CURRENT = 1036;
constexpr int IDC_SET_CURRENT = 1037;
constexpr int IDC_CURRENT = 1038;

// Sensing cable
constexpr int IDC_LINE_LENGTH = 1039;
constexpr int IDC_READ_LINE_LENGTH = 1040;
constexpr int IDC_SET_LINE_LENGTH = 1041;
constexpr int IDC_RESISTIVITY = 1042;
constexpr int IDC_READ_RESISTIVITY = 1043;
constexpr int IDC_SET_RESISTIVITY = 1044;
constexpr int IDC_A0_RESISTANCE = 1045;
constexpr int IDC_READ_A0_RESISTANCE = 1046;
constexpr int IDC_SET_A0_RESISTANCE = 1047;
constexpr int IDC_LINE_RESISTANCE = 1048;
constexpr int IDC_READ_LINE_RESISTANCE = 1049;
constexpr int IDC_SET_LINE_RESISTANCE = 1050;

// Status
constexpr int IDC_START_DETECTION = 1051;
constexpr int IDC_ALARM_STATE = 1063;
constexpr int IDC_LEAK_POSITION = 1064;
constexpr int IDC_A0_VOLTAGE = 1065;
constexpr int IDC_A1_VOLTAGE = 1066;
constexpr int IDC_A2_VOLTAGE = 1067;
constexpr int IDC_GOOD_COUNT = 1068;
constexpr int IDC_FAIL_COUNT = 1069;

// Hidden device clock edits and their buttons
constexpr int IDC_CLOCK_YEAR = 1073;
constexpr int IDC_CLOCK_MONTH = 1074;
constexpr int IDC_CLOCK_DAY = 1075;
constexpr int IDC_CLOCK_HOUR = 1076;
constexpr int IDC_CLOCK_MINUTE = 1077;
constexpr int IDC_CLOCK_SECOND = 1078;
constexpr int IDC_READ_CLOCK = 1079;
constexpr int IDC_WRITE_CLOCK = 1080;

// Address and baud-rate change
constexpr int IDC_NEW_ADDRESS = 1084;
constexpr int IDC_NEW_BAUD = 1085;
constexpr int IDC_CHANGE_ADDRESS_BAUD = 1086;

// Buzzer and resistivity auto-calibration radios
constexpr int IDC_BUZZER_OFF = 1089;
constexpr int IDC_BUZZER_ON = 1090;
constexpr int IDC_AUTORES_OFF = 1091;
constexpr int IDC_AUTORES_ON = 1092;

// Device clock row
constexpr int IDC_SET_SYSTEM_TIME = 1093;
constexpr int IDC_TIME_YEAR = 1098;
constexpr int IDC_TIME_MONTH = 1099;
constexpr int IDC_TIME_DAY = 1100;
constexpr int IDC_TIME_HOUR = 1101;
constexpr int IDC_TIME_MINUTE = 1102;
constexpr int IDC_TIME_SECOND = 1103;

// Calibration source
constexpr int IDC_SOURCE_VOLTAGE1 = 1094;
constexpr int IDC_SET_SOURCE_VOLTAGE1 = 1095;
constexpr int IDC_SOURCE_VOLTAGE2 = 1096;
constexpr int IDC_SET_SOURCE_VOLTAGE2 = 1097;
constexpr int IDC_AUTO_CALIBRATE_VOLTAGE = 1106;

// Hidden default button and display-mode radios
constexpr int IDC_DEFAULT_BUTTON = 1108;
constexpr int IDC_DISPLAY_VOLTAGE = 1109;
constexpr int IDC_DISPLAY_ADC = 1110;

// Password dialog (template 130): its edit reuses 1090
constexpr int IDC_PASSWORD_EDIT = 1090;

// Countdown dialog (template 132)
constexpr int IDC_WAIT_PROGRESS = 1105;
constexpr int IDC_WAIT_SECONDS = 1107;
