#include "publish/sign.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "publish/entry_list.h"
#include "publish/files.h"
#include "publish/pack.h"
#include "publish/sha256.h"
#include "system/errors.h"
#include "system/entry_record.h"
#include "system/release_statement.h"
#include "system/text.h"

#ifdef _WIN32
#include <windows.h>

#include "system/ecdsa.h"
#include "system/handles.h"
#else
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kPrivatePrefix[] = "ecdsa-p256-private:";
constexpr size_t kCoordinate = 32;

void Wipe(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

#ifndef _WIN32
template <typename T, void (*Free)(T*)>
struct TSsl {
  T* Ptr = nullptr;
  ~TSsl() {
    if (Ptr) Free(Ptr);
  }
};
using TPkey = TSsl<EVP_PKEY, EVP_PKEY_free>;
using TPkeyCtx = TSsl<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using TMdCtx = TSsl<EVP_MD_CTX, EVP_MD_CTX_free>;
using TParamBld = TSsl<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using TParams = TSsl<OSSL_PARAM, OSSL_PARAM_free>;
using TBignum = TSsl<BIGNUM, BN_clear_free>;
using TEcdsaSig = TSsl<ECDSA_SIG, ECDSA_SIG_free>;

[[noreturn]] void RaiseSsl(const wchar_t* step) { throw Exception(std::wstring(L"libcrypto: ") + step + L" failed"); }

// The key from its raw numbers; no private part for a key that only verifies. Null when
// libcrypto refuses it (a point off the curve).
EVP_PKEY* ImportKey(std::string_view point, std::string_view privateKey) {
  TParamBld bld{OSSL_PARAM_BLD_new()};
  if (!bld.Ptr) RaiseSsl(L"OSSL_PARAM_BLD_new");
  const std::string encoded = "\x04" + std::string(point);
  TBignum d;
  if (!OSSL_PARAM_BLD_push_utf8_string(bld.Ptr, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(bld.Ptr, OSSL_PKEY_PARAM_PUB_KEY, encoded.data(), encoded.size()))
    RaiseSsl(L"OSSL_PARAM_BLD_push");
  if (!privateKey.empty()) {
    d.Ptr = BN_bin2bn(reinterpret_cast<const unsigned char*>(privateKey.data()), static_cast<int>(privateKey.size()), nullptr);
    if (!d.Ptr || !OSSL_PARAM_BLD_push_BN(bld.Ptr, OSSL_PKEY_PARAM_PRIV_KEY, d.Ptr)) RaiseSsl(L"OSSL_PARAM_BLD_push_BN");
  }
  TParams params{OSSL_PARAM_BLD_to_param(bld.Ptr)};
  TPkeyCtx ctx{EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)};
  if (!params.Ptr || !ctx.Ptr || EVP_PKEY_fromdata_init(ctx.Ptr) <= 0) RaiseSsl(L"EVP_PKEY_fromdata_init");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.Ptr, &key, privateKey.empty() ? EVP_PKEY_PUBLIC_KEY : EVP_PKEY_KEYPAIR, params.Ptr) <= 0)
    return nullptr;
  TPkeyCtx check{EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)};
  if (!check.Ptr || EVP_PKEY_public_check(check.Ptr) != 1 ||
      (!privateKey.empty() && EVP_PKEY_pairwise_check(check.Ptr) != 1)) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return key;
}

std::string Pad32(const BIGNUM* number) {
  std::string out(kCoordinate, '\0');
  if (BN_bn2binpad(number, reinterpret_cast<unsigned char*>(out.data()), kCoordinate) != static_cast<int>(kCoordinate))
    RaiseSsl(L"BN_bn2binpad");
  return out;
}
#endif

TPublisherKey NewKey() {
#ifdef _WIN32
  TP256KeyPair pair = GenerateP256();
  TPublisherKey key{pair.Point, pair.Private};
  Wipe(pair.Private);
  return key;
#else
  TPkey pkey{EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")};
  if (!pkey.Ptr) RaiseSsl(L"EVP_PKEY_Q_keygen");
  unsigned char encoded[1 + 2 * kCoordinate];
  size_t length = 0;
  if (!EVP_PKEY_get_octet_string_param(pkey.Ptr, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded, &length) ||
      length != sizeof encoded || encoded[0] != 0x04)
    RaiseSsl(L"EVP_PKEY_get_octet_string_param");
  TBignum d;
  if (!EVP_PKEY_get_bn_param(pkey.Ptr, OSSL_PKEY_PARAM_PRIV_KEY, &d.Ptr)) RaiseSsl(L"EVP_PKEY_get_bn_param");
  return TPublisherKey{std::string(reinterpret_cast<const char*>(encoded) + 1, 2 * kCoordinate), Pad32(d.Ptr)};
#endif
}

std::error_code LastSystemError() {
#ifdef _WIN32
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
  return std::error_code(errno, std::generic_category());
#endif
}

// Creates path for writing, failing when anything is there already; readable by the owner only.
void WriteNewSecretFile(const fs::path& path, const std::string& bytes) {
#ifdef _WIN32
  Sys::TFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
      throw Exception(PathText(path) + L" exists already; a key file is never replaced");
    throw Exception(FileErrorText(L"Cannot create file", path, ReasonText(LastSystemError())));
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written != bytes.size())
    throw Exception(FileErrorText(L"Cannot write file", path, ReasonText(LastSystemError())));
#else
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (errno == EEXIST) throw Exception(PathText(path) + L" exists already; a key file is never replaced");
    throw Exception(FileErrorText(L"Cannot create file", path, ReasonText(LastSystemError())));
  }
  // The creation mode passes through the umask, which may only take bits away.
  const bool ok = fchmod(fd, 0600) == 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  const std::error_code failure = ok ? std::error_code() : LastSystemError();
  if (close(fd) != 0 || !ok) throw Exception(FileErrorText(L"Cannot write file", path, ReasonText(failure ? failure : LastSystemError())));
#endif
}

std::string AsciiText(std::wstring_view text) { return EncodeUtf8(text); }

}  // namespace

TPublisherKey::~TPublisherKey() { Wipe(Private); }

std::string SignStatement(const TPublisherKey& key, std::string_view message) {
#ifdef _WIN32
  return SignP256(TP256KeyPair{key.Point, key.Private}, message);
#else
  TPkey pkey{ImportKey(key.Point, key.Private)};
  if (!pkey.Ptr) throw Exception(L"The private key is damaged: its numbers do not make a P-256 key pair");
  TMdCtx ctx{EVP_MD_CTX_new()};
  size_t length = 0;
  if (!ctx.Ptr || EVP_DigestSignInit(ctx.Ptr, nullptr, EVP_sha256(), nullptr, pkey.Ptr) != 1 ||
      EVP_DigestSign(ctx.Ptr, nullptr, &length, reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
    RaiseSsl(L"EVP_DigestSign");
  std::string der(length, '\0');
  if (EVP_DigestSign(ctx.Ptr, reinterpret_cast<unsigned char*>(der.data()), &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
    RaiseSsl(L"EVP_DigestSign");
  // libcrypto writes the two numbers as DER; the file (and CNG) take them raw, r then s.
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
  TEcdsaSig sig{d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length))};
  if (!sig.Ptr) RaiseSsl(L"d2i_ECDSA_SIG");
  const BIGNUM *r = nullptr, *s = nullptr;
  ECDSA_SIG_get0(sig.Ptr, &r, &s);
  return Pad32(r) + Pad32(s);
#endif
}

bool VerifyStatement(std::string_view point, std::string_view message, std::string_view signature) {
#ifdef _WIN32
  return VerifyP256(point, message, signature);
#else
  if (point.size() != 2 * kCoordinate || signature.size() != 2 * kCoordinate) return false;
  TPkey pkey{ImportKey(point, {})};
  if (!pkey.Ptr) return false;
  TEcdsaSig sig{ECDSA_SIG_new()};
  BIGNUM* r = BN_bin2bn(reinterpret_cast<const unsigned char*>(signature.data()), kCoordinate, nullptr);
  BIGNUM* s = BN_bin2bn(reinterpret_cast<const unsigned char*>(signature.data()) + kCoordinate, kCoordinate, nullptr);
  if (!sig.Ptr || !r || !s || ECDSA_SIG_set0(sig.Ptr, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    RaiseSsl(L"ECDSA_SIG_set0");
  }
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(sig.Ptr, &der);
  if (length <= 0) RaiseSsl(L"i2d_ECDSA_SIG");
  TMdCtx ctx{EVP_MD_CTX_new()};
  const bool ok = ctx.Ptr && EVP_DigestVerifyInit(ctx.Ptr, nullptr, EVP_sha256(), nullptr, pkey.Ptr) == 1 &&
                  EVP_DigestVerify(ctx.Ptr, der, static_cast<size_t>(length),
                                   reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  OPENSSL_free(der);
  return ok;
#endif
}

std::string GenerateKeyFile(const fs::path& path) {
  if (fs::exists(fs::symlink_status(path))) throw Exception(PathText(path) + L" exists already; a key file is never replaced");
  TPublisherKey key = NewKey();
  // A key that cannot sign and verify is never handed out.
  const std::string probe = "morvane key check";
  if (!VerifyStatement(key.Point, probe, SignStatement(key, probe))) throw Exception(L"The new key does not verify");
  std::string secret = key.Point + key.Private;
  std::string line = kPrivatePrefix + EncodeBase64(secret) + "\n";
  Wipe(secret);
  try {
    WriteNewSecretFile(path, line);
  } catch (...) {
    Wipe(line);
    throw;
  }
  Wipe(line);
  return FormatPublicKeyLine(key.Point);
}

TPublisherKey ReadPrivateKeyFile(const fs::path& path) {
  std::string text = ReadWholeFile(path);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::string_view prefix = kPrivatePrefix;
  std::optional<std::string> raw;
  if (text.compare(0, prefix.size(), prefix) == 0) raw = DecodeBase64(std::string_view(text).substr(prefix.size()));
  Wipe(text);
  if (!raw || raw->size() != 3 * kCoordinate)
    throw Exception(PathText(path) + L" is not a private key made by morvane-publish keygen");
  TPublisherKey key{raw->substr(0, 2 * kCoordinate), raw->substr(2 * kCoordinate)};
  Wipe(*raw);
  return key;
}

std::optional<std::string> PublishedVersionText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  while (!bytes.empty() && static_cast<unsigned char>(bytes.front()) <= 0x20) bytes.remove_prefix(1);
  while (!bytes.empty() && static_cast<unsigned char>(bytes.back()) <= 0x20) bytes.remove_suffix(1);
  if (!DecodeUtf8Strict(bytes)) return std::nullopt;
  return std::string(bytes);
}

namespace {

// The archive's size and SHA-256, read in pieces so that memory stays flat whatever its size.
struct TArchiveDigest {
  int64_t Size;
  std::string Sha256;
};

TArchiveDigest DigestArchive(const fs::path& path) {
  const int64_t size = TInFile(path).Size();
  return {size, AsciiText(Sha256OfFile(path))};
}

std::optional<std::string> ReadIfPresent(const fs::path& path) {
  if (!fs::exists(fs::symlink_status(path))) return std::nullopt;
  return ReadWholeFile(path);
}

}  // namespace

void SignReleaseFolder(const fs::path& dir, const TPublisherKey& key) {
  const TArchiveDigest archive = DigestArchive(dir / "Tandrel.zip");
  const std::optional<std::string> version = PublishedVersionText(ReadWholeFile(dir / "version.txt"));
  if (!version) throw Exception(L"version.txt is not UTF-8");
  TReleaseStatement statement{"Tandrel", *version, archive.Size, archive.Sha256,
                              AsciiText(Sha256Hex(ReadWholeFile(dir / "Changes.txt")))};
  const std::string signedBytes = FormatStatement(statement);
  const std::string signature = SignStatement(key, signedBytes);
  if (!VerifyStatement(key.Point, signedBytes, signature)) throw Exception(L"The signature just made does not verify");
  WriteWholeFile(dir / "Tandrel.zip.sig", FormatSignatureFile(signedBytes, signature));

  // The entry record, when there is one, is signed by the same key: the launcher holding it
  // takes the record's entries only so.
  const fs::path record = dir / kEntryRecordName;
  if (!fs::exists(fs::symlink_status(record))) return;
  const std::optional<TEntryRecord> parsed = ParseEntryRecord(ReadWholeFile(record));
  if (!parsed) throw Exception(L"Tandrel.zip.files is not an entry record");
  if (parsed->ArchiveSha256 != archive.Sha256 || static_cast<int64_t>(parsed->ArchiveSize) != archive.Size)
    throw Exception(L"Tandrel.zip.files is not the record of this Tandrel.zip");
  const std::string recordSignature = SignStatement(key, parsed->SignedBytes);
  if (!VerifyStatement(key.Point, parsed->SignedBytes, recordSignature))
    throw Exception(L"The signature just made does not verify");
  WriteWholeFile(record, parsed->SignedBytes + FormatEntryRecordSignature(recordSignature));
}

std::vector<TFinding> CheckSignature(const fs::path& dir, const std::string& publicKeyLine) {
  std::vector<TFinding> findings;
  auto error = [&](const std::wstring& text) { findings.push_back({true, L"Tandrel.zip.sig: " + text}); };
  const std::optional<std::string> point = ParsePublicKeyLine(publicKeyLine);
  if (!point) {
    error(L"the public key is not a key line (\"" + Widen(kPublicKeyPrefix) + L"\" and 88 base64 characters)");
    return findings;
  }
  const std::optional<std::string> signatureFile = ReadIfPresent(dir / "Tandrel.zip.sig");
  if (!signatureFile) {
    error(L"missing: a launcher with keys refuses the release");
    return findings;
  }
  std::string reason;
  const std::optional<TSignedStatement> parsed = ParseSignatureFile(*signatureFile, &reason);
  if (!parsed) {
    error(L"malformed: " + DecodeUtf8Lenient(reason));
    return findings;
  }
  if (!VerifyStatement(*point, parsed->SignedBytes, parsed->Signature)) {
    error(L"not signed by this key");
    return findings;
  }
  const TReleaseStatement& s = parsed->Statement;
  if (s.Product != "Tandrel") error(L"signed for the product \"" + DecodeUtf8Lenient(s.Product) + L"\"");
  const std::optional<std::string> versionFile = ReadIfPresent(dir / "version.txt");
  const std::optional<std::string> version = versionFile ? PublishedVersionText(*versionFile) : std::nullopt;
  if (!version || *version != s.Version)
    error(L"signed for the version \"" + DecodeUtf8Lenient(s.Version) + L"\", but version.txt says \"" +
          (version ? DecodeUtf8Lenient(*version) : std::wstring(L"?")) + L"\"");
  const bool haveArchive = fs::exists(fs::symlink_status(dir / "Tandrel.zip"));
  const std::optional<TArchiveDigest> archive =
      haveArchive ? std::optional<TArchiveDigest>(DigestArchive(dir / "Tandrel.zip")) : std::nullopt;
  if (!archive || archive->Size != s.Size || archive->Sha256 != s.Sha256)
    error(L"Tandrel.zip is not the archive that was signed");
  const std::optional<std::string> changes = ReadIfPresent(dir / "Changes.txt");
  if (!changes || AsciiText(Sha256Hex(*changes)) != s.ChangesSha256)
    error(L"Changes.txt is not the notes that were signed: the launcher shows no notes");
  const std::vector<TFinding> record = CheckEntryRecordSignature(dir, *point);
  findings.insert(findings.end(), record.begin(), record.end());
  return findings;
}
