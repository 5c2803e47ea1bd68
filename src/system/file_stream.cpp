#include "system/file_stream.h"

#include <utility>

#include "system/errors.h"
#include "system/win_error.h"

void RaiseFileError(const wchar_t* verb, const std::wstring& path, DWORD code) {
  throw Exception(std::wstring(L"Cannot ") + verb + L" file \"" + ExpandFileName(path) + L"\". " +
                  SysErrorMessage(code));
}

std::wstring ExpandFileName(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD len = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(buffer)), buffer, nullptr);
  if (len == 0 || len >= std::size(buffer)) return path;
  return std::wstring(buffer, len);
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::wstring& path) {
  std::wstring dir = path;
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  if (dir.empty() || DirectoryExists(dir)) return !dir.empty();
  const size_t slash = dir.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0) {
    const std::wstring parent = dir.substr(0, slash);
    if (!(parent.size() == 2 && parent[1] == L':')) ForceDirectories(parent);
  }
  CreateDirectoryW(dir.c_str(), nullptr);
  return DirectoryExists(dir);
}

TFileStream TFileStream::Create(const std::wstring& path, DWORD share) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) RaiseFileError(L"create", path, GetLastError());
  return TFileStream(handle, path);
}

TFileStream TFileStream::CreateNew(const std::wstring& path, const std::wstring& nameInMessage) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) RaiseFileError(L"create", nameInMessage, GetLastError());
  return TFileStream(handle, path);
}

TFileStream TFileStream::Open(const std::wstring& path, DWORD share) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) RaiseFileError(L"open", path, GetLastError());
  return TFileStream(handle, path);
}

void TFileStream::Close() {
  FHandle.Reset();
}

void TFileStream::Flush() {
  if (!FlushFileBuffers(FHandle.Get())) throw Exception(L"Stream write error");
}

void TFileStream::Write(const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(count > 0x40000000 ? 0x40000000 : count);
    DWORD written = 0;
    if (!WriteFile(FHandle.Get(), p, chunk, &written, nullptr) || written == 0)
      throw Exception(L"Stream write error");
    p += written;
    count -= written;
  }
}

size_t TFileStream::Read(void* data, size_t count) {
  char* p = static_cast<char*>(data);
  size_t total = 0;
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(count > 0x40000000 ? 0x40000000 : count);
    DWORD read = 0;
    if (!ReadFile(FHandle.Get(), p, chunk, &read, nullptr)) throw Exception(L"Stream read error");
    if (read == 0) break;
    p += read;
    count -= read;
    total += read;
  }
  return total;
}

int64_t TFileStream::Size() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(FHandle.Get(), &size)) return 0;
  return size.QuadPart;
}

int64_t TFileStream::Position() {
  LARGE_INTEGER zero{}, pos{};
  if (!SetFilePointerEx(FHandle.Get(), zero, &pos, FILE_CURRENT)) return 0;
  return pos.QuadPart;
}

void TFileStream::Seek(int64_t position) {
  LARGE_INTEGER to{};
  to.QuadPart = position;
  SetFilePointerEx(FHandle.Get(), to, nullptr, FILE_BEGIN);
}

void TFileStream::SetSize(int64_t size) {
  const int64_t position = Position();
  Seek(size);
  if (!SetEndOfFile(FHandle.Get())) throw Exception(L"Stream write error");
  Seek(position < size ? position : size);
}
