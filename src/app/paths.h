// Where the launcher finds the product folder's base and its own executable.
#pragma once

#include <string>

// The base folder of the product folder: LOCALAPPDATA with a trailing backslash, or empty.
std::wstring LocalAppDataBase();
// Full path and file name of the program's own executable.
std::wstring OwnExePath();
std::wstring OwnExeName();
