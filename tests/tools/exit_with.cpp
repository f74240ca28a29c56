// Ends with the exit code given as its first argument, once the file named by
// its second argument exists (at once without one; it gives up after 30
// seconds), so that tests can see a started program run and then end.
#include <cstdlib>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  plat::Platform& platform = plat::Native();
  for (int waited = 0; argc > 2 && waited < 3000; ++waited) {
    if (platform.files.GetAttributes(argv[2]) != plat::kInvalidAttributes) break;
    platform.clock.Sleep(10);
  }
  return std::atoi(argv[1]);
}
