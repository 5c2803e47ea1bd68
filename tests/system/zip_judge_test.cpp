#include "system/zip_judge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/errors.h"
#include "system/text.h"
#include "zip_builder.h"

namespace {
// The reason the judge gives, or "" when every entry can be written.
std::wstring Verdict(const std::vector<std::wstring>& names, const TZipJudgeContext& context = {}, uint16_t flags = 0) {
  std::vector<TZipItem> items;
  for (const std::wstring& name : names) {
    TZipItem item;
    item.Name = name;
    item.Flags = flags;
    items.push_back(item);
  }
  try {
    JudgeZipNames(items, context);
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"";
}

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

TEST(ZipJudge, NamesTable) {
  TZipJudgeContext inProduct;
  inProduct.Existing = {{L"bin", true}, {L"bin\\old.dll", false}, {L"data", false}, {L"Журнал\\", true}};
  inProduct.Reserved = {L"Update.zip", L"morvane-install"};

  const struct {
    const char* What;
    std::vector<std::wstring> Names;
    const TZipJudgeContext* Context;
    const wchar_t* Reason;  // the start of the message; "" when the archive passes
  } cases[] = {
      {"ordinary tree", {L"bin\\", L"bin\\Tandrel.exe", L"docs\\readme.txt", L"Tandrel.exe"}, nullptr, L""},
      {"question mark", {L"what?.txt"}, nullptr, L"Invalid characters in path"},
      {"asterisk", {L"bin\\*.dll"}, nullptr, L"Invalid characters in path"},
      {"empty name", {L""}, nullptr, L"Empty name in archive"},
      {"a lone dot", {L"."}, nullptr, L"Name Windows cannot write in archive: ."},
      {"dot inside a folder", {L"sub\\."}, nullptr, L"Name Windows cannot write in archive: sub\\."},
      {"dot folder entries name the folder before them", {L".\\", L"sub\\.\\", L".\\sub\\a.txt"}, nullptr, L""},
      {"dot segments are dropped before comparing", {L".\\a.txt", L"a.txt"}, nullptr, L"Duplicate name in archive"},
      {"empty segment", {L"sub\\\\a.txt"}, nullptr, L"Name Windows cannot write in archive"},
      {"final dot", {L"readme."}, nullptr, L"Name Windows cannot write in archive"},
      {"final blank in a folder", {L"docs \\a.txt"}, nullptr, L"Name Windows cannot write in archive"},
      {"file beside a folder of the same name", {L"x", L"x\\y.txt"}, nullptr,
       L"Name is both a file and a folder in archive: x\\y.txt"},
      {"folder after a file of its name in other case", {L"x\\y.txt", L"X"}, nullptr,
       L"Name is both a file and a folder in archive: X"},
      {"folder entry and a file", {L"X\\", L"x"}, nullptr, L"Name is both a file and a folder in archive"},
      {"Latin letter case", {L"a.txt", L"A.TXT"}, nullptr, L"Names differ only in letter case in archive: a.txt, A.TXT"},
      {"Cyrillic letter case", {L"Данные.txt", L"ДАННЫЕ.txt"}, nullptr, L"Names differ only in letter case"},
      {"Cyrillic yo", {L"ёлка.txt", L"Ёлка.txt"}, nullptr, L"Names differ only in letter case"},
      {"case inside a folder path", {L"Bin\\A.dll", L"bin\\a.DLL"}, nullptr, L"Names differ only in letter case"},
      {"folders differing in case are one", {L"Папка\\a.txt", L"папка\\b.txt"}, nullptr, L""},
      {"Greek final sigma", {L"ς", L"Σ"}, nullptr, L"Names differ only in letter case"},
      {"sharp s has no capital here", {L"ß", L"SS"}, nullptr, L""},
      {"same name twice", {L"a.txt", L"a.txt"}, nullptr, L"Duplicate name in archive: a.txt"},
      {"device name", {L"bin\\nul.txt"}, nullptr, L"Unsafe path in archive"},
      {"lone high surrogate", {std::wstring(L"a") + wchar_t(0xD83D) + L".txt"}, nullptr,
       L"Name with an unpaired surrogate in archive"},
      {"lone low surrogate at the end", {std::wstring(L"a") + wchar_t(0xDE00)}, nullptr,
       L"Name with an unpaired surrogate in archive"},
      {"pair in reverse order", {std::wstring(L"docs\\") + wchar_t(0xDE00) + wchar_t(0xD83D)}, nullptr,
       L"Name with an unpaired surrogate in archive"},
      {"a whole pair is a name like any other", {std::wstring(L"docs\\") + wchar_t(0xD83D) + wchar_t(0xDE00) + L".txt"},
       nullptr, L""},
      {"file where the product has a folder", {L"BIN"}, &inProduct,
       L"A folder of the product folder has the name of a file in archive: BIN"},
      {"folder where the product has a file", {L"Data\\x.txt"}, &inProduct,
       L"A file of the product folder has the name of a folder in archive: Data\\x.txt"},
      {"Cyrillic folder of the product", {L"журнал"}, &inProduct, L"A folder of the product folder"},
      {"files and folders the product already has", {L"bin\\old.dll", L"BIN\\new.dll", L"журнал\\1.txt"}, &inProduct,
       L""},
      {"the installation's own names", {L"update.ZIP"}, &inProduct, L"Name reserved for the installation in archive"},
      {"inside the installation's folder", {L"Morvane-Install\\x"}, &inProduct, L"Name reserved for the installation"},
      {"reserved names only at the top", {L"docs\\Update.zip"}, &inProduct, L""},
  };
  for (const auto& c : cases) {
    const std::wstring verdict = Verdict(c.Names, c.Context ? *c.Context : TZipJudgeContext{});
    if (*c.Reason == 0) {
      EXPECT_EQ(verdict, L"") << c.What;
    } else {
      EXPECT_EQ(verdict.rfind(c.Reason, 0), 0u) << c.What << ": " << EncodeUtf8(verdict);
    }
  }
}

TEST(ZipJudge, PathLengthsForTheProductFolder) {
  // A product folder path of 40 characters, final "\" included: files up to 259, folders up to
  // 247 characters in all.
  TZipJudgeContext context;
  context.ProductFolderLength = 40;
  const struct {
    std::wstring Name;
    bool Passes;
  } cases[] = {
      {Repeat(L'a', 219), true},
      {Repeat(L'a', 220), false},
      {Repeat(L'd', 207) + L"\\", true},
      {Repeat(L'd', 208) + L"\\", false},
      {Repeat(L'd', 207) + L"\\" + Repeat(L'f', 11), true},
      {Repeat(L'd', 208) + L"\\f", false},  // the folder alone is too long
      {Repeat(L'd', 100) + L"\\" + Repeat(L'f', 118), true},
      {Repeat(L'd', 100) + L"\\" + Repeat(L'f', 119), false},
  };
  for (const auto& c : cases) {
    const std::wstring verdict = Verdict({c.Name}, context);
    if (c.Passes) {
      EXPECT_EQ(verdict, L"") << c.Name.size();
    } else {
      EXPECT_EQ(verdict.rfind(L"Path too long for the product folder", 0), 0u) << c.Name.size();
    }
  }
  // Without a product folder the length is not judged, only the 255 characters of one name.
  EXPECT_EQ(Verdict({Repeat(L'a', 255), Repeat(L'd', 200) + L"\\" + Repeat(L'f', 200)}), L"");
  EXPECT_EQ(Verdict({Repeat(L'a', 256)}).rfind(L"Name too long in archive", 0), 0u);
}

TEST(ZipJudge, FoldsAsWindowsComparesNames) {
  const struct {
    wchar_t Lower, Upper;
  } pairs[] = {
      {L'z', L'Z'},   {0x00E9, 0x00C9}, {0x00FF, 0x0178}, {0x0101, 0x0100}, {0x013A, 0x0139}, {0x017E, 0x017D},
      {0x03C2, 0x03A3}, {0x03AC, 0x0386}, {0x03CE, 0x038F}, {0x0430, 0x0410}, {0x044F, 0x042F}, {0x0451, 0x0401},
      {0x045F, 0x040F}, {0x0491, 0x0490}, {0x04CF, 0x04C0}, {0x04C2, 0x04C1}, {0x0561, 0x0531}, {0xFF41, 0xFF21},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(static_cast<uint32_t>(FoldFileNameChar(p.Lower)), static_cast<uint32_t>(p.Upper))
        << std::hex << static_cast<uint32_t>(p.Lower);
    EXPECT_EQ(static_cast<uint32_t>(FoldFileNameChar(p.Upper)), static_cast<uint32_t>(p.Upper));
  }
  for (const wchar_t same : {L'1', L'_', static_cast<wchar_t>(0x00DF), static_cast<wchar_t>(0x00F7),
                             static_cast<wchar_t>(0x0138), static_cast<wchar_t>(0x4E2D)})
    EXPECT_EQ(FoldFileNameChar(same), same);
}

TEST(ZipJudge, EncryptedEntriesAndWholeArchives) {
  TZipBuildEntry plain;
  plain.Name = "Tandrel.exe";
  plain.Data = "MZ";
  TZipBuildEntry locked = plain;
  locked.Name = "secret.txt";
  locked.Flags = 0x0001;
  const struct {
    const char* What;
    std::string Archive;
    const wchar_t* Reason;
  } cases[] = {
      {"plain", BuildZip({plain}), L""},
      {"encrypted entry", BuildZip({plain, locked}), L"Encrypted entry in archive: secret.txt"},
      {"names clash", BuildZip({plain, [&] {
                                  TZipBuildEntry e = plain;
                                  e.Name = "TANDREL.EXE";
                                  return e;
                                }()}),
       L"Names differ only in letter case"},
  };
  for (const auto& c : cases) {
    TMemoryZipSource source(c.Archive);
    std::wstring verdict;
    try {
      const std::vector<TZipItem> items = JudgeZipArchive(source);
      EXPECT_EQ(items.size(), 1u);
    } catch (const Exception& e) {
      verdict = e.Message();
    }
    EXPECT_EQ(verdict.rfind(c.Reason, 0), 0u) << c.What << ": " << EncodeUtf8(verdict);
    if (*c.Reason == 0) {
      EXPECT_EQ(verdict, L"") << c.What;
    }
  }
}
}  // namespace
