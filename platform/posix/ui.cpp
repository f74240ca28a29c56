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
  // The box above never waits for anyone: it is a line on standard error,
  // which a terminal, the journal or the caller's log shows. So it is always
  // "seen", and the programs keep it rather than drop their message.
  bool DesktopVisible() override { return true; }
  // There is no Application event log on POSIX. On the file server the
  // wrapper that runs the monitor reports each run to the journal and the
  // administrator's monitoring instead; the event is left out, and the call
  // fails as Windows fails a request it does not support.
  bool WriteEventLog(const std::string& source, EventType type, uint32_t id,
                     const std::string& text) override {
    SetLastError(kErrorNotSupported);
    return false;
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
