// Dotted version texts compared component by component as numbers. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits a version text at dots and blanks (U+0001..U+0020); a double-quoted component may hold
// both, with a doubled quote standing for one. Empty components are kept.
std::vector<std::wstring> SplitVersionText(const std::wstring& text);
// A component as a signed 32-bit number (decimal, or hex after "$", "x" or "0x"); 0 otherwise.
int32_t VersionComponentValue(const std::wstring& component);
// -1 when the first version is lower, 1 when it is higher, 0 when every component is equal.
int CompareVersionTexts(const std::wstring& first, const std::wstring& second);
