#include "app/changes.h"

#include <windows.h>

#include "release/http_client.h"
#include "release/release_folder.h"
#include "system/changes_page.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/sha256.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {

std::wstring DecodeAnsi(std::string_view bytes) { return DecodeCodePage(CP_ACP, bytes).value_or(std::wstring()); }

std::wstring TempFolder() {
  wchar_t shortPath[MAX_PATH + 1] = {};
  const DWORD len = GetTempPathW(MAX_PATH, shortPath);
  std::wstring folder(shortPath, len);
  const DWORD longLen = GetLongPathNameW(folder.c_str(), nullptr, 0);
  if (longLen > 0) {
    std::wstring longPath(longLen, L'\0');
    const DWORD got = GetLongPathNameW(folder.c_str(), longPath.data(), longLen);
    if (got > 0 && got < longLen) folder.assign(longPath.data(), got);
  }
  return folder;
}

}  // namespace

std::wstring ChangesPagePath() {
  std::wstring folder = TempFolder();
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder + L"temp.html";
}

void ShowChanges(const std::wstring& publicLink, Skin::TsWebBrowser& webView, const std::wstring& expectedSha256) {
  const std::string body = GetRemoteFileBytes(publicLink, L"Changes.txt", L"Загрузка Changes.txt");
  if (!expectedSha256.empty()) {
    TSha256 hash;
    hash.Update(body.data(), body.size());
    if (hash.HexDigest() != expectedSha256) throw Exception(L"Changes.txt не совпадает с подписанным издателем");
  }

  const std::string page = EncodeUtf8(BuildChangesPage(DecodeNotes(body, DecodeAnsi)));
  const std::wstring path = ChangesPagePath();
  {
    TFileStream file = TFileStream::Create(path);
    file.Write(page.data(), page.size());
  }
  webView.Navigate(path);
}
