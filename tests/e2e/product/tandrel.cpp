// A stand-in for the product in tests and the demo. It appends the arguments it was started
// with to "started.txt" beside itself, one line per start (UTF-8), then looks at "mode.txt"
// beside itself: "stay" keeps it running (for at most ten minutes), anything else ends it. Its
// working folder goes to "cwd.txt" beside itself.
#include <windows.h>

#include <string>

namespace {
std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 2];
  const DWORD len = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring folder(path, len);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string ToUtf8(const std::wstring& text) {
  const int len = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), len, nullptr, nullptr);
  return out;
}

// The command line without the program's own path.
std::wstring Arguments() {
  const wchar_t* p = GetCommandLineW();
  bool quoted = false;
  while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
    if (*p == L'"') quoted = !quoted;
    ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring folder = OwnFolder();
  wchar_t self[MAX_PATH * 2];
  const DWORD len = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  const std::wstring name = std::wstring(self, len).substr(std::wstring(self, len).find_last_of(L'\\') + 1);

  HANDLE log = CreateFileW((folder + L"started.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    const std::string line = ToUtf8(name + L"|" + Arguments()) + "\r\n";
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
  }

  wchar_t cwd[MAX_PATH * 2];
  const DWORD cwdLen = GetCurrentDirectoryW(static_cast<DWORD>(std::size(cwd)), cwd);
  HANDLE cwdFile = CreateFileW((folder + L"cwd.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (cwdFile != INVALID_HANDLE_VALUE) {
    const std::string line = ToUtf8(std::wstring(cwd, cwdLen < std::size(cwd) ? cwdLen : 0));
    DWORD written = 0;
    WriteFile(cwdFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(cwdFile);
  }

  char mode[16] = {};
  HANDLE modeFile = CreateFileW((folder + L"mode.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (modeFile != INVALID_HANDLE_VALUE) {
    DWORD read = 0;
    ReadFile(modeFile, mode, sizeof(mode) - 1, &read, nullptr);
    CloseHandle(modeFile);
  }
  if (std::string(mode).rfind("stay", 0) == 0) Sleep(10 * 60 * 1000);
  return 0;
}
