// Where an extraction run's decoded bytes go: a file written under a
// temporary name (TOutputFile), or, in test mode, nowhere (TNullStream).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "zip/Records.h"
#include "zip/Stream.h"

namespace quv {


// The time and attributes an extracted file takes from its entry (the
// attributes only with retainAttributes).
platform::FileStamp StampOf(const TZipHeaderInfo& entry, bool retainAttributes);

// Where a test run's output goes: counted, then forgotten.
class TNullStream final : public TStream {
 public:
  std::string ClassName() const override { return "TNullStream"; }
  std::int32_t Read(void* /*buffer*/, std::int32_t /*count*/) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return size_; }

 private:
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
};

// An output file written under a temporary name in a folder of tree. Only
// Commit moves it to its final name; destroyed before that, it deletes itself,
// so a failed entry leaves nothing behind and an existing file of that name
// unchanged. It knows its own position, so the decoders' size guard costs
// no system call per block, and a failed write raises EWriteError naming
// the final file and the system's reason.
class TOutputFile final : public TStream {
 public:
  // expectedSize: the entry's size, so that a small file takes a small
  // buffer; permissions: those it is made with (FileStamp::CreationPermissions
  // of the stamp Finish gives it, which then needs no change where the
  // umask takes none of them).
  TOutputFile(platform::Path finalName, platform::OutputTree& tree, const platform::Path& tempFolder,
              std::int64_t expectedSize, std::uint32_t permissions);
  ~TOutputFile() override;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  std::string ClassName() const override { return "TOutputFile"; }

  std::int32_t Read(void* /*buffer*/, std::int32_t /*count*/) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return position_; }

  // Writes what is pending (committing it to the disk when asked), stamps
  // the file and closes it; raises EWriteError when the data did not reach
  // the file.
  void Finish(bool commitToDisk, const platform::FileStamp& stamp);
  // A file decoded before its final name was known.
  void SetFinalName(const platform::Path& name) { finalName_ = name; }
  // Moves the finished file to its final name as rule allows.
  platform::Placed Commit(platform::Replace rule, std::string& reason);

 private:
  void Flush();
  void WriteThrough(const char* bytes, std::int32_t count);
  [[noreturn]] void Fail();

  platform::Path finalName_;
  platform::OutputTree& tree_;
  platform::Path tempName_;
  platform::FileHandle handle_ = platform::kInvalidHandle;
  std::optional<std::uint32_t> madeWith_;  // its permissions, where known
  const std::int64_t expectedSize_;
  const std::size_t bufferSize_;
  std::string buffer_;  // reserved when first needed
  std::int64_t position_ = 0;
  bool committed_ = false;
};

}  // namespace quv
