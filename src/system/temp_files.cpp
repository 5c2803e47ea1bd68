#include "system/temp_files.h"

#include <windows.h>

#include <algorithm>

#include "system/asked_text.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/handles.h"
#include "system/win_error.h"

namespace {

// A new file at path, made only if nothing at all is at that name (a link there is not
// followed), for writing, shared with nobody.
HANDLE CreateNew(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The name still belongs to something else.
bool NameTaken(DWORD code) {
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS || code == ERROR_ACCESS_DENIED ||
         code == ERROR_SHARING_VIOLATION;
}

// The path with "-<number>" before its extension.
std::wstring OwnName(const std::wstring& path, unsigned long number) {
  const size_t slash = path.find_last_of(L"\\/");
  size_t dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) dot = path.size();
  return path.substr(0, dot) + L"-" + std::to_wstring(number) + path.substr(dot);
}

}  // namespace

std::wstring TempFolder() {
  std::wstring folder = Sys::AskedText([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
  if (folder.empty()) throw Exception(L"Cannot find the temporary folder. " + SysErrorMessage(GetLastError()));
  const std::wstring longForm =
      Sys::AskedText([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(folder.c_str(), buffer, size); });
  if (!longForm.empty()) folder = longForm;
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring WriteNewFile(const std::wstring& path, std::string_view bytes) {
  // Removes a file or a link at the name (DeleteFileW takes the link itself, not what it points
  // to); a folder, or another user's file, stays and is met below.
  DeleteFileW(path.c_str());
  std::wstring written = path;
  Sys::TFileHandle file(CreateNew(written));
  if (!file) {
    const DWORD code = GetLastError();
    if (!NameTaken(code)) RaiseFileError(L"create", path, code);
    const unsigned long base = GetCurrentProcessId() * 1000UL + GetTickCount() % 1000UL;
    for (unsigned long n = 0; !file && n < 100; ++n) {
      written = OwnName(path, base + n);
      file.Reset(CreateNew(written));
      if (!file && !NameTaken(GetLastError())) break;
    }
    if (!file) RaiseFileError(L"create", path, code);
  }
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    DWORD done = 0;
    if (!WriteFile(file.Get(), bytes.data(), chunk, &done, nullptr) || done == 0) {
      const DWORD code = GetLastError();
      file.Reset();
      DeleteFileW(written.c_str());
      RaiseFileError(L"write", written, code);
    }
    bytes.remove_prefix(done);
  }
  return written;
}
