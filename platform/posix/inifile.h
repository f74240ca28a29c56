// The text transform of the Windows profile service's write of one key.
// Pure, so that it can be fuzzed: any bytes are a valid input.
#pragma once

#include <string>
#include <string_view>

namespace plat::posix {

// `text` (an INI file's bytes) with key=value set in [section]: the section
// and the key are found ignoring ASCII case and surrounding blanks; a found
// key line is replaced in place, a missing key is added after the last
// non-blank line of its section, a missing section is added at the end.
// Every other line is kept as it is; all lines end with CR LF.
std::string WriteIniValue(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value);

}  // namespace plat::posix
