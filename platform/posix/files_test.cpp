// Files, the device-path rule, and a new output file put in the place of an old one.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

using Names = std::vector<std::string>;

bool Write(const std::u16string& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(file) && ok && written == bytes.size();
}

unsigned Mode(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Each test has its own device root (ZEMLIK_ROOT) and working folder.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chdir(work_.path().c_str()), 0); }
  void TearDown() override { ASSERT_EQ(chdir(SourceDir().c_str()), 0); }
  TempFolder root_, work_;
  ScopedEnv env_{{"ZEMLIK_ROOT", root_.path().c_str()}};
};

TEST_F(FilesTest, DevicePathsLieUnderTheRootWhereOnlyMyDocumentsIsMade) {
  for (const char16_t* refused : {u"\\Storage Card\\a.csv", u"\\My Documentsx\\a.csv",
                                  u"\\My Documents\\sub\\a", u"missing/a.csv", u"", u"."}) {
    EXPECT_FALSE(Write(refused, "x"));
  }
  EXPECT_TRUE(Write(u"\\My Documents\\月報 一覧.csv", "d") && Write(u"\\a.csv", "a") &&
              Write(u"x\\y.csv", "o"));
  EXPECT_EQ(root_.List(), (Names{"My Documents", "My Documents/月報 一覧.csv", "a.csv"}));
  EXPECT_EQ(work_.List(), Names{"x\\y.csv"});  // a host path keeps its backslash
  ScopedEnv home({{"ZEMLIK_ROOT", nullptr}, {"HOME", (work_.path() + "//").c_str()}});
  EXPECT_TRUE(Write(u"\\My Documents\\b.csv", "b"));
  EXPECT_EQ(ReadFileBytes(work_.Join("My Documents/b.csv")), "b");
  ScopedEnv none({{"HOME", nullptr}});
  EXPECT_FALSE(Write(u"\\b.csv", "b"));
}

TEST_F(FilesTest, CreateWriteCloseMoveAndDelete) {
  ASSERT_TRUE(WriteFileBytes("old.csv", "a much longer old content"));
  const mode_t saved = umask(027);
  EXPECT_TRUE(Write(u"old.csv", "new") &&
              Write(u"masked.csv", "x"));  // emptied; 0666 less the umask
  umask(saved);
  EXPECT_EQ(ReadFileBytes("old.csv"), "new");
  EXPECT_EQ(Mode("masked.csv"), 0640u);
  EXPECT_EQ(CreateFileW(u"a", GENERIC_WRITE, 0, nullptr, 1 /* CREATE_NEW */, 0, nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE full = CreateFileW(u"/dev/full", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(full, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(full));
  EXPECT_FALSE(CloseHandle(full) || WriteFile(full, "abc", 3, &written, nullptr));
  EXPECT_FALSE(MoveFileExW(u"old.csv", u"masked.csv", 0));
  EXPECT_TRUE(MoveFileExW(u"old.csv", u"masked.csv", MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(MoveFileExW(u"masked.csv", u"\\c.csv", 0));
  EXPECT_TRUE(DeleteFileW(u"\\c.csv"));
  EXPECT_FALSE(DeleteFileW(u"\\c.csv"));
  EXPECT_EQ(root_.List(), Names{});
}

TEST_F(FilesTest, TemporaryFilesAreMadeEmptyAndUniqueInTheirFolder) {
  ASSERT_EQ(mkdir("out", 0777), 0);
  WCHAR name[MAX_PATH];
  for (auto [folder, prefix] :
       {std::pair{u"\\My Documents", "\\My Documents\\zem"}, {u"out/", "out/zem"}}) {
    const UINT number = GetTempFileNameW(folder, u"zemlik", 0, name);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X.TMP", number);
    EXPECT_EQ(Utf8(name), prefix + std::string(hex));
    EXPECT_NE(GetTempFileNameW(folder, u"zemlik", 0, name), number);
  }
  EXPECT_EQ(GetTempFileNameW(u"out", u"t", 0x1ABCD, name), 0x1ABCDu);  // forms the name only
  EXPECT_EQ(Utf8(name), "out/tABCD.TMP");
  EXPECT_EQ(root_.List().size() + work_.List().size(), 6u);
  EXPECT_EQ(GetTempFileNameW(u"missing", u"t", 0, name), 0u);
}

// Each row lays out an old file (or a link to one) and replaces it with "new", made at mode
// 0644: the new bytes go to the target, with the target's mode, and a link stays a link.
TEST_F(FilesTest, ReplaceKeepsTheModeAndFollowsLinks) {
  TempFolder elsewhere;
  char far[] = "/dev/shm/zt-far-XXXXXX";
  struct stat here {
  }, shm{};
  const bool otherFileSystem = stat(".", &here) == 0 && stat("/dev/shm", &shm) == 0 &&
                               here.st_dev != shm.st_dev && mkdtemp(far) != nullptr;
  const std::tuple<std::string, std::string, unsigned, unsigned> rows[] = {
      {work_.Join("out.csv"), "", 0600, 0600},
      {work_.Join("out.csv"), "", 0750, 0750},
      {work_.Join("real.csv"), "real.csv", 0640, 0640},
      {elsewhere.Join("far.csv"), elsewhere.Join("far.csv"), 0600, 0600},
      {work_.Join("gone.csv"), "gone.csv", 0, 0644},  // a link to nothing yet
      {std::string(far) + "/far.csv", std::string(far) + "/far.csv", 0604, 0604},
  };
  for (const auto& [target, link, before, after] : rows) {
    if (!otherFileSystem && target.rfind("/dev/shm", 0) == 0) continue;
    unlink("out.csv");
    unlink(target.c_str());
    ASSERT_TRUE(before == 0 ||
                (WriteFileBytes(target, "old") && chmod(target.c_str(), before) == 0));
    ASSERT_TRUE(link.empty() || symlink(link.c_str(), "out.csv") == 0);
    ASSERT_TRUE(WriteFileBytes("new.tmp", "new") && chmod("new.tmp", 0644) == 0);
    EXPECT_TRUE(ReplaceFileW(u"out.csv", u"new.tmp", nullptr, 0, nullptr, nullptr));
    char text[PATH_MAX] = {};
    EXPECT_TRUE(ReadFileBytes(target) == "new" && Mode(target) == after &&
                !ReadFileBytes("new.tmp") &&
                (readlink("out.csv", text, sizeof text - 1) > 0 ? text : "") == link)
        << target;
  }
  EXPECT_TRUE(!otherFileSystem ||
              (unlink((std::string(far) + "/far.csv").c_str()) == 0 && rmdir(far) == 0));
  ASSERT_TRUE(mkdir("folder", 0755) == 0 && WriteFileBytes("new.tmp", "new"));
  for (auto [name, error] : {std::pair{u"none.csv", ERROR_FILE_NOT_FOUND},
                             {u"folder", ERROR_GEN_FAILURE},
                             {u"/dev/null", ERROR_GEN_FAILURE}}) {
    EXPECT_FALSE(ReplaceFileW(name, u"new.tmp", nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), error);
  }
  EXPECT_FALSE(ReplaceFileW(u"out.csv", u"new.tmp", u"backup", 0, nullptr, nullptr));
  EXPECT_EQ(ReadFileBytes("new.tmp"), "new");
}

}  // namespace
}  // namespace zemlik::test
