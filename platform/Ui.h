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

// The implementation in force: the Win32 one on Windows, the console one
// elsewhere, unless a caller (a test, say) installed its own.
UserInterface& Ui();
// Installs ui (not owned) for the whole process; nullptr restores the default.
void SetUi(UserInterface* ui);

// Restores the cursor it found when it goes out of scope.
class BusyCursor {
 public:
  BusyCursor() : saved_(Ui().SetCursor(Cursor::Busy)) {}
  ~BusyCursor() { Ui().SetCursor(saved_); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Cursor saved_;
};

}  // namespace quv::platform
