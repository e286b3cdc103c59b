// The few user-interface moments the engine has (message boxes, the file and
// folder pickers, the busy cursor, letting the GUI breathe) go through this
// interface, so the engine itself stays free of any windowing code.
#pragma once

#include <string>

namespace quv::platform {

enum class Buttons { Ok, OkCancel, YesNo, YesNoAll };
enum class Answer { Ok, Cancel, Yes, No, YesToAll, NoToAll };
enum class Cursor { Default, Busy };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box without owner; answers the button pressed.
  virtual Answer ShowMessage(const std::string& text, const std::string& caption, Buttons buttons) = 0;
  // File-open dialog. filter uses the "Label|*.ext|Label|*.ext" form.
  // Answers false when cancelled.
  virtual bool PickFile(const std::string& title, const std::string& filter,
                        const std::string& initialDir, std::string& chosen) = 0;
  // Folder picker that may create a new folder. Answers false when cancelled.
  virtual bool PickFolder(const std::string& initialDir, std::string& chosen) = 0;
  // Sets the screen cursor and answers the one that was shown before.
  virtual Cursor SetCursor(Cursor cursor) = 0;
  // Processes pending window messages, so a GUI stays responsive during long work.
  virtual void ProcessMessages() = 0;
};

// The platform's own implementation: the Win32 one on Windows, the console
// one elsewhere. Each component is given the user interface its caller
// wants; this is the one a component uses when it is given none.
UserInterface& Ui();

// Shows cursor on ui and restores the one it found when it goes out of scope.
class CursorShown {
 public:
  CursorShown(UserInterface& ui, Cursor cursor) : ui_(ui), saved_(ui.SetCursor(cursor)) {}
  ~CursorShown() { ui_.SetCursor(saved_); }
  CursorShown(const CursorShown&) = delete;
  CursorShown& operator=(const CursorShown&) = delete;

 private:
  UserInterface& ui_;
  Cursor saved_;
};

}  // namespace quv::platform
