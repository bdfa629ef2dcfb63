// The platform layer's file details, the same on every build (native, and
// Windows under Wine).
#include <gtest/gtest.h>

#include "platform.h"

namespace rastrel::platform {
namespace {

void MakeFile(const std::string& name) {
  FileHandle file = 0;
  ASSERT_FALSE(OpenFile(name, OpenMode::kCreate, file).Failed());
  ASSERT_FALSE(CloseFile(file).Failed());
}

TEST(FileModifiedTime, SetAndReadBackInSecondsSince1970) {
  const std::string name = "platform_test_time.tmp";
  EXPECT_EQ(FileModifiedTime(name), -1);
  MakeFile(name);
  for (const std::int64_t seconds : {std::int64_t{0}, std::int64_t{1767225600}, std::int64_t{4102444800}}) {
    SetFileModifiedTime(name, seconds);
    EXPECT_EQ(FileModifiedTime(name), seconds);
  }
  RemoveFile(name);
}

TEST(RemoveEmptyDirectory, LeavesAFolderThatHoldsAFile) {
  const std::string folder = "platform_test_folder.tmp", file = folder + "/f";
  ASSERT_FALSE(MakeDirectory(folder).Failed());
  MakeFile(file);
  EXPECT_FALSE(RemoveEmptyDirectory(folder));
  EXPECT_TRUE(IsExistingFile(file));
  RemoveFile(file);
  EXPECT_TRUE(RemoveEmptyDirectory(folder));
  EXPECT_TRUE(MakeDirectory(folder + "/again").Failed());  // the folder is gone
  EXPECT_TRUE(RemoveEmptyDirectory(folder));               // and gone is what was asked
}

TEST(ReadFile, ReadsWhatWasWrittenThenTheEnd) {
  const std::string name = "platform_test_read.tmp";
  FileHandle file = 0;
  ASSERT_FALSE(OpenFile(name, OpenMode::kCreate, file).Failed());
  ASSERT_FALSE(WriteFile(file, "abc", 3).Failed());
  ASSERT_FALSE(CloseFile(file).Failed());
  ASSERT_FALSE(OpenFileForReading(name, file).Failed());
  char buffer[8];
  std::size_t got = 0;
  ASSERT_FALSE(ReadFile(file, buffer, sizeof buffer, got).Failed());
  EXPECT_EQ(std::string(buffer, got), "abc");
  ASSERT_FALSE(ReadFile(file, buffer, sizeof buffer, got).Failed());
  EXPECT_EQ(got, 0u);
  CloseFile(file);
  RemoveFile(name);
  EXPECT_TRUE(OpenFileForReading(name, file).Failed());
}

}  // namespace
}  // namespace rastrel::platform
