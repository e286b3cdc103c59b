// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/Failure.h"

#include <windows.h>

#include <utility>

namespace quv {

namespace {
std::string Summary(const InstallStepFailure& f) { return f.step + "失败: " + f.object; }
}  // namespace

InstallFailure::InstallFailure(InstallStepFailure failure)
    : Exception(Summary(failure)), failure_(std::move(failure)) {}

std::string SystemErrorText(std::uint32_t code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message(text ? text : "", n);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

InstallFailure CodeFailure(const std::string& step, const std::string& object, std::uint32_t code) {
  return InstallFailure(InstallStepFailure{step, object, code, SystemErrorText(code), {}});
}

InstallFailure LastErrorFailure(const std::string& step, const std::string& object) {
  return CodeFailure(step, object, GetLastError());
}

std::string FailureText(const InstallStepFailure& f) {
  std::string text = "安装未能完成.\r\n\r\n" + Summary(f);
  if (f.code != 0) text += "\r\n" + f.systemText + " (错误 " + std::to_string(f.code) + ")";
  if (f.notUndone.empty()) {
    text += "\r\n\r\n电脑已恢复到安装前的状态.";
  } else {
    text += "\r\n\r\n以下更改未能撤销:";
    for (const std::string& line : f.notUndone) text += "\r\n" + line;
  }
  return text;
}

}  // namespace quv
