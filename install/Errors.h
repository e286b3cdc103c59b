// Failures of the installation code below the run's own steps (those raise
// InstallFailure, Failure.h); the run reports their message.
#pragma once

#include "zip/Exception.h"

namespace quv {

// A resource missing from the program's own module ("Resource %s not found").
class EResNotFound : public Exception {
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
