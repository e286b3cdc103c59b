// Name parts and case folding. Under Wine the system code page is 936, where
// the second byte of a double-byte character may be 0x5C ("\").
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "zip/Text.h"

namespace quv::text {
namespace {

TEST(Text, NamePartsSplitAtTheLastSeparator) {
  EXPECT_EQ(FolderPart("C:\\d\\x.exe"), "C:\\d\\");
  EXPECT_EQ(FolderPart("a/b\\c/x"), "a/b\\c/");
  EXPECT_EQ(FolderPart("C:x.exe"), "C:");
  EXPECT_EQ(FolderPart("x.exe"), "");
  EXPECT_EQ(FileNamePart("C:\\d/x.exe"), "x.exe");
  EXPECT_EQ(FileNamePart("d\\"), "");
  EXPECT_EQ(FileExtension("a.b\\name"), "");
  EXPECT_EQ(FileExtension("a\\n.tar.gz"), ".gz");
  EXPECT_EQ(ChangeFileExtension("Setup 1.5", ".lnk"), "Setup 1.lnk");
  EXPECT_EQ(ChangeFileExtension("a.b\\name", ".lnk"), "a.b\\name.lnk");
  EXPECT_EQ(ChangeFileExtension("disk.zip", ".z01"), "disk.z01");
}

TEST(Text, DoubleByteCharactersAreWalkedWhole) {
  if (!platform::IsLeadByte(0xD5)) GTEST_SKIP() << "no double-byte system code page";
  // "\xd5\x5c" is one character; "\xd5" at the very end stands alone.
  EXPECT_EQ(FileNamePart("C:\\d\\\xd5\x5cx.exe"), "\xd5\x5cx.exe");
  EXPECT_EQ(FolderPart("C:\\d\\\xd5\x5cx.exe"), "C:\\d\\");
  EXPECT_EQ(FolderPart("d\\\xd5\x5c\\x"), "d\\\xd5\x5c\\");
  EXPECT_TRUE(LastCharIs("d\\", '\\'));
  EXPECT_FALSE(LastCharIs("d\\\xd5\x5c", '\\'));
  EXPECT_TRUE(LastCharIs("\xd5", '\xd5'));
  EXPECT_EQ(AfterLastOf("\xd5\x5c", "\\"), 0u) << "the trail byte is no separator";
  EXPECT_EQ(AfterLastOf("\xd5\x5c", "\\", false), 2u) << "byte by byte: the trail byte counts";
  EXPECT_EQ(CharSize("a\xd5", 1), 1u);
}

TEST(Text, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(UpperAscii("quv\xb7\xfe.exe"), "QUV\xb7\xfe.EXE");
  EXPECT_EQ(LowerAscii("QUV\xc1\xda@[`{"), "quv\xc1\xda@[`{");
  EXPECT_TRUE(SameText("Setup.EXE", "setup.exe"));
  EXPECT_FALSE(SameText("setup.exe", "setup.ex"));
  EXPECT_FALSE(SameText("\xc1", "\xe1")) << "Latin-1 letters are not folded";
  EXPECT_FALSE(SameText("@", "`"));
}

}  // namespace
}  // namespace quv::text
