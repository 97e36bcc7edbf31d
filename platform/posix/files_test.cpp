#include "platform/files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::FileExists;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::Utf8;
using zemlik::testing::WriteFileBytes;

// Each test gets its own device root and working folder; the environment,
// the working folder and the umask are put back afterwards.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("ZEMLIK_ROOT", &savedRoot_);
    Save("HOME", &savedHome_);
    setenv("ZEMLIK_ROOT", root_.path().c_str(), 1);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    savedCwd_ = cwd;
    ASSERT_EQ(chdir(work_.path().c_str()), 0);
  }
  void TearDown() override {
    Restore("ZEMLIK_ROOT", savedRoot_);
    Restore("HOME", savedHome_);
    ASSERT_EQ(chdir(savedCwd_.c_str()), 0);
  }

  static void Save(const char* name, std::string* out) {
    const char* value = getenv(name);
    *out = value != nullptr ? std::string(1, '=') + value : std::string();
  }
  static void Restore(const char* name, const std::string& saved) {
    if (saved.empty()) {
      unsetenv(name);
    } else {
      setenv(name, saved.c_str() + 1, 1);
    }
  }

  static HANDLE Create(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // Creates `path` and writes `bytes` into it; false when any step fails.
  static bool WriteWhole(const std::u16string& path, const std::string& bytes) {
    HANDLE file = Create(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 12345;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    BOOL closed = CloseHandle(file);
    return ok == TRUE && written == bytes.size() && closed == TRUE;
  }
  static std::string Resolve(const std::u16string& path) {
    char out[4096];
    return platform::ResolvePath(path.c_str(), out, sizeof out) ? std::string(out) : "<failed>";
  }

  TempFolder root_;
  TempFolder work_;
  std::string savedRoot_;
  std::string savedHome_;
  std::string savedCwd_;
};

TEST_F(FilesTest, DevicePathsResolveUnderTheRootAndCreateOnlyMyDocuments) {
  EXPECT_EQ(Resolve(u"\\My Documents\\month list.csv"),
            root_.path() + "/My Documents/month list.csv");
  EXPECT_EQ(root_.List(), std::vector<std::string>{"My Documents"});

  EXPECT_EQ(Resolve(u"\\Storage Card\\a.csv"), root_.path() + "/Storage Card/a.csv");
  EXPECT_EQ(Resolve(u"\\My Documentsx\\a.csv"), root_.path() + "/My Documentsx/a.csv");
  EXPECT_EQ(Resolve(u"\\a.csv"), root_.path() + "/a.csv");
  EXPECT_EQ(root_.List(), std::vector<std::string>{"My Documents"});
}

TEST_F(FilesTest, RootFallsBackToHomeAndIgnoresTrailingSlashes) {
  unsetenv("ZEMLIK_ROOT");
  setenv("HOME", (root_.path() + "//").c_str(), 1);
  EXPECT_EQ(Resolve(u"\\My Documents\\x.csv"), root_.path() + "/My Documents/x.csv");
  EXPECT_TRUE(FileExists(root_.Join("My Documents")));

  unsetenv("HOME");
  EXPECT_EQ(Resolve(u"\\My Documents\\x.csv"), "<failed>");
}

TEST_F(FilesTest, HostPathsAreUsedAsTheyAre) {
  EXPECT_EQ(Resolve(u"out/list.csv"), "out/list.csv");
  EXPECT_EQ(Resolve(u"/tmp/x\\y.csv"), "/tmp/x\\y.csv");
  EXPECT_EQ(Resolve(u""), "<failed>");
  EXPECT_EQ(root_.List(), std::vector<std::string>{});

  char small[8];
  EXPECT_FALSE(platform::ResolvePath(u"0123456789.csv", small, sizeof small));
  EXPECT_STREQ(small, "");
}

TEST_F(FilesTest, WritesIntoMyDocumentsCreatedOnDemand) {
  ASSERT_TRUE(WriteWhole(u"\\My Documents\\月報.csv", "date,time\r\n"));
  EXPECT_EQ(root_.List(), (std::vector<std::string>{"My Documents", "My Documents/月報.csv"}));
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/月報.csv")), "date,time\r\n");
}

TEST_F(FilesTest, MissingFoldersOtherThanMyDocumentsAreNeverCreated) {
  EXPECT_EQ(Create(u"\\Storage Card\\a.csv"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(u"\\My Documents\\sub\\a.csv"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(u"missing/a.csv"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(root_.List(), std::vector<std::string>{"My Documents"});
  EXPECT_EQ(work_.List(), std::vector<std::string>{});
}

TEST_F(FilesTest, HostPathIsRelativeToTheWorkingFolder) {
  ASSERT_TRUE(WriteWhole(u"out.csv", "abc"));
  EXPECT_EQ(ReadFileBytes(work_.Join("out.csv")), "abc");
  ASSERT_TRUE(WriteWhole(Utf16(root_.Join("abs.csv")), "xyz"));
  EXPECT_EQ(ReadFileBytes(root_.Join("abs.csv")), "xyz");
}

TEST_F(FilesTest, CreateAlwaysEmptiesAnExistingFile) {
  ASSERT_TRUE(WriteFileBytes(work_.Join("old.csv"), "a much longer old content\r\n"));
  ASSERT_TRUE(WriteWhole(u"old.csv", "new"));
  EXPECT_EQ(ReadFileBytes(work_.Join("old.csv")), "new");

  HANDLE file = Create(u"old.csv");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadFileBytes(work_.Join("old.csv")), "");
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FilesTest, NewFilesGetMode0666LessTheUmask) {
  mode_t saved = umask(027);
  bool written = WriteWhole(u"masked.csv", "x");
  umask(saved);
  ASSERT_TRUE(written);
  struct stat info;
  ASSERT_EQ(stat(work_.Join("masked.csv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(FilesTest, OnlyWriteAccessWithCreateAlwaysIsOffered) {
  EXPECT_EQ(CreateFileW(u"a.csv", GENERIC_WRITE, 0, nullptr, 1 /* CREATE_NEW */, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(
      CreateFileW(u"a.csv", 0x80000000 /* GENERIC_READ */, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
      INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(u"."), INVALID_HANDLE_VALUE);
  EXPECT_EQ(work_.List(), std::vector<std::string>{});
}

TEST_F(FilesTest, WriteFileReportsAShortWriteAsFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  HANDLE file = Create(u"/dev/full");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FilesTest, ClosedBadAndForeignHandlesFailWithoutHarm) {
  HANDLE file = Create(u"a.csv");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteFile(file, "", 0, nullptr, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  DWORD written = 7;
  EXPECT_FALSE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 0u);

  int local = 0;
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CloseHandle(&local));
  EXPECT_FALSE(WriteFile(&local, "abc", 3, &written, nullptr));
}

TEST_F(FilesTest, TempFileIsCreatedEmptyAndUniqueUnderItsFolder) {
  WCHAR first[MAX_PATH];
  WCHAR second[MAX_PATH];
  UINT a = GetTempFileNameW(u"\\My Documents", u"zemlik", 0, first);
  UINT b = GetTempFileNameW(u"\\My Documents\\", u"zemlik", 0, second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);

  char hexA[8];
  char hexB[8];
  snprintf(hexA, sizeof hexA, "%X", a);
  snprintf(hexB, sizeof hexB, "%X", b);
  EXPECT_EQ(Utf8(first), std::string("\\My Documents\\zem") + hexA + ".TMP");
  EXPECT_EQ(Utf8(second), std::string("\\My Documents\\zem") + hexB + ".TMP");
  EXPECT_EQ(ReadFileBytes(root_.Join(std::string("My Documents/zem") + hexA + ".TMP")), "");
  EXPECT_EQ(ReadFileBytes(root_.Join(std::string("My Documents/zem") + hexB + ".TMP")), "");
}

TEST_F(FilesTest, TempFileNameInAHostFolderAndWithAGivenNumber) {
  ASSERT_EQ(mkdir("out", 0777), 0);
  WCHAR name[MAX_PATH];
  UINT n = GetTempFileNameW(u"out", u"t", 0, name);
  ASSERT_NE(n, 0u);
  char hex[8];
  snprintf(hex, sizeof hex, "%X", n);
  EXPECT_EQ(Utf8(name), std::string("out/t") + hex + ".TMP");
  EXPECT_TRUE(FileExists(work_.Join(std::string("out/t") + hex + ".TMP")));

  EXPECT_EQ(GetTempFileNameW(u"out", u"t", 0x1ABCD, name), 0x1ABCDu);
  EXPECT_EQ(Utf8(name), "out/tABCD.TMP");
  EXPECT_FALSE(FileExists(work_.Join("out/tABCD.TMP")));

  EXPECT_EQ(GetTempFileNameW(u"missing", u"t", 0, name), 0u);
}

TEST_F(FilesTest, DeleteAndMove) {
  ASSERT_TRUE(WriteWhole(u"\\My Documents\\a.csv", "A"));
  ASSERT_TRUE(WriteWhole(u"\\My Documents\\b.csv", "B"));

  EXPECT_FALSE(MoveFileExW(u"\\My Documents\\a.csv", u"\\My Documents\\b.csv", 0));
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/b.csv")), "B");

  EXPECT_TRUE(
      MoveFileExW(u"\\My Documents\\a.csv", u"\\My Documents\\b.csv", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(root_.List(), (std::vector<std::string>{"My Documents", "My Documents/b.csv"}));
  EXPECT_EQ(ReadFileBytes(root_.Join("My Documents/b.csv")), "A");

  EXPECT_TRUE(MoveFileExW(u"\\My Documents\\b.csv", u"c.csv", 0));
  EXPECT_EQ(ReadFileBytes(work_.Join("c.csv")), "A");

  EXPECT_TRUE(DeleteFileW(u"c.csv"));
  EXPECT_FALSE(DeleteFileW(u"c.csv"));
  EXPECT_EQ(work_.List(), std::vector<std::string>{});
}

}  // namespace

namespace {

std::string ModeOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "<none>";
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return text;
}

// Each row lays out an output file (or a link to one), replaces it with "new" made at mode
// 0644, and says where the new bytes must be found.
TEST_F(FilesTest, ReplaceKeepsTheModeAndFollowsLinks) {
  TempFolder elsewhere;
  const bool otherFileSystem = [] {
    struct stat tmp;
    struct stat shm;
    return stat("/dev/shm", &shm) == 0 && stat(".", &tmp) == 0 && shm.st_dev != tmp.st_dev &&
           access("/dev/shm", W_OK) == 0;
  }();
  std::string farFolder;
  if (otherFileSystem) {
    char pattern[] = "/dev/shm/zemlik-far-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    farFolder = pattern;
  }
  struct Row {
    const char* what;
    std::string target;    // the file a link leads to, or the output file itself
    std::string linkText;  // when set, "out.csv" is a link with this text
    const char* oldMode;   // the target's mode before, or null when it does not exist
    const char* newMode;
  } rows[] = {
      {"a private file stays private", work_.Join("out.csv"), "", "0600", "0600"},
      {"an executable bit is kept", work_.Join("out.csv"), "", "0750", "0750"},
      {"a relative link", work_.Join("real.csv"), "real.csv", "0640", "0640"},
      {"an absolute link into another folder", elsewhere.Join("far.csv"),
       elsewhere.Join("far.csv"), "0600", "0600"},
      {"a link whose target is missing", work_.Join("gone.csv"), "gone.csv", nullptr, "0644"},
      {"a link to another file system", farFolder + "/far.csv", farFolder + "/far.csv", "0604",
       "0604"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.target == "/far.csv") continue;  // no second file system here
    unlink("out.csv");
    unlink(row.target.c_str());
    if (row.oldMode != nullptr) {
      ASSERT_TRUE(WriteFileBytes(row.target, "old"));
      ASSERT_EQ(chmod(row.target.c_str(), std::strtoul(row.oldMode, nullptr, 8)), 0);
    }
    if (!row.linkText.empty()) {
      ASSERT_EQ(symlink(row.linkText.c_str(), "out.csv"), 0);
    }
    ASSERT_TRUE(WriteFileBytes(work_.Join("new.tmp"), "new"));
    ASSERT_EQ(chmod("new.tmp", 0644), 0);

    EXPECT_TRUE(ReplaceFileW(u"out.csv", u"new.tmp", nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(ReadFileBytes(row.target), "new");
    EXPECT_EQ(ModeOf(row.target), row.newMode);
    EXPECT_FALSE(FileExists(work_.Join("new.tmp")));
    char link[PATH_MAX] = {};
    const ssize_t length = readlink("out.csv", link, sizeof link - 1);
    EXPECT_EQ(length > 0 ? std::string(link) : std::string(), row.linkText);
  }
  if (!farFolder.empty()) {
    unlink((farFolder + "/far.csv").c_str());
    EXPECT_EQ(rmdir(farFolder.c_str()), 0) << "a copy was left beside the target";
  }
}

TEST_F(FilesTest, ReplaceNeedsAFileToReplace) {
  ASSERT_TRUE(WriteFileBytes(work_.Join("new.tmp"), "new"));
  SetLastError(0);
  EXPECT_FALSE(ReplaceFileW(u"out.csv", u"new.tmp", nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // Nor is a folder or a device replaced.
  ASSERT_EQ(mkdir("folder", 0755), 0);
  SetLastError(0);
  EXPECT_FALSE(ReplaceFileW(u"folder", u"new.tmp", nullptr, 0, nullptr, nullptr));
  EXPECT_NE(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(ReplaceFileW(u"/dev/null", u"new.tmp", nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(ReadFileBytes(work_.Join("new.tmp")), "new");
  EXPECT_FALSE(ReplaceFileW(u"folder", u"new.tmp", u"backup", 0, nullptr, nullptr));
}

}  // namespace
