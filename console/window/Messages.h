// The fixed texts of the console's message boxes, one place for all
// features. Each box has the application's name as caption and an OK button.
#pragma once

// The port could not be opened (missing, no permission, or in use).
inline constexpr char kTextPortMissing[] = "没有发现此串口或此串口被占用";
// Its informative text, by cause: %1 the device; %2 the group, the program
// or the system's message; %3 the holder's process id.
inline constexpr char kTextNoDevice[] = "设备 %1 不存在：请检查连接。";
inline constexpr char kTextNoPermission[] =
    "没有权限打开 %1：请将用户加入 %2 组（sudo usermod -aG %2 $USER），然后重新登录。";
inline constexpr char kTextHeldByProgram[] = "%1 正被 %2（进程 %3）使用。";
inline constexpr char kTextHeldByProcess[] = "%1 正被进程 %3 使用。";
inline constexpr char kTextHeldByUnknown[] = "%1 正被其他程序使用。";
inline constexpr char kTextBadLockFile[] = "%1 被无法读出进程号的锁文件挡住（%2）：没有程序使用此串口时请删除锁文件。";
inline constexpr char kTextOpenError[] = "无法打开 %1：%2";
// A port list entry whose adapter has been unplugged.
inline constexpr char kTextUnplugged[] = "(已拔出)";

// The system menu's switch for the kernel's RS-485 direction control, and
// its refusal: %1 the device, %2 the driver's answer.
inline constexpr char kTextRs485Item[] = "RS-485 收发控制";
inline constexpr char kTextRs485Refused[] =
    "%1 的驱动不支持 RS-485 收发控制（%2）。串口照常打开；自动切换方向的 USB 转换器不需要此项。";

// A refused reply, by command.
inline constexpr char kTextReadFailed[] = "读取失败!";
inline constexpr char kTextSetFailed[] = "设置失败!";
inline constexpr char kTextClockSetFailed[] = "设置失败";  // without "!", as it always was
inline constexpr const char* kTextDisplayModeSetFailed = kTextClockSetFailed;
inline constexpr char kTextReadError[] = "读取错误";
inline constexpr char kTextLogReadFailed[] = "读取日志失败!";
inline constexpr char kTextModeSetFailed[] = "设置模式失败!";
inline constexpr char kTextChangeFailed[] = "修改失败!";
inline constexpr char kTextCheckFailed[] = "校验出错!";
inline constexpr char kTextStartFailed[] = "启动失败!";
inline constexpr char kTextAutoCalibrationOffFailed[] = "关闭自动校准电压出错!";
inline constexpr char kTextLineLengthSetFailed[] = "设置线长失败!";

// The parameter search: a probe has failed, and a whole scan has.
inline constexpr char kTextSearching[] = "参数正在查找中......";
inline constexpr char kTextSearchNotFound[] = "未搜索到参数,请检查接线!!!";

// Success, where a command reports it.
inline constexpr char kTextSetSucceeded[] = "设置成功!";
inline constexpr char kTextStartSucceeded[] = "启动成功!";
inline constexpr char kTextCalibrationSucceeded[] = "校准成功!";

// An export that could not be written: the file, then the system's reason.
inline constexpr char kTextSaveFailed[] = "无法保存文件 %1：\n%2";

// Inputs refused before anything is sent.
inline constexpr char kTextBadStationAddress[] = "不能为空，地址范围在1--255";
inline constexpr char kTextBadNumber[] = "请输入正确数值";
inline constexpr char kTextBadLineLength[] = "请输入正确线长";
inline constexpr char kTextNoRange[] = "请选择量程";
inline constexpr char kTextNoBaudRate[] = "请选择波特率";
inline constexpr char kTextWrongPassword[] = "密码错误!";  // an application box

// Questions asked before a command that cannot be undone (是 / 否).
inline constexpr char kTextClearLogQuestion[] = "确定要清除控制器中的全部告警日志吗？";

// The cable's alarm states by the code the controller reports (the status
// register 0x2000 and the type of a log entry); other codes have no text.
inline constexpr const char* kTextAlarmStates[] = {"无告警", "水浸", "断线"};
