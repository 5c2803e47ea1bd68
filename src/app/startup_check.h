// The silent start-up check ("-checkmorvane"): with nothing newer the program ends unseen;
// with a newer release "Morvane.exe" relaunches a copy of itself, and the copy shows the
// window ready to update, with the release notes.
#pragma once

#include "app/launcher_window.h"

enum class TStartupDecision {
  StayHidden,  // the check ended without a window: the program ends unseen
  ShowWindow,  // the update is offered: the window is shown when the message loop starts
  Closed,      // the check closed the window (relaunched copy started, or nothing newer)
};

// Runs the check on the still hidden window during its creation and says whether it is to be
// shown. Raises what the version lookup raises; the release notes failing to load only leave
// the web view empty.
TStartupDecision RunStartupCheck(TLauncherWindow& window);

// Undoes an installation that a killed run or a lost power left half done in the product
// folder (or finishes the clean-up of one that had completed). The entry calls it first, in
// either mode, before anything else touches the product folder. While another launcher holds
// the folder's installation lock the record is its own and stays untouched. A change that
// cannot be undone now stays recorded for the next start or the next installation.
void UndoInterruptedInstallAtStart();
