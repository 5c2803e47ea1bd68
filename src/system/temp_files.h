// The user's temporary folder and files written there that nobody else's file can redirect.
#pragma once

#include <string>
#include <string_view>

// The long form of the user's temporary folder, ending with "\", however long it is. Raises
// "Cannot find the temporary folder. %s" when the system names none.
std::wstring TempFolder();

// Writes bytes as the whole content of the file at path, replacing what was there, and returns
// the path written. Whatever lies at that name is taken away first (a link at the name is
// removed, never followed) and the file is made anew, never opened through a link. When the
// name stays taken (another user's file, a folder, a link planted again at once), the page goes
// to a name of the program's own beside it: the name with "-" and a number before its extension.
// Raises "Cannot create file "%s". %s" or "Cannot write file "%s". %s".
std::wstring WriteNewFile(const std::wstring& path, std::string_view bytes);
