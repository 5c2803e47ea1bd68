// What the start-up check, the update command and the download-and-install job use of the
// launcher window: its controls, closing it and laying it out again. TFormLauncher is the one
// window that has them; the workflow units know only this part of it.
#pragma once

#include <string>

#include "release/release_folder.h"
#include "skin/controls.h"

class TLauncherWindow : public TObject {
 public:
  Skin::TsImage sImage1;
  Skin::TsWebBrowser sWebBrowser1;
  Skin::TsPanel sPanel2;
  Skin::TsPanel sPanel3;
  Skin::TsPanel sPanel1;
  Skin::TLabel lblStatus;
  Skin::TsGauge ProgressBar;
  Skin::TsButton btnUpdate;
  Skin::TsCharImageList sCharImageList1;

  // Asks the window to close. During creation this only hides the still invisible window;
  // afterwards it ends the message loop, and nothing queued for the main thread runs any more.
  virtual void Close() = 0;
  // True once the window has closed for good: work that arrives later changes nothing.
  virtual bool Closed() const = 0;
  // Lays the controls out again (after a control was shown, hidden or re-aligned).
  virtual void Realign() = 0;

  // Release folder lookups and the version comparison; they use nothing of the window.
  // GetFileLink: the direct link of fileName in the public folder, with the size and SHA-256
  // its listing publishes; raises when the file is not there.
  TRemoteFile GetFileLink(const std::wstring& folderLink, const std::wstring& fileName);
  // The trimmed content of fileName in the public folder; empty when it is blank.
  std::wstring GetRemoteVersion(const std::wstring& folderLink, const std::wstring& fileName);
  // Negative when first is lower than second, 0 when equal, positive when higher.
  int CompareVersions(const std::wstring& first, const std::wstring& second);
};
