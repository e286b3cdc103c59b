// Deflate64 archives made by 7z and a hand-made one with length code 285
// (tests/testdata.d/deflate64.sh), extracted byte-identical to 7z's output;
// a damaged entry fails alone.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "TestSupport.h"
#include "unzip/UnZip.h"

namespace quv::test {
namespace {

std::string Data(const std::string& name) { return Join(Join(TestDataDir(), "deflate64"), name); }

class Deflate64 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestDataDir().empty()) GTEST_SKIP() << "QUV_TESTDATA is not set";
    zip.SetDestDir(tmp.path());
    zip.SetDoAll(true);
    zip.SetOverwriteMode(Always);
    zip.SetDoProcessMessages(false);
    zip.OnBadCRC = [this](TObject*, std::int32_t, std::int32_t, std::int32_t i) {
      failed.insert(zip.EntryFileName(i));
    };
    zip.OnSkippingFile = [this](TObject*, TSkipReason, const std::string& name, std::int32_t, bool&) {
      failed.insert(name);
    };
  }

  std::int32_t Extract(const std::string& archive) {
    zip.ClearArchive();
    zip.SetZipName(Data(archive));
    return zip.UnZipFiles();
  }

  bool SameAs7z(const std::string& name) { return ReadFile(tmp / name) == ReadFile(Join(Data("ref"), name)); }

  TempDir tmp;
  TUnZip zip;
  std::set<std::string> failed;
};

TEST_F(Deflate64, ExtractsByteIdenticalTo7z) {
  EXPECT_EQ(Extract("d64.zip"), 4);
  EXPECT_EQ(Extract("long285.zip"), 1);
  EXPECT_TRUE(failed.empty()) << *failed.begin();
  for (const char* name : {"text.txt", "random.bin", "mixed.bin", "long.bin", "long285.bin"})
    EXPECT_TRUE(SameAs7z(name)) << name;
}

TEST_F(Deflate64, DamagedEntryFailsAlone) {
  Extract("damaged.zip");
  EXPECT_EQ(failed, std::set<std::string>{"text.txt"});
  for (const char* name : {"random.bin", "mixed.bin", "long.bin"}) EXPECT_TRUE(SameAs7z(name)) << name;
}

}  // namespace
}  // namespace quv::test
