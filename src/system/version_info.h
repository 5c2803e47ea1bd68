// The file version of an executable, read from its version resource.
#pragma once

#include <string>

// "major.minor.release.build" from the fixed file information, or "0.0.0" when there is none.
std::wstring GetFileVersionString(const std::wstring& path);
// The CompanyName of the version resource's first translation (or of a usual one when the
// resource lists none), trimmed; the empty text when there is none.
std::wstring GetFileCompanyName(const std::wstring& path);
