#include "publish/files.h"

#ifdef _WIN32
#include <windows.h>

#include "system/win_error.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <algorithm>

#include "system/errors.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {
constexpr size_t kWriteBuffer = 1 << 20;

std::wstring LastReason() {
#ifdef _WIN32
  return SysErrorMessage(GetLastError());
#else
  return DecodeUtf8Lenient(std::strerror(errno));
#endif
}

[[noreturn]] void Fail(const wchar_t* what, const fs::path& path, std::wstring reason = LastReason()) {
  throw Exception(FileErrorText(what, path, reason));
}

#ifdef _WIN32
HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
#endif
}  // namespace

std::wstring PathText(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return DecodeUtf8Lenient(path.string());
#endif
}

std::wstring FileErrorText(const wchar_t* what, const fs::path& path, const std::wstring& reason) {
  return std::wstring(what) + L" \"" + PathText(path) + L"\". " + reason;
}

std::wstring ReasonText(const std::error_code& code) {
#ifdef _WIN32
  if (code.category() == std::system_category()) return SysErrorMessage(static_cast<DWORD>(code.value()));
#endif
  return DecodeUtf8Lenient(code.message());
}

TInFile::TInFile(const fs::path& path) : FPath(path) {
  std::error_code ignored;
  if (fs::is_directory(path, ignored)) Fail(L"Cannot open file", path, L"It is a folder, not a file.");
#ifdef _WIN32
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail(L"Cannot open file", path);
  FHandle = reinterpret_cast<intptr_t>(handle);
#else
  FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (FHandle < 0) Fail(L"Cannot open file", path);
#endif
}

TInFile::~TInFile() {
#ifdef _WIN32
  CloseHandle(H(FHandle));
#else
  ::close(static_cast<int>(FHandle));
#endif
}

size_t TInFile::Read(void* data, size_t count) {
#ifdef _WIN32
  DWORD got = 0;
  if (!ReadFile(H(FHandle), data, static_cast<DWORD>(std::min<size_t>(count, 1u << 30)), &got, nullptr))
    Fail(L"Cannot read file", FPath);
  return got;
#else
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(FHandle), data, count);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) Fail(L"Cannot read file", FPath);
  }
#endif
}

int64_t TInFile::Size() {
#ifdef _WIN32
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(H(FHandle), &size)) Fail(L"Cannot read file", FPath);
  return size.QuadPart;
#else
  struct stat info {};
  if (::fstat(static_cast<int>(FHandle), &info) != 0) Fail(L"Cannot read file", FPath);
  return info.st_size;
#endif
}

size_t TInFile::ReadAt(int64_t offset, void* data, size_t count) {
  size_t done = 0;
  while (done < count) {
#ifdef _WIN32
    OVERLAPPED at{};
    const uint64_t position = static_cast<uint64_t>(offset) + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    if (!ReadFile(H(FHandle), static_cast<char*>(data) + done,
                  static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30)), &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      Fail(L"Cannot read file", FPath);
    }
#else
    const ssize_t got = ::pread(static_cast<int>(FHandle), static_cast<char*>(data) + done, count - done,
                                static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail(L"Cannot read file", FPath);
    }
#endif
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

TOutFile::TOutFile(const fs::path& path) : FPath(path) {
#ifdef _WIN32
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail(L"Cannot create file", path);
  FHandle = reinterpret_cast<intptr_t>(handle);
#else
  FHandle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (FHandle < 0) Fail(L"Cannot create file", path);
#endif
  FBuffer.reserve(kWriteBuffer);
}

TOutFile::~TOutFile() {
  if (FHandle == -1) return;
#ifdef _WIN32
  CloseHandle(H(FHandle));
#else
  ::close(static_cast<int>(FHandle));
#endif
}

void TOutFile::Write(const void* data, size_t count) {
  const char* bytes = static_cast<const char*>(data);
  FPosition += static_cast<int64_t>(count);
  while (count > 0) {
    const size_t take = std::min(count, kWriteBuffer - FBuffer.size());
    FBuffer.append(bytes, take);
    bytes += take;
    count -= take;
    if (FBuffer.size() == kWriteBuffer) Flush();
  }
}

void TOutFile::Flush() {
  size_t done = 0;
  while (done < FBuffer.size()) {
#ifdef _WIN32
    DWORD wrote = 0;
    if (!WriteFile(H(FHandle), FBuffer.data() + done, static_cast<DWORD>(FBuffer.size() - done), &wrote, nullptr))
      Fail(L"Cannot write file", FPath);
#else
    const ssize_t wrote = ::write(static_cast<int>(FHandle), FBuffer.data() + done, FBuffer.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      Fail(L"Cannot write file", FPath);
    }
#endif
    done += static_cast<size_t>(wrote);
  }
  FBuffer.clear();
}

void TOutFile::WriteAt(int64_t offset, const std::string& bytes) {
  Flush();
#ifdef _WIN32
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD wrote = 0;
  if (!WriteFile(H(FHandle), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, &at) || wrote != bytes.size())
    Fail(L"Cannot write file", FPath);
  // A positioned write moves the file pointer; appending goes on at the end.
  LARGE_INTEGER end{};
  end.QuadPart = FPosition;
  if (!SetFilePointerEx(H(FHandle), end, nullptr, FILE_BEGIN)) Fail(L"Cannot write file", FPath);
#else
  if (::pwrite(static_cast<int>(FHandle), bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
      static_cast<ssize_t>(bytes.size()))
    Fail(L"Cannot write file", FPath);
#endif
}

void TOutFile::Close() {
  Flush();
#ifdef _WIN32
  const bool closed = CloseHandle(H(FHandle));
#else
  const bool closed = ::close(static_cast<int>(FHandle)) == 0;
#endif
  FHandle = -1;
  if (!closed) Fail(L"Cannot write file", FPath);
}

std::string ReadWholeFile(const fs::path& path) {
  TInFile file(path);
  std::string bytes;
  char piece[65536];
  while (const size_t got = file.Read(piece, sizeof(piece))) bytes.append(piece, got);
  return bytes;
}

void WriteWholeFile(const fs::path& path, const std::string& bytes) {
  TOutFile file(path);
  file.Write(bytes);
  file.Close();
}

void ReplaceFileWith(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) Fail(L"Cannot replace file", to);
#else
  if (std::rename(from.c_str(), to.c_str()) != 0) Fail(L"Cannot replace file", to);
#endif
}
