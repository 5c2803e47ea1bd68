#include "system/win_error.h"

#include "system/errors.h"
#include "system/handles.h"

namespace {
std::wstring FormatFrom(DWORD flags, const void* source, DWORD code) {
  Sys::TLocalMemory buffer;
  const DWORD len = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, source,
                                   code, 0, reinterpret_cast<wchar_t*>(buffer.Put()), 0, nullptr);
  std::wstring text;
  if (len && buffer) text.assign(static_cast<const wchar_t*>(buffer.Get()), len);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return text;
}
}  // namespace

std::wstring SysErrorMessage(DWORD code) {
  return FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
}

std::wstring ModuleMessageText(HMODULE module, DWORD code) {
  return module ? FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, module, code) : std::wstring();
}

std::wstring ModuleErrorMessage(const wchar_t* module, DWORD code) {
  std::wstring text = ModuleMessageText(GetModuleHandleW(module), code);
  if (text.empty()) text = SysErrorMessage(code);
  return text;
}

std::optional<std::wstring> DecodeCodePage(unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return std::wstring();
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  return text;
}

void DebugReportCurrentException(std::wstring_view where) {
  std::wstring line = L"Morvane: ";
  line += where;
  line += L": ";
  line += CurrentExceptionText();
  line += L"\n";
  OutputDebugStringW(line.c_str());
}
