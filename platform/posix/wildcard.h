// Matching of directory-search patterns as Windows' FindFirstFile does:
// "*.*" is "*"; otherwise `?` becomes DOS_QM, `*` before `.` DOS_STAR and `.`
// before `?`, `*` or the end DOS_DOT, and the result is matched with the
// semantics of FsRtlIsNameInExpression, ignoring ASCII case. Pure functions.
#pragma once

#include <string>
#include <string_view>

namespace plat::posix {

// True when `pattern` holds `*` or `?`.
bool HasWildcards(std::string_view pattern);

// True when `name` matches the search pattern `pattern` (one name part).
bool MatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace plat::posix
