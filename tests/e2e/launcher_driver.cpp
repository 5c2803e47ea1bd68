#include "launcher_driver.h"

#include <string>

#include <tlhelp32.h>

#include <cstdlib>
#include <stdexcept>

#include "system/text.h"

std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  const std::wstring text = DecodeUtf8Strict(unixPath).value_or(Widen(unixPath));
  for (wchar_t ch : text) path.push_back(ch == L'/' ? L'\\' : ch);
  return path;
}

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CopyTree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CopyTree(from + L"\\" + name, to + L"\\" + name);
    else
      CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

TProcess::TProcess(TProcess&& other) noexcept : FInfo(other.FInfo) { other.FInfo = {}; }

TProcess& TProcess::operator=(TProcess&& other) noexcept {
  if (this != &other) {
    Close();
    FInfo = other.FInfo;
    other.FInfo = {};
  }
  return *this;
}

TProcess::~TProcess() { Close(); }

void TProcess::Close() {
  if (FInfo.hProcess) CloseHandle(FInfo.hProcess);
  if (FInfo.hThread) CloseHandle(FInfo.hThread);
  FInfo = {};
}

TProcess TProcess::Start(const std::wstring& exe, const std::wstring& args,
                         const std::vector<std::pair<std::wstring, std::wstring>>& env) {
  // The current environment with the given variables replaced.
  std::vector<std::wstring> vars;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    const std::wstring var = p;
    bool replaced = false;
    for (const auto& [name, value] : env)
      if (SameTextAscii(var.substr(0, var.find(L'=')), name)) replaced = true;
    if (!replaced) vars.push_back(var);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : env)
    if (!value.empty()) vars.push_back(name + L"=" + value);
  std::wstring envBlock;
  for (const auto& var : vars) envBlock += var + L'\0';
  envBlock += L'\0';

  std::wstring commandLine = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  TProcess process;
  // A copy made a moment ago can still be refused once in a while under Wine; say why when it stays so.
  DWORD error = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                       envBlock.data(), nullptr, &si, &process.FInfo))
      return process;
    error = GetLastError();
    Sleep(200);
  }
  throw std::runtime_error("cannot start " + EncodeUtf8(exe) + " (error " + std::to_string(error) + ")");
}

bool TProcess::Running() const { return FInfo.hProcess && WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT; }

bool TProcess::WaitExit(DWORD timeoutMs) {
  return FInfo.hProcess && WaitForSingleObject(FInfo.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD TProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(FInfo.hProcess, &code);
  return code;
}

TProcess TProcess::Attach(DWORD pid) {
  TProcess process;
  process.FInfo.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  process.FInfo.dwProcessId = process.FInfo.hProcess ? pid : 0;
  return process;
}

void TProcess::Kill() {
  if (Running()) {
    TerminateProcess(FInfo.hProcess, 1);
    WaitForSingleObject(FInfo.hProcess, 10000);
  }
}

std::wstring WindowTextOf(HWND hwnd) {
  if (!hwnd) return {};
  wchar_t buffer[2048] = {};
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                           5000, &len))
    return {};
  return std::wstring(buffer, len);
}

std::wstring StoredWindowText(HWND hwnd) {
  wchar_t buffer[1024] = {};
  const int len = InternalGetWindowText(hwnd, buffer, static_cast<int>(std::size(buffer)));
  return std::wstring(buffer, len > 0 ? len : 0);
}

namespace {
std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

// The first top-level window of the process with that class (only a visible one, if asked).
HWND TopWindowOf(DWORD pid, const wchar_t* windowClass, bool visibleOnly) {
  struct TSearch {
    DWORD Pid;
    const wchar_t* Class;
    bool VisibleOnly;
    HWND Found;
  } search{pid, windowClass, visibleOnly, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->Pid && ClassOf(hwnd) == s->Class && (!s->VisibleOnly || IsWindowVisible(hwnd))) {
          s->Found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}
}  // namespace

TWindowView TWindowView::Find(DWORD pid) {
  TWindowView view;
  view.Window = TopWindowOf(pid, L"TFormLauncher", false);
  if (!view.Window) return view;
  EnumChildWindows(
      view.Window,
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        auto* v = reinterpret_cast<TWindowView*>(param);
        const std::wstring cls = ClassOf(hwnd);
        if (cls == L"TLabel") v->Status = hwnd;
        if (cls == L"TsButton") v->Button = hwnd;
        if (cls == L"TsGauge") v->Gauge = hwnd;
        if (cls == L"TsWebBrowser") v->WebView = hwnd;
        if (cls == L"TsImage") v->Image = hwnd;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&view));
  return view;
}

HWND FindMessageBox(DWORD pid) { return TopWindowOf(pid, L"#32770", true); }

std::wstring MessageBoxText(HWND box) {
  // The message is the static control with the identifier 0xFFFF.
  return WindowTextOf(GetDlgItem(box, 0xFFFF));
}

void ClickMessageBoxButton(HWND box, int id) {
  if (HWND button = GetDlgItem(box, id)) PostMessageW(button, BM_CLICK, 0, 0);
}

std::wstring TWindowView::StatusText() const { return WindowTextOf(Status); }
std::wstring TWindowView::ButtonText() const { return WindowTextOf(Button); }
std::wstring TWindowView::GaugeText() const { return WindowTextOf(Gauge); }
std::wstring TWindowView::WebViewText() const { return WindowTextOf(WebView); }
bool TWindowView::ButtonEnabled() const { return Button && IsWindowEnabled(Button); }
bool TWindowView::GaugeVisible() const { return Gauge && IsWindowVisible(Gauge); }
bool TWindowView::WindowVisible() const { return Window && IsWindowVisible(Window); }
void TWindowView::Press() const {
  // A left click in the middle of the button, as the mouse would deliver it.
  RECT rc{};
  GetClientRect(Button, &rc);
  const LPARAM at = MAKELPARAM((rc.right - rc.left) / 2, (rc.bottom - rc.top) / 2);
  PostMessageW(Button, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(Button, WM_LBUTTONUP, 0, at);
}

void TWindowView::PressEnter() const {
  PostMessageW(Button, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(Button, WM_KEYUP, VK_RETURN, 0xC01C0001);
}

bool WaitUntil(const std::function<bool()>& done, DWORD limitMs) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  while (GetTickCount64() < end) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

std::vector<DWORD> ProcessesNamed(const std::wstring& name) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
    if (SameTextAscii(ExtractFileName(entry.szExeFile), name)) ids.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return ids;
}
