// U("...") : a UTF-8 literal (Cyrillic expectations in tests) as UTF-16.
#pragma once

#include <string>

#include "system/text.h"

inline std::wstring U(const char* utf8) { return DecodeUtf8Strict(utf8).value(); }
