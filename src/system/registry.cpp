#include "system/registry.h"

#include <vector>

#include "system/errors.h"
#include "system/win_error.h"

namespace Registry {

namespace {
[[noreturn]] void Raise(const wchar_t* what, const std::wstring& name, LSTATUS code) {
  throw Exception(std::wstring(L"Cannot ") + what + L" \"" + name + L"\". " + SysErrorMessage(static_cast<DWORD>(code)));
}

void Write(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
  const LSTATUS status = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  if (status != ERROR_SUCCESS) Raise(L"write registry value", name, status);
}
}  // namespace

Sys::TRegKey CreateUserKey(const std::wstring& subKey) {
  Sys::TRegKey key;
  const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr);
  if (status != ERROR_SUCCESS) Raise(L"open registry key", L"HKCU\\" + subKey, status);
  return key;
}

Sys::TRegKey OpenUserKey(const std::wstring& subKey) {
  Sys::TRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) key.Reset();
  return key;
}

void WriteString(HKEY key, const std::wstring& name, const std::wstring& value) {
  // The size counts the terminating NUL, which readers rely on.
  Write(key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void WriteDword(HKEY key, const std::wstring& name, DWORD value) { Write(key, name, REG_DWORD, &value, sizeof value); }

void DeleteValue(HKEY key, const std::wstring& name) {
  const LSTATUS status = RegDeleteValueW(key, name.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Raise(L"delete registry value", name, status);
}

std::optional<DWORD> ValueType(HKEY key, const std::wstring& name) {
  DWORD type = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return std::nullopt;
  return type;
}

std::optional<std::wstring> ReadString(HKEY key, const std::wstring& name) {
  for (;;) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    // Room for a NUL the writer may have left out.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    const LSTATUS status =
        RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (status == ERROR_MORE_DATA) continue;  // it grew between the two calls
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(buffer.data(), got / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
}

std::optional<DWORD> ReadDword(HKEY key, const std::wstring& name) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return std::nullopt;
  if (type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

bool DeleteUserKeyTree(const std::wstring& subKey, DWORD* error) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, subKey.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    // The key itself normally goes with its contents; where a system leaves it empty, it goes here.
    const LSTATUS gone = RegDeleteKeyW(HKEY_CURRENT_USER, subKey.c_str());
    if (gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND) return true;
    if (error) *error = static_cast<DWORD>(gone);
    return false;
  }
  if (error) *error = static_cast<DWORD>(status);
  return false;
}

bool UserKeyExists(const std::wstring& subKey) { return static_cast<bool>(OpenUserKey(subKey)); }

}  // namespace Registry
