// Test helper for Windows builds: console_ctrl SIGNAL_FILE PROGRAM [ARGS...]
// starts PROGRAM in this console, waits until SIGNAL_FILE exists, sends the
// console a Ctrl-C and exits with PROGRAM's status. Where no Ctrl-C can be
// sent, it says why on standard output and exits with 77 (skipped).
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int Skip(const std::string& why) {
  std::printf("SKIP: no console Ctrl-C to send here (%s)\n", why.c_str());
  std::fflush(stdout);
  return 77;
}

std::string Failed(const char* call) { return std::string(call) + ": Windows error " + std::to_string(::GetLastError()); }

// The program's command line: this one's, without its first two arguments.
std::string ProgramCommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 2; i < argc; ++i) {
    if (!line.empty()) line += ' ';
    line.append("\"").append(argv[i]).append("\"");
  }
  return line;
}

HANDLE received = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);

// This process notes the Ctrl-C and lets it pass: a handler of its own, which,
// unlike the ignoring flag, the program does not inherit.
BOOL WINAPI NoteAndLetPass(DWORD) {
  ::SetEvent(received);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: console_ctrl SIGNAL_FILE PROGRAM [ARGS...]\n");
    return 2;
  }
  // Started with its output in pipes, the helper may be attached to a console
  // without a window, which takes no events (Wine's): it makes one that does.
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE), error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (::GetConsoleWindow() == nullptr) {
    ::FreeConsole();
    if (!::AllocConsole()) return Skip(Failed("AllocConsole"));
  }
  ::SetConsoleCtrlHandler(NoteAndLetPass, TRUE);
  for (HANDLE handle : {output, error}) ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = error;
  std::string line = ProgramCommandLine(argc, argv);
  PROCESS_INFORMATION process;
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "console_ctrl: cannot start %s: Windows error %lu\n", argv[2], ::GetLastError());
    return 2;
  }
  while (::GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) {
    if (::WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
  }
  if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
    ::TerminateProcess(process.hProcess, 1);
    return Skip(Failed("GenerateConsoleCtrlEvent"));
  }
  // Where the console does not deliver the event, this process does not see
  // it either; where it does, the program's status tells how it took it.
  if (::WaitForSingleObject(received, 10000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 1);
    return Skip("none delivered within 10 s");
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  ::GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}
