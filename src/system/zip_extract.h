// Extraction of the release archive into the product folder.
#pragma once

#include <string>

// Unpacks every entry of the zip archive below destFolder, creating folders as needed and
// replacing existing files. Raises on the first failure; what was extracted before stays.
void ExtractPackage(const std::wstring& archivePath, const std::wstring& destFolder);
