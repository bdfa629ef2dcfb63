// Stands in for a Netpbm program (copied as pngtopam.exe, pamcomp.exe): writes
// its name and arguments as one line to standard output, where the calling
// script sends the image, and appends the same line to netpbm.log.
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  std::string name = argv[0];
  std::string line = name.substr(name.find_last_of("/\\") + 1, name.rfind('.') - name.find_last_of("/\\") - 1);
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  std::cout << line << '\n';
  std::ofstream("netpbm.log", std::ios::app) << line << '\n';
}
