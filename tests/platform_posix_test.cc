#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform.h"

namespace rastrel::platform {
namespace {

TEST(StatusOf, PosixErrorsToWhatTheUserSees) {
  using enum Operation;
  const struct {
    int error;
    Operation operation;
    IoStatus status;
  } cases[] = {
      // The end-to-end cases meet ENOENT on create, EMFILE, EISDIR, ENOSPC,
      // EFBIG, EPIPE and EBADF; these the tests cannot stage.
      {ENOENT, kAppend, IoStatus::Named(2)},  {ENOTDIR, kCreate, IoStatus::Named(3)},
      {ENAMETOOLONG, kCreate, IoStatus::Named(3)}, {ENFILE, kAppend, IoStatus::Named(4)},
      {EACCES, kCreate, IoStatus::Named(5)},  {EPERM, kCreate, IoStatus::Named(5)},
      {EROFS, kAppend, IoStatus::Named(5)},   {ETXTBSY, kCreate, IoStatus::Named(5)},
      {EIO, kOther, IoStatus::System(5)},
  };
  for (const auto& c : cases) {
    const IoStatus status = StatusOf(c.error, c.operation);
    EXPECT_EQ(status.code, c.status.code) << c.error;
    EXPECT_EQ(status.named, c.status.named) << c.error;
  }
}

// A folder where a kept tile should be: the read fails, and does not loop.
TEST(ReadFile, FailsOnAFolder) {
  FileHandle file = 0;
  ASSERT_FALSE(OpenFileForReading(".", file).Failed());
  char buffer[8];
  std::size_t got = 0;
  const IoStatus status = ReadFile(file, buffer, sizeof buffer, got);
  EXPECT_EQ(status.code, 5);
  EXPECT_TRUE(status.named);
  CloseFile(file);
}

TEST(IsOnPath, SearchesEachFolderAndTakesAnEmptyOneAsTheCurrent) {
  const std::string folder = "platform_test_path.tmp", tool = folder + "/tool";
  ASSERT_FALSE(MakeDirectory(folder).Failed());
  FileHandle file = 0;
  ASSERT_FALSE(OpenFile(tool, OpenMode::kCreate, file).Failed());
  CloseFile(file);
  ::chmod(tool.c_str(), 0755);
  const char* saved = std::getenv("PATH");
  const std::string path = saved != nullptr ? saved : "";
  const struct {
    const char* path;
    const char* program;
    bool found;
  } cases[] = {
      {"/nonexistent:platform_test_path.tmp", "tool", true},
      {"/nonexistent::/also-not", "platform_test_path.tmp/tool", true},
      {"/nonexistent:", "platform_test_path.tmp/tool", true},
      {"/nonexistent:/also-not", "platform_test_path.tmp/tool", false},
      {"platform_test_path.tmp", "other", false},
  };
  for (const auto& c : cases) {
    ::setenv("PATH", c.path, 1);
    EXPECT_EQ(IsOnPath(c.program), c.found) << c.path << " " << c.program;
  }
  ::setenv("PATH", path.c_str(), 1);
  RemoveFile(tool);
  RemoveEmptyDirectory(folder);
}

}  // namespace
}  // namespace rastrel::platform
