#include "textout.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <exception>

namespace rastrel {

// ---- Failures ----------------------------------------------------------

std::string InOutMessage(platform::IoStatus status) {
  if (!status.named) return FormatText("I/O error %d", {status.code});
  switch (status.code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    default:
      return FormatText("I/O error %d", {status.code});
  }
}

EInOutError::EInOutError(platform::IoStatus status, const void* address)
    : Exception(InOutMessage(status), address), status_(status) {}

[[gnu::noinline]] void RaiseInOutError(platform::IoStatus status) {
  throw EInOutError(status, __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseGridError(std::string message) {
  throw EGridError(std::move(message), __builtin_return_address(0));
}

// The message quotes no more of the text than the report can show, so a
// huge typed line is never copied.
[[gnu::noinline]] [[noreturn]] static void RaiseConvertError(std::string_view digits) {
  throw EConvertError(FormatText("'$%s' is not a valid integer value", {digits.substr(0, kMaxReportSize)}),
                      __builtin_return_address(0));
}

// ---- Formatting --------------------------------------------------------

namespace {

struct Directive {
  std::string_view text;
  enum class Style { kDecimal, kTwoDigits, kHex, kText, kAddress } style;
  int width;
};

constexpr Directive kDirectives[] = {
    {"%d", Directive::Style::kDecimal, 0},     {"%5d", Directive::Style::kDecimal, 5},
    {"%11d", Directive::Style::kDecimal, 11},  {"%.02d", Directive::Style::kTwoDigits, 0},
    {"%4x", Directive::Style::kHex, 4},        {"%s", Directive::Style::kText, 0},
    {"%p", Directive::Style::kAddress, 0},
};

const Directive* MatchDirective(std::string_view rest) {
  for (const Directive& directive : kDirectives) {
    if (rest.starts_with(directive.text)) return &directive;
  }
  return nullptr;
}

void AppendPadded(std::string& out, std::string_view digits, std::size_t width, char fill) {
  if (digits.size() < width) out.append(width - digits.size(), fill);
  out.append(digits);
}

// Decimal digits of `value` with a minus sign when negative.
std::string_view DecimalText(std::int64_t value, std::array<char, 24>& buffer) {
  char* end = buffer.data() + buffer.size();
  char* p = end;
  // Work on the magnitude as unsigned so the most negative value is safe.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : value;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  return std::string_view(p, static_cast<std::size_t>(end - p));
}

void AppendDirective(std::string& out, const Directive& directive, const FormatArg& arg) {
  std::array<char, 24> buffer;
  char* end = buffer.data() + buffer.size();
  switch (directive.style) {
    case Directive::Style::kDecimal:
      AppendPadded(out, DecimalText(arg.integer, buffer), directive.width, ' ');
      return;
    case Directive::Style::kTwoDigits: {
      std::string_view digits = DecimalText(arg.integer, buffer);
      if (arg.integer < 0) {
        out += '-';
        digits.remove_prefix(1);
      }
      AppendPadded(out, digits, 2, '0');
      return;
    }
    case Directive::Style::kHex: {
      const char* begin = FormatHexDigits(end, static_cast<std::uint32_t>(arg.integer), 1, true);
      AppendPadded(out, std::string_view(begin, static_cast<std::size_t>(end - begin)), directive.width, ' ');
      return;
    }
    case Directive::Style::kText:
      out.append(arg.text);
      return;
    case Directive::Style::kAddress: {
      const char* begin = FormatHexDigits(end, static_cast<std::uint32_t>(arg.integer), 8, true);
      out.append(begin, static_cast<std::size_t>(end - begin));
      return;
    }
  }
}

}  // namespace

char* FormatHexDigits(char* end, std::uint32_t value, int min_digits, bool upper_case) {
  const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  char* p = end;
  for (int count = 0; count < min_digits || value != 0; ++count) {
    *--p = digits[value & 0xF];
    value >>= 4;
  }
  return p;
}

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  const FormatArg* next = args.begin();
  while (!format.empty()) {
    const std::size_t percent = format.find('%');
    out.append(format.substr(0, percent));
    if (percent == std::string_view::npos) break;
    format.remove_prefix(percent);
    const Directive* directive = MatchDirective(format);
    if (directive == nullptr || next == args.end()) {
      out += '%';
      format.remove_prefix(1);
      continue;
    }
    AppendDirective(out, *directive, *next++);
    format.remove_prefix(directive->text.size());
  }
  return out;
}

void ToLowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::int32_t ConvertHexInteger(std::string_view digits) {
  if (digits.empty()) RaiseConvertError(digits);
  std::uint32_t value = 0;
  int significant = 0;
  for (char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) RaiseConvertError(digits);
    if (value != 0 || digit != 0) ++significant;
    if (significant > 8) RaiseConvertError(digits);
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

// ---- Text sinks --------------------------------------------------------

TextSink::~TextSink() {
  if (!open_) return;
  // Only a failure on its way to the report may leave a file open: a path
  // that completes must close its files, or their last bytes would go unchecked.
  assert(std::uncaught_exceptions() > 0 && "a file sink was destroyed while still open");
  platform::WriteFile(file_, buffer_.data(), used_);
  platform::CloseFile(file_);
}

void TextSink::Open(platform::OpenMode mode) {
  if (!IsUsableFileName(name_)) RaiseInOutError(InvalidFileName());
  CheckIo(platform::OpenFile(name_, mode, file_));
  open_ = true;
  used_ = 0;
}

void TextSink::WriteSlowly(std::string_view text) {
  if (target_ == Target::kStandardOutput) {
    CheckIo(platform::WriteStdout(text.data(), text.size()));
    return;
  }
  // A file that was never opened cannot take bytes ("file not open").
  if (!open_) RaiseInOutError(platform::IoStatus::System(103));
  WriteBuffered(text);
}

void TextSink::WriteBuffered(std::string_view text) {
  while (!text.empty()) {
    const std::size_t count = std::min(kBufferSize - used_, text.size());
    std::memcpy(buffer_.data() + used_, text.data(), count);
    used_ += count;
    text.remove_prefix(count);
    if (used_ == kBufferSize) FlushBuffer();
  }
}

void TextSink::FlushBuffer() {
  const std::size_t size = used_;
  used_ = 0;  // bytes the system refused are dropped, not retried
  CheckIo(platform::WriteFile(file_, buffer_.data(), size));
}

void TextSink::Close() {
  if (target_ == Target::kStandardOutput || !open_) return;
  const platform::IoStatus write_error = platform::WriteFile(file_, buffer_.data(), used_);
  used_ = 0;
  open_ = false;
  const platform::IoStatus close_error = platform::CloseFile(file_);
  CheckIo(write_error);
  CheckIo(close_error);
}

bool IsExistingFile(const std::string& name) { return platform::IsExistingFile(name); }

bool IsUsableFileName(std::string_view name, std::string_view ending, std::size_t longest) {
  constexpr std::size_t kMaxPart = 255;
  // The system would stop at a NUL and open another file than the one named.
  if (name.find('\0') != std::string_view::npos) return false;
  const std::size_t last_separator = name.find_last_of(platform::PathSeparators());
  const std::size_t part = last_separator == std::string_view::npos ? name.size() : name.size() - last_separator - 1;
  return name.size() + ending.size() <= longest && part + ending.size() <= kMaxPart;
}

// ---- Fatal report ------------------------------------------------------

std::string FatalReportText(std::string_view class_name, std::string_view program_name, CodeAddress address,
                            std::string_view message) {
  const char* period = !message.empty() && message.back() != '.' ? "." : "";
  std::string report =
      FormatText("Exception %s in module %s at %p.\r\n%s%s\r\n", {class_name, program_name, address, message, period});
  if (report.size() > kMaxReportSize) report.resize(kMaxReportSize);
  return report;
}

int ReportFatal(const Exception& failure, const std::string& program_name) {
  // Standard output is passed on at every write, so nothing is left to flush.
  const CodeAddress address{platform::RelativeCodeAddress(failure.Address())};
  const std::string report =
      platform::ToOemCodePage(FatalReportText(failure.ClassName(), program_name, address, failure.Message())) +
      "\r\n";
  platform::WriteStderr(report.data(), report.size());
  return 1;
}

}  // namespace rastrel
