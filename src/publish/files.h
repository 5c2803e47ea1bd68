// Files of the publisher's command, read and written in pieces. Every failure raises Exception
// with the path and the operating system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "system/zip_core.h"

// The path as messages quote it.
std::wstring PathText(const std::filesystem::path& path);
// "<what> "<path>". <the system's reason>"
std::wstring FileErrorText(const wchar_t* what, const std::filesystem::path& path, const std::wstring& reason);
// The system's text for an error code of the standard library's filesystem functions.
std::wstring ReasonText(const std::error_code& code);

// A file opened for reading; also a zip source, so an archive is read where it lies.
class TInFile final : public TZipSource {
 public:
  // Raises "Cannot open file "%s". %s" (a folder is refused the same way).
  explicit TInFile(const std::filesystem::path& path);
  ~TInFile() override;
  TInFile(const TInFile&) = delete;
  TInFile& operator=(const TInFile&) = delete;

  // Up to count bytes from the current position; 0 at the end.
  size_t Read(void* data, size_t count);
  int64_t Size() override;
  size_t ReadAt(int64_t offset, void* data, size_t count) override;
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
  intptr_t FHandle;
};

// A new file (an existing one is replaced), written at its end or patched at an offset.
class TOutFile {
 public:
  // Raises "Cannot create file "%s". %s".
  explicit TOutFile(const std::filesystem::path& path);
  ~TOutFile();
  TOutFile(const TOutFile&) = delete;
  TOutFile& operator=(const TOutFile&) = delete;

  void Write(const void* data, size_t count);
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  void WriteAt(int64_t offset, const std::string& bytes);
  int64_t Position() const { return FPosition; }
  // Flushes and closes; raises when the data could not be written whole.
  void Close();

 private:
  void Flush();
  std::filesystem::path FPath;
  intptr_t FHandle;
  std::string FBuffer;
  int64_t FPosition = 0;
};

// The whole file; raises "Cannot open file "%s". %s" or "Cannot read file "%s". %s".
std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);
// Moves a file over another of the same volume, replacing it.
void ReplaceFileWith(const std::filesystem::path& from, const std::filesystem::path& to);
