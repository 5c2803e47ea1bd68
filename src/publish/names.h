// Entry names as every user's Windows will write them below the product folder. The verdict is
// the launcher's own judge (system/zip_judge.h); this adds the publisher's explanation.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "system/zip_core.h"

// Below "C:\Users\<user>\AppData\Local\Tandrel\" a path has room for a user folder name of this
// many characters before Windows' 260-character limit (248 for a folder); negative when none.
int UserNameRoom(const std::wstring& name);
// Windows makes user folder names of up to 20 characters: every user has at least this room.
constexpr int kUsualUserNameRoom = 20;
// Below this much room the check warns: domain suffixes and moved profiles make paths longer.
constexpr int kComfortableUserNameRoom = 60;

// The launcher's judge on entries (decoded names, "\" between folders) as every user's
// launcher will judge them: each entry on its own, then all together. Nullopt when it accepts;
// otherwise the index of the entry refused (the later one of a clash) and the reason.
struct TNameRefusal {
  size_t Index = 0;
  std::wstring Reason;
};
std::optional<TNameRefusal> JudgeForEveryUser(const std::vector<TZipItem>& items);
