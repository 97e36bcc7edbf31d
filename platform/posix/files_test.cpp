// Files under the device root, and a new output file put in the place of an old one.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

bool Write(const std::u16string& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  return CloseHandle(file) && ok && done == bytes.size();
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chdir(work_.path().c_str()), 0); }
  void TearDown() override { ASSERT_EQ(chdir(SourceDir().c_str()), 0); }
  TempFolder root_, work_;
  ScopedEnv env_{{"ZEMLIK_ROOT", nullptr}, {"HOME", root_.path().c_str()}};  // tests/ set the other
};

TEST_F(FilesTest, DevicePathsLieUnderTheRootAndFilesAreWrittenMovedAndDeleted) {
  WCHAR target[MAX_PATH];  // asking where a file is, or would go, makes no folder
  EXPECT_TRUE(GetFileAttributesW(u"\\My Documents\\a") == INVALID_FILE_ATTRIBUTES &&
              platform::OutputTargetW(u"\\My Documents\\a", target, MAX_PATH) != 0 &&
              root_.List().empty());
  for (const char16_t* refused : {u"\\Card\\a", u"\\My Documentsx\\a", u"no/a", u"", u"."})
    EXPECT_FALSE(Write(refused, "x")) << Utf8(refused);
  EXPECT_TRUE(Write(u"\\My Documents\\月報 一覧.csv", "d") && Write(u"\\a.csv", "a") &&
              Write(u"x\\y.csv", "a longer old text") && Write(u"x\\y.csv", "new"));
  EXPECT_EQ(ReadFileBytes("x\\y.csv"), "new");  // emptied first; a host path keeps its backslash
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/月報 一覧.csv", "a.csv"}));
  for (DWORD disposition : {1u /* CREATE_NEW */, OPEN_EXISTING})  // nothing is created
    EXPECT_EQ(CreateFileW(u"a", GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr),
              INVALID_HANDLE_VALUE);
  HANDLE in = CreateFileW(u"x\\y.csv", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  char bytes[8];
  DWORD written = 99, read = 0;
  EXPECT_TRUE(ReadFile(in, bytes, sizeof bytes, &read, nullptr) && read == 3 &&
              ReadFile(in, bytes, sizeof bytes, &read, nullptr) && read == 0);
  EXPECT_TRUE(!WriteFile(in, "abc", 3, &written, nullptr) && written == 0 && CloseHandle(in));
  EXPECT_FALSE(CloseHandle(in) || WriteFile(in, "abc", 3, &written, nullptr) ||
               ReadFile(in, bytes, 1, &read, nullptr) || read != 0);
  EXPECT_FALSE(MoveFileExW(u"x\\y.csv", u"\\a.csv", 0) || MoveFileExW(u"gone", u"b", 0));
  EXPECT_TRUE(MoveFileExW(u"x\\y.csv", u"\\a.csv", MOVEFILE_REPLACE_EXISTING) &&
              MoveFileExW(u"\\a.csv", u"\\c.csv", 0) && DeleteFileW(u"\\c.csv"));
  EXPECT_FALSE(DeleteFileW(u"\\c.csv"));
}

TEST_F(FilesTest, TemporaryFilesAreMadeEmptyAndUniqueInTheirFolder) {
  ASSERT_EQ(mkdir("out", 0777), 0);
  WCHAR name[MAX_PATH];
  for (auto [in, path] : {std::pair{u"\\My Documents", "\\My Documents\\"}, {u"out/", "out/"}}) {
    const UINT number = GetTempFileNameW(in, u"zemlik", 0, name);
    char file[16];
    std::snprintf(file, sizeof file, "zem%X.TMP", number);
    EXPECT_EQ(Utf8(name), path + std::string(file));
    EXPECT_NE(GetTempFileNameW(in, u"zemlik", 0, name), number);
  }
  EXPECT_EQ(GetTempFileNameW(u"out", u"t", 0x1ABCD, name), 0x1ABCDu);  // forms the name only
  EXPECT_EQ(Utf8(name), "out/tABCD.TMP");
  EXPECT_EQ(root_.List().size() + work_.List().size(), 6u);
  EXPECT_EQ(GetTempFileNameW(u"missing", u"t", 0, name), 0u);
  for (auto [folder, path] : {std::pair{"/x", "/x/"}, {"/y/", "/y/"}, {nullptr, "/tmp/"}}) {
    ScopedEnv tmp({{"TMPDIR", folder}});
    EXPECT_TRUE(GetTempPathW(MAX_PATH, name) == std::strlen(path) && Utf8(name) == path);
    EXPECT_EQ(GetTempPathW(3, name), std::strlen(path) + 1);  // the room it needs
  }
}

TEST_F(FilesTest, ReplaceKeepsTheModeAndFollowsLinks) {
  TempFolder far;
  auto replace = [](const char16_t* name) {
    return ReplaceFileW(name, u"new.tmp", nullptr, 0, nullptr, nullptr) ? 0 : GetLastError();
  };
  const std::tuple<std::string, std::string, unsigned> rows[] = {
      {"out", "", 0750},
      {far.Join("far.csv"), far.Join("far.csv"), 0604},  // absolute: not read against "./"
  };
  for (const auto& [file, link, mode] : rows) {
    unlink("out");
    ASSERT_TRUE(WriteFileBytes(file, "old") && chmod(file.c_str(), mode) == 0);
    ASSERT_TRUE((link.empty() || symlink(link.c_str(), "out") == 0) && Write(u"new.tmp", "new"));
    EXPECT_FALSE(ReplaceFileW(u"out", u"new.tmp", u"backup", 0, nullptr, nullptr));
    EXPECT_TRUE(replace(u"./out") == 0 && ReadFileBytes(file) == "new" &&
                fs::status(file).permissions() == fs::perms(mode) && !ReadFileBytes("new.tmp") &&
                fs::is_symlink("out") == !link.empty())
        << file;
  }
  ASSERT_TRUE(Write(u"new.tmp", "new"));
  EXPECT_EQ(replace(u"none.csv"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(replace(u"."), ERROR_GEN_FAILURE);
  // Where a new output goes: the end of a chain of links, unless there is none to follow.
  WCHAR target[MAX_PATH];
  ASSERT_TRUE(symlink("loop", "loop") == 0 && symlink("b.csv", "to") == 0 &&
              symlink("to", "to-to") == 0);
  EXPECT_TRUE(replace(u"to") == ERROR_FILE_NOT_FOUND && !ReadFileBytes("b.csv") &&
              ReadFileBytes("new.tmp"));  // a link to nothing: nothing is made
  EXPECT_EQ(platform::OutputTargetW(u"loop", target, MAX_PATH), 0u);
  EXPECT_TRUE(platform::OutputTargetW(u"to-to", target, MAX_PATH) == 5 && Utf8(target) == "b.csv");
  EXPECT_EQ(platform::OutputTargetW(u"to-to", target, 5), 6u);  // the room it needs
  EXPECT_TRUE(platform::OutputTargetW(u"\\x", target, MAX_PATH) == 2 && Utf8(target) == "\\x");
}

}  // namespace
}  // namespace zemlik::test
