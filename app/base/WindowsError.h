// Windows system errors as the errno values the rest of the program reports
// (with strerror), so a failure reads the same whichever system it came from.
#pragma once

int ErrnoFromWindowsError(unsigned long error);
// GetLastError() as an errno value.
int LastWindowsErrno();
