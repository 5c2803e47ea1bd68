// The system's text for an error code, as the program's messages quote it.
#pragma once

#include <windows.h>

#include <string>

// FormatMessageW's text for a system error code, without its trailing line end.
std::wstring SysErrorMessage(DWORD code);
// The same for a code of a module's own message table (WinHTTP keeps its texts in winhttp.dll).
std::wstring ModuleErrorMessage(const wchar_t* module, DWORD code);
