// Stand-in for the Quv uninstaller. It reads "install.dl" in its own folder
// (lines "File<n>=<path>N" in the system code page), stops and deletes the
// service "ZRQuvSvr", deletes every listed file and then every folder of a
// listed file that has become empty (the Start-menu folder of the shortcuts).
// It removes the installation's entry in Programs and Features as well.
// "/silent" (any letter case) asks nothing and shows nothing. Its own file
// and folder go once it has ended: a copy of it in the temporary folder,
// started with "/cleanup <id> <path>", waits for that and deletes them (the
// copy itself goes at the next start of Windows).
// The final N of a value marks a plain file to delete; other marks are left alone.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kServiceName[] = "ZRQuvSvr";
constexpr char kTitle[] = "卸载Quv服务程序";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZRQuvSvr";
constexpr DWORD kCleanupWaitMs = 30000;

std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

// Index just past the last "\" or ":" that is a character of its own (in a
// double-byte code page a trail byte may equal "\").
std::size_t FolderEnd(const std::string& path) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == ':') end = i + 1;
  }
  return end;
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

// The paths of the lines whose value ends in the mark N.
std::vector<std::string> ListedFiles(const std::string& text) {
  std::vector<std::string> files;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() < 2 || value.back() != 'N') continue;
    value.pop_back();
    files.push_back(value);
  }
  return files;
}

// Stops the service, waits (bounded) until it has stopped so that its program
// file is free again, and deletes the registration.
void RemoveService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return;
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (service) {
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
           ++i)
        Sleep(100);
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

// A stopped service's process may still hold its file for a moment.
bool DeleteListedFile(const std::string& path) {
  for (int attempt = 0; attempt < 30; ++attempt) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path.c_str())) return true;
    DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
    Sleep(100);
  }
  return false;
}

// Starts a copy of this program from the temporary folder that deletes self
// and its folder once this process has ended. Answers whether it started.
bool StartCleanup(const std::string& self) {
  char tempFolder[MAX_PATH + 1] = {};
  char unique[MAX_PATH + 1] = {};
  if (!GetTempPathA(MAX_PATH, tempFolder) || !GetTempFileNameA(tempFolder, "Quv", 0, unique)) return false;
  // A program's name, beside the unique name reserved for it.
  const std::string copy = std::string(unique) + ".exe";
  DeleteFileA(unique);
  if (!CopyFileA(self.c_str(), copy.c_str(), FALSE)) return false;
  std::string line = "\"" + copy + "\" /cleanup " + std::to_string(GetCurrentProcessId()) + " \"" + self + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Started in the temporary folder: a current folder inside the install
  // folder would keep that from being removed.
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, tempFolder, &startup, &info)) {
    DeleteFileA(copy.c_str());
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

// The copy's part: waits for the uninstaller (process id) to end, then
// deletes it and its folder when that is empty.
int Cleanup(const char* id, const std::string& uninstaller) {
  if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(id, nullptr, 10)))) {
    WaitForSingleObject(process, kCleanupWaitMs);
    CloseHandle(process);
  }
  const bool deleted = DeleteListedFile(uninstaller);
  RemoveDirectoryA(uninstaller.substr(0, FolderEnd(uninstaller)).c_str());
  MoveFileExA(OwnPath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return deleted ? 0 : 3;
}

bool HasArg(int argc, char** argv, const char* wanted) {
  for (int i = 1; i < argc; ++i) {
    if (lstrcmpiA(argv[i], wanted) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && lstrcmpiA(argv[1], "/cleanup") == 0) return Cleanup(argv[2], argv[3]);
  const bool silent = HasArg(argc, argv, "/silent");
  if (!silent && MessageBoxA(nullptr, "确定要卸载Quv服务程序吗?", kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return 1;

  const std::string self = OwnPath();
  const std::string folder = self.substr(0, FolderEnd(self));
  std::string list;
  if (!ReadWholeFile(folder + "install.dl", list)) {
    if (!silent) MessageBoxA(nullptr, "找不到安装记录 install.dl", kTitle, MB_ICONERROR);
    return 2;
  }

  RemoveService();
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);

  bool all_deleted = true;
  std::vector<std::string> folders;
  for (const std::string& path : ListedFiles(list)) {
    std::string parent = path.substr(0, FolderEnd(path));
    if (!parent.empty() && std::find(folders.begin(), folders.end(), parent) == folders.end())
      folders.push_back(parent);
    if (lstrcmpiA(path.c_str(), self.c_str()) == 0) {
      // A running program cannot delete itself: a copy does it, or else the
      // system at its next start.
      if (!StartCleanup(self)) MoveFileExA(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      continue;
    }
    if (!DeleteListedFile(path)) all_deleted = false;
  }
  // Only empty folders go: RemoveDirectory refuses the others.
  for (const std::string& f : folders) RemoveDirectoryA(f.c_str());

  if (!silent)
    MessageBoxA(nullptr, all_deleted ? "Quv服务程序已卸载." : "有些文件无法删除.", kTitle,
                all_deleted ? MB_ICONINFORMATION : MB_ICONWARNING);
  return all_deleted ? 0 : 3;
}
