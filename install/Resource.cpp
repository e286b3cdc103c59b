#include "install/Resource.h"

#include <windows.h>

#include "install/Errors.h"
#include "platform/Platform.h"

namespace quv {

bool SaveResourceToFile(const std::string& name, const std::string& type, const std::string& path) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, name.c_str(), type.c_str());
  HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) throw EResNotFound("Resource " + name + " not found");
  auto size = static_cast<std::int32_t>(SizeofResource(self, found));

  platform::FileHandle file = platform::FileOpen(path, platform::fmCreate);
  if (file == platform::kInvalidHandle) return false;
  bool written = platform::FileWrite(file, bytes, size) == size;
  platform::FileClose(file);
  return written;
}

}  // namespace quv
