// Stands in for a Netpbm program (copied as pngtopam.exe, pamcomp.exe,
// ppmmake.exe): writes its name and arguments as one line to standard output,
// where the calling script sends the image, and appends the same line to
// netpbm.log. Like the real reader, it fails with status 1 when its last
// argument is a path (it holds a backslash) to a missing or empty file.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  std::string name = argv[0];
  std::string line = name.substr(name.find_last_of("/\\") + 1, name.rfind('.') - name.find_last_of("/\\") - 1);
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  std::ofstream("netpbm.log", std::ios::app) << line << '\n';
  std::string input = argc > 1 ? argv[argc - 1] : "";
  std::error_code missing;
  auto size = std::filesystem::file_size(input, missing);
  if (input.find('\\') != std::string::npos && (missing || size == 0)) return 1;
  std::cout << line << '\n';
}
