// Failures of the installation code that end the installation run; the
// wizard's default handler shows their message.
#pragma once

#include "zip/Exception.h"

namespace quv {

// A resource missing from the program's own module ("Resource %s not found").
class EResNotFound : public Exception {
 public:
  using Exception::Exception;
};

// A folder that cannot be made ("Unable to create directory").
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// A registry value that cannot be written or has the wrong type.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// A COM object or interface that cannot be obtained.
class EOleSysError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace quv
