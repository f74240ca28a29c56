// QZSTART's command line, mode dispatch and normal start. The normal start
// runs in the order of its files: this sequence, the installation identity
// (identity.h), the local files (localfiles.h), and the shell start at the
// end of start.cpp; support.h holds what all of them share.
#pragma once

#include <string>
#include <string_view>

#include "launcher/support.h"

namespace launcher {

// The four arguments of the command line, each cut at its capacity.
struct Arguments {
  std::string localFolder;  // 259
  std::string passThrough;  // 255
  std::string mode;         // 99: "WAIT4EXIT", a message, or a byte count
  std::string requestFile;  // 259
};

inline constexpr size_t kLocalFolderCapacity = 259;
inline constexpr size_t kPassThroughCapacity = 255;
inline constexpr size_t kModeCapacity = 99;
inline constexpr size_t kRequestFileCapacity = 259;

// Takes the next argument out of `source` into `argument` (at most `capacity`
// characters are kept) and gives the rest of the text. An argument with
// nothing in it, "" included, is `defaultValue`.
std::string_view NextArgument(std::string_view source, std::string& argument, size_t capacity,
                              std::string_view defaultValue);

// Skips the program's own name and parses the four arguments.
Arguments ParseCommandLine(std::string_view commandLine);

// The whole launcher run; the exit code is always 0.
int Run(plat::Platform& os);

// Chooses between the relay requests and the normal start.
void Dispatch(Context& context, Arguments& arguments);

// The normal start: checks the shared root, prepares the local folder and its
// copies, and starts the local PURCHASE.EXE. False when it stopped after a message.
bool NormalStart(Context& context, Arguments& arguments);

// True when an elevation request would prompt (user account control is on).
bool UacPromptsElevation(Context& context);

}  // namespace launcher
