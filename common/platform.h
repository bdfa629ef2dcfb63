// The one interface between rastrel and the operating system. Everything that
// touches files, the console, the command line or process details goes through
// here; platform_posix.cc and platform_win32.cc implement it, the build picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rastrel::platform {

// An open file, opaque to the rest of the program.
using FileHandle = std::intptr_t;

enum class OpenMode { kCreate, kAppend };

// What was being done when an operating system call failed.
enum class Operation { kCreate, kAppend, kOther };

// The outcome of a file or console operation as the user sees it: a named
// condition (2 file not found, 3 invalid filename, 4 too many open files,
// 5 access denied) or the operating system's own error number.
struct IoStatus {
  int code = 0;  // 0: success
  bool named = false;

  static IoStatus Ok() { return {}; }
  static IoStatus Named(int code) { return {code, true}; }
  static IoStatus System(int code) { return {code, false}; }
  bool Failed() const { return code != 0; }
};

// Maps the operating system's error number for a failed `operation`.
IoStatus StatusOf(int os_error, Operation operation);

IoStatus OpenFile(const std::string& name, OpenMode mode, FileHandle& file);
IoStatus WriteFile(FileHandle file, const char* data, std::size_t size);
IoStatus CloseFile(FileHandle file);
IoStatus OpenFileForReading(const std::string& name, FileHandle& file);
// Reads up to `capacity` bytes; `got` is 0 at the end of the file.
IoStatus ReadFile(FileHandle file, char* buffer, std::size_t capacity, std::size_t& got);
// True only for an existing entry that is not a directory.
bool IsExistingFile(const std::string& name);
// Reads the whole file `name` into `bytes`, refusing one larger than `limit`
// bytes (named condition 8, as memory must stay bounded) before reading it.
IoStatus ReadWholeFile(const std::string& name, std::size_t limit, std::string& bytes);
// Creates the folder `name`; one that exists already is success.
IoStatus MakeDirectory(const std::string& name);
// Gives the file `from` the name `to`, replacing a file of that name at once.
IoStatus RenameFile(const std::string& from, const std::string& to);
// Removes the file `name` if it is there; nothing to report otherwise.
void RemoveFile(const std::string& name);
// The bytes that separate folders in a file name.
std::string_view PathSeparators();

IoStatus WriteStdout(const char* data, std::size_t size);
IoStatus WriteStderr(const char* data, std::size_t size);
// Reads up to `capacity` bytes; `got` is 0 at the end of the input.
IoStatus ReadStdin(char* buffer, std::size_t capacity, std::size_t& got);

// Prepares the process (signals, console modes) before anything else runs.
void InitProcess();
// The command-line arguments after the program name, empty ones included.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// The program's file name without its directory.
std::string ProgramFileName(int argc, char** argv);
// A code address relative to the address the program was loaded at.
std::uint32_t RelativeCodeAddress(const void* address);
// Converts text from the ANSI to the console's OEM code page, where the
// platform distinguishes the two.
std::string ToOemCodePage(const std::string& text);

// ---- What rastrel-map needs besides --------------------------------------

// From here on, a request to stop (SIGINT or SIGTERM; on Windows Ctrl-C,
// Ctrl-Break or closing the console) is noted instead of ending the process.
void WatchStopRequests();
// 0 until a stop was requested, then the exit status that names it (130, 143).
int StopRequested();
bool StderrIsTerminal();
// Bytes free for this user in the folder `name`; -1 where the system cannot tell.
std::int64_t FreeDiskBytes(const std::string& name);
// A file's time of its last change in seconds since 1970; -1 for no such file.
std::int64_t FileModifiedTime(const std::string& name);
void SetFileModifiedTime(const std::string& name, std::int64_t seconds);
// True only for an existing folder.
bool IsDirectory(const std::string& name);
// The longest file name, folders included, that the system opens.
std::size_t LongestPathName();
// Removes the folder `name` if it is empty; true when it is gone now.
bool RemoveEmptyDirectory(const std::string& name);
// This process's number, which no other process running has.
std::uint32_t ProcessId();
// How this system's users get GDAL's programs, after "install GDAL".
std::string_view GdalInstallAdvice();
// Whether `program` is found in a folder of the PATH.
bool IsOnPath(const std::string& program);
// Runs `argv` (its program found on the PATH) and waits for it: its exit
// status, or -1 when it could not be started or did not exit by itself.
int RunAndWait(const std::vector<std::string>& argv);

}  // namespace rastrel::platform
