// The archive directory: archive entries ordered by a sort mode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zip/ObjectList.h"
#include "zip/Records.h"

namespace quv {

enum TZipSortMode : std::uint8_t {
  ByName = 0,
  ByFileName = 1,
  ByDirectoryName = 2,
  ByDate = 3,
  ByCompressedSize = 4,
  ByUnCompressedSize = 5,
  ByRate = 6,
  ByNone = 7,
};

// Case-insensitive comparison folding only A-Z; <0, 0, >0.
int CompareText(std::string_view a, std::string_view b);

class TSortedZip : public TSortedObjectList {
 public:
  explicit TSortedZip(TDuplicates duplicates);
  std::string ClassName() const override { return "TSortedZip"; }

  // a is the list's item, b the key; negative places b after a.
  int Compare(const TObject* a, const TObject* b) const override;

  // Set before adding items; the list is not re-sorted.
  TZipSortMode SortMode() const { return sortMode_; }
  void SetSortMode(TZipSortMode mode) { sortMode_ = mode; }

  // The entry at index (items must be TZipHeaderInfo).
  TZipHeaderInfo* Items(std::int32_t index) const;

 private:
  TZipSortMode sortMode_ = ByNone;
};

}  // namespace quv
