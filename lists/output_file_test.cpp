#include "lists/output_file.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory.h"
#include "platform/scoped.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::FileExists;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::WriteFileBytes;
using zemlik::testing::WString;

class OutputFileTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetAllocationFailureForTesting(0); }

  // Writes each line through WriteLine into a new file and returns its bytes.
  std::string WriteLines(std::initializer_list<WString> lines) {
    const std::string path = folder_.Join("out.csv");
    platform::ScopedHandle file(CreateOutputFile(Utf16(path).c_str()));
    EXPECT_TRUE(file.valid());
    for (const WString& line : lines) EXPECT_EQ(WriteLine(file.get(), line.c_str()), 0);
    file.reset();
    return ReadFileBytes(path).value_or("<unreadable>");
  }

  TempFolder folder_;
};

TEST_F(OutputFileTest, CreatesAnEmptyFile) {
  const std::string path = folder_.Join("new.csv");
  platform::ScopedHandle file(CreateOutputFile(Utf16(path).c_str()));
  ASSERT_TRUE(file.valid());
  file.reset();
  EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(OutputFileTest, ReplacesAnExistingFile) {
  const std::string path = folder_.Join("old.csv");
  ASSERT_TRUE(WriteFileBytes(path, "an older and much longer content\r\n"));
  platform::ScopedHandle file(CreateOutputFile(Utf16(path).c_str()));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(WriteLine(file.get(), TEXT("new")), 0);
  file.reset();
  EXPECT_EQ(ReadFileBytes(path), "new\r\n");
}

TEST_F(OutputFileTest, FailsInAMissingFolderAndCreatesNothing) {
  const std::string path = folder_.Join("missing/out.csv");
  EXPECT_EQ(CreateOutputFile(Utf16(path).c_str()), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(folder_.List().empty());
}

TEST_F(OutputFileTest, LinesEndWithCrLf) {
  EXPECT_EQ(WriteLines({TEXT("date,time"), TEXT(""), TEXT("a,b,c")}), "date,time\r\n\r\na,b,c\r\n");
}

TEST_F(OutputFileTest, LinesAreWrittenInCodePage932) {
  // Full-width characters take two bytes, half-width katakana one; 0x5C is the
  // backslash and U+FF5E the full-width tilde of this code page.
  EXPECT_EQ(WriteLines({TEXT("漫画,ｶﾀｶﾅ"), TEXT("C:\\本～"), TEXT("①Ⅰ㈱")}),
            "\x96\x9f\x89\xe6,\xb6\xc0\xb6\xc5\r\n"
            "C:\x5c\x96\x7b\x81\x60\r\n"
            "\x87\x40\x87\x54\x87\x8a\r\n");
}

TEST_F(OutputFileTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(WriteLines({TEXT("caf\u00e9 \u0101")}), "caf? ?\r\n");
}

TEST_F(OutputFileTest, CombiningSoundMarksArePrecomposed) {
  // か + U+3099 is が (0x82AA); は + U+309A is ぱ (0x82CF).
  EXPECT_EQ(WriteLines({TEXT("\u304b\u3099\u306f\u309a")}), "\x82\xaa\x82\xcf\r\n");
}

TEST_F(OutputFileTest, LongLinesAreWrittenWhole) {
  const WString line(5000, TEXT('あ'));
  std::string expected;
  for (int i = 0; i < 5000; ++i) expected += "\x82\xa0";
  EXPECT_EQ(WriteLines({line}), expected + "\r\n");
}

TEST_F(OutputFileTest, AFailedWriteIsReported) {
  // /dev/full accepts the open and fails every write.
  platform::ScopedHandle file(CreateOutputFile(TEXT("/dev/full")));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(WriteLine(file.get(), TEXT("date,time")), -1);
  EXPECT_EQ(WriteLine(file.get(), TEXT("")), -1);
}

TEST_F(OutputFileTest, WithoutItsBufferALineWritesNothingAndFails) {
  const std::string path = folder_.Join("out.csv");
  platform::ScopedHandle file(CreateOutputFile(Utf16(path).c_str()));
  ASSERT_TRUE(file.valid());
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  EXPECT_EQ(WriteLine(file.get(), TEXT("lost")), -1);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_EQ(WriteLine(file.get(), TEXT("kept")), 0);
  file.reset();
  EXPECT_EQ(ReadFileBytes(path), "kept\r\n");
}

}  // namespace
