// The setup program's command line: switches in any letter case, quoting as
// the C runtime reads it, folders in code page 936 whose last trail byte is
// a backslash, and what is refused.
#include <gtest/gtest.h>

#include "install/SetupOptions.h"

namespace quv::test {
namespace {

using Mode = SetupOptions::Mode;

TEST(SetupOptions, SwitchesAndQuoting) {
  SetupOptions o = ParseSetupCommandLine(
      "\"C:\\Setup Files\\QuvSetup.exe\"  /verysilent /Dir=\"C:\\Quv Test\" /LOG=C:\\q.log /NoRestart");
  EXPECT_EQ(o.mode, Mode::VerySilent);
  EXPECT_EQ(o.folder, "C:\\Quv Test");
  EXPECT_EQ(o.log, "C:\\q.log");
  EXPECT_TRUE(o.error.empty()) << o.error;
  EXPECT_FALSE(o.usage);

  // /VERYSILENT wins over /SILENT in either order.
  EXPECT_EQ(ParseSetupCommandLine("a /VERYSILENT /SILENT").mode, Mode::VerySilent);
  EXPECT_EQ(ParseSetupCommandLine("a /SILENT").mode, Mode::Silent);
  EXPECT_EQ(ParseSetupCommandLine("a").mode, Mode::Wizard);
  EXPECT_TRUE(ParseSetupCommandLine("a /?").usage);

  // A whole argument quoted by a caller, its inner quotes escaped.
  EXPECT_EQ(ParseSetupCommandLine("a \"/DIR=\\\"C:\\Quv Test\\\"\"").folder, "C:\\Quv Test");
  // Backslashes stay as they are unless a quote follows them.
  EXPECT_EQ(ParseSetupCommandLine("a /DIR=\\\\server\\share\\Quv").folder, "\\\\server\\share\\Quv");
  // 誠 (D5 5C in code page 936) before the closing quote: its trail byte is
  // no escape.
  o = ParseSetupCommandLine("a /DIR=\"C:\\\xD5\\\" /SILENT");
  EXPECT_EQ(o.folder, "C:\\\xD5\\");
  EXPECT_EQ(o.mode, Mode::Silent);
}

TEST(SetupOptions, SwitchesOfDeploymentScriptsAndVersions) {
  SetupOptions o = ParseSetupCommandLine("a /VERYSILENT /SUPPRESSMSGBOXES /NOCANCEL /NORESTART /SP- /LOG /ALLOWDOWNGRADE");
  EXPECT_TRUE(o.error.empty()) << o.error;
  EXPECT_TRUE(o.noCancel);
  EXPECT_TRUE(o.allowDowngrade);
  EXPECT_TRUE(o.log.empty()) << "a bare /LOG: the default log";
  EXPECT_FALSE(ParseSetupCommandLine("a").allowDowngrade);

  EXPECT_TRUE(IsOlderVersion("1.0.0", "1.0.1"));
  EXPECT_TRUE(IsOlderVersion("1.9", "1.10"));
  EXPECT_TRUE(IsOlderVersion("1.0", "1.0.0.1"));
  EXPECT_FALSE(IsOlderVersion("1.0.0", "1.0"));
  EXPECT_FALSE(IsOlderVersion("2.0", "1.99.9"));
  EXPECT_FALSE(IsOlderVersion("1.0.0", "0.9"));
}

TEST(SetupOptions, RefusedCommandLines) {
  // A backslash before the closing quote escapes it, as for every program
  // of the C runtime: the folder would hold a quote and the rest of the line.
  for (const char* line : {"a /BOGUS", "a /DIR=", "a /LOG=\"\"", "a /SILENT extra", "a -SILENT", "a /DIR",
                           "a /DIR=\"C:\\Quv\\\" /SILENT"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(ParseSetupCommandLine(line).error.empty());
  }
  // An unterminated quote ends with the line.
  EXPECT_EQ(ParseSetupCommandLine("a /DIR=\"C:\\Quv").folder, "C:\\Quv");
}

}  // namespace
}  // namespace quv::test
