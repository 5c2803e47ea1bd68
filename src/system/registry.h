// Keys and values below the current user's registry hive (HKEY_CURRENT_USER).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "system/handles.h"

namespace Registry {

// Opens the key below HKEY_CURRENT_USER, creating it and its missing parents, for reading and
// writing. Raises "Cannot open registry key "HKCU\<subKey>". <the system's text>".
Sys::TRegKey CreateUserKey(const std::wstring& subKey);
// Opens an existing key for reading; empty when it is missing or cannot be opened.
Sys::TRegKey OpenUserKey(const std::wstring& subKey);

// Each writer raises "Cannot write registry value "<name>". <the system's text>".
void WriteString(HKEY key, const std::wstring& name, const std::wstring& value);
void WriteDword(HKEY key, const std::wstring& name, DWORD value);
// Removes a value; a value that is not there is no failure.
void DeleteValue(HKEY key, const std::wstring& name);

// The value's data when it exists and has that type (REG_SZ or REG_EXPAND_SZ for a text, unexpanded;
// REG_DWORD for a number); nullopt otherwise.
std::optional<std::wstring> ReadString(HKEY key, const std::wstring& name);
std::optional<DWORD> ReadDword(HKEY key, const std::wstring& name);
// The value's registry type (REG_SZ, REG_DWORD, REG_QWORD, ...), nullopt when there is none.
std::optional<DWORD> ValueType(HKEY key, const std::wstring& name);

// Removes the key below HKEY_CURRENT_USER with everything below it. True when it is gone
// afterwards (also when it was never there); false and the system's code in *error otherwise.
bool DeleteUserKeyTree(const std::wstring& subKey, DWORD* error = nullptr);
bool UserKeyExists(const std::wstring& subKey);

}  // namespace Registry
