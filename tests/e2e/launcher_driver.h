// Drives Morvane.exe from outside, the way a person or a screen reader meets it: the window is
// found by its class, its controls are read through their window texts and states, the button
// is pressed with messages. Every run gets a folder of its own that stands in for the user's
// local application data.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/files.h"

// The Windows form of a Unix path below the build tree (wine maps "/" to drive Z:).
std::wstring WindowsPath(const std::string& unixPath);
std::string EnvOr(const char* name, const char* fallback = "");
bool PathExists(const std::wstring& path);
void CopyTree(const std::wstring& from, const std::wstring& to);
void RemoveTree(const std::wstring& path);

// A process started from a copy of a program, with an environment of its own.
class TProcess {
 public:
  TProcess() = default;
  TProcess(TProcess&& other) noexcept;
  TProcess& operator=(TProcess&& other) noexcept;
  ~TProcess();
  static TProcess Start(const std::wstring& exe, const std::wstring& args,
                        const std::vector<std::pair<std::wstring, std::wstring>>& env);
  // A process that is already running, for waiting on it and stopping it.
  static TProcess Attach(DWORD pid);
  bool Running() const;
  // Waits at most timeoutMs; true when the process ended.
  bool WaitExit(DWORD timeoutMs);
  DWORD ExitCode() const;
  DWORD Id() const { return FInfo.dwProcessId; }
  void Kill();

 private:
  void Close();
  PROCESS_INFORMATION FInfo{};
};

// The launcher window of one process.
struct TWindowView {
  HWND Window = nullptr;
  HWND Status = nullptr;
  HWND Button = nullptr;
  HWND Gauge = nullptr;
  HWND WebView = nullptr;
  HWND Image = nullptr;

  static TWindowView Find(DWORD pid);
  bool Found() const { return Window != nullptr; }
  std::wstring StatusText() const;
  std::wstring ButtonText() const;
  std::wstring GaugeText() const;
  std::wstring WebViewText() const;
  bool ButtonEnabled() const;
  bool GaugeVisible() const;
  bool WindowVisible() const;
  void Press() const;       // a click on the button
  void PressEnter() const;  // the Enter key in the window
};

std::wstring WindowTextOf(HWND hwnd);
// The text the system keeps for a window, read without a message: it is there also while the
// launcher's main thread is busy installing and cannot answer.
std::wstring StoredWindowText(HWND hwnd);

// A message box of the process (window class "#32770"), or null.
HWND FindMessageBox(DWORD pid);
// The message a message box shows.
std::wstring MessageBoxText(HWND box);
// A click on the message box's button with that identifier (IDYES, IDNO, IDOK).
void ClickMessageBoxButton(HWND box, int id);

// Polls until done() holds or the process ends; the limit only keeps a broken run from
// hanging the suite.
bool WaitUntil(const std::function<bool()>& done, DWORD limitMs = 90000);

// Process ids of the running processes of that file name (ASCII case ignored).
std::vector<DWORD> ProcessesNamed(const std::wstring& name);
