// Stand-in for the Quv uninstaller. It reads "install.dl" in its own folder
// (lines "File<n>=<path>N" in the system code page) and removes, in this
// order: running copies of "QuvSvr.exe" started from its folder, the service
// "ZRQuvSvr" when its program lies in that folder, the listed files inside
// that folder, the two Start-menu shortcuts (lines 5 and 6, by their names),
// the emptied shortcut folder and, last, the installation's entry in
// Programs and Features when it names this folder. The list is only a list:
// a line naming anything else is logged and left alone. What is locked goes
// at the next start of Windows. It writes a log (/LOG="file", else the
// temporary folder) and exits 0 when everything went, 3 when anything is
// left, 4 without administrator rights, 5 while another run of it or of the
// setup program is under way, 6 when the rollback of an installation cut
// short (which it finishes first, as the setup program would) cannot be
// finished: it then removes nothing.
// "/silent" (any letter case) asks nothing and shows nothing. Its own file
// and folder go once it has ended: a copy of it in a private folder made for
// it under the temporary folder, started with "/cleanup <id> <path>", waits
// for that and deletes them (the copy itself goes at the next start).
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "install/DllSearch.h"
#include "install/FolderSecurity.h"
#include "install/InstalledFiles.h"
#include "install/Log.h"
#include "install/Paths.h"
#include "install/RunGuard.h"
#include "install/ServiceControl.h"
#include "install/Transaction.h"
#include "install/UninstallEntry.h"
#include "zip/Text.h"

namespace {

using namespace quv;

constexpr char kTitle[] = "卸载Quv服务程序";
constexpr char kOwnName[] = "UnInstall.exe";
constexpr char kShortcutFolder[] = "Quv服务程序";
constexpr char kShortcutNames[2][32] = {"Quv服务程序.lnk", "卸载Quv服务程序.lnk"};
constexpr DWORD kCleanupWaitMs = 30000;
constexpr unsigned kServiceGoneMs = 10000;

enum ExitCode { kDone = 0, kDeclined = 1, kNoList = 2, kLeftBehind = 3, kNoRights = 4, kAnotherRun = 5,
                kNotRecovered = 6 };

std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return ok;
}

struct Listed {
  std::string key;   // "File5"
  std::string path;
};

// The lines whose value ends in the mark N (a plain file to delete).
std::vector<Listed> ListedFiles(const std::string& text) {
  std::vector<Listed> files;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() < 2 || value.back() != 'N') continue;
    value.pop_back();
    files.push_back({line.substr(0, eq), value});
  }
  return files;
}

// A shortcut the installer makes: line 5 or 6, named as it names them, in
// a folder of the shortcuts' name.
bool IsRecordedShortcut(const Listed& file) {
  const int index = file.key == "File5" ? 0 : file.key == "File6" ? 1 : -1;
  if (index < 0 || paths::HasDotPart(file.path)) return false;
  std::string folder = text::FolderPart(file.path);
  if (folder.empty()) return false;
  folder.pop_back();
  return text::FileNamePart(file.path) == kShortcutNames[index] && text::FileNamePart(folder) == kShortcutFolder;
}

class Uninstall {
 public:
  Uninstall(std::string self, InstallLog& log)
      : self_(std::move(self)), folder_(text::FolderPart(self_)), log_(log) {}

  int Run(const std::string& list) {
    Note("卸载文件夹: " + folder_);
    EndPrograms();
    RemoveService();
    std::vector<std::string> folders;
    const std::string ownList = folder_ + kInstallListName;
    for (const Listed& file : ListedFiles(list)) {
      const bool inside = paths::IsInsideFolder(file.path, folder_);
      if (!inside && !IsRecordedShortcut(file)) {
        Note("不在安装文件夹内, 不删除: " + file.path);
        continue;
      }
      if (!inside) folders.push_back(text::FolderPart(file.path));
      // The uninstaller and its list go last, and only when all else went:
      // otherwise the uninstall can be run again.
      if (text::SameText(file.path, self_) || text::SameText(file.path, ownList)) continue;
      DeleteListed(file.path);
    }
    // Only an emptied shortcut folder goes: RemoveDirectory refuses the others.
    for (const std::string& f : folders) RemoveDirectoryA(f.c_str());
    RemoveEntry();
    if (left_) {
      Note("保留卸载程序和安装记录, 以便再次卸载");
    } else {
      DeleteListed(ownList);
      // A running program cannot delete itself: a copy does it, or else the
      // system at its next start.
      if (!StartCleanup()) ScheduleAtRestart(self_);
    }
    Note(left_ ? "卸载未能全部完成" : "卸载完成");
    return left_ ? kLeftBehind : kDone;
  }

 private:
  void Note(const std::string& line) { log_.Write(line); }

  void Left(const std::string& what, DWORD code) {
    left_ = true;
    Note(what + " (错误 " + std::to_string(code) + ")");
  }

  void EndPrograms() {
    if (!IsProcessRunning(kServiceProgram, folder_)) return;
    Note(std::string("结束程序: ") + kServiceProgram);
    if (!KillProcessByName(kServiceProgram, folder_)) Left(std::string("未能结束程序 ") + kServiceProgram, ERROR_ACCESS_DENIED);
  }

  // Only the service whose program lies in this folder: one registered by
  // an installation elsewhere is not this one's to remove.
  void RemoveService() {
    ServiceConfig config;
    if (!ReadServiceConfig(kServiceName, config)) return;
    std::string program = config.binaryPath;
    program.erase(std::remove(program.begin(), program.end(), '"'), program.end());
    if (!text::SameText(program, folder_ + kServiceProgram)) {
      Note(std::string("服务不属于本安装, 不删除: ") + kServiceName + " " + config.binaryPath);
      return;
    }
    Note(std::string("删除服务: ") + kServiceName);
    StopAndDeleteService(kServiceName);
    if (!WaitForService(kServiceName, false, kServiceGoneMs)) Left(std::string("未能删除服务 ") + kServiceName, GetLastError());
  }

  // A stopped service's process may still hold its file for a moment; a file
  // still in use goes at the next start.
  void DeleteListed(const std::string& path) {
    for (int attempt = 0; attempt < 30; ++attempt) {
      const DWORD attributes = GetFileAttributesA(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return;
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Left("是文件夹, 未删除: " + path, ERROR_DIRECTORY);
      if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (DeleteFileA(path.c_str())) {
        Note("已删除: " + path);
        return;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return Left("未能删除 " + path, error);
      Sleep(100);
    }
    left_ = true;
    ScheduleAtRestart(path);
  }

  void ScheduleAtRestart(const std::string& path) {
    if (MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      Note("重新启动后删除: " + path);
    } else {
      Left("未能删除 " + path, GetLastError());
    }
  }

  // Last, so that a failed uninstall can be run again from the list; and
  // only this installation's entry.
  void RemoveEntry() {
    const UninstallEntrySnapshot entry = ReadUninstallEntry();
    if (!entry.existed) return;
    for (const RegistryValue& value : entry.values) {
      if (value.name != "InstallLocation") continue;
      const std::string location(value.data.c_str());
      if (!text::SameText(WithTrailingBackslash(location), folder_)) {
        Note("卸载信息属于另一个文件夹, 保留: " + location);
        return;
      }
    }
    if (left_) {
      Note("有未删除的内容, 保留卸载信息");
      return;
    }
    if (const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey))
      return Left(std::string("未能删除卸载信息 ") + kUninstallKey, static_cast<DWORD>(result));
    Note(std::string("已删除卸载信息: ") + kUninstallKey);
  }

  // Starts a copy of this program, in a folder made for it that only
  // administrators and SYSTEM may write, which deletes this program and its
  // folder once it has ended. Answers whether it started.
  bool StartCleanup() {
    char temp[MAX_PATH + 1] = {};
    if (!GetTempPathA(MAX_PATH, temp)) return false;
    std::string privateFolder;
    // A name taken already (even planted by someone) is never used.
    for (DWORD n = GetTickCount() & 0xFFFF, tries = 0; privateFolder.empty() && tries < 100; ++n, ++tries) {
      const std::string candidate = std::string(temp) + "QuvUninstall-" + std::to_string(GetCurrentProcessId()) +
                                    "-" + std::to_string(n);
      if (CreatePrivateFolder(candidate)) privateFolder = candidate;
    }
    if (privateFolder.empty()) return false;
    const std::string copy = privateFolder + "\\" + kOwnName;
    if (!CopyFileA(self_.c_str(), copy.c_str(), TRUE)) {
      RemoveDirectoryA(privateFolder.c_str());
      return false;
    }
    std::string line = "\"" + copy + "\" /cleanup " + std::to_string(GetCurrentProcessId()) + " \"" + self_ + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Started in its own folder: a current folder inside the install folder
    // would keep that from being removed.
    if (!CreateProcessA(copy.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, privateFolder.c_str(),
                        &startup, &info)) {
      DeleteFileA(copy.c_str());
      RemoveDirectoryA(privateFolder.c_str());
      return false;
    }
    Note("删除程序自身: " + copy);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
  }

  const std::string self_, folder_;
  InstallLog& log_;
  bool left_ = false;
};

// The copy's part: waits for the uninstaller (process id) to end, then
// deletes it and its folder when that is empty; itself and its private
// folder go at the next start.
int Cleanup(const char* id, const std::string& uninstaller) {
  if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(id, nullptr, 10)))) {
    WaitForSingleObject(process, kCleanupWaitMs);
    CloseHandle(process);
  }
  bool deleted = false;
  if (text::SameText(text::FileNamePart(uninstaller), kOwnName)) {
    for (int attempt = 0; attempt < 30 && !(deleted = DeleteFileA(uninstaller.c_str())); ++attempt) Sleep(100);
    // The uninstaller ran from there when it undid an installation cut short.
    DeleteFileA((uninstaller + kInUseSuffix).c_str());
    RemoveDirectoryA(text::FolderPart(uninstaller).c_str());
  }
  const std::string self = OwnPath();
  MoveFileExA(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExA(text::FolderPart(self).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return deleted ? kDone : kLeftBehind;
}

bool HasArg(int argc, char** argv, const char* wanted) {
  for (int i = 1; i < argc; ++i) {
    if (lstrcmpiA(argv[i], wanted) == 0) return true;
  }
  return false;
}

std::string LogArg(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (text::UpperAscii(arg.substr(0, 5)) == "/LOG=") return arg.substr(5);
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  RestrictDllSearch();
  if (argc == 4 && lstrcmpiA(argv[1], "/cleanup") == 0) return Cleanup(argv[2], argv[3]);
  const bool silent = HasArg(argc, argv, "/silent");
  if (!HoldsAdministratorRights()) {
    if (!silent) MessageBoxA(nullptr, "卸载Quv服务程序需要管理员权限.", kTitle, MB_ICONERROR);
    return kNoRights;
  }
  const MachineWideRun onlyRun;
  if (!onlyRun.Acquired()) {
    if (!silent) MessageBoxA(nullptr, "另一个安装或卸载Quv服务程序的程序正在运行.", kTitle, MB_ICONERROR);
    return kAnotherRun;
  }
  if (!silent && MessageBoxA(nullptr, "确定要卸载Quv服务程序吗?", kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return kDeclined;

  InstallLog log;
  const std::string logPath = LogArg(argc, argv);
  log.Open(logPath.empty() ? DefaultLogPath("QuvUninstall") : logPath);
  log.Write(std::string("UnInstall: ") + GetCommandLineA());
  // An installation cut short is undone first: otherwise the next setup run
  // would put back the old service this run removes.
  try {
    InstallTransaction transaction(nullptr);
    RecoverInterruptedInstallation(transaction, [&](const std::string& line) { log.Write(line); });
  } catch (const InstallFailure& e) {
    const std::string text = FailureText(e.Failure()) + "\r\n未卸载任何内容.";
    log.Write(text);
    log.Write("退出码: " + std::to_string(kNotRecovered));
    if (!silent) MessageBoxA(nullptr, text.c_str(), kTitle, MB_ICONERROR);
    return kNotRecovered;
  }
  const std::string self = OwnPath();
  std::string list;
  if (!ReadWholeFile(text::FolderPart(self) + kInstallListName, list)) {
    log.Write("找不到安装记录 install.dl");
    if (!silent) MessageBoxA(nullptr, "找不到安装记录 install.dl", kTitle, MB_ICONERROR);
    return kNoList;
  }
  const int code = Uninstall(self, log).Run(list);
  log.Write("退出码: " + std::to_string(code));
  if (!silent)
    MessageBoxA(nullptr, code == kDone ? "Quv服务程序已卸载." : ("有些内容未能删除, 详见 " + log.Path()).c_str(),
                kTitle, code == kDone ? MB_ICONINFORMATION : MB_ICONWARNING);
  return code;
}
