#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

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

// A read that succeeds reports success whatever errno was left by an
// earlier call.
TEST(ReadStdin, SuccessIsSuccessWhateverErrnoHolds) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const int saved_stdin = ::dup(STDIN_FILENO);
  ::dup2(pipe_ends[0], STDIN_FILENO);
  ASSERT_EQ(::write(pipe_ends[1], "7eb1\n", 5), 5);
  char buffer[16];
  std::size_t got = 0;
  errno = ENOSPC;
  const IoStatus status = ReadStdin(buffer, sizeof buffer, got);
  ::dup2(saved_stdin, STDIN_FILENO);
  for (int fd : {saved_stdin, pipe_ends[0], pipe_ends[1]}) ::close(fd);
  EXPECT_FALSE(status.Failed());
  EXPECT_EQ(got, 5u);
}

}  // namespace
}  // namespace rastrel::platform
