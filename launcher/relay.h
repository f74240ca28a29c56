// Small requests that other programs make through the launcher: show a
// message, show a message file, and start a program and answer in a file.
#pragma once

#include <string>

#include "launcher/support.h"

namespace launcher {

// Shows the third argument: after an "ERR:" prefix with the stop icon,
// otherwise with the information icon.
void HandleMessageRequest(Context& context, const std::string& message);

// With "{RUN}" as the pass-through text, starts the command held in the
// request file and rewrites the file with the response; otherwise shows the
// file's text and deletes the file. `byteCount` bounds what is read.
void HandleRequestFile(Context& context, const std::string& passThrough,
                       const std::string& byteCount, const std::string& requestFile);

// The decimal number at the start of a text, as atol reads it (blanks, a
// sign, digits); 0 without digits; clamped to [0, limit].
size_t ParseByteCount(const std::string& text, size_t limit);

// Cuts a run request's command into its program and parameters: the program
// is the command up to and including the first ".EXE" (else ".exe", else
// ".Exe"); the character after it separates the parameters. False when none
// of the three forms occurs.
bool SplitRunCommand(const std::string& command, std::string& program, std::string& parameters);

// Reads at most `count` characters in text mode: each CR LF pair comes out as
// LF, and a 0x1A byte ends the text.
std::string ReadTextMode(plat::File& file, size_t count);

}  // namespace launcher
