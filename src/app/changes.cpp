#include "app/changes.h"

#include <windows.h>

#include "release/http_client.h"
#include "release/release_folder.h"
#include "system/changes_page.h"
#include "system/errors.h"
#include "system/sha256.h"
#include "system/temp_files.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {

std::wstring DecodeAnsi(std::string_view bytes) { return DecodeCodePage(CP_ACP, bytes).value_or(std::wstring()); }

}  // namespace

std::wstring ChangesPagePath() { return TempFolder() + L"temp.html"; }

void ShowChanges(const std::wstring& publicLink, Skin::TsWebBrowser& webView, const std::wstring& expectedSha256) {
  const std::string body = GetRemoteFileBytes(publicLink, L"Changes.txt", L"Загрузка Changes.txt");
  if (!expectedSha256.empty()) {
    TSha256 hash;
    hash.Update(body.data(), body.size());
    if (hash.HexDigest() != expectedSha256) throw Exception(L"Changes.txt не совпадает с подписанным издателем");
  }

  const std::string page = EncodeUtf8(BuildChangesPage(DecodeNotes(body, DecodeAnsi)));
  // The temporary folder may be shared with other users: the page is written anew, never
  // through a link someone left at its name.
  webView.Navigate(WriteNewFile(ChangesPagePath(), page));
}
