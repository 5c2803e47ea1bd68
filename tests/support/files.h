// Whole files as bytes, for test fixtures and checks.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "system/handles.h"
#include "system/text.h"

// The whole file, or nothing when it cannot be opened (read while others may write it).
inline std::string ReadFileBytes(const std::wstring& path) {
  const Sys::TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

// Creates or truncates the file and writes the bytes; throws when it cannot.
inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  const Sys::TFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) throw std::runtime_error("cannot write " + EncodeUtf8(path));
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written != bytes.size())
    throw std::runtime_error("cannot write " + EncodeUtf8(path));
}
