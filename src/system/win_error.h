// The system's text for an error code, as the program's messages quote it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// FormatMessageW's text for a system error code, without its trailing line end.
std::wstring SysErrorMessage(DWORD code);
// The same for a code of a module's own message table (WinHTTP keeps its texts in winhttp.dll).
std::wstring ModuleErrorMessage(const wchar_t* module, DWORD code);
// The same for a module already loaded or mapped as data.
std::wstring ModuleMessageText(HMODULE module, DWORD code);

// Bytes in a code page (CP_ACP, 1251, ...) as UTF-16; nullopt when the system cannot decode
// them in that code page. Empty bytes give an empty text.
std::optional<std::wstring> DecodeCodePage(unsigned codePage, std::string_view bytes);

// A failure deliberately swallowed (a silent check, a posted procedure, the entry) still
// leaves a line for a debugger: "Morvane: <where>: <the current exception's text>".
void DebugReportCurrentException(std::wstring_view where);

// A function of a system DLL that older systems may lack (user32's DPI functions), or null.
template <typename F>
F SystemProc(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  return handle ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name))) : nullptr;
}
