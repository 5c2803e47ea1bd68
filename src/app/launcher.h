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

#include "app/launcher_window.h"
#include "app/startup_check.h"
#include "system/handles.h"

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

class TFormLauncher final : public TLauncherWindow {
 public:
  // Creates the window hidden, with all its controls, and runs FormCreate to completion.
  TFormLauncher();
  ~TFormLauncher() override;
  TFormLauncher(const TFormLauncher&) = delete;
  TFormLauncher& operator=(const TFormLauncher&) = delete;

  HWND Handle() const { return FHandle; }

  // Handlers.
  void FormCreate(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  void btnUpdateClick(TObject* sender);

  // The download and install job (update_job.h).
  void UpdateProgram(const std::wstring& folderLink, const std::wstring& packageName);
  void InstallUpdate();

  // What FormCreate decided: in the silent mode the start-up check's answer; otherwise the
  // window is to be shown.
  TStartupDecision StartupDecision() const { return FStartupDecision; }

  void Close() override;
  bool Closed() const override { return FClosed; }
  void Realign() override;
  // The first showing, with the show command the process was started with.
  void Show(int showCommand);
  // Handles keys meant for the whole window (Enter presses the default button).
  // True when the message was consumed.
  bool PreTranslateMessage(const MSG& msg);

  int Dpi() const { return FDpi; }

 private:
  void ApplyDpi(int dpi, const RECT* suggested);
  void PlaceOnDesktop();
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND FHandle = nullptr;
  Sys::TFont FFont;
  Sys::TIcon FIconBig;
  Sys::TIcon FIconSmall;
  int FDpi = 96;
  bool FCreating = false;
  bool FClosed = false;
  TStartupDecision FStartupDecision = TStartupDecision::ShowWindow;
};

extern TFormLauncher* FormLauncher;

// Window font family: "Segoe UI", or a sound UI font where that is missing.
std::wstring LauncherFontFamily();
