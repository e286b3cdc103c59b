// Console answers for the engine's user-interface moments: asks on the
// terminal when there is one, otherwise answers as a cancel (or "no").
#ifndef _WIN32

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "platform/Ui.h"

namespace quv::platform {

namespace {

bool Interactive() { return isatty(STDIN_FILENO) && isatty(STDERR_FILENO); }

std::string AskLine(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  std::string line;
  if (!std::getline(std::cin, line)) return std::string();
  return line;
}

class ConsoleUi final : public UserInterface {
 public:
  Answer ShowMessage(const std::string& text, const std::string& caption, Buttons buttons) override {
    const std::string head = caption.empty() ? text : caption + ": " + text;
    const Answer refusal = buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::OkCancel ? Answer::Cancel : Answer::No;
    if (!Interactive()) {
      std::cerr << head << '\n';
      return refusal;
    }
    for (;;) {
      std::string a;
      switch (buttons) {
        case Buttons::Ok:
          std::cerr << head << '\n';
          return Answer::Ok;
        case Buttons::OkCancel:
          a = AskLine(head + " [o]k/[c]ancel: ");
          if (a == "o" || a == "ok" || a == "O") return Answer::Ok;
          if (a.empty() || a[0] == 'c' || a[0] == 'C') return Answer::Cancel;
          break;
        case Buttons::YesNo:
          a = AskLine(head + " [y]es/[n]o: ");
          if (a == "y" || a == "Y" || a == "yes") return Answer::Yes;
          if (a.empty() || a[0] == 'n' || a[0] == 'N') return Answer::No;
          break;
        case Buttons::YesNoAll:
          a = AskLine(head + " [y]es, [n]o, [A]ll, [N]one: ");
          if (a == "y" || a == "yes") return Answer::Yes;
          if (a == "A" || a == "all") return Answer::YesToAll;
          if (a == "N" || a == "none") return Answer::NoToAll;
          if (a.empty() || a == "n" || a == "no") return Answer::No;
          break;
      }
      if (!std::cin) return refusal;
    }
  }

  bool PickFile(const std::string& title, const std::string& /*filter*/, const std::string& initialDir,
                std::string& chosen) override {
    if (!Interactive()) return false;
    std::string a = AskLine(title + " (in " + initialDir + "), empty to cancel: ");
    if (a.empty()) return false;
    chosen = a;
    return true;
  }

  bool PickFolder(const std::string& initialDir, std::string& chosen) override {
    if (!Interactive()) return false;
    std::string a = AskLine("Destination folder [" + initialDir + "], empty to cancel: ");
    if (a.empty()) return false;
    chosen = a;
    return true;
  }

  Cursor SetCursor(Cursor cursor) override {
    Cursor old = cursor_;
    cursor_ = cursor;
    return old;
  }

  void ProcessMessages() override {}

 private:
  Cursor cursor_ = Cursor::Default;
};

ConsoleUi default_ui;

}  // namespace

UserInterface& Ui() { return default_ui; }

}  // namespace quv::platform

#endif  // !_WIN32
