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

TRemoteFile FindRemoteFile(const std::wstring& publicLink, const std::wstring& fileName) {
  TRemoteFile result;
  const std::wstring root = CloudApiRoot();
  int64_t offset = 0;
  for (int pages = 1;; ++pages) {
    THttpClient client;
    const auto response = client.Get(ListingUrl(root, publicLink, offset));
    CheckResponse(response.get(), L"Получение списка файлов");
    const TListingPage page = SearchListing(BodyText(*response), fileName);
    // A folder larger than one answer: the later pages are asked for while the name is not found.
    if (page.Found || !page.MoreFollow) {
      result.Link = page.Link;
      result.Size = page.Size;
      result.Sha256 = page.Sha256;
      break;
    }
    // Each page must be the one asked for and lead further, else the listing would go round
    // in circles.
    if (page.Offset != offset || page.NextOffset <= offset)
      throw Exception(FormatMessageText(L"Сервер вернул не ту страницу списка файлов: запрошено смещение %d, получено %d",
                                        {IntToStr(offset), IntToStr(page.Offset)}));
    if (pages >= kMaxListingPages)
      throw Exception(FormatMessageText(L"Список файлов публичной папки длиннее %d страниц", {IntToStr(kMaxListingPages)}));
    offset = page.NextOffset;
  }
  if (result.Link.empty()) throw Exception(FormatMessageText(L"Файл %s не найден в публичной папке", {fileName}));
  return result;
}

std::wstring GetDirectDownloadLink(const std::wstring& publicLink, const std::wstring& fileName) {
  return FindRemoteFile(publicLink, fileName).Link;
}

std::wstring GetRemoteVersionText(const std::wstring& publicLink, const std::wstring& fileName) {
  const std::wstring link = GetDirectDownloadLink(publicLink, fileName);
  THttpClient client;
  const auto response = client.Get(link);
  CheckResponse(response.get(), L"Загрузка version.txt");
  return TrimControlAndSpace(BodyText(*response));
}
