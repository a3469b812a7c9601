// Replacing a file's whole contents so that a crash leaves either the old file or the new one.
#pragma once

#include <filesystem>
#include <string>

namespace common {

// Writes `bytes` to a temporary file in the target's folder, flushes and syncs it, renames it
// over `path` and syncs the folder. The file keeps the permission bits of the file it replaces
// (a new one gets the usual 0666 less the umask). Raises EFileError
// "Cannot create file "<path>". <reason>" when any step fails; the old file is then untouched
// and no temporary file is left behind.
void ReplaceFileContents(const std::filesystem::path& path, const std::string& bytes);

// Removes the temporary files that a replacement of `path` interrupted by a crash left in its
// folder. Nothing else is touched.
void RemoveTemporaryFiles(const std::filesystem::path& path);

}  // namespace common
