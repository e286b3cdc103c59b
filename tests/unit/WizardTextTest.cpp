// The wizard's text helpers. Under Wine the system code page is 936, where a
// double-byte character may end in the byte 0x5C ("\").
#include <gtest/gtest.h>

#include "app/Text.h"
#include "install/Paths.h"
#include "platform/Platform.h"

using quv::ErrorBoxText;
using quv::WithTrailingBackslash;

TEST(WithTrailingBackslash, AddsOneBackslashOnlyWhenMissing) {
  EXPECT_EQ(WithTrailingBackslash(""), "");
  EXPECT_EQ(WithTrailingBackslash("C:\\A"), "C:\\A\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\A\\"), "C:\\A\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\"), "C:\\");
  EXPECT_EQ(WithTrailingBackslash("C:"), "C:\\");
  EXPECT_EQ(WithTrailingBackslash("\\"), "\\");
  EXPECT_EQ(WithTrailingBackslash("a\\\\"), "a\\\\");
  EXPECT_EQ(WithTrailingBackslash("x"), "x\\");
}

TEST(WithTrailingBackslash, TrailByteBackslashIsNotASeparator) {
  if constexpr (quv::platform::kIsWindows) {
    // GBK "C:\Program Files\服务程序" and "C:\表" (0x95 0x5C, 昞), "C:\乗" (0x81 0x5C).
    const std::string folder = "C:\\Program Files\\\xB7\xFE\xCE\xF1\xB3\xCC\xD0\xF2";
    EXPECT_EQ(WithTrailingBackslash(folder), folder + "\\");
    EXPECT_EQ(WithTrailingBackslash("C:\\\x95\x5C"), "C:\\\x95\x5C\\");
    EXPECT_EQ(WithTrailingBackslash("\x81\x5C"), "\x81\x5C\\");
    // The character before it is ASCII, so a real backslash after a
    // double-byte character is still one.
    EXPECT_EQ(WithTrailingBackslash("C:\\\x95\x5C\\"), "C:\\\x95\x5C\\");
    // A lone lead byte at the end is a character of its own.
    EXPECT_EQ(WithTrailingBackslash("C:\\\x95"), "C:\\\x95\\");
  } else {
    // UTF-8 ("服务程序"): no trail byte can be 0x5C, the rule is the same.
    const std::string folder = "C:\\Program Files\\\xE6\x9C\x8D\xE5\x8A\xA1";
    EXPECT_EQ(WithTrailingBackslash(folder), folder + "\\");
    EXPECT_EQ(WithTrailingBackslash(folder + "\\"), folder + "\\");
  }
}

TEST(IsAbsoluteFolder, DriveFoldersAndSharesOnly) {
  using quv::paths::IsAbsoluteFolder;
  for (const char* folder : {"C:\\", "c:\\Program Files\\x", "\\\\server\\share", "\\\\s\\d\\e"})
    EXPECT_TRUE(IsAbsoluteFolder(folder)) << folder;
  for (const char* folder : {"", "x", "Quv\\a", "C:", "C:Quv", "\\Quv", "\\\\", "\\\\server", "\\\\server\\",
                             "\\\\\\share", "1:\\x", ".\\x"})
    EXPECT_FALSE(IsAbsoluteFolder(folder)) << folder;
}

TEST(ErrorBoxText, FullStopAfterCharactersSortingAfterTheDot) {
  EXPECT_EQ(ErrorBoxText("Unable to create directory"), "Unable to create directory.");
  EXPECT_EQ(ErrorBoxText("Cannot create file C:\\x\\install.dl"), "Cannot create file C:\\x\\install.dl.");
  EXPECT_EQ(ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(ErrorBoxText("Really?"), "Really?.");
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(ErrorBoxText("Error -"), "Error -");
  EXPECT_EQ(ErrorBoxText("50%"), "50%");
  EXPECT_EQ(ErrorBoxText("(1)"), "(1)");
  EXPECT_EQ(ErrorBoxText(""), "");
  // A double-byte character ends it: its lead byte sorts after ".".
  const std::string chinese = quv::platform::kIsWindows ? "\xCE\xC4\xBC\xFE" : "\xE6\x96\x87\xE4\xBB\xB6";
  EXPECT_EQ(ErrorBoxText(chinese), chinese + ".");
}
