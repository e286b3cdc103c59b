// The component's settings as one value: what the directory reader and an
// extraction run read. A run takes a copy when it starts, so that a handler
// changing a property in the middle of the run changes the next run.
#pragma once

#include <cstdint>
#include <string>

#include "decompress/LibraryStream.h"
#include "platform/Ui.h"
#include "zip/SortedZip.h"
#include "zip/Stream.h"
#include "zip/StringList.h"

namespace quv {

enum TUZOverwriteMode : std::uint8_t { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };
enum TIncompleteZipMode : std::uint8_t { izAssumeMulti = 0, izAssumeBad = 1, izAssumeNotAZip = 2 };
enum TMultiDiskMode : std::uint8_t { mdNone = 0, mdRemovable = 1, mdFileSet = 2 };

struct TUnZipSettings {
  std::string destDir;
  std::string rootDir;
  TZipSortMode sortMode = ByNone;
  bool recreateDirs = false;
  TUZOverwriteMode overwriteMode = Prompt;
  TStringList filesList;
  TStringList excludeList;
  bool doAll = false;
  TIncompleteZipMode incompleteZipMode = izAssumeMulti;
  bool keepZipOpen = false;
  bool doProcessMessages = true;
  platform::UserInterface* ui = &platform::Ui();  // not owned
  bool retainAttributes = true;
  bool replaceReadOnly = false;
  bool absoluteLinks = false;
  bool flushFilesOnClose = false;
  bool oemConvert = true;
  std::string nameCharset;
  std::string password;
  bool verifyDiskLabels = true;
  TMultiDiskMode multiDiskMode = mdNone;
  bool testMode = false;
  TStream* testOutput = nullptr;  // not owned
  std::int32_t threads = 1;
  std::uint64_t memoryBudget = kLibraryMemoryLimit;
};

}  // namespace quv
