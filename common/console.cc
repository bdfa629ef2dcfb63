#include "console.h"

#include <algorithm>
#include <new>

#include "platform.h"

namespace rastrel {

bool LineReader::Refill() {
  if (finished_) return false;
  position_ = 0;
  end_ = source_(buffer_.data(), buffer_.size());
  finished_ = end_ == 0;
  return !finished_;
}

std::string LineReader::ReadLine() {
  std::string line;
  for (;;) {
    if (position_ == end_ && !Refill()) return line;
    const char* begin = buffer_.data() + position_;
    const char* end = buffer_.data() + end_;
    const char* special = std::find_if(begin, end, [](char c) { return c == '\n' || c == '\r' || c == '\x1a'; });
    line.append(begin, special);
    position_ = static_cast<std::size_t>(special - buffer_.data());
    if (special == end) continue;
    ++position_;
    if (*special == '\n') return line;
    if (*special == '\x1a') {
      finished_ = true;
      position_ = end_ = 0;
      return line;
    }
    // A CR is dropped wherever it stands.
  }
}

namespace {

constexpr const char* kKeyPrompts[] = {"X pocatek: ", "X konec: ", "Y pocatek: ", "Y konec: "};
constexpr const char* kMapNamePrompt = "Nazev mapy: ";
constexpr const char* kInstruction = "Zadej souradnice ve tvaru ????000h (napr. 7eb1000h jako \"7eb1\")";

bool WantsMapName(const ProgramProfile& profile) { return profile.argument_count == 5; }

void SetKey(GridRequest& request, std::size_t index, std::string_view text) {
  TileKey* keys[] = {&request.xstart, &request.xstop, &request.ystart, &request.ystop};
  *keys[index] = ParseTileKey(text);
}

GridRequest RequestFromArguments(const std::vector<std::string>& arguments) {
  GridRequest request;
  for (std::size_t i = 0; i < 4; ++i) SetKey(request, i, arguments[i]);
  if (arguments.size() == 5) request.map_name = arguments[4];
  return request;
}

std::size_t ReadStandardInput(char* buffer, std::size_t capacity) {
  std::size_t got = 0;
  CheckIo(platform::ReadStdin(buffer, capacity, got));
  return got;
}

// Asks for each value in turn; a key is parsed before the next prompt shows.
GridRequest RequestFromDialogue(const ProgramProfile& profile, TextSink& console) {
  console.WriteLine(profile.banner);
  console.WriteLine(kInstruction);
  LineReader input(ReadStandardInput);
  GridRequest request;
  for (std::size_t i = 0; i < 4; ++i) {
    console.Write(kKeyPrompts[i]);
    SetKey(request, i, input.ReadLine());
  }
  if (WantsMapName(profile)) {
    console.Write(kMapNamePrompt);
    request.map_name = input.ReadLine();
  }
  return request;
}

// The run itself, ending early with the usage line on a wrong argument count.
void Run(const ProgramProfile& profile, const std::vector<std::string>& arguments, TextSink& console) {
  GridRequest request;
  if (arguments.empty()) {
    request = RequestFromDialogue(profile, console);
  } else if (arguments.size() != profile.argument_count) {
    console.WriteLine(profile.usage);
    return;
  } else {
    request = RequestFromArguments(arguments);
  }
  console.WriteLine(FormatText("Generuji seznam z %dx%d vyrezu...", {TileCount(request.X()), TileCount(request.Y())}));
  profile.generate(request, console);
  console.Write("Hotovo.");
}

std::vector<std::string> NonEmptyArguments(int argc, char** argv) {
  std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
  std::erase(arguments, std::string());
  return arguments;
}

}  // namespace

int RunProgram(int argc, char** argv, const ProgramProfile& profile) {
  platform::InitProcess();
  const std::string program_name = platform::ProgramFileName(argc, argv);
  try {
    TextSink console(TextSink::Target::kStandardOutput);
    Run(profile, NonEmptyArguments(argc, argv), console);
    return 0;
  } catch (const Exception& failure) {
    return ReportFatal(failure, program_name);
  } catch (const std::bad_alloc&) {
    return ReportFatal(EOutOfMemory(reinterpret_cast<const void*>(&RunProgram)), program_name);
  }
}

}  // namespace rastrel
