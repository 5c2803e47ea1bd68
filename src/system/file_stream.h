// A file as a stream, with the program's messages for files that cannot be created or opened.
#pragma once

#include <windows.h>

#include <string>

#include "system/handles.h"
#include "system/stream.h"

class TFileStream final : public TStream {
 public:
  // A new file, or an existing one truncated to length 0, for reading and writing, shared as
  // given (by default with nobody). Raises "Cannot create file "%s". %s".
  static TFileStream Create(const std::wstring& path, DWORD share = 0);
  // A file that must not exist yet, for writing, shared with nobody. Raises "Cannot create file
  // "%s". %s" with the path the message should name.
  static TFileStream CreateNew(const std::wstring& path, const std::wstring& nameInMessage);
  // An existing file for reading, with the given share mode. Raises "Cannot open file "%s". %s".
  static TFileStream Open(const std::wstring& path, DWORD share = 0);

  TFileStream(TFileStream&& other) noexcept = default;
  TFileStream& operator=(TFileStream&& other) noexcept = default;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  void Write(const void* data, size_t count) override;
  size_t Read(void* data, size_t count) override;
  int64_t Size() override;
  int64_t Position() override;
  void Seek(int64_t position) override;
  void SetSize(int64_t size) override;

  HANDLE Handle() const { return FHandle.Get(); }
  // Hands the open file over to the caller; the stream is closed after.
  Sys::TFileHandle TakeHandle() { return std::move(FHandle); }
  const std::wstring& FileName() const { return FFileName; }
  void Close();
  // Writes what the system still holds of the file to the disk; raises "Stream write error".
  void Flush();

 private:
  TFileStream(HANDLE handle, std::wstring path) : FHandle(handle), FFileName(std::move(path)) {}
  Sys::TFileHandle FHandle;
  std::wstring FFileName;
};

// Raises "Cannot <verb> file "<full path>". <the system's text for code>".
[[noreturn]] void RaiseFileError(const wchar_t* verb, const std::wstring& path, DWORD code);
// The full path of a file name, as messages quote it.
std::wstring ExpandFileName(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Creates a folder with every missing parent; false when it does not exist afterwards.
bool ForceDirectories(const std::wstring& path);
// Raises "Cannot %s file "%s". %s" with the full path and the system's text for the code.
[[noreturn]] void RaiseFileError(const wchar_t* verb, const std::wstring& path, DWORD code);
