// The side picture is stored as a JPEG in the program's resources and decoded
// with libjpeg when the window is made.
#pragma once

#include <windows.h>

namespace quv {

// Decodes the JPEG in the RCDATA resource name into a 24-bit DIB section
// (owned by the caller). Throws quv::Exception when the resource is missing or
// is no readable JPEG.
HBITMAP LoadJpegResource(HINSTANCE instance, const char* name);

}  // namespace quv
