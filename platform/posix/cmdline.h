// Command-line texts as Windows splits and builds them (CommandLineToArgvW).
// Pure functions, so that they can be fuzzed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace plat::posix {

// Splits a whole command line: the program name ends at the next quote when
// it starts with one, else at the first blank or tab; the arguments follow
// the argument rules below.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Splits the argument part of a command line: blanks and tabs separate
// outside quotes; 2n backslashes and a quote give n backslashes and toggle
// quoting; 2n+1 backslashes and a quote give n backslashes and a quote;
// other backslashes stand for themselves; inside quotes `""` gives a quote.
std::vector<std::string> SplitArguments(std::string_view arguments);

// One argument quoted so that SplitArguments gives it back unchanged.
std::string QuoteArgument(std::string_view argument);

// Arguments joined with blanks, each quoted by QuoteArgument where needed.
std::string JoinArguments(const std::vector<std::string>& arguments);

}  // namespace plat::posix
