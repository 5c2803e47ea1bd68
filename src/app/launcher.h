// The launcher window FormLauncher of class TFormLauncher.
//
// What other programs (UI and end-to-end tests) can rely on:
//   top-level window class "TFormLauncher", caption "Установка", client area 544 x 434 at 96 DPI;
//   child windows, each with its control ID and window class:
//
//   | control      | ID   | class          | parent  | window text                    |
//   |--------------|------|----------------|---------|--------------------------------|
//   | sImage1      | 1001 | "TsImage"      | window  | empty                          |
//   | sWebBrowser1 | 1002 | "TsWebBrowser" | window  | the path last opened, or empty |
//   | sPanel2      | 1003 | "TsPanel"      | window  | empty                          |
//   | sPanel3      | 1004 | "TsPanel"      | sPanel2 | empty                          |
//   | sPanel1      | 1005 | "TsPanel"      | sPanel2 | empty                          |
//   | lblStatus    | 1006 | "TLabel"       | sPanel2 | the status text                |
//   | ProgressBar  | 1007 | "TsGauge"      | sPanel3 | the reading, e.g. "37%"        |
//   | btnUpdate    | 1008 | "TsButton"     | sPanel1 | the caption                    |
//
//   Visible and enabled states are the windows' own (IsWindowVisible, IsWindowEnabled).
//   Builds with test hooks count the presses of btnUpdate in its window property
//   "MorvaneClickCount".
#pragma once

#include <windows.h>

#include <string>

#include "skin/controls.h"

enum TCloseAction { caNone, caHide, caFree, caMinimize };

namespace LauncherIds {
inline constexpr int sImage1 = 1001;
inline constexpr int sWebBrowser1 = 1002;
inline constexpr int sPanel2 = 1003;
inline constexpr int sPanel3 = 1004;
inline constexpr int sPanel1 = 1005;
inline constexpr int lblStatus = 1006;
inline constexpr int ProgressBar = 1007;
inline constexpr int btnUpdate = 1008;
}  // namespace LauncherIds

class TFormLauncher : public TObject {
 public:
  // Creates the window hidden, with all its controls, and runs FormCreate to completion.
  TFormLauncher();
  ~TFormLauncher() override;
  TFormLauncher(const TFormLauncher&) = delete;
  TFormLauncher& operator=(const TFormLauncher&) = delete;

  HWND Handle() const { return FHandle; }

  // Controls.
  Skin::TsImage sImage1;
  Skin::TsWebBrowser sWebBrowser1;
  Skin::TsPanel sPanel2;
  Skin::TsPanel sPanel3;
  Skin::TsPanel sPanel1;
  Skin::TLabel lblStatus;
  Skin::TsGauge ProgressBar;
  Skin::TsButton btnUpdate;
  Skin::TsCharImageList sCharImageList1;

  // Handlers.
  void FormCreate(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  void btnUpdateClick(TObject* sender);  // update_job.cpp

  // The download and install job (update_job.cpp).
  void UpdateProgram(const std::wstring& folderLink, const std::wstring& packageName);
  void InstallUpdate();

  // Release folder lookups and the version comparison; they use nothing of the window.
  std::wstring GetFileLink(const std::wstring& folderLink, const std::wstring& fileName);
  std::wstring GetRemoteVersion(const std::wstring& folderLink, const std::wstring& fileName);
  int CompareVersions(const std::wstring& first, const std::wstring& second);

  // Asks the window to close. During creation this only hides the still invisible window;
  // afterwards it runs FormClose and ends the message loop.
  void Close();
  // The first showing, with the show command the process was started with.
  void Show(int showCommand);
  // Lays the controls out again (after a control was shown, hidden or re-aligned).
  void Realign();
  // Handles keys meant for the whole window (Enter presses the default button).
  // True when the message was consumed.
  bool PreTranslateMessage(const MSG& msg);

  int Dpi() const { return FDpi; }

 private:
  // The silent start-up check that runs during creation (startup_check.cpp).
  void RunStartupCheck();
  void ApplyDpi(int dpi, const RECT* suggested);
  void PlaceOnDesktop();
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND FHandle = nullptr;
  HFONT FFont = nullptr;
  HICON FIconBig = nullptr;
  HICON FIconSmall = nullptr;
  int FDpi = 96;
  bool FCreating = false;
  bool FClosed = false;
};

extern TFormLauncher* FormLauncher;

// The base folder of the product folder: LOCALAPPDATA with a trailing backslash, or empty.
std::wstring LocalAppDataBase();
// Full path and file name of the program's own executable.
std::wstring OwnExePath();
std::wstring OwnExeName();

// Window font family: "Segoe UI", or a sound UI font where that is missing.
std::wstring LauncherFontFamily();
