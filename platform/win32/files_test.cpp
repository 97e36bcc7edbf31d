#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scoped.h"
#include "tests/support/http_fixture.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::FileExists;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::Utf8;
using zemlik::testing::WString;

using Names = std::vector<std::string>;

HANDLE Create(const WString& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string Resolved(const WString& path) {
  char out[MAX_PATH * 3];
  return platform::ResolvePath(path.c_str(), out, sizeof out) ? std::string(out) : "(failed)";
}

class FilesTest : public ::testing::Test {
 protected:
  TempFolder root_;
  ScopedEnvVar rootVariable_{"ZEMLIK_ROOT", root_.path()};
};

TEST_F(FilesTest, DevicePathsLieUnderTheRootAndMyDocumentsIsMadeOnDemand) {
  {
    platform::ScopedHandle file(Create(TEXT("\\My Documents\\新刊.csv")));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(WriteAll(file.get(), "a,b\r\n"));
  }
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/新刊.csv"}));
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/新刊.csv")), "a,b\r\n");
  EXPECT_EQ(Resolved(TEXT("\\My Documents\\x.csv")), root_.path() + "\\My Documents\\x.csv");

  // No other missing folder is made, and "\My Documents2" is not "\My Documents".
  EXPECT_EQ(Create(TEXT("\\missing\\x.csv")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(TEXT("\\My Documents2\\x.csv")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(TEXT("")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/新刊.csv"}));
}

TEST_F(FilesTest, TheRootDefaultsToTheUsersProfileFolder) {
  ScopedEnvVar noRoot("ZEMLIK_ROOT", nullptr);
  ScopedEnvVar profile("USERPROFILE", root_.path() + "\\");
  EXPECT_EQ(Resolved(TEXT("\\My Documents\\m.csv")), root_.path() + "\\My Documents\\m.csv");
  EXPECT_EQ(root_.List(), Names{"My Documents"});
}

TEST_F(FilesTest, OtherPathsAreHostPathsUsedAsTheyAre) {
  TempFolder elsewhere;
  const std::string path = elsewhere.Join("host.csv");
  EXPECT_EQ(Resolved(Utf16(path)), path);
  EXPECT_EQ(Resolved(Utf16("\\\\?\\" + path)), "\\\\?\\" + path);
  EXPECT_EQ(Resolved(TEXT("relative\\x.csv")), "relative\\x.csv");
  platform::ScopedHandle file(Create(Utf16("\\\\?\\" + path)));
  ASSERT_TRUE(file.valid());
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(root_.List(), Names{});
}

TEST_F(FilesTest, TemporaryFilesAreNamedByTheirProgramPathAndMovedIntoPlace) {
  WCHAR name[MAX_PATH];
  const UINT number = GetTempFileNameW(TEXT("\\My Documents"), TEXT("zemlik"), 0, name);
  ASSERT_NE(number, 0u);
  const std::string made = Utf8(name);
  ASSERT_EQ(made.rfind("\\My Documents\\zem", 0), 0u) << made;
  EXPECT_EQ(CharUpperA(made.substr(made.size() - 4).data()), std::string(".TMP")) << made;
  EXPECT_EQ(root_.List().size(), 2u);

  EXPECT_TRUE(MoveFileExW(name, TEXT("\\My Documents\\list.csv"), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/list.csv"}));
  EXPECT_TRUE(DeleteFileW(TEXT("\\My Documents\\list.csv")));
  EXPECT_FALSE(DeleteFileW(TEXT("\\My Documents\\list.csv")));
  EXPECT_EQ(root_.List(), Names{"My Documents"});
}

}  // namespace
