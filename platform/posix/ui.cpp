#include <cstdio>

#include "platform/platform.h"
#include "platform/posix/facets.h"

namespace plat::posix {

namespace {

constexpr int kIdOk = 1;

// There is no desktop: a message box is a line on standard error, answered with OK.
class PosixUserInterface : public UserInterface {
 public:
  int ShowMessageBox(uint32_t owner, const std::string& text, const std::string& caption,
                     uint32_t style) override {
    std::string line = caption + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return kIdOk;
  }
  uint32_t DesktopWindow() override { return 0; }
  void ShowWaitCursor() override {}
  void RemoveQueuedMessage(uint32_t message) override {}
};

}  // namespace

UserInterface& NativeUserInterface() {
  static PosixUserInterface ui;
  return ui;
}

}  // namespace plat::posix
