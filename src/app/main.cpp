// Program entry: the application object, the run mode, the window and the message loop.
#include <windows.h>
#include <objbase.h>
#include <delayimp.h>

#include <string>

#include "app/app_state.h"
#include "app/command_line_win.h"
#include "app/launcher.h"
#include "app/startup_check.h"
#include "app/uninstall.h"
#include "system/main_queue.h"
#include "skin/controls.h"
#include "system/dll_search.h"
#include "system/handles.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {

void RunMessageLoop() {
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      if (FormLauncher && FormLauncher->PreTranslateMessage(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // Out of messages: run what background threads posted, then wait for more.
    MainQueue::RunPending();
    WaitMessage();
  }
}

void ReleaseUnitState() {
  PackageFileName.clear();
  InstalledVersion.clear();
  DownloadUrl.clear();
  InstallDir.clear();
  PackagePath.clear();
}

// The manifest asks for per-monitor awareness; systems that read only the older entry get it
// here as well. A failure (the manifest already set it) changes nothing.
void BecomeDpiAware() {
  using SetContextFn = BOOL(WINAPI*)(HANDLE);
  const auto fn = SystemProc<SetContextFn>(L"user32.dll", "SetProcessDpiAwarenessContext");
  if (fn) fn(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
}

// WinHTTP, version.dll and bcrypt are delay-loaded (src/app/CMakeLists.txt): each comes by the
// full path of the system folder, also on systems that lack SetDefaultDllDirectories.
FARPROC WINAPI LoadFromSystemFolder(unsigned reason, PDelayLoadInfo info) {
  if (reason != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
  return reinterpret_cast<FARPROC>(Sys::LoadSystemLibrary(Widen(info->szDll)));
}

}  // namespace

PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  // Libraries that are not the system's known ones come from the system folder only, never from
  // the folder the program was started from (a Downloads folder may hold anything).
  Sys::LimitDllSearch();
  try {
    BecomeDpiAware();
    // The application object: COM for the main thread as a single-threaded apartment.
    const Sys::TComInit com;
    MainQueue::Initialize();
    Skin::AnswerVersionRequest(GetCommandLineW());
    // The removal of the product runs without the window and says with its exit code how it went.
    if (UninstallRequested()) ExitProcess(static_cast<UINT>(RunUninstall(HasCommandLineSwitch(Switches::Quiet, true))));

    // A half-done installation is undone before the start-up check or anything else reads the
    // product folder.
    UndoInterruptedInstallAtStart();

    Application.MainFormOnTaskBar = true;
    const bool silent = HasCommandLineSwitch(Switches::CheckMorvane, true);
    FormLauncher = new TFormLauncher();
    Application.MainForm = FormLauncher;

    // The silent mode shows the window only when the start-up check offers the update.
    const bool show = !silent || FormLauncher->StartupDecision() == TStartupDecision::ShowWindow;
    if (show && FormLauncher->Handle()) {
      FormLauncher->Show(showCommand);
      RunMessageLoop();
      // The window closed: the program ends now and the system takes the window along.
      // Destroying it first would hide it, which waits for the window manager.
      ExitProcess(0);
    }

    // Nothing posted from here on reaches the window being destroyed.
    MainQueue::Stop();
    Application.MainForm = nullptr;
    delete FormLauncher;
    FormLauncher = nullptr;
    ReleaseUnitState();
  } catch (...) {
    // The program sets no exit code of its own.
    DebugReportCurrentException(L"entry");
  }
  // A download still running on its thread is not waited for: the process ends here, leaving
  // the part files written so far.
  ExitProcess(0);
}
