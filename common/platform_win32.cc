// Win32 implementation of the platform interface. Files and the console go
// through the Win32 API directly (no C runtime translation of line ends), and
// its error codes reach the user as they are.
#include <windows.h>

#include <atomic>

#include "command_line.h"
#include "platform.h"

namespace rastrel::platform {

namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

IoStatus LastStatus(Operation operation) { return StatusOf(static_cast<int>(::GetLastError()), operation); }

IoStatus WriteAll(HANDLE handle, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) return LastStatus(Operation::kOther);
    data += written;
    size -= written;
  }
  return IoStatus::Ok();
}

// Folders end at a slash or a backslash; a drive letter's colon ends a part too.
constexpr std::string_view kSeparators = "/\\:";

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of(kSeparators) + 1); }

}  // namespace

IoStatus StatusOf(int os_error, Operation) {
  // Windows' own codes 2 to 5 are the named conditions.
  if (os_error >= 2 && os_error <= 5) return IoStatus::Named(os_error);
  return IoStatus::System(os_error);
}

IoStatus OpenFile(const std::string& name, OpenMode mode, FileHandle& file) {
  const bool append = mode == OpenMode::kAppend;
  HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const Operation operation = append ? Operation::kAppend : Operation::kCreate;
  if (handle == INVALID_HANDLE_VALUE) return LastStatus(operation);
  if (append && ::SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    const IoStatus status = LastStatus(operation);
    ::CloseHandle(handle);
    return status;
  }
  file = reinterpret_cast<FileHandle>(handle);
  return IoStatus::Ok();
}

IoStatus WriteFile(FileHandle file, const char* data, std::size_t size) { return WriteAll(ToHandle(file), data, size); }

IoStatus CloseFile(FileHandle file) {
  return ::CloseHandle(ToHandle(file)) ? IoStatus::Ok() : LastStatus(Operation::kOther);
}

// Readers let others replace the file meanwhile, as on POSIX systems: another
// process may put a new copy of a tile in place while this one reads the old.
constexpr DWORD kReadersShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

IoStatus OpenFileForReading(const std::string& name, FileHandle& file) {
  HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ, kReadersShare, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastStatus(Operation::kAppend);
  file = reinterpret_cast<FileHandle>(handle);
  return IoStatus::Ok();
}

IoStatus ReadFile(FileHandle file, char* buffer, std::size_t capacity, std::size_t& got) {
  const DWORD chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
  DWORD count = 0;
  got = 0;
  if (!::ReadFile(ToHandle(file), buffer, chunk, &count, nullptr)) return LastStatus(Operation::kOther);
  got = count;
  return IoStatus::Ok();
}

bool IsDirectory(const std::string& name) {
  const DWORD attributes = ::GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Without the long-path prefix, which a relative name cannot take.
std::size_t LongestPathName() { return MAX_PATH - 1; }

bool IsExistingFile(const std::string& name) {
  const DWORD attributes = ::GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

IoStatus ReadWholeFile(const std::string& name, std::size_t limit, std::string& bytes) {
  HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ, kReadersShare, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A file in a folder that is not there is as missing as the folder.
    return ::GetLastError() == ERROR_PATH_NOT_FOUND ? IoStatus::Named(2) : LastStatus(Operation::kAppend);
  }
  LARGE_INTEGER size;
  IoStatus result = IoStatus::Ok();
  if (!::GetFileSizeEx(handle, &size)) {
    result = LastStatus(Operation::kOther);
  } else if (static_cast<unsigned long long>(size.QuadPart) > limit) {
    result = IoStatus::Named(8);
  } else {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() && !::ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
      result = LastStatus(Operation::kOther);
    }
    bytes.resize(got);
  }
  ::CloseHandle(handle);
  return result;
}

IoStatus MakeDirectory(const std::string& name) {
  if (::CreateDirectoryA(name.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return IoStatus::Ok();
  return LastStatus(Operation::kCreate);
}

IoStatus RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? IoStatus::Ok()
                                                                            : LastStatus(Operation::kCreate);
}

void RemoveFile(const std::string& name) { ::DeleteFileA(name.c_str()); }

std::string_view PathSeparators() { return kSeparators; }

IoStatus WriteStdout(const char* data, std::size_t size) {
  return WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), data, size);
}

IoStatus WriteStderr(const char* data, std::size_t size) {
  return WriteAll(::GetStdHandle(STD_ERROR_HANDLE), data, size);
}

IoStatus ReadStdin(char* buffer, std::size_t capacity, std::size_t& got) {
  const DWORD chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
  DWORD count = 0;
  got = 0;
  if (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, chunk, &count, nullptr)) {
    got = count;
    return IoStatus::Ok();
  }
  // A pipe whose writer has gone is the end of the input, not a failure.
  if (::GetLastError() == ERROR_BROKEN_PIPE) return IoStatus::Ok();
  return LastStatus(Operation::kOther);
}

void InitProcess() {
  // Failures are reported on the console, never in a dialog box.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::vector<std::string> CommandLineArguments(int, char**) {
  // The core's own splitting rules, not the C runtime's.
  return SplitCommandLine(SkipProgramName(::GetCommandLineA()));
}

std::string ProgramFileName(int, char**) {
  char path[MAX_PATH + 1];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "rastrel.exe";
  return BaseName(std::string(path, length));
}

std::uint32_t RelativeCodeAddress(const void* address) {
  const auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

std::string ToOemCodePage(const std::string& text) {
  std::string converted = text;
  if (!converted.empty()) ::CharToOemBuffA(text.data(), converted.data(), static_cast<DWORD>(text.size()));
  return converted;
}

namespace {

std::atomic<int> stop_status{0};

// Ctrl-C and Ctrl-Break are SIGINT's counterparts; closing the console, a
// log-off or a shutdown is SIGTERM's. The handler runs on a thread of its
// own, and for the last three Windows ends the process once it returns: it
// waits a little, so the run can remove what it had half made.
BOOL WINAPI NoteStop(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  stop_status = interrupt ? 130 : 143;
  if (!interrupt) ::Sleep(3000);
  return TRUE;
}

constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000;

// One argument as the C runtime splits it again: quoted when it holds a
// blank or a quote, with the backslashes before a quote doubled.
std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted.push_back('"');
  return quoted;
}

}  // namespace

void WatchStopRequests() { ::SetConsoleCtrlHandler(NoteStop, TRUE); }

int StopRequested() { return stop_status; }

bool StderrIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::int64_t FreeDiskBytes(const std::string& name) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(name.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<std::int64_t>(available.QuadPart);
}

std::int64_t FileModifiedTime(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return -1;
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
  return (ticks - kUnixEpochIn100ns) / 10000000;
}

void SetFileModifiedTime(const std::string& name, std::int64_t seconds) {
  HANDLE handle = ::CreateFileA(name.c_str(), FILE_WRITE_ATTRIBUTES, kReadersShare, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  const auto ticks = static_cast<std::uint64_t>(seconds * 10000000 + kUnixEpochIn100ns);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  ::SetFileTime(handle, nullptr, nullptr, &time);
  ::CloseHandle(handle);
}

bool RemoveEmptyDirectory(const std::string& name) {
  return ::RemoveDirectoryA(name.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
         ::GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

std::string_view GdalInstallAdvice() { return "(it comes with QGIS and OSGeo4W) and put its bin folder on the PATH"; }

bool IsOnPath(const std::string& program) {
  char found[MAX_PATH];
  return ::SearchPathA(nullptr, program.c_str(), ".exe", sizeof found, found, nullptr) != 0;
}

int RunAndWait(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line.push_back(' ');
    line.append(QuotedArgument(argument));
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  const bool exited = ::GetExitCodeProcess(process.hProcess, &status) != 0;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return exited ? static_cast<int>(status) : -1;
}

}  // namespace rastrel::platform
