// The user's data folder by the XDG base directory rules, for an installed program's files.
#pragma once

#include <filesystem>

namespace common {

// `$XDG_DATA_HOME/<program>`, or `$HOME/.local/share/<program>` when XDG_DATA_HOME is unset,
// empty or relative (the rules say a relative one is to be ignored). Empty when neither
// variable gives an absolute folder. Creates nothing.
std::filesystem::path UserDataFolder(const char* program, const char* xdgDataHome,
                                     const char* home);

}  // namespace common
