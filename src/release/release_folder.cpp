#include "release/release_folder.h"

#include <windows.h>

#include <cstdlib>

#include "release/answer_text.h"
#include "release/http_client.h"
#include "release/listing.h"
#include "release/retry.h"
#include "release/url.h"
#include "system/pumping_wait.h"
#include "system/sha256.h"
#include "system/errors.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {

std::wstring DecodeWithCodePage(unsigned codePage, std::string_view bytes) {
  if (auto text = DecodeCodePage(codePage, bytes)) return std::move(*text);
  throw Exception(L"Invalid encoding name");
}

std::wstring BodyText(const THttpResponse& response) { return ReadAnswerText(response, DecodeWithCodePage); }

// Links that are not HTTPS can be changed on the way; such a file is taken only with the
// checksum the listing publishes for it.
void RequireSecureOrHashed(const TRemoteFile& file, const std::wstring& fileName) {
  const auto parts = ParseHttpUrl(file.Link);
  if ((!parts || parts->Scheme != L"https") && file.Sha256.empty())
    throw EReleaseRefused(FormatMessageText(
        L"Список файлов публичной папки: ссылка на файл %s не защищена (не HTTPS), а его контрольная сумма не опубликована",
        {fileName}));
}

// The answer's body as the file's bytes: inflated when the server compressed it for the way,
// and held to the checksum the listing publishes, when it does.
std::string CheckedBytes(const THttpResponse& response, const TRemoteFile& file, const std::wstring& context) {
  const std::wstring encoding = response.Header(L"Content-Encoding");
  std::string bytes = !response.Body.empty() && (encoding == L"gzip" || encoding == L"deflate")
                          ? InflateBody(response.Body, encoding == L"gzip")
                          : response.Body;
  if (!file.Sha256.empty()) {
    TSha256 hash;
    hash.Update(bytes.data(), bytes.size());
    if (hash.HexDigest() != file.Sha256)
      throw Exception(FormatMessageText(L"%s: контрольная сумма (SHA-256) не совпадает с опубликованной", {context}));
  }
  return bytes;
}

}  // namespace

std::unique_ptr<THttpResponse> GetWithRetries(const std::wstring& url, const std::wstring& context) {
  for (int attempt = 0;; ++attempt) {
    uint32_t retryAfter = 0;
    try {
      THttpClient client;
      auto response = client.Get(url);
      if (!IsPassingStatus(response->StatusCode) || attempt == kPartRetries) {
        CheckResponse(response.get(), context);
        return response;
      }
      retryAfter = RetryAfterMs(response->Header(L"Retry-After"));
    } catch (const ETransferError&) {
      if (attempt == kPartRetries) throw;
    }
    // On the main thread the window stays alive meanwhile; closing it ends the wait.
    if (!Sys::PumpingWait(RetryPauseMs(attempt, retryAfter)))
      throw Exception(FormatMessageText(L"%s: прервано", {context}));
  }
}

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
    const auto response = GetWithRetries(ListingUrl(root, publicLink, offset), L"Получение списка файлов");
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
  RequireSecureOrHashed(result, fileName);
  return result;
}

std::wstring GetDirectDownloadLink(const std::wstring& publicLink, const std::wstring& fileName) {
  return FindRemoteFile(publicLink, fileName).Link;
}

std::string GetRemoteFileBytes(const std::wstring& publicLink, const std::wstring& fileName,
                               const std::wstring& context) {
  return GetRemoteFileBytes(FindRemoteFile(publicLink, fileName), context);
}

std::string GetRemoteFileBytes(const TRemoteFile& file, const std::wstring& context) {
  return CheckedBytes(*GetWithRetries(file.Link, context), file, context);
}

std::wstring GetRemoteVersionText(const std::wstring& publicLink, const std::wstring& fileName) {
  const std::wstring context = L"Загрузка version.txt";
  const TRemoteFile file = FindRemoteFile(publicLink, fileName);
  const auto response = GetWithRetries(file.Link, context);
  const std::string bytes = CheckedBytes(*response, file, context);
  return TrimControlAndSpace(DecodeAnswerText(bytes, response->Header(L"Content-Type"), L"", DecodeWithCodePage));
}
