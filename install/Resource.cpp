#include "install/Resource.h"

#include <windows.h>

#include "install/Errors.h"
#include "platform/Platform.h"

namespace quv {

std::string_view ResourceBytes(const std::string& name, const std::string& type) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, name.c_str(), type.c_str());
  HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) throw EResNotFound("Resource " + name + " not found");
  return {static_cast<const char*>(bytes), SizeofResource(self, found)};
}

bool SaveResourceToFile(const std::string& name, const std::string& type, const std::string& path) {
  const std::string_view bytes = ResourceBytes(name, type);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(ok ? ERROR_SUCCESS : error ? error : ERROR_WRITE_FAULT);
  return ok;
}

}  // namespace quv
