// The temporary folder however long its path, and a page written there that nothing at its
// name can redirect or stop.
#include "system/temp_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "system/errors.h"
#include "system/text.h"

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096] = {};
  const DWORD len = GetEnvironmentVariableW(name, buffer, 4096);
  return len < 4096 ? std::wstring(buffer, len) : std::wstring();
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << EncodeUtf8(path);
  DWORD done = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(file);
}

// Deletes a folder's files and folders, then the folder.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      const std::wstring longPath = L"\\\\?\\" + path;
      SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(path);
      else if (!DeleteFileW(longPath.c_str()))
        RemoveDirectoryW(longPath.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
}

class TempFiles : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    FFolder = std::wstring(temp) + L"morvane-temp-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(FFolder);
    ASSERT_TRUE(CreateDirectoryW(FFolder.c_str(), nullptr));
    FPage = FFolder + L"\\temp.html";
  }
  void TearDown() override {
    // Latest first: the earliest saved value of a name is the one it had before the test.
    for (auto it = FSavedEnvironment.rbegin(); it != FSavedEnvironment.rend(); ++it)
      SetEnvironmentVariableW(it->first.c_str(), it->second.empty() ? nullptr : it->second.c_str());
    RemoveTree(FFolder);
  }

  void SetEnvironment(const std::wstring& name, const std::wstring& value) {
    FSavedEnvironment.emplace_back(name, Environment(name.c_str()));
    SetEnvironmentVariableW(name.c_str(), value.c_str());
  }

  // Names in the folder other than the given ones.
  std::vector<std::wstring> OtherNames(std::initializer_list<std::wstring> known) const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((FFolder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L".." && std::find(known.begin(), known.end(), name) == known.end())
        names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
  }

  std::wstring FFolder, FPage;
  std::vector<std::pair<std::wstring, std::wstring>> FSavedEnvironment;
};

// A TMP near MAX_PATH and beyond: the folder comes back whole, with its backslash, or the
// system's refusal comes back as an error; never a cut path, nor an empty one that would put the
// page in the current folder. (Wine takes a TMP of up to 258 characters and refuses longer ones;
// Windows answers a buffer too small with the size it needs.)
TEST_F(TempFiles, TempFolderOfAnyLength) {
  auto deepFolder = [&](size_t length) {
    std::wstring deep = FFolder;
    while (deep.size() < length) {
      deep += L"\\" + std::wstring(std::min<size_t>(40, length - 1 - deep.size()), L'д');
      CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    }
    EXPECT_EQ(GetFileAttributesW((L"\\\\?\\" + deep).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) << EncodeUtf8(deep);
    return deep;
  };
  struct Case {
    std::wstring tmp;
    bool systemMayRefuse;
  };
  const Case cases[] = {
      {FFolder, false},
      {FFolder + L"\\", false},
      {deepFolder(MAX_PATH - 2), false},
      {deepFolder(MAX_PATH + 1), true},
      {deepFolder(MAX_PATH * 2), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(EncodeUtf8(c.tmp));
    SetEnvironment(L"TMP", c.tmp);
    SetEnvironment(L"TEMP", c.tmp);
    const std::wstring expected = c.tmp.back() == L'\\' ? c.tmp : c.tmp + L"\\";
    try {
      EXPECT_EQ(EncodeUtf8(TempFolder()), EncodeUtf8(expected));
    } catch (const Exception& e) {
      EXPECT_TRUE(c.systemMayRefuse) << e.what();
      EXPECT_EQ(e.Message().rfind(L"Cannot find the temporary folder. ", 0), 0u) << e.what();
    }
  }
}

// Whatever lies at the page's name, the page is written whole and nothing else is touched.
TEST_F(TempFiles, PageIsWrittenAnewWhateverLiesAtItsName) {
  const std::wstring victim = FFolder + L"\\victim.txt";
  enum class Occupant { Nothing, OldPage, LinkToAnotherFile, DanglingLink, Folder, ReadOnlyFile, OpenFile };
  struct Case {
    Occupant occupant;
    const char* name;
    bool ownName;  // the page goes to a name of the program's own
  };
  const Case cases[] = {
      {Occupant::Nothing, "nothing", false},
      {Occupant::OldPage, "an older, longer page", false},
      {Occupant::LinkToAnotherFile, "a link to another file", false},
      {Occupant::DanglingLink, "a link to a file yet to be made", false},
      {Occupant::Folder, "a folder", true},
      {Occupant::ReadOnlyFile, "a file the user may not delete", true},
      {Occupant::OpenFile, "a file held open without sharing", true},
  };
  const std::string page = "<html>\r\n<body>Новая страница</body>\r\n</html>";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(FFolder);
    ASSERT_TRUE(CreateDirectoryW(FFolder.c_str(), nullptr));
    WriteAll(victim, "someone else's file");
    HANDLE held = INVALID_HANDLE_VALUE;
    switch (c.occupant) {
      case Occupant::Nothing:
        break;
      case Occupant::OldPage:
        WriteAll(FPage, std::string(500, 'x'));
        break;
      case Occupant::LinkToAnotherFile:
      case Occupant::DanglingLink: {
        const std::wstring target = c.occupant == Occupant::DanglingLink ? FFolder + L"\\made.txt" : victim;
        ASSERT_TRUE(CreateSymbolicLinkW(FPage.c_str(), target.c_str(), 0)) << GetLastError();
        break;
      }
      case Occupant::Folder:
        ASSERT_TRUE(CreateDirectoryW(FPage.c_str(), nullptr));
        break;
      case Occupant::ReadOnlyFile:
        WriteAll(FPage, "another user's page");
        SetFileAttributesW(FPage.c_str(), FILE_ATTRIBUTE_READONLY);
        break;
      case Occupant::OpenFile:
        WriteAll(FPage, "another user's page");
        held = CreateFileW(FPage.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        break;
    }

    std::wstring written;
    ASSERT_NO_THROW(written = WriteNewFile(FPage, page));
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(ReadAll(written), page);
    EXPECT_EQ(ReadAll(victim), "someone else's file");
    EXPECT_EQ(GetFileAttributesW((FFolder + L"\\made.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    if (c.ownName) {
      const std::wstring name = written.substr(FFolder.size() + 1);
      EXPECT_EQ(written.substr(0, FFolder.size() + 1), FFolder + L"\\");
      EXPECT_EQ(name.substr(0, 5), L"temp-");
      EXPECT_EQ(name.substr(name.size() - 5), L".html");
      EXPECT_NE(GetFileAttributesW(FPage.c_str()), INVALID_FILE_ATTRIBUTES) << "the occupant stays";
    } else {
      EXPECT_EQ(written, FPage);
      EXPECT_FALSE(GetFileAttributesW(FPage.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
      EXPECT_EQ(OtherNames({L"temp.html", L"victim.txt"}), std::vector<std::wstring>{});
    }
  }
}

TEST_F(TempFiles, EmptyPageAndFailures) {
  EXPECT_EQ(WriteNewFile(FPage, ""), FPage);
  EXPECT_EQ(ReadAll(FPage), "");

  const std::wstring missing = FFolder + L"\\no such folder\\temp.html";
  try {
    WriteNewFile(missing, "page");
    ADD_FAILURE() << "no error for a missing folder";
  } catch (const Exception& e) {
    const std::wstring text = e.Message();
    EXPECT_EQ(text.rfind(L"Cannot create file \"" + missing + L"\". ", 0), 0u) << EncodeUtf8(text);
  }
}

}  // namespace
