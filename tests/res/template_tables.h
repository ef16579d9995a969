// What the console's dialog templates must hold: every control of the main
// window (template 102) with its kind, caption, label, unit, group box and
// state, the combo contents, the tab order, the areas of the layout and the
// small dialogs 100, 130, 131 and 132.
//
// The template tests check the .ui files against these tables; the console's
// own tests can check the window after start-up against them too, since the
// start-up shows, hides, enables or disables no control.
#pragma once

#include <vector>

namespace templates {

enum class Kind { Edit, Combo, PushButton, CheckBox, Radio, Static, List, Progress };

enum Flag : unsigned {
    kNone = 0,
    kHidden = 1u << 0,    // never shown
    kDisabled = 1u << 1,  // disabled until a command enables it
    kCentred = 1u << 2,   // centred static
    kPanel = 1u << 3,     // part of the right-hand calibration panel
    kDefault = 1u << 4,   // the dialog's default push button
    kPassword = 1u << 5,  // masked edit
};

// Group box titles; the top box has none.
inline constexpr const char* kTopBox = "";
inline constexpr const char* kNoGroup = nullptr;

struct Control {
    int id;
    Kind kind;
    const char* text;   // caption, or the initial text of a static
    const char* label;  // caption label beside it ("" when none)
    const char* unit;   // unit label after it ("" when none)
    const char* group;  // title of the group box it lies in, or kNoGroup
    unsigned flags;
};

// Template 102, every control that has an id.
inline const std::vector<Control> kConsoleControls = {
    // top box
    {1001, Kind::Combo, "", "串口：", "", kTopBox, kNone},
    {1002, Kind::Combo, "", "波特率：", "", kTopBox, kNone},
    {1000, Kind::Edit, "", "地址：", "", kTopBox, kNone},
    // parameter search
    {1003, Kind::CheckBox, "1200", "", "", "搜索通讯参数", kNone},
    {1004, Kind::CheckBox, "2400", "", "", "搜索通讯参数", kNone},
    {1005, Kind::CheckBox, "4800", "", "", "搜索通讯参数", kNone},
    {1006, Kind::CheckBox, "9600", "", "", "搜索通讯参数", kNone},
    {1007, Kind::CheckBox, "19200", "", "", "搜索通讯参数", kNone},
    {1008, Kind::CheckBox, "38400", "", "", "搜索通讯参数", kNone},
    {1009, Kind::PushButton, "搜索参数", "", "", "搜索通讯参数", kNone},
    {1055, Kind::Static, "搜索结果", "", "", "搜索通讯参数", kCentred},
    // working mode
    {1012, Kind::Combo, "", "", "", "工作模式", kNone},
    {1070, Kind::PushButton, "读取", "", "", "工作模式", kHidden},
    // address and baud-rate change
    {1084, Kind::Edit, "", "地址", "", "参数修改", kNone},
    {1085, Kind::Combo, "", "波特率", "", "参数修改", kNone},
    {1086, Kind::PushButton, "修改", "", "", "参数修改", kNone},
    // sensing cable
    {1039, Kind::Edit, "", "A线长：", "m", "水浸线信息", kNone},
    {1040, Kind::PushButton, "读取", "", "", "水浸线信息", kNone},
    {1041, Kind::PushButton, "设置", "", "", "水浸线信息", kNone},
    {1042, Kind::Edit, "", "A电阻率：", "mΩ/cm", "水浸线信息", kNone},
    {1043, Kind::PushButton, "读取", "", "", "水浸线信息", kNone},
    {1044, Kind::PushButton, "设置", "", "", "水浸线信息", kNone},
    {1045, Kind::Edit, "", "A0电阻：", "Ω", "水浸线信息", kNone},
    {1046, Kind::PushButton, "读取", "", "", "水浸线信息", kNone},
    {1047, Kind::PushButton, "设置", "", "", "水浸线信息", kDisabled},
    {1048, Kind::Edit, "", "A线电阻：", "Ω", "水浸线信息", kHidden},
    {1049, Kind::PushButton, "读取", "", "", "水浸线信息", kHidden | kDisabled},
    {1050, Kind::PushButton, "设置", "", "", "水浸线信息", kHidden | kDisabled},
    // status
    {1063, Kind::Static, "", "A状态：", "", "状态信息", kNone},
    {1064, Kind::Static, "", "水浸位置：", "", "状态信息", kNone},
    {1068, Kind::Static, "0", "", "", "成功次数", kCentred},
    {1069, Kind::Static, "0", "", "", "失败次数", kCentred},
    {1051, Kind::PushButton, "开始检测", "", "", "状态信息", kNone},
    // buzzer and resistivity auto-calibration
    {1089, Kind::Radio, "关", "", "", "蜂鸣器", kNone},
    {1090, Kind::Radio, "开", "", "", "蜂鸣器", kNone},
    {1091, Kind::Radio, "关", "", "", "自动校准电阻率", kHidden},
    {1092, Kind::Radio, "开", "", "", "自动校准电阻率", kHidden},
    // device clock row
    {1098, Kind::Static, "", "", "", kNoGroup, kNone},
    {1099, Kind::Static, "", "", "", kNoGroup, kNone},
    {1100, Kind::Static, "", "", "", kNoGroup, kNone},
    {1101, Kind::Static, "", "", "", kNoGroup, kNone},
    {1102, Kind::Static, "", "", "", kNoGroup, kNone},
    {1103, Kind::Static, "", "", "", kNoGroup, kNone},
    {1093, Kind::PushButton, "设置为系统时间", "", "", kNoGroup, kNone},
    // alarm log
    {1011, Kind::List, "", "", "", kNoGroup, kNone},
    {1035, Kind::PushButton, "读取", "", "", kNoGroup, kNone},
    {1072, Kind::Static, "", "日志条数：", "", kNoGroup, kNone},
    {1053, Kind::PushButton, "读取日志", "", "", kNoGroup, kNone},
    {1054, Kind::PushButton, "清除日志", "", "", kNoGroup, kNone},
    // calibration source
    {1094, Kind::Edit, "", "通道1电压：", "mV", "校准源", kPanel},
    {1095, Kind::PushButton, "设置", "", "", "校准源", kPanel},
    {1096, Kind::Edit, "", "通道2电压：", "V", "校准源", kPanel},
    {1097, Kind::PushButton, "设置", "", "", "校准源", kPanel},
    {1106, Kind::PushButton, "自动校准电压", "", "", "校准源", kPanel},
    // A0
    {1014, Kind::Edit, "", "A0校准电压1：", "mV", "A0", kPanel},
    {1015, Kind::PushButton, "读取", "", "", "A0", kPanel | kHidden | kDisabled},
    {1016, Kind::PushButton, "设置", "", "", "A0", kPanel | kDisabled},
    {1017, Kind::Edit, "", "A0校准电压2：", "mV", "A0", kPanel},
    {1018, Kind::PushButton, "读取", "", "", "A0", kPanel | kHidden | kDisabled},
    {1019, Kind::PushButton, "设置", "", "", "A0", kPanel | kDisabled},
    {1056, Kind::Static, "", "A0电压系数：", "", "A0", kPanel | kCentred},
    {1082, Kind::PushButton, "读取", "", "", "A0", kPanel | kDisabled},
    // A1
    {1020, Kind::Combo, "", "A1量程：", "", "A1", kPanel},
    {1021, Kind::PushButton, "读取", "", "", "A1", kPanel | kDisabled},
    {1022, Kind::PushButton, "设置", "", "", "A1", kPanel | kDisabled},
    {1023, Kind::Edit, "", "A1校准电压1：", "mV", "A1", kPanel},
    {1024, Kind::PushButton, "读取", "", "", "A1", kPanel | kHidden | kDisabled},
    {1025, Kind::PushButton, "设置", "", "", "A1", kPanel | kDisabled},
    {1026, Kind::Edit, "", "A1校准电压2：", "mV", "A1", kPanel},
    {1027, Kind::PushButton, "读取", "", "", "A1", kPanel | kHidden | kDisabled},
    {1028, Kind::PushButton, "设置", "", "", "A1", kPanel | kDisabled},
    {1057, Kind::Static, "", "A1-1电压系数：", "", "A1", kPanel | kCentred},
    {1058, Kind::Static, "", "A1-2电压系数：", "", "A1", kPanel | kCentred},
    {1059, Kind::Static, "", "A1-3电压系数：", "", "A1", kPanel | kCentred},
    {1060, Kind::Static, "", "A1-4电压系数：", "", "A1", kPanel | kCentred},
    {1081, Kind::PushButton, "读取A1电压系数", "", "", "A1", kPanel | kDisabled},
    // A2
    {1029, Kind::Edit, "", "A2校准电压1：", "V", "A2", kPanel},
    {1030, Kind::PushButton, "读取", "", "", "A2", kPanel | kHidden | kDisabled},
    {1031, Kind::PushButton, "设置", "", "", "A2", kPanel | kDisabled},
    {1032, Kind::Edit, "", "A2校准电压2：", "V", "A2", kPanel},
    {1033, Kind::PushButton, "读取", "", "", "A2", kPanel | kHidden | kDisabled},
    {1034, Kind::PushButton, "设置", "", "", "A2", kPanel | kDisabled},
    {1062, Kind::Static, "", "A2电压系数：", "", "A2", kPanel | kCentred},
    {1083, Kind::PushButton, "读取", "", "", "A2", kPanel | kDisabled},
    // below the A2 group
    {1065, Kind::Static, "", "A0电压：", "", kNoGroup, kPanel},
    {1066, Kind::Static, "", "A1电压：", "", kNoGroup, kPanel},
    {1067, Kind::Static, "", "A2电压：", "", kNoGroup, kPanel},
    {1109, Kind::Radio, "电压", "", "", kNoGroup, kPanel},
    {1110, Kind::Radio, "ADC值", "", "", kNoGroup, kPanel},
    {1108, Kind::PushButton, "Button1", "", "", kNoGroup, kPanel | kHidden | kDefault},
    // hidden controls outside the groups
    {1061, Kind::Static, "", "A1-5电压放大倍数：", "", kNoGroup, kHidden},
    {1038, Kind::Edit, "", "A电流：", "μA", kNoGroup, kHidden},
    {1036, Kind::PushButton, "读取", "", "", kNoGroup, kHidden | kDisabled},
    {1037, Kind::PushButton, "设置", "", "", kNoGroup, kHidden | kDisabled},
    {1052, Kind::PushButton, "读取条数", "", "", kNoGroup, kHidden},
    {1071, Kind::PushButton, "读取全部数据", "", "", kNoGroup, kHidden},
    {1073, Kind::Edit, "", "年", "", kNoGroup, kHidden},
    {1074, Kind::Edit, "", "月", "", kNoGroup, kHidden},
    {1075, Kind::Edit, "", "日", "", kNoGroup, kHidden},
    {1076, Kind::Edit, "", "时", "", kNoGroup, kHidden},
    {1077, Kind::Edit, "", "分", "", kNoGroup, kHidden},
    {1078, Kind::Edit, "", "秒", "", kNoGroup, kHidden},
    {1079, Kind::PushButton, "读取", "", "", kNoGroup, kHidden},
    {1080, Kind::PushButton, "写入", "", "", kNoGroup, kHidden},
};

// Hidden caption statics without an id, each with an empty value static
// (object names of the value statics).
struct UnnamedStatic {
    const char* label;
    const char* valueName;
};
inline const std::vector<UnnamedStatic> kHiddenUnnamedStatics = {
    {"放大通道：", "lbl_amp_channel_value"},
    {"工作模式：", "lbl_mode_value"},
};

struct ComboContents {
    int id;
    std::vector<const char*> items;
};
inline const std::vector<ComboContents> kComboContents = {
    {1001, {"Com1", "Com2", "Com3", "Com4", "Com5", "Com6", "Com7", "Com8", "Com9"}},
    {1002, {"1200", "2400", "4800", "9600", "19200", "38400", ""}},
    {1012, {"测量模式", "工厂模式"}},
    {1020, {"量程1", "量程2", "量程3", "量程4", ""}},
    {1085, {"1200", "2400", "4800", "9600", "19200", "38400", ""}},
};

// Template order of the controls with ids: the tab order.
inline const std::vector<int> kTemplateOrder = {
    1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1055, 1011, 1012, 1014,
    1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1056, 1023, 1024, 1025, 1026, 1027,
    1028, 1057, 1058, 1059, 1060, 1061, 1029, 1030, 1031, 1032, 1033, 1034, 1036, 1037,
    1062, 1038, 1039, 1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047, 1035, 1048, 1049,
    1050, 1063, 1064, 1051, 1065, 1066, 1067, 1068, 1069, 1072, 1052, 1053, 1054, 1070,
    1071, 1073, 1074, 1075, 1076, 1077, 1078, 1079, 1080, 1081, 1082, 1083, 1084, 1085,
    1086, 1089, 1090, 1093, 1098, 1099, 1100, 1101, 1102, 1103, 1091, 1092, 1094, 1095,
    1096, 1097, 1106, 1108, 1109, 1110,
};

// Dialog units to pixels: round(du × 1.5).
constexpr int DuToPx(int du) { return (du * 3 + 1) / 2; }

// Width of the narrow (measurement-mode) layout for a full width.
constexpr int NarrowWidth(int fullWidth) { return fullWidth * 360 / 537; }

struct DuRect {
    int x, y, w, h;
};

// Group boxes of template 102 with their rectangles in dialog units.
struct Area {
    const char* title;
    DuRect rect;
    bool hidden;
    bool panel;
};
inline const std::vector<Area> kConsoleAreas = {
    {kTopBox, {6, 3, 268, 49}, false, false},
    {"搜索通讯参数", {6, 56, 267, 55}, false, false},
    {"工作模式", {276, 8, 83, 45}, false, false},
    {"参数修改", {276, 56, 83, 55}, false, false},
    {"水浸线信息", {6, 113, 353, 56}, false, false},
    {"状态信息", {6, 170, 276, 57}, false, false},
    {"成功次数", {97, 184, 48, 30}, false, false},
    {"失败次数", {147, 184, 48, 30}, false, false},
    {"蜂鸣器", {284, 170, 75, 28}, false, false},
    {"自动校准电阻率", {283, 199, 75, 28}, true, false},
    {"校准源", {365, 8, 172, 51}, false, true},
    {"A0", {365, 63, 172, 68}, false, true},
    {"A1", {365, 134, 172, 144}, false, true},
    {"A2", {365, 280, 172, 70}, false, true},
};

// Controls whose rectangle the layout gives outright (dialog units). A
// control that may grow keeps its place but may be larger, to hold its
// caption in the CJK font that stands in for 宋体 (wider than the original).
struct PlacedControl {
    int id;
    DuRect rect;
    bool mayGrow;
};
inline const std::vector<PlacedControl> kPlacedControls = {
    {1051, {205, 186, 41, 27}, false},
    {1093, {297, 232, 64, 14}, false},
    {1053, {181, 391, 50, 14}, false},
    {1054, {261, 391, 50, 14}, false},
    {1106, {505, 22, 26, 30}, true},  // three characters a line: "自动校" / "准电压"
};

// The device clock row: year / month / day hour : minute : second, from
// x = 129 at y = 232, before "设置为系统时间" 1093.
inline const std::vector<int> kClockStatics = {1098, 1099, 1100, 1101, 1102, 1103};
inline constexpr int kClockRowXDu = 129;
inline constexpr int kClockRowYDu = 232;

// The main window: caption, size in dialog units, left edge of the panel.
inline constexpr const char* kConsoleCaption = "QD-7420A_ver.1.1";
inline constexpr DuRect kConsoleSize = {0, 0, 544, 419};
inline constexpr DuRect kAlarmList = {6, 251, 359, 136};
inline constexpr int kPanelLeftDu = 365;

// The small dialogs. A control without an id is named by its text.
struct DialogControl {
    int id;  // 0: no id
    Kind kind;
    const char* text;
    unsigned flags;
    DuRect rect;  // {-1, ...} when the template gives no position
};

struct DialogTemplate {
    int templateId;
    const char* caption;
    int duWidth, duHeight;  // 0 when no size is given
    int pointSize;
    std::vector<DialogControl> controls;
};

inline constexpr DuRect kUnplaced = {-1, -1, -1, -1};

inline const std::vector<DialogTemplate> kSmallDialogs = {
    {100, "关于 QD7420", 235, 55, 9,
     {
         {0, Kind::Static, "QD7420 1.0 版", kNone, kUnplaced},
         {1, Kind::PushButton, "确定", kDefault, kUnplaced},
     }},
    {130, "请输入密码", 0, 0, 9,
     {
         {0, Kind::Static, "密码：", kNone, kUnplaced},
         {1090, Kind::Edit, "", kPassword, kUnplaced},
         {1, Kind::PushButton, "确认", kDefault, kUnplaced},
     }},
    {131, "提示", 154, 96, 10,
     {
         {1, Kind::PushButton, "确认", kDefault, {18, 67, 50, 14}},
         {2, Kind::PushButton, "取消", kNone, {85, 67, 50, 14}},
         {0, Kind::Static, "请确认水浸线无告警且水浸线长输入无误", kNone, {18, 27, 118, 8}},
         {0, Kind::Static, "入无误！", kNone, {64, 38, 31, 8}},
     }},
    {132, "", 123, 57, 10,
     {
         {0, Kind::Static, "请等待", kNone, {49, 17, 23, 8}},
         {1107, Kind::Static, "", kNone, {52, 29, 8, 8}},
         {0, Kind::Static, "秒", kNone, {62, 29, 8, 8}},
         {1105, Kind::Progress, "", kHidden, {7, 36, 12, 14}},
     }},
};

}  // namespace templates
