#include "app/command_line_win.h"

#include <windows.h>

#include "app/command_line.h"

namespace CommandLine {

bool SystemEquals(const std::wstring& a, const std::wstring& b, bool ignoreCase) {
  return CompareStringW(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, a.c_str(),
                        static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace CommandLine

bool HasCommandLineSwitch(const std::wstring& switchText, bool ignoreCase) {
  return CommandLine::HasSwitch(GetCommandLineW(), switchText, ignoreCase, CommandLine::SystemEquals);
}
