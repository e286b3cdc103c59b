#include "zip/SortedZip.h"

#include <string_view>

#include "zip/Text.h"
#include "zip/Utils.h"

namespace quv {

namespace {

bool IsLeapYear(std::uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The packed DOS value as a calendar key (yyyymmddhhmmss); 0 when it is
// not a real date and time, which sorts before every real one.
std::int64_t CalendarKey(std::uint32_t packed) {
  static constexpr std::uint32_t kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const std::uint32_t seconds = (packed & 0x1F) * 2;
  const std::uint32_t minutes = (packed >> 5) & 0x3F;
  const std::uint32_t hours = (packed >> 11) & 0x1F;
  const std::uint32_t day = (packed >> 16) & 0x1F;
  const std::uint32_t month = (packed >> 21) & 0x0F;
  const std::uint32_t year = ((packed >> 25) & 0x7F) + 1980;
  if (hours > 23 || minutes > 59 || seconds > 59 || month < 1 || month > 12 || day < 1) return 0;
  const std::uint32_t monthLength = kDaysInMonth[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
  if (day > monthLength) return 0;
  return ((((static_cast<std::int64_t>(year) * 100 + month) * 100 + day) * 100 + hours) * 100 + minutes) * 100 +
         seconds;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int d = static_cast<unsigned char>(text::LowerAscii(a[i])) - static_cast<unsigned char>(text::LowerAscii(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

TSortedZip::TSortedZip(TDuplicates duplicates) : TSortedObjectList(duplicates) {}

TZipHeaderInfo* TSortedZip::Items(std::int32_t index) const { return static_cast<TZipHeaderInfo*>(Get(index)); }

int TSortedZip::Compare(const TObject* a, const TObject* b) const {
  const auto& x = *static_cast<const TZipHeaderInfo*>(a);
  const auto& y = *static_cast<const TZipHeaderInfo*>(b);
  switch (sortMode_) {
    case ByName:
      return CompareText(x.StoredPathView(), y.StoredPathView());
    case ByFileName:
      return CompareText(x.FileNameView(), y.FileNameView());
    case ByDirectoryName:
      return CompareText(x.DirectoryView(), y.DirectoryView());
    case ByDate:
      return CalendarKey(y.LastModFileDateTime) > CalendarKey(x.LastModFileDateTime) ? 1 : -1;
    case ByCompressedSize:
      return y.CompressedSize > x.CompressedSize ? 1 : -1;
    case ByUnCompressedSize:
      return y.UncompressedSize > x.UncompressedSize ? 1 : -1;
    case ByRate: {
      // Rates of damaged entries can lie far outside 0..100: subtract in 64 bits.
      const std::int64_t d = static_cast<std::int64_t>(Percentage(y.UncompressedSize, y.CompressedSize)) -
                             Percentage(x.UncompressedSize, x.CompressedSize);
      return d > 1000 ? 1000 : (d < -1000 ? -1000 : static_cast<int>(d));
    }
    case ByNone:
      if (x.DiskNumberStart != y.DiskNumberStart) return x.DiskNumberStart > y.DiskNumberStart ? 1 : -1;
      return x.RelativeOffsetOfLocalHeader > y.RelativeOffsetOfLocalHeader
                 ? 1
                 : (x.RelativeOffsetOfLocalHeader < y.RelativeOffsetOfLocalHeader ? -1 : 0);
    default:
      return -1;
  }
}

}  // namespace quv
