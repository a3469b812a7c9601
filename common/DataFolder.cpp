// Where an installed program keeps the user's files.
#include "common/DataFolder.h"

namespace common {

namespace fs = std::filesystem;

fs::path UserDataFolder(const char* program, const char* xdgDataHome, const char* home) {
    if (xdgDataHome && *xdgDataHome && fs::path(xdgDataHome).is_absolute()) {
        return fs::path(xdgDataHome) / program;
    }
    if (home && *home && fs::path(home).is_absolute()) {
        return fs::path(home) / ".local" / "share" / program;
    }
    return {};
}

}  // namespace common
