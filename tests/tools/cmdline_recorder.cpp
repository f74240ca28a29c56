// Writes the raw command line it received, as the platform layer gives it,
// to recorded_cmdline.txt in its current folder (whole, or not at all), so
// that tests can see exactly what a started program receives.
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

int main() {
  std::string line = plat::Native().system.CommandLine();
  {
    std::ofstream out("recorded_cmdline.tmp", std::ios::binary | std::ios::trunc);
    out << line;
  }
  std::error_code ignored;
  std::filesystem::rename("recorded_cmdline.tmp", "recorded_cmdline.txt", ignored);
  return 0;
}
