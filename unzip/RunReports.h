// What an extraction run reports to the component beyond the events'
// own arguments.
#pragma once

#include <cstdint>
#include <string>

namespace quv {

// Passed by ordinal; 2 is never used. skUnsupportedMethod: the entry's
// compression method has no decoder here (MethodDecodable, MethodName), or
// its encryption cannot be read (SkipDetail names it).
enum TSkipReason : std::uint8_t {
  skBadPassword = 0,
  skNotOverwritten = 1,
  skCannotCreate = 3,
  skUnsupportedMethod = 4,
  // A symbolic link whose target is absolute or climbs out of the
  // destination, without AbsoluteLinks; SkipDetail() holds the target.
  skUnsafeLink = 5
};

// The component's reports that say more than the event's arguments (the
// component's SkipDetail holds the detail while the event runs), and what
// the component keeps of a run.
class TRunReports {
 public:
  virtual ~TRunReports() = default;
  // OnSkippingFile.
  virtual void ReportSkip(TSkipReason reason, const std::string& name, std::int32_t index, bool& retry,
                          const std::string& detail) = 0;
  // OnBadCRC.
  virtual void ReportBadCrc(std::int32_t calcCrc, std::int32_t storedCrc, std::int32_t index,
                            const std::string& detail) = 0;
  // The most the run's decoders held at once, told as the run ends.
  virtual void NotePeakMemory(std::uint64_t bytes) = 0;
};

}  // namespace quv
