// The last error of a window-system call of ours, carried the way Windows carries it: a code
// GetLastError returns, and with it the backend's own account of what happened, which
// FormatMessageA gives back as the code's text (last_error.cpp on Linux, win32/ on Windows).
#pragma once

#include <string>

#include "window_system/window_system.h"

// Sets the last error; FALSE, for a failing call to return.
BOOL Fail(DWORD error, std::string text = {});
