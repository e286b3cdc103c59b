// The payload archive carried in the program's own resources.
#pragma once

#include <string>

namespace quv {

// Writes the bytes of the resource (name, type) of the program's own module
// to path, creating or truncating the file. A missing resource raises
// EResNotFound; a file that cannot be created or written is passed over
// quietly (the unzip step then reports the missing archive). Answers whether
// the file was written in full.
bool SaveResourceToFile(const std::string& name, const std::string& type, const std::string& path);

}  // namespace quv
