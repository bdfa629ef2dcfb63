// Text output and failures: the formatter every output line is built with,
// the integer conversion behind tile keys, buffered text files and the console
// as sinks, the failure classes and the fatal report that ends a failed run.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform.h"

#ifndef RASTREL_FILE_BUFFER_SIZE
#error "RASTREL_FILE_BUFFER_SIZE must give the file buffer size (set by the build)"
#endif

namespace rastrel {

// ---- Failures ----------------------------------------------------------

// Base of every failure that ends a run. `address` is the code address the
// failure was raised at; the fatal report shows it.
class Exception {
 public:
  Exception(std::string message, const void* address)
      : message_(std::move(message)), address_(address) {}
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  const void* Address() const { return address_; }

 private:
  std::string message_;
  const void* address_;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EConvertError"; }
};

class EInOutError : public Exception {
 public:
  EInOutError(platform::IoStatus status, const void* address);
  const char* ClassName() const override { return "EInOutError"; }
  int Code() const { return status_.code; }

 private:
  platform::IoStatus status_;
};

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(const void* address) : Exception("Out of memory", address) {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

class EGridError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EGridError"; }
};

// The message a failed operation is reported with.
std::string InOutMessage(platform::IoStatus status);

// Raise helpers: each records its caller's address as the failure's address.
[[noreturn]] void RaiseInOutError(platform::IoStatus status);
[[noreturn]] void RaiseGridError(std::string message);
// The I/O check that follows every file and console operation.
inline void CheckIo(platform::IoStatus status) {
  if (status.Failed()) RaiseInOutError(status);
}
// The failure of a name that cannot be a file name.
inline platform::IoStatus InvalidFileName() { return platform::IoStatus::Named(3); }

// ---- Formatting --------------------------------------------------------

// The address directive's argument, already relative to the load address.
struct CodeAddress {
  std::uint32_t value;
};

// One argument of FormatText: an integer, a text or a code address.
struct FormatArg {
  enum class Kind { kInteger, kText, kAddress };

  template <std::integral T>
  FormatArg(T value) : kind(Kind::kInteger), integer(static_cast<std::int64_t>(value)) {}
  FormatArg(std::string_view value) : kind(Kind::kText), text(value) {}
  FormatArg(const char* value) : FormatArg(std::string_view(value)) {}
  FormatArg(const std::string& value) : FormatArg(std::string_view(value)) {}
  FormatArg(CodeAddress value) : kind(Kind::kAddress), integer(value.value) {}

  Kind kind;
  std::int64_t integer = 0;
  std::string_view text;
};

// Copies `format`, replacing each directive by the next argument:
// %d, %5d, %11d (decimal, right-aligned in the width), %.02d (at least two
// digits), %4x (32 bits unsigned, upper-case hex, right-aligned in 4), %s
// (text, copied as it is), %p (eight upper-case hex digits). Anything else,
// and a directive without an argument left, is copied literally.
std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args = {});

// Writes `value` in hexadecimal, at least `min_digits` digits filled with
// zeros, ending just before `end`; returns where the digits begin.
char* FormatHexDigits(char* end, std::uint32_t value, int min_digits, bool upper_case);

// A-Z become a-z; every other byte stays as it is. No locale is consulted.
void ToLowerAscii(std::string& text);

// The integer conversion of "$" followed by `digits`: 1 to 8 significant
// hexadecimal digits (any number of leading zeros) give the 32-bit value read
// as signed. Anything else raises EConvertError quoting "$" and the digits.
std::int32_t ConvertHexInteger(std::string_view digits);

// ---- Text sinks --------------------------------------------------------

// A text file bound to a name, or standard output. Lines end in CR LF. A file
// sink collects bytes in a buffer of 128 bytes (the build may choose another
// size) that is written when full and at close; the console passes on every
// write at once, so prompts show before input is read. Every operation is
// checked and raises EInOutError.
class TextSink {
 public:
  enum class Target { kFile, kStandardOutput };
  static constexpr std::size_t kBufferSize = RASTREL_FILE_BUFFER_SIZE;

  explicit TextSink(Target target = Target::kFile) : target_(target) {}
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;
  // A file still open while a failure unwinds gets its buffered bytes written
  // and is closed, both without checks: nothing produced is lost. Anywhere
  // else an open file here is a path that forgot Close(): the debug builds
  // stop on it.
  ~TextSink();

  void Bind(std::string name) { name_ = std::move(name); }
  void OpenCreate() { Open(platform::OpenMode::kCreate); }
  void OpenAppend() { Open(platform::OpenMode::kAppend); }
  void Write(std::string_view text) {
    // Most pieces fit the buffer whole: the hot path of every file.
    if (open_ && used_ + text.size() < kBufferSize) {
      std::memcpy(buffer_.data() + used_, text.data(), text.size());
      used_ += text.size();
      return;
    }
    WriteSlowly(text);
  }
  void EndLine() { Write("\r\n"); }
  void WriteLine(std::string_view text) {
    Write(text);
    EndLine();
  }
  void Close();

 private:
  void Open(platform::OpenMode mode);
  void WriteSlowly(std::string_view text);
  void WriteBuffered(std::string_view text);
  void FlushBuffer();

  Target target_;
  std::string name_;
  platform::FileHandle file_ = 0;
  bool open_ = false;
  std::size_t used_ = 0;
  std::array<char, kBufferSize> buffer_;
};

// True only for an existing entry that is not a directory.
bool IsExistingFile(const std::string& name);

// Whether a file may have the name `name` followed by `ending` (an ending
// with no folder separator and no NUL): no NUL byte, at most `longest`
// characters (259 by default, as on Windows without the long-path prefix),
// and its last part (after the platform's last folder separator) at most 255,
// the limit of the file systems in use. Other names are refused with
// "Invalid filename" before the system is asked. The two are judged without
// being joined, so a huge typed name is never copied to be refused.
bool IsUsableFileName(std::string_view name, std::string_view ending = {}, std::size_t longest = 259);

// ---- Fatal report ------------------------------------------------------

// The longest report shown; longer text is cut there.
inline constexpr std::size_t kMaxReportSize = 1023;

// The report's text: the failure's class, the program, the code address and
// the message with a period added unless it has one, cut at 1023 characters.
std::string FatalReportText(std::string_view class_name, std::string_view program_name, CodeAddress address,
                            std::string_view message);

// Writes the report of `failure` to standard error, in the console's code
// page and followed by an empty line, and returns the exit status of a failed
// run (1).
int ReportFatal(const Exception& failure, const std::string& program_name);

}  // namespace rastrel
