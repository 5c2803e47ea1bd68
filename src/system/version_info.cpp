#include "system/version_info.h"

#include <windows.h>

#include <vector>

#include "system/file_stream.h"
#include "system/text.h"

std::wstring GetFileVersionString(const std::wstring& path) {
  const std::wstring none = L"0.0.0";
  if (!FileExists(path)) return none;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return none;
  std::vector<unsigned char> buffer(size);
  if (!GetFileVersionInfoW(path.c_str(), handle, size, buffer.data())) return none;
  void* block = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.data(), L"\\", &block, &length) || block == nullptr) return none;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
  return FormatMessageText(L"%d.%d.%d.%d", {IntToStr(HIWORD(info->dwFileVersionMS)),
                                            IntToStr(LOWORD(info->dwFileVersionMS)),
                                            IntToStr(HIWORD(info->dwFileVersionLS)),
                                            IntToStr(LOWORD(info->dwFileVersionLS))});
}

namespace {
std::wstring QueryString(const std::vector<unsigned char>& buffer, const std::wstring& block) {
  void* data = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.data(), block.c_str(), &data, &length) || data == nullptr || length == 0) return L"";
  // The length counts characters, with or without the NUL, depending on who wrote the resource.
  std::wstring text(static_cast<const wchar_t*>(data), length);
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return std::wstring(TrimBlank(text));
}

std::wstring Hex4(unsigned value) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring text(4, L'0');
  for (int i = 3; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = digits[value & 0xF];
  return text;
}
}  // namespace

std::wstring GetFileCompanyName(const std::wstring& path) {
  if (!FileExists(path)) return L"";
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return L"";
  std::vector<unsigned char> buffer(size);
  if (!GetFileVersionInfoW(path.c_str(), handle, size, buffer.data())) return L"";

  std::vector<std::wstring> tables;
  void* data = nullptr;
  UINT length = 0;
  if (VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &data, &length) && data && length >= 4) {
    const auto* pair = static_cast<const WORD*>(data);
    tables.push_back(Hex4(pair[0]) + Hex4(pair[1]));
  }
  for (const wchar_t* usual : {L"040904B0", L"040904E4", L"04090000", L"000004B0"}) tables.push_back(usual);
  for (const std::wstring& table : tables) {
    const std::wstring name = QueryString(buffer, L"\\StringFileInfo\\" + table + L"\\CompanyName");
    if (!name.empty()) return name;
  }
  return L"";
}
