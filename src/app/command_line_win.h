// The switch test on the process's own command line, with the system's comparison.
#pragma once

#include <string>

namespace CommandLine {
// CompareStringW with LOCALE_USER_DEFAULT, NORM_IGNORECASE when case is ignored.
bool SystemEquals(const std::wstring& a, const std::wstring& b, bool ignoreCase);
}  // namespace CommandLine

// True when an argument of the process command line after the program's path is "-" or "/"
// followed by switchText (compared ignoring case when ignoreCase is set).
bool HasCommandLineSwitch(const std::wstring& switchText, bool ignoreCase);
