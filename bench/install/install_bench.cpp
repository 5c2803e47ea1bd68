// Times one whole install from the click, as a person meets it: starts Morvane.exe with a local
// application data folder of its own, waits for its window, presses the button, and reports
// every state the window shows, the start of the product and the end of the launcher, each in
// seconds after the click, with the launcher's peak memory. Asserts nothing.
//   install_bench.exe <Morvane.exe> <local application data folder> <folder link>
// Prints, one per line:
//   click <seconds since 1970, the clock of the stand-in's log>
//   state <seconds> <status text>
//   hidden <seconds>
//   product <seconds>              (creation of the product's process)
//   exit <seconds> code <n>        (end of the launcher's process)
//   peak <KiB> <KiB>               (the launcher's peak working set: at the click, and in all)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "launcher_driver.h"
#include "system/handles.h"
#include "system/text.h"

namespace {

// Seconds since 1970 of a system time; the wall clock of the host under Wine.
double UnixSeconds(const FILETIME& time) {
  const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<double>(ticks) / 1e7 - 11644473600.0;
}

double Now() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return UnixSeconds(now);
}

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// The creation time of the first running process of that name, or 0.
double ProcessCreated(const std::wstring& name) {
  for (DWORD pid : ProcessesNamed(name)) {
    const Sys::TKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    FILETIME created, exited, kernel, user;
    if (process && GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) return UnixSeconds(created);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: install_bench <Morvane.exe> <local application data folder> <folder link>\n");
    return 2;
  }
  const std::wstring appData = argv[2];
  // The product started at the end stays running, so that its start can be seen.
  const std::wstring productDir = appData + L"\\Tandrel";
  CreateDirectoryW(appData.c_str(), nullptr);
  CreateDirectoryW(productDir.c_str(), nullptr);
  WriteFileBytes(productDir + L"\\mode.txt", "stay");

  TProcess launcher =
      TProcess::Start(argv[1], L"", {{L"LOCALAPPDATA", appData}, {L"MORVANE_PUBLIC_FOLDER_LINK", argv[3]}});
  const Sys::TKernelHandle watched(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, launcher.Id()));
  TWindowView view;
  if (!WaitUntil([&] { return (view = TWindowView::Find(launcher.Id())).Found() && view.WindowVisible(); })) {
    Say("the window did not appear");
    launcher.Kill();
    return 1;
  }
  Sleep(500);  // the window's start-up settles before the click

  SIZE_T peak = 0;
  auto sampleMemory = [&] {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(watched.Get(), &counters, sizeof counters) && counters.PeakWorkingSetSize > peak)
      peak = counters.PeakWorkingSetSize;
  };

  sampleMemory();
  const SIZE_T idle = peak;
  const double click = Now();
  Say("click " + Seconds(click));
  view.Press();
  std::wstring lastStatus = StoredWindowText(view.Status);
  bool hidden = false, installing = false;
  double product = 0;
  // The watch itself goes through the same wineserver as the launcher's every socket read, so
  // it looks every 5 ms, and for the product (a snapshot of all processes) only every 50 ms. The
  // product's time is its creation time, so the coarser look does not move it.
  for (int round = 0; WaitForSingleObject(watched.Get(), 5) == WAIT_TIMEOUT; ++round) {
    const std::wstring status = StoredWindowText(view.Status);
    if (status != lastStatus && !status.empty()) {
      Say("state " + Seconds(Now() - click) + " " + EncodeUtf8(status));
      lastStatus = status;
      installing = installing || status == L"Установка...";
    }
    if (!hidden && !view.WindowVisible()) {
      Say("hidden " + Seconds(Now() - click));
      hidden = true;
    }
    if (installing && product == 0 && round % 10 == 0) product = ProcessCreated(L"Tandrel.exe");
    if (round % 4 == 0) sampleMemory();
  }
  FILETIME created, exited, kernel, user;
  const double ended = GetProcessTimes(watched.Get(), &created, &exited, &kernel, &user) ? UnixSeconds(exited) : Now();
  sampleMemory();
  // The product may come up only as the launcher goes.
  for (int i = 0; product == 0 && i < 500; ++i, Sleep(10)) product = ProcessCreated(L"Tandrel.exe");
  if (product != 0) Say("product " + Seconds(product - click));
  Say("exit " + Seconds(ended - click) + " code " + std::to_string(launcher.ExitCode()));
  Say("peak " + std::to_string(idle / 1024) + " " + std::to_string(peak / 1024));

  for (DWORD pid : ProcessesNamed(L"Tandrel.exe")) TProcess::Attach(pid).Kill();
  return 0;
}
