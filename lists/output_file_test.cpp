// The line writer, and a new output file written beside the old one under a temporary name
// that takes its place, mode and links kept, only on Commit.
#include "lists/output_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include "http/outcome.h"
#include "platform/memory.h"
#include "platform/routes.h"
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
#else
  SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_HIDDEN);  // kept, as the read-only bit would be
  EXPECT_TRUE(PendingOutputFile(out.c_str()).Commit());
  EXPECT_NE(GetFileAttributesW(out.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
#endif
}

// Each kind of output path: the file it leads to gets the new one, or nothing changes and the
// refusal is the program's own where it is. Links, the device and the pipe are the host's.
TEST(OutputFile, EveryPathEndsInTheFileItLeadsToOrLeavesAllAsItWas) {
  TempFolder folder, scratch;
  ScopedEnv tmp({{"TMPDIR", scratch.path().c_str()}});
  const std::string edge(kLongestOutputFolder - folder.path().size() - 1, 'f');  // 250 in all
  for (const std::string& name : {edge, edge + "f", std::string("dir")})
    std::filesystem::create_directory(folder.Join(name));
  struct Row {
    std::string path, file;  // the file that gets the new one; "" for none
    int refusal = kOutputAccepted;
  };
  std::vector<Row> rows = {
      {"dir", "", kOutputIsFolder},
      {"dir/", "", kOutputIsFolder},
      {"none\\", "", kOutputIsFolder},
      {edge + "/x", edge + "/x"},  // with a shorter temporary name
      {edge + "f/x", "", kOutputPathTooLong},
  };
#if !defined(_WIN32)
  rows.insert(rows.end(), {{"link-link", "old.csv"}, {"dangling", "there/new.csv"}, {"lost"}});
  ASSERT_TRUE(WriteFileBytes(folder.Join("old.csv"), "old"));
  for (auto [link, to] : {std::pair{"link", "old.csv"},
                          {"link-link", "link"},
                          {"dangling", "there/new.csv"},
                          {"lost", "nowhere/new.csv"}})
    std::filesystem::create_symlink(to, folder.Join(link));
  std::filesystem::create_directory(folder.Join("there"));
  // A private null device (1, 3), never the host's: a broken build must not replace that one.
  if (geteuid() == 0 && mknod(folder.Join("null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
    rows.push_back({"null", "-"});  // takes the file and keeps nothing
#endif
  for (const auto& row : rows) {
    Outcome.outputRefusal = kOutputAccepted;
    PendingOutputFile file(Utf16(folder.Join(row.path)).c_str());
    EXPECT_EQ(WriteLine(file.handle(), TEXT("new")) == kLineWritten && file.Commit(),
              !row.file.empty())
        << row.path;
    EXPECT_EQ(Outcome.outputRefusal, row.refusal) << row.path;
    if (row.file.size() > 1) {
      EXPECT_EQ(ReadFileBytes(folder.Join(row.file)), "new\r\n");
    }
  }
  for (const std::string& name : folder.List())
    EXPECT_TRUE(name.find(".TMP") == name.npos && name.find(".tmp") == name.npos) << name;
  EXPECT_EQ(scratch.List(), std::vector<std::string>{});
#if !defined(_WIN32)
  for (const char* name : {"link", "link-link", "dangling", "lost"})
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Join(name))) << name;
  EXPECT_TRUE(rows.back().path != "null" ||
              std::filesystem::is_character_file(folder.Join("null")));
  // A pipe gets the new file whole, or, from a job that failed, the end of the file only.
  const std::string pipe = folder.Join("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::chrono::milliseconds tick(10);
  for (bool commit : {true, false}) {
    auto got = std::async(std::launch::async, [&] { return ReadFileBytes(pipe).value_or("?"); });
    {
      PendingOutputFile file(Utf16(pipe).c_str());
      EXPECT_EQ(WriteLine(file.handle(), TEXT("new")) == kLineWritten && commit && file.Commit(),
                commit);
    }
    // The reader may not be there yet: it is let go once it is.
    for (int i = 0; i < 300 && got.wait_for(tick) != std::future_status::ready; ++i)
      EXPECT_FALSE(EndFailedOutput(Utf16(pipe).c_str()));
    if (got.wait_for(tick) != std::future_status::ready) WriteFileBytes(pipe, "");
    EXPECT_EQ(got.get(), commit ? "new\r\n" : "");
  }
#endif
}

}  // namespace
}  // namespace zemlik::test
