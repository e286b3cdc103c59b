#include "install/Log.h"

#include <windows.h>

#include <cstdio>

namespace quv {

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int size = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (wide <= 0) return text;
  std::wstring w(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, w.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

InstallLog::~InstallLog() {
  if (file_) CloseHandle(file_);
}

bool InstallLog::Open(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (file_) CloseHandle(file_);
  file_ = file;
  path_ = path;
  DWORD written = 0;
  WriteFile(file_, "\xEF\xBB\xBF", 3, &written, nullptr);
  return true;
}

void InstallLog::Write(const std::string& text) {
  if (!file_) return;
  SYSTEMTIME t;
  GetLocalTime(&t);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u  ", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  std::string lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::size_t last = end;
    if (last > at && text[last - 1] == '\r') --last;
    if (last > at) lines += stamp + AnsiToUtf8(text.substr(at, last - at)) + "\r\n";
    at = end + 1;
  }
  DWORD written = 0;
  WriteFile(file_, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

std::string DefaultLogPath(const std::string& program) {
  char folder[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(MAX_PATH, folder);
  SYSTEMTIME t;
  GetLocalTime(&t);
  // The process id keeps runs started within the same second apart.
  char name[80];
  std::snprintf(name, sizeof name, "-%04u%02u%02u-%02u%02u%02u-%lu.log", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, static_cast<unsigned long>(GetCurrentProcessId()));
  return std::string(folder, n <= MAX_PATH ? n : 0) + program + name;
}

}  // namespace quv
