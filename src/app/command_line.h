// Splitting of the process command line and the switch test, independent of the platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CommandLine {

// Splits a command line into arguments. Characters U+0001..U+0020 separate arguments; an
// empty "" met between arguments is skipped. Inside an argument a double quote opens a
// stretch, closed by the next double quote or the end of the text, whose characters (spaces
// included) belong to the argument; the quote characters are dropped.
std::vector<std::wstring> Split(const std::wstring& commandLine);

// Compares two texts; true when they are equal under the chosen case rule.
using TextEquals = std::function<bool(const std::wstring& a, const std::wstring& b, bool ignoreCase)>;

// True when an argument after the first (the program's path) is "-" or "/" followed by
// exactly switchText.
bool HasSwitch(const std::wstring& commandLine, const std::wstring& switchText, bool ignoreCase,
               const TextEquals& equals);

// ASCII-only comparer for hosts without the system's locale comparison.
bool AsciiEquals(const std::wstring& a, const std::wstring& b, bool ignoreCase);

}  // namespace CommandLine
