// Type and sub-type codes of log lines: the first two arguments of logEvent and InsertLogOb.
#pragma once

namespace logcode {

// Types.
inline constexpr int kSystem = 1;   // 系统日志
inline constexpr int kRun = 2;      // 运行日志
inline constexpr int kFailure = 3;  // 失败日志

// Sub-types.
inline constexpr int kStartup = 1;          // 系统初始化
inline constexpr int kParameterChange = 2;  // 参数修改
inline constexpr int kExit = 3;             // 系统退出
inline constexpr int kDeviceLink = 4;       // 设备连接
inline constexpr int kParallel = 5;         // 平行操作
inline constexpr int kSerial = 6;           // 串行操作
inline constexpr int kTimedTask = 7;        // 定时任务
inline constexpr int kOther = 8;            // 其它

}  // namespace logcode
