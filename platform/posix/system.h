// How a program on POSIX finds its raw command-line text. A program that this
// layer starts receives the exact text in QZ_CMDLINE, which the child reads
// once and removes; it counts only when it splits into the child's own
// arguments, so that a value passed on by a foreign program is ignored.
// Without it, the arguments are joined with blanks, with double quotes around
// every word that is empty or holds a blank.
#pragma once

#include <string>
#include <vector>

namespace plat::posix {

constexpr const char* kCommandLineVariable = "QZ_CMDLINE";

// True when `text` split as Windows splits a command line gives argv[1..].
bool CommandLineMatches(const std::string& text, const std::vector<std::string>& argv);

// The arguments joined with blanks, quoting every word that is empty or holds a blank.
std::string JoinPlainly(const std::vector<std::string>& argv);

}  // namespace plat::posix
