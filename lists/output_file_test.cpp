// The line writer, and a new output file written beside the old one under a temporary name
// that takes its place, mode and links kept, only on Commit.
#include "lists/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/scoped.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

TEST(OutputFile, LinesInCodePage932OverAnEmptiedFileThenOneReplacedOnlyOnCommit) {
  TempFolder folder;
  const std::string path = folder.Join("out.csv"), link = folder.Join("link.csv");
  const WString out = Utf16(path);
  ASSERT_TRUE(WriteFileBytes(path, "an older and longer content\r\n"));
  platform::ScopedHandle file(CreateOutputFile(out.c_str()));
  EXPECT_EQ(ReadFileBytes(path), "");
  // 0x5C the backslash, 0x8160 the full-width tilde, '?' what the code page lacks; が precomposed.
  for (const WString& line : {Utf16("漫画,ｶﾀｶﾅ"), WString(), Utf16("C:\\本～①"),
                              Utf16("caf\u00e9 \u304b\u3099"), WString(5000, TEXT('＝'))})
    EXPECT_EQ(WriteLine(file.get(), line.c_str()), kLineWritten);
  platform::SetAllocationFailureForTesting(platform::AllocationCountForTesting() + 1);
  EXPECT_EQ(WriteLine(file.get(), TEXT("lost")), kLineNotWritten);  // no buffer, nothing written
  platform::SetAllocationFailureForTesting(0);
  file.reset();
  const std::string old =
      "\x96\x9f\x89\xe6,\xb6\xc0\xb6\xc5\r\n\r\nC:\x5c\x96\x7b\x81\x60\x87\x40\r\n"
      "caf? \x82\xaa\r\n" +
      std::string(10000, '\x81') + "\r\n";
  EXPECT_EQ(CreateOutputFile(Utf16(folder.Join("missing/out.csv")).c_str()), INVALID_HANDLE_VALUE);
  for (bool commit : {false, true}) {
    PendingOutputFile pending(out.c_str());
    EXPECT_EQ(WriteLine(pending.handle(), TEXT("new")), kLineWritten);
    EXPECT_EQ(folder.List().size(), 2u);
    EXPECT_EQ(commit && pending.Commit(), commit);
    EXPECT_EQ(ReadFileBytes(path), commit ? "new\r\n" : old);
  }
  EXPECT_EQ(folder.List(), std::vector<std::string>{"out.csv"});
  EXPECT_FALSE(PendingOutputFile(Utf16(folder.Join("none\\out.csv")).c_str()).valid());  // '\\' too
  EXPECT_TRUE(PendingOutputFile(Utf16(folder.Join("first.csv")).c_str()).Commit());
  EXPECT_EQ(ReadFileBytes(folder.Join("first.csv")), "");
#if !defined(_WIN32)
  std::filesystem::permissions(path, std::filesystem::perms(0600));
  std::filesystem::create_symlink("out.csv", link);
  EXPECT_TRUE(PendingOutputFile(Utf16(link).c_str()).Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(link) && std::filesystem::file_size(path) == 0);
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
#endif
}

}  // namespace
}  // namespace zemlik::test
