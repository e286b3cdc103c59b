// A failed step of the installation as a value: which step, on which file or
// service, and the system's error code and text. The wizard shows it; a run
// without a window can log it and map it to an exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/Exception.h"

namespace quv {

struct InstallStepFailure {
  std::string step;         // what was being done, in the wizard's language
  std::string object;       // the file, folder or service it was done to
  std::uint32_t code = 0;   // the system error code (0: none)
  std::string systemText;   // the system's message for code
  // Changes the rollback could not undo, one line each.
  std::vector<std::string> notUndone;
};

// Raised by a step that failed; carries the failure.
class InstallFailure : public Exception {
 public:
  explicit InstallFailure(InstallStepFailure failure);
  const InstallStepFailure& Failure() const { return failure_; }
  InstallStepFailure& Failure() { return failure_; }

 private:
  InstallStepFailure failure_;
};

// The object of the failure a cancelled run ends with (step "安装").
inline constexpr char kCancelledObject[] = "已取消";

// Raised at the next file once the user confirmed closing the window.
class InstallCancelled : public Exception {
 public:
  InstallCancelled() : Exception("Installation cancelled") {}
};

// The failure of step on object with the calling thread's last error.
InstallFailure LastErrorFailure(const std::string& step, const std::string& object);
InstallFailure CodeFailure(const std::string& step, const std::string& object, std::uint32_t code);

// The system's message for an error code, without the trailing line break.
std::string SystemErrorText(std::uint32_t code);

// What the error box says: the step and object, the system's message with
// its code, and what could not be undone.
std::string FailureText(const InstallStepFailure& failure);

}  // namespace quv
