// Win32 error codes as the messages an administrator knows from Windows.
#pragma once

#include <string>

#include "utils/wintypes.h"

namespace utils::btutil {

// "Access is denied. (error 5)"; codes without a known text give "Error N.".
std::string errorText(DWORD code);

}  // namespace utils::btutil
