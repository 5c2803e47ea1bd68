#include "system/win_error.h"

namespace {
std::wstring FormatFrom(DWORD flags, const void* source, DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD len = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, source,
                                   code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (len && buffer) text.assign(buffer, len);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return text;
}
}  // namespace

std::wstring SysErrorMessage(DWORD code) {
  return FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
}

std::wstring ModuleErrorMessage(const wchar_t* module, DWORD code) {
  HMODULE handle = GetModuleHandleW(module);
  std::wstring text;
  if (handle) text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, handle, code);
  if (text.empty()) text = SysErrorMessage(code);
  return text;
}
