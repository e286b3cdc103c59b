// The installation log: one line per step and result, each stamped with the
// local time, in UTF-8 (with a byte-order mark, so Notepad takes it as such).
// Texts come in the system's code page, as everything else of the wizard.
#pragma once

#include <string>

namespace quv {

class InstallLog {
 public:
  InstallLog() = default;
  ~InstallLog();
  InstallLog(const InstallLog&) = delete;
  InstallLog& operator=(const InstallLog&) = delete;

  // Creates or truncates path; answers false (the system's last error tells
  // why) when it cannot be written.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  // Appends "yyyy-mm-dd hh:mm:ss.mmm  line" and a line break for each
  // non-empty line of text; written at once, so a run that ends abruptly
  // leaves its log up to there.
  void Write(const std::string& text);

 private:
  void* file_ = nullptr;  // HANDLE
  std::string path_;
};

// The system code page's text in UTF-8.
std::string AnsiToUtf8(const std::string& text);

// The default log of a run without /LOG: "<program>-<date>-<time>-<process
// id>.log" in the temporary folder.
std::string DefaultLogPath(const std::string& program = "QuvSetup");

}  // namespace quv
