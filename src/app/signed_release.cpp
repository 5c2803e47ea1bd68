#include "app/signed_release.h"

#include <windows.h>

#include "app/app_state.h"
#include "app/changes.h"
#include "app/release_keys.h"
#include "system/ecdsa.h"
#include "system/text.h"

namespace {

const char* const kCompiledKeys[] = {MORVANE_RELEASE_KEY_LINES nullptr};

const wchar_t kCancelled[] = L", установка отменена";

[[noreturn]] void Refuse(const std::wstring& reason) { throw TReleaseRefused(reason + kCancelled); }

std::string Ascii(std::wstring_view text) { return EncodeUtf8(text); }

}  // namespace

std::vector<std::string> ReleaseKeyLines() {
  std::vector<std::string> lines;
#ifdef MORVANE_TEST_HOOKS
  wchar_t buffer[4096];
  const DWORD n = GetEnvironmentVariableW(L"MORVANE_RELEASE_KEYS", buffer, 4096);
  if (n > 0 && n < 4096) {
    const std::string value = EncodeUtf8(std::wstring_view(buffer, n));
    if (value == "none") return lines;
    for (size_t start = 0; start <= value.size();) {
      const size_t stop = std::min(value.find(';', start), value.size());
      lines.push_back(value.substr(start, stop - start));
      start = stop + 1;
    }
    return lines;
  }
#endif
  for (const char* const* key = kCompiledKeys; *key; ++key) lines.emplace_back(*key);
  return lines;
}

bool SignedReleasesRequired() { return !ReleaseKeyLines().empty(); }

TReleaseStatement ReadSignedStatement(const std::wstring& folderLink, const std::wstring& packageName,
                                      const std::wstring& publishedVersion) {
  std::vector<std::string> points;
  for (const std::string& line : ReleaseKeyLines()) {
    std::optional<std::string> point = ParsePublicKeyLine(line);
    if (!point) Refuse(L"ключ проверки подписи в программе повреждён");
    points.push_back(std::move(*point));
  }

  const std::wstring name = packageName + L".sig";
  TRemoteFile file;
  try {
    file = FindRemoteFile(folderLink, name);
  } catch (const Exception& e) {
    if (e.Message() == FormatMessageText(L"Файл %s не найден в публичной папке", {name}))
      Refuse(L"обновление не подписано издателем (в папке нет файла " + name + L")");
    throw;
  }
  // Read like every other file of the folder: a passing failure is asked again, and a
  // compressed answer is inflated before its bytes are parsed.
  const std::string body = GetRemoteFileBytes(file, L"Загрузка " + name);

  std::optional<TSignedStatement> parsed = ParseSignatureFile(body);
  if (!parsed) Refuse(L"подпись обновления повреждена");
  bool signedByKey = false;
  for (const std::string& point : points)
    signedByKey = signedByKey || VerifyP256(point, parsed->SignedBytes, parsed->Signature);
  if (!signedByKey) Refuse(L"подпись обновления не подтверждается ключом издателя программы");
  const TReleaseStatement& statement = parsed->Statement;
  if (statement.Product != Ascii(L"Tandrel")) Refuse(L"подпись обновления выдана для другой программы");
  // An older signed release put back under a newer version.txt ends here.
  if (statement.Version != EncodeUtf8(publishedVersion))
    Refuse(FormatMessageText(L"издатель подписал версию %s, а в папке опубликована %s",
                             {DecodeUtf8Lenient(statement.Version), publishedVersion}));
  return statement;
}

TExpectedArchive ExpectedArchive(const std::wstring& folderLink, const std::wstring& packageName,
                                 const std::wstring& publishedVersion, const TRemoteFile& listed) {
  if (!SignedReleasesRequired()) return {listed.Size, listed.Sha256};
  const TReleaseStatement statement = ReadSignedStatement(folderLink, packageName, publishedVersion);
  if ((listed.Size >= 0 && listed.Size != statement.Size) ||
      (!listed.Sha256.empty() && Ascii(listed.Sha256) != statement.Sha256))
    Refuse(L"архив обновления в папке не тот, что подписал издатель");
  return {statement.Size, Widen(statement.Sha256)};
}

void ShowSignedChanges(const std::wstring& folderLink, const std::wstring& publishedVersion, Skin::TsWebBrowser& webView) {
  if (!SignedReleasesRequired()) return ShowChanges(folderLink, webView);
  const TReleaseStatement statement = ReadSignedStatement(folderLink, Names::ReleaseArchive, publishedVersion);
  ShowChanges(folderLink, webView, Widen(statement.ChangesSha256));
}
