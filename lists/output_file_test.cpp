// The line writer, and a new output file put in place of the old one only when whole.
#include "lists/output_file.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/scoped.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

TEST(OutputFile, LinesInCodePage932EachEndedByCrLfOverAnEmptiedFile) {
  TempFolder folder;
  const std::string path = folder.Join("out.csv");
  ASSERT_TRUE(WriteFileBytes(path, "an older and longer content\r\n"));
  platform::ScopedHandle file(CreateOutputFile(Utf16(path).c_str()));
  EXPECT_EQ(ReadFileBytes(path), "");
  // Two bytes a full-width character, one a half-width; 0x5C the backslash, 0x8160 the
  // full-width tilde; '?' for what the page lacks; kana and sound mark precomposed.
  for (const WString& line : {WString(TEXT("漫画,ｶﾀｶﾅ")), WString(), WString(TEXT("C:\\本～①")),
                              WString(TEXT("caf\u00e9 \u304b\u3099")), WString(5000, TEXT('あ'))}) {
    EXPECT_EQ(WriteLine(file.get(), line.c_str()), 0);
  }
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  EXPECT_EQ(WriteLine(file.get(), TEXT("lost")), -1);  // no buffer, nothing written
  platform::SetAllocationFailureForTesting(0);
  file.reset();
  std::string long5000;
  for (int i = 0; i < 5000; ++i) long5000 += "\x82\xa0";
  EXPECT_EQ(ReadFileBytes(path),
            "\x96\x9f\x89\xe6,\xb6\xc0\xb6\xc5\r\n\r\nC:\x5c\x96\x7b\x81\x60\x87\x40\r\ncaf? "
            "\x82\xaa\r\n" +
                long5000 + "\r\n");
  EXPECT_EQ(CreateOutputFile(Utf16(folder.Join("missing/out.csv")).c_str()), INVALID_HANDLE_VALUE);
#if !defined(_WIN32)
  platform::ScopedHandle full(CreateOutputFile(TEXT("/dev/full")));
  EXPECT_EQ(WriteLine(full.get(), TEXT("date,time")), -1);
#endif
}

// Written beside the output file under a temporary name, put in its place by Commit, and
// gone without it; the old file's mode and a link to it are kept.
TEST(OutputFile, APendingFileReplacesTheOldOneOnlyOnCommit) {
  TempFolder folder;
  const std::string path = folder.Join("out.csv");
  const WString out = Utf16(path), first = Utf16(folder.Join("first.csv")),
                link = Utf16(folder.Join("link.csv"));
  ASSERT_TRUE(WriteFileBytes(path, "old"));
  for (bool commit : {false, true}) {
    PendingOutputFile pending(out.c_str());
    ASSERT_TRUE(pending.valid());
    EXPECT_EQ(WriteLine(pending.handle(), TEXT("new")), 0);
    EXPECT_EQ(folder.List().size(), 2u);
    EXPECT_EQ(commit && pending.Commit(), commit);
    EXPECT_EQ(ReadFileBytes(path), commit ? "new\r\n" : "old");
  }
  EXPECT_EQ(folder.List(), std::vector<std::string>{"out.csv"});
  EXPECT_FALSE(PendingOutputFile(Utf16(folder.Join("missing/out.csv")).c_str()).valid());
  EXPECT_TRUE(PendingOutputFile(first.c_str()).Commit());
  EXPECT_EQ(ReadFileBytes(folder.Join("first.csv")), "");
#if !defined(_WIN32)
  ASSERT_TRUE(chmod(path.c_str(), 0600) == 0 &&
              symlink("out.csv", folder.Join("link.csv").c_str()) == 0);
  EXPECT_TRUE(PendingOutputFile(link.c_str()).Commit());
  struct stat info {};
  EXPECT_TRUE(lstat(folder.Join("link.csv").c_str(), &info) == 0 && S_ISLNK(info.st_mode));
  EXPECT_TRUE(stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600 && info.st_size == 0);
#endif
}

}  // namespace
}  // namespace zemlik::test
