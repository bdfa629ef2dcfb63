// POSIX implementation of the platform interface.
#include "platform.h"

#include <climits>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern "C" [[gnu::visibility("hidden")]] const char __ehdr_start[];

namespace rastrel::platform {

namespace {

IoStatus WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return StatusOf(errno, Operation::kOther);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return IoStatus::Ok();
}

}  // namespace

IoStatus StatusOf(int os_error, Operation operation) {
  switch (os_error) {
    case ENOENT:
      return IoStatus::Named(operation == Operation::kAppend ? 2 : 3);
    case ENOTDIR:
    case ENAMETOOLONG:
      return IoStatus::Named(3);
    case EMFILE:
    case ENFILE:
      return IoStatus::Named(4);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return IoStatus::Named(5);
    default:
      return IoStatus::System(os_error);
  }
}

IoStatus OpenFile(const std::string& name, OpenMode mode, FileHandle& file) {
  const bool append = mode == OpenMode::kAppend;
  const int flags = O_WRONLY | O_CLOEXEC | (append ? O_APPEND : O_CREAT | O_TRUNC);
  const int fd = ::open(name.c_str(), flags, 0666);
  if (fd < 0) {
    return StatusOf(errno, append ? Operation::kAppend : Operation::kCreate);
  }
  file = fd;
  return IoStatus::Ok();
}

IoStatus WriteFile(FileHandle file, const char* data, std::size_t size) {
  return WriteAll(static_cast<int>(file), data, size);
}

IoStatus CloseFile(FileHandle file) {
  return ::close(static_cast<int>(file)) == 0 ? IoStatus::Ok() : StatusOf(errno, Operation::kOther);
}

IoStatus OpenFileForReading(const std::string& name, FileHandle& file) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return StatusOf(errno, Operation::kAppend);
  file = fd;
  return IoStatus::Ok();
}

IoStatus ReadFile(FileHandle file, char* buffer, std::size_t capacity, std::size_t& got) {
  for (;;) {
    const ssize_t count = ::read(static_cast<int>(file), buffer, capacity);
    if (count >= 0) {
      got = static_cast<std::size_t>(count);
      return IoStatus::Ok();
    }
    if (errno != EINTR) return StatusOf(errno, Operation::kOther);
  }
}

bool IsDirectory(const std::string& name) {
  struct stat status;
  return ::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::size_t LongestPathName() { return PATH_MAX - 1; }

bool IsExistingFile(const std::string& name) {
  struct stat status;
  return ::stat(name.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

IoStatus ReadWholeFile(const std::string& name, std::size_t limit, std::string& bytes) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return StatusOf(errno, Operation::kAppend);
  struct stat status;
  IoStatus result = IoStatus::Ok();
  if (::fstat(fd, &status) != 0) {
    result = StatusOf(errno, Operation::kOther);
  } else if (S_ISDIR(status.st_mode)) {
    result = StatusOf(EISDIR, Operation::kOther);
  } else if (static_cast<std::uintmax_t>(status.st_size) > limit) {
    result = IoStatus::Named(8);
  } else {
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t count = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) result = StatusOf(errno, Operation::kOther);
      if (count <= 0) break;
      got += static_cast<std::size_t>(count);
    }
    bytes.resize(got);
  }
  ::close(fd);
  return result;
}

IoStatus MakeDirectory(const std::string& name) {
  if (::mkdir(name.c_str(), 0777) == 0 || errno == EEXIST) return IoStatus::Ok();
  return StatusOf(errno, Operation::kCreate);
}

IoStatus RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? IoStatus::Ok() : StatusOf(errno, Operation::kCreate);
}

void RemoveFile(const std::string& name) { ::unlink(name.c_str()); }

std::string_view PathSeparators() { return "/"; }

IoStatus WriteStdout(const char* data, std::size_t size) { return WriteAll(STDOUT_FILENO, data, size); }

IoStatus WriteStderr(const char* data, std::size_t size) { return WriteAll(STDERR_FILENO, data, size); }

IoStatus ReadStdin(char* buffer, std::size_t capacity, std::size_t& got) {
  for (;;) {
    ssize_t count = ::read(STDIN_FILENO, buffer, capacity);
    if (count >= 0) {
      got = static_cast<std::size_t>(count);
      return IoStatus::Ok();
    }
    if (errno != EINTR) return StatusOf(errno, Operation::kOther);
  }
}

void InitProcess() {
  // A closed pipe on standard output and a file grown past the size limit
  // must become errors we report (EPIPE, EFBIG), not a silent death by signal.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

namespace {

std::string BaseName(std::string_view path) { return std::string(path.substr(path.find_last_of('/') + 1)); }

// The program's own file as the system knows it; empty where it cannot tell.
std::string OwnExecutablePath() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::string ProgramFileName(int argc, char** argv) {
  // argv[0] is whatever the starting process chose: it may be missing, empty
  // or end in a slash, and then names no file.
  std::string name = argc > 0 && argv[0] != nullptr ? BaseName(argv[0]) : std::string();
  if (name.empty()) name = BaseName(OwnExecutablePath());
  return name.empty() ? "rastrel" : name;
}

std::uint32_t RelativeCodeAddress(const void* address) {
  // The linker places the program's ELF header at its load address, in a
  // static program as in a dynamic one.
  const auto base = reinterpret_cast<std::uintptr_t>(__ehdr_start);
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

std::string ToOemCodePage(const std::string& text) { return text; }

namespace {

// Lock-free, so the handler may set it and every thread read it.
std::atomic<int> stop_status{0};
static_assert(std::atomic<int>::is_always_lock_free);

void NoteStop(int signal_number) { stop_status = 128 + signal_number; }

}  // namespace

void WatchStopRequests() {
  struct sigaction action = {};
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int StopRequested() { return stop_status; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::int64_t FreeDiskBytes(const std::string& name) {
  struct statvfs status;
  if (::statvfs(name.c_str(), &status) != 0) return -1;
  return static_cast<std::int64_t>(status.f_bavail) * static_cast<std::int64_t>(status.f_frsize);
}

std::int64_t FileModifiedTime(const std::string& name) {
  struct stat status;
  return ::stat(name.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_mtime) : -1;
}

void SetFileModifiedTime(const std::string& name, std::int64_t seconds) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  ::utimensat(AT_FDCWD, name.c_str(), times, 0);
}

bool RemoveEmptyDirectory(const std::string& name) { return ::rmdir(name.c_str()) == 0 || errno == ENOENT; }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string_view GdalInstallAdvice() { return "(apt-get install gdal-bin)"; }

bool IsOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "";
  for (;;) {
    const std::size_t colon = folders.find(':');
    // An empty part of the PATH is the current folder.
    std::string candidate = colon == 0 || folders.empty() ? std::string(".") : std::string(folders.substr(0, colon));
    candidate.push_back('/');
    candidate.append(program);
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    folders.remove_prefix(colon + 1);
  }
}

int RunAndWait(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawnp(&child, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) return -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace rastrel::platform
