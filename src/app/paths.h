// Where the launcher finds the product folder's base and its own executable.
#pragma once

#include <string>

// The base folder of the product folder: LOCALAPPDATA with a trailing backslash. When the
// variable is unset or empty, the user's known local application data folder; never relative:
// raises when the system cannot name that folder either.
std::wstring LocalAppDataBase();
// Full path and file name of the program's own executable.
std::wstring OwnExePath();
std::wstring OwnExeName();
