#include <gtest/gtest.h>

#include <cerrno>

#include "platform.h"

namespace rastrel::platform {
namespace {

TEST(StatusOf, PosixErrorsToWhatTheUserSees) {
  const struct {
    int error;
    Operation operation;
    IoStatus status;
  } cases[] = {
      {ENOENT, Operation::kAppend, IoStatus::Named(2)}, {ENOENT, Operation::kCreate, IoStatus::Named(3)}, {ENOTDIR, Operation::kCreate, IoStatus::Named(3)},
      {ENAMETOOLONG, Operation::kCreate, IoStatus::Named(3)}, {EMFILE, Operation::kCreate, IoStatus::Named(4)}, {ENFILE, Operation::kAppend, IoStatus::Named(4)},
      {EACCES, Operation::kCreate, IoStatus::Named(5)}, {EPERM, Operation::kCreate, IoStatus::Named(5)},   {EISDIR, Operation::kCreate, IoStatus::Named(5)},
      {EROFS, Operation::kAppend, IoStatus::Named(5)},  {ETXTBSY, Operation::kCreate, IoStatus::Named(5)}, {ENOSPC, Operation::kOther, IoStatus::System(28)},
      {EPIPE, Operation::kOther, IoStatus::System(32)},  {EBADF, Operation::kOther, IoStatus::System(9)},    {EIO, Operation::kOther, IoStatus::System(5)},
  };
  for (const auto& c : cases) {
    const IoStatus status = StatusOf(c.error, c.operation);
    EXPECT_EQ(status.code, c.status.code) << c.error;
    EXPECT_EQ(status.named, c.status.named) << c.error;
  }
}

}  // namespace
}  // namespace rastrel::platform
