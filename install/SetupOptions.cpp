// Holds the usage text in Chinese: compiled with the GBK execution character set.
#include "install/SetupOptions.h"

#include <vector>

#include "zip/Text.h"

namespace quv {

const char kSetupVersion[] = QUV_VERSION;

const char kSetupUsage[] =
    "用法: QuvSetup.exe [/SILENT | /VERYSILENT] [/DIR=\"文件夹\"] [/LOG[=\"文件\"]] [/NORESTART] [/NOCANCEL]\r\n"
    "    [/SUPPRESSMSGBOXES] [/SP-] [/ALLOWDOWNGRADE]\r\n\r\n"
    "/SILENT\t不提问, 只显示安装进度\r\n"
    "/VERYSILENT\t不显示任何窗口\r\n"
    "/DIR=\"文件夹\"\t安装文件夹 (默认: 已安装的文件夹)\r\n"
    "/LOG=\"文件\"\t安装记录 (UTF-8); 默认写入临时文件夹\r\n"
    "/NORESTART\t接受 (安装程序从不自行重新启动)\r\n"
    "/NOCANCEL\t安装过程中不能关闭窗口\r\n"
    "/SUPPRESSMSGBOXES, /SP-\t接受 (静默安装不提问)\r\n"
    "/ALLOWDOWNGRADE\t允许安装比已安装版本更旧的版本\r\n"
    "/?\t显示本说明\r\n\r\n"
    "退出码: 0 已安装, 1 命令行错误, 2 无法写入记录, 3 文件夹无效, 4 已取消, 5 文件, 6 快捷方式, "
    "7 服务, 8 卸载信息, 9 未能完全撤销, 10 其他错误, 11 文件夹不安全, "
    "12 需要管理员权限, 13 另一个安装正在进行, 14 已安装更新的版本, 3010 已安装, 需要重新启动";

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The arguments after the program's name, split as the C runtime splits
// them: blanks outside quotes separate, a quote toggles grouping and is
// dropped, backslashes before a quote escape (2n: n and a grouping quote;
// 2n+1: n and a literal quote). Walked by characters: the trail byte of a
// double-byte character may have the value of a backslash, never that of a
// quote or a blank.
std::vector<std::string> Arguments(const std::string& line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  bool first = true;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      const char c = line[i];
      if (const std::size_t size = text::CharSize(line, i); size > 1) {
        arg.append(line, i, size);
        i += size;
      } else if (c == '\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) arg += line[i++];
        } else {
          arg.append(n, '\\');
        }
      } else if (c == '"') {
        quoted = !quoted;
        ++i;
      } else {
        arg += c;
        ++i;
      }
    }
    if (!first) args.push_back(arg);
    first = false;
  }
  return args;
}

// The value after name (upper case, with "=") when arg is that switch.
bool ValueOf(const std::string& arg, const std::string& upperArg, const char* name, std::string& value) {
  const std::string prefix = name;
  if (upperArg.compare(0, prefix.size(), prefix) != 0) return false;
  value = arg.substr(prefix.size());
  // Quotes that reached the value through a caller's own quoting.
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return true;
}

// A quote is in no file name: one left in a value is a backslash before a
// closing quote ("C:\Quv\"), which escapes it and swallows the rest.
bool IsPathValue(const std::string& value) { return !value.empty() && value.find('"') == std::string::npos; }

}  // namespace

SetupOptions ParseSetupCommandLine(const std::string& commandLine) {
  SetupOptions options;
  for (const std::string& arg : Arguments(commandLine)) {
    const std::string upper = text::UpperAscii(arg);
    std::string value;
    if (upper == "/SILENT") {
      if (options.mode == SetupOptions::Mode::Wizard) options.mode = SetupOptions::Mode::Silent;
    } else if (upper == "/VERYSILENT") {
      options.mode = SetupOptions::Mode::VerySilent;
    } else if (upper == "/NORESTART" || upper == "/SUPPRESSMSGBOXES" || upper == "/SP-" || upper == "/LOG") {
    } else if (upper == "/NOCANCEL") {
      options.noCancel = true;
    } else if (upper == "/ALLOWDOWNGRADE") {
      options.allowDowngrade = true;
    } else if (upper == "/?") {
      options.usage = true;
    } else if (ValueOf(arg, upper, "/DIR=", value)) {
      options.folder = value;
      if (!IsPathValue(value) && options.error.empty()) options.error = "/DIR= 缺少文件夹或含引号: " + value;
    } else if (ValueOf(arg, upper, "/LOG=", value)) {
      options.log = value;
      if (!IsPathValue(value) && options.error.empty()) options.error = "/LOG= 缺少文件名或含引号: " + value;
    } else if (options.error.empty()) {
      options.error = "未知参数: " + arg;
    }
  }
  return options;
}

bool IsOlderVersion(const std::string& a, const std::string& b) {
  // Numbers part by part; a missing or non-numeric part counts as 0.
  const auto part = [](const std::string& v, std::size_t& at) {
    unsigned long n = 0;
    while (at < v.size() && v[at] >= '0' && v[at] <= '9') n = n * 10 + static_cast<unsigned long>(v[at++] - '0');
    while (at < v.size() && v[at] != '.') ++at;
    if (at < v.size()) ++at;
    return n;
  };
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const unsigned long x = part(a, i), y = part(b, j);
    if (x != y) return x < y;
  }
  return false;
}

int ExitCodeOf(const InstallStepFailure& failure) {
  struct Kind {
    const char* step;
    int code;
  };
  // The steps of the installation (install/ and the window's unzip step).
  static const Kind kKinds[] = {
      {"检查安装文件夹", kExitFolderRefused}, {"检查文件夹权限", kExitUnsafeFolder},
      {"安装", kExitOther},
      {"创建文件夹", kExitFiles},             {"写入临时文件", kExitFiles},
      {"检查临时文件", kExitFiles},           {"写入文件", kExitFiles},
      {"解压文件", kExitFiles},               {"替换文件", kExitFiles},
      {"保存安装列表", kExitFiles},           {"创建快捷方式", kExitShortcuts},
      {"删除旧服务", kExitService},           {"结束程序", kExitService},
      {"注册服务", kExitService},             {"写入服务说明", kExitService},
      {"启动服务", kExitService},             {"启动服务程序", kExitService},
      {"写入卸载信息", kExitUninstallEntry},   {"检查已安装的版本", kExitDowngrade},
      {"检查磁盘空间", kExitDiskFull},         {"写入恢复记录", kExitFiles},           {"撤销上次中断的安装", kExitNotRolledBack},
  };
  if (!failure.notUndone.empty()) return kExitNotRolledBack;
  if (failure.step == "安装" && failure.object == kCancelledObject) return kExitCancelled;
  for (const Kind& kind : kKinds) {
    if (failure.step == kind.step) return kind.code;
  }
  return kExitOther;
}

}  // namespace quv
