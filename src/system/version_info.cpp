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
