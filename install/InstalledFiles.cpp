#include "install/InstalledFiles.h"

#include "install/Installation.h"
#include "install/Paths.h"
#include "platform/Platform.h"
#include "platform/Ui.h"
#include "zip/Exception.h"

namespace quv {

using namespace paths;

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

bool SaveInstallList(const InstalledFileList& files, const std::string& installFolder) {
  try {
    SaveInstalledFiles(files, WithTrailingBackslash(installFolder) + kInstallListName);
    return true;
  } catch (const Exception& e) {
    platform::Ui().ShowMessage(e.Message(), kWizardTitle, platform::Buttons::Ok);
    return false;
  }
}

}  // namespace quv
