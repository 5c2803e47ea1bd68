// The release notes page: "Changes.txt" from the release folder, shown in the web view.
#pragma once

#include <string>

#include "skin/controls.h"

// Where the page is written: "temp.html" in the long form of the user's temporary folder.
std::wstring ChangesPagePath();

// Downloads the notes, writes the page and lets the web view open it. Raises on failure, and
// when expectedSha256 is given and the notes' SHA-256 is another.
void ShowChanges(const std::wstring& publicLink, Skin::TsWebBrowser& webView, const std::wstring& expectedSha256 = {});
