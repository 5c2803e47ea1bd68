// Shell links in the current user's desktop and Start-menu programs folders.
#pragma once

#include <optional>
#include <string>

// The desktop folder, or the empty text when the system cannot tell.
std::wstring GetDesktopFolder();
// The Start menu's programs folder of the current user, or the empty text when the system
// cannot tell.
std::wstring GetProgramsFolder();
// Writes (or replaces) the link linkName on the desktop pointing at target, with the working
// folder and, unless iconFile is empty, the icon iconFile,0. Raises only when the shell link
// object cannot be created or lacks an interface; without a desktop folder nothing is written.
void CreateDesktopShortcut(const std::wstring& target, const std::wstring& linkName,
                           const std::wstring& workDir, const std::wstring& iconFile);
// The same link in the Start menu's programs folder.
void CreateProgramsShortcut(const std::wstring& target, const std::wstring& linkName,
                            const std::wstring& workDir, const std::wstring& iconFile);
// The target path a link file records, as written (environment variables not expanded);
// nullopt when the file cannot be loaded as a shell link.
std::optional<std::wstring> ReadShortcutTarget(const std::wstring& linkPath);
