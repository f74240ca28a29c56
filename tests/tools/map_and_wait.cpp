// Loads a library and keeps it loaded (mapped) until a stop file appears, as
// a running application holds its libraries. Arguments: the library, a file
// to create once it is loaded, the stop file. Gives up after 30 seconds.
#include <fstream>
#include <string>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  plat::Platform& platform = plat::Native();
  uint32_t library = platform.libraries.Load(argv[1]);
  {
    std::ofstream ready(argv[2], std::ios::binary | std::ios::trunc);
    ready << (library != 0 ? "loaded" : "failed");
  }
  for (int waited = 0; waited < 3000; ++waited) {
    if (platform.files.GetAttributes(argv[3]) != plat::kInvalidAttributes) break;
    platform.clock.Sleep(10);
  }
  if (library != 0) platform.libraries.Free(library);
  return library != 0 ? 0 : 1;
}
