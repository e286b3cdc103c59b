// The payload archive carried in the program's own resources.
#pragma once

#include <string>
#include <string_view>

namespace quv {

// The bytes of the resource (name, type) of the program's own module; they
// live as long as the program. A missing resource raises EResNotFound.
std::string_view ResourceBytes(const std::string& name, const std::string& type);

// Writes the bytes of the resource (name, type) of the program's own module
// to path, creating or truncating the file. A missing resource raises
// EResNotFound. Answers whether the file was written in full (the system's
// last error tells why not).
bool SaveResourceToFile(const std::string& name, const std::string& type, const std::string& path);

}  // namespace quv
