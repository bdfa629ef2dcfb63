// Stands in for a Netpbm program (copied as pngtopam.exe, pamcomp.exe, ...):
// writes its name and arguments as one line to standard output, where the
// calling script sends the image, and appends the same line to netpbm.log.
#include <cctype>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string name = argv[0];
  name = name.substr(name.find_last_of("/\\:") + 1);
  name = name.substr(0, name.rfind('.'));
  std::string line;
  for (char c : name) line += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  std::printf("%s\n", line.c_str());
  FILE* log = std::fopen("netpbm.log", "a");
  if (log == nullptr) return 1;
  std::fprintf(log, "%s\n", line.c_str());
  return std::fclose(log) == 0 ? 0 : 1;
}
