#include <gtest/gtest.h>

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

}  // namespace
}  // namespace rastrel::platform
