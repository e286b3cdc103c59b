#include "install/InstalledFiles.h"

#include "platform/Platform.h"
#include "zip/Exception.h"

namespace quv {

std::string InstalledFileLine(int index, const std::string& path) {
  return "File" + std::to_string(index) + "=" + path + "N";
}

void SaveInstalledFiles(const InstalledFileList& files, const std::string& path) {
  std::string text;
  for (const std::string& line : files) text += line + "\r\n";
  platform::FileHandle file = platform::FileOpen(path, platform::fmCreate);
  if (file == platform::kInvalidHandle) throw EFCreateError("Cannot create file " + path);
  bool written = platform::FileWrite(file, text.data(), static_cast<std::int32_t>(text.size())) ==
                 static_cast<std::int32_t>(text.size());
  platform::FileClose(file);
  if (!written) throw EWriteError("Stream write error");
}

}  // namespace quv
