#include "release/release_folder.h"

#include <windows.h>

#include <cstdlib>

#include "release/answer_text.h"
#include "release/http_client.h"
#include "release/listing.h"
#include "system/errors.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {

std::wstring DecodeWithCodePage(unsigned codePage, std::string_view bytes) {
  if (auto text = DecodeCodePage(codePage, bytes)) return std::move(*text);
  throw Exception(L"Invalid encoding name");
}

std::wstring BodyText(const THttpResponse& response) { return ReadAnswerText(response, DecodeWithCodePage); }

}  // namespace

std::wstring CloudApiRoot() {
#ifdef MORVANE_TEST_HOOKS
  if (const wchar_t* root = _wgetenv(L"MORVANE_API_ROOT"); root && *root) {
    std::wstring text(root);
    while (!text.empty() && text.back() == L'/') text.pop_back();
    return text;
  }
#endif
  return L"https://cloud-api.yandex.net";
}

std::wstring GetDirectDownloadLink(const std::wstring& publicLink, const std::wstring& fileName) {
  std::wstring result;
  const std::wstring root = CloudApiRoot();
  int64_t offset = 0;
  for (;;) {
    THttpClient client;
    const auto response = client.Get(ListingUrl(root, publicLink, offset));
    CheckResponse(response.get(), L"Получение списка файлов");
    const TListingPage page = SearchListing(BodyText(*response), fileName);
    // A folder larger than one answer: the later pages are asked for while the name is not found.
    if (page.Found || !page.MoreFollow) {
      result = page.Link;
      break;
    }
    offset = page.NextOffset;
  }
  if (result.empty()) throw Exception(FormatMessageText(L"Файл %s не найден в публичной папке", {fileName}));
  return result;
}

std::wstring GetRemoteVersionText(const std::wstring& publicLink, const std::wstring& fileName) {
  const std::wstring link = GetDirectDownloadLink(publicLink, fileName);
  THttpClient client;
  const auto response = client.Get(link);
  CheckResponse(response.get(), L"Загрузка version.txt");
  return TrimControlAndSpace(BodyText(*response));
}
