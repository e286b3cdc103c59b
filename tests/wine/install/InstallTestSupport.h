// Helpers for the installation tests under Wine: scratch folders with blanks
// and Chinese names, files, processes, the registry. All texts are bytes in
// code page 936; the Chinese ones are spelled as GBK escapes so that the
// expectations do not depend on how the code under test was compiled.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace quv::test {

// GBK bytes of the texts the wizard uses.
inline constexpr char kGbkService[] = "\xb7\xfe\xce\xf1";                       // 服务
inline constexpr char kGbkServiceProgram[] = "Quv\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2";  // Quv服务程序
inline constexpr char kGbkUninstall[] = "\xd0\xb6\xd4\xd8Quv\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2";  // 卸载Quv服务程序
inline constexpr char kGbkDescription[] =
    "\xca\xd5\xd2\xf8\xc8\xed\xbc\xfeQuv\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2";  // 收银软件Quv服务程序
inline constexpr char kGbkMyComputer[] = "\xce\xd2\xb5\xc4\xb5\xe7\xc4\xd4";  // 我的电脑
inline constexpr char kGbkCreatingFolder[] = "\xb4\xb4\xbd\xa8\xce\xc4\xbc\xfe\xbc\xd0";  // 创建文件夹
inline constexpr char kGbkWizardTitle[] = "\xb0\xb2\xd7\xb0Quv\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2";  // 安装Quv服务程序

// The folder of the test program, with a trailing backslash; the payload
// programs, their archive and Trap.exe are copied there by the build.
std::string ProgramDir();
std::string ProgramPath();

// A fresh folder under the temporary folder, removed with its contents.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // Without trailing backslash.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string root_;
  std::string path_;
};

void RemoveTree(const std::string& path);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool CopyOne(const std::string& from, const std::string& to);
bool Exists(const std::string& path);

// A started program; waits for nothing and closes its handles at the end.
class Program {
 public:
  explicit Program(const std::string& commandLine);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  bool started() const { return info_.hProcess != nullptr; }
  // Exit code after at most timeoutMs, or -1 when still running.
  long Wait(unsigned timeoutMs);

 private:
  PROCESS_INFORMATION info_{};
};

// Runs a command line to its end (bounded) and answers its exit code.
long RunProgram(const std::string& commandLine, unsigned timeoutMs = 30000);

// Polls until condition holds, for at most timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs);

// Registry string value, or nullopt-like "missing" flag.
bool ReadRegString(HKEY root, const std::string& key, const std::string& value, std::string& out);
bool RegKeyExists(HKEY root, const std::string& key);
void WriteRegString(HKEY root, const std::string& key, const std::string& value, const std::string& data);
void DeleteRegValue(HKEY root, const std::string& key, const std::string& value);

// The binary path the service manager holds for the service; empty if none.
std::string ServiceBinaryPath(const std::string& name);
// Stops and deletes the service and waits until it and its process are gone.
void RemoveServiceCompletely(const std::string& name);

inline constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Points one Shell Folders value elsewhere (or removes it) for a test.
class ShellFolderOverride {
 public:
  ShellFolderOverride(const std::string& value, const std::string* folder);
  ~ShellFolderOverride();
  ShellFolderOverride(const ShellFolderOverride&) = delete;
  ShellFolderOverride& operator=(const ShellFolderOverride&) = delete;

 private:
  std::string value_;
  std::string saved_;
  bool had_ = false;
};

}  // namespace quv::test
