// The current user's desktop folder and a shell link written there.
#pragma once

#include <string>

// The desktop folder, or the empty text when the system cannot tell.
std::wstring GetDesktopFolder();
// Writes (or replaces) the link linkName on the desktop pointing at target, with the working
// folder and, unless iconFile is empty, the icon iconFile,0. Raises only when the shell link
// object cannot be created or lacks an interface; without a desktop folder nothing is written.
void CreateDesktopShortcut(const std::wstring& target, const std::wstring& linkName,
                           const std::wstring& workDir, const std::wstring& iconFile);
