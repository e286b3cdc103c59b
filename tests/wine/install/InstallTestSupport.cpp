#include "InstallTestSupport.h"

#include <gtest/gtest.h>

#include "install/ServiceControl.h"

namespace quv::test {

std::string ProgramPath() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

std::string ProgramDir() {
  std::string path = ProgramPath();
  return path.substr(0, path.find_last_of('\\') + 1);
}

ScratchDir::ScratchDir(const std::string& name) {
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, temp);
  static int counter = 0;
  root_ = std::string(temp) + "quvinst" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
  CreateDirectoryA(root_.c_str(), nullptr);
  path_ = root_;
  if (!name.empty()) {
    path_ += "\\" + name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
}

ScratchDir::~ScratchDir() { RemoveTree(root_); }

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD put = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(h);
}

bool CopyOne(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Program::Program(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_))
    info_ = PROCESS_INFORMATION{};
}

Program::~Program() {
  if (info_.hProcess) CloseHandle(info_.hProcess);
  if (info_.hThread) CloseHandle(info_.hThread);
}

long Program::Wait(unsigned timeoutMs) {
  if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return static_cast<long>(code);
}

long RunProgram(const std::string& commandLine, unsigned timeoutMs) {
  Program program(commandLine);
  return program.Wait(timeoutMs);
}

bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
  for (unsigned waited = 0;; waited += 50) {
    if (condition()) return true;
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
}

bool ReadRegString(HKEY root, const std::string& key, const std::string& value, std::string& out) {
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return false;
  char data[1024] = {};
  DWORD size = sizeof data - 1, type = 0;
  LONG r = RegQueryValueExA(h, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(h);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  out = data;
  return true;
}

bool RegKeyExists(HKEY root, const std::string& key) {
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

void WriteRegString(HKEY root, const std::string& key, const std::string& value, const std::string& data) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr), ERROR_SUCCESS);
  RegSetValueExA(h, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(h);
}

void DeleteRegValue(HKEY root, const std::string& key, const std::string& value) {
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) return;
  RegDeleteValueA(h, value.c_str());
  RegCloseKey(h);
}

std::string ServiceBinaryPath(const std::string& name) {
  std::string path;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return path;
  if (SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG)) {
    alignas(QUERY_SERVICE_CONFIGA) char buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    if (QueryServiceConfigA(service, config, sizeof buffer, &needed) && config->lpBinaryPathName)
      path = config->lpBinaryPathName;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return path;
}

void RemoveServiceCompletely(const std::string& name) {
  StopAndDeleteService(name);
  WaitUntil([&] { return QueryServiceState("", name) == 0; }, 10000);
  WaitUntil([] { return !IsProcessRunning(kServiceProgram); }, 10000);
}

ShellFolderOverride::ShellFolderOverride(const std::string& value, const std::string* folder) : value_(value) {
  had_ = ReadRegString(HKEY_CURRENT_USER, kShellFoldersKey, value, saved_);
  if (folder)
    WriteRegString(HKEY_CURRENT_USER, kShellFoldersKey, value, *folder);
  else
    DeleteRegValue(HKEY_CURRENT_USER, kShellFoldersKey, value);
}

ShellFolderOverride::~ShellFolderOverride() {
  if (had_)
    WriteRegString(HKEY_CURRENT_USER, kShellFoldersKey, value_, saved_);
  else
    DeleteRegValue(HKEY_CURRENT_USER, kShellFoldersKey, value_);
}

}  // namespace quv::test
