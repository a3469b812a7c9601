// Replacing a file's whole contents so that a crash leaves either the old file or the new one.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace common {

// Writes `bytes` to a temporary file in the target's folder, flushes and syncs it, renames it
// over the target and syncs the folder. Symbolic links on the way are followed, so a link stays
// a link and the file it names is replaced. The file keeps the permission bits, owner and
// group of the file it replaces (a new one gets the usual 0666 less the umask). Where the
// folder refuses new files (EACCES, EPERM, EROFS) but the file itself can be written, it is
// rewritten in place and synced instead: not crash-safe, and a failed write puts the old bytes
// back. Any other failure (a full disk, a quota, an I/O error) raises EFileError "Cannot
// create file "<path>". <reason>"; the old file is then untouched and no temporary file is
// left behind. The temporary file is ".<name>.save~<pid>.XXXXXX".
void ReplaceFileContents(const std::filesystem::path& path, const std::string& bytes);
// The same for contents made a piece at a time, so that a large file is never whole in memory:
// `pieces` is called until it returns false, each time filling the string it is given (empty
// on each call). What `pieces` raises leaves the old file as it was and no temporary file.
void ReplaceFileContents(const std::filesystem::path& path,
                         const std::function<bool(std::string&)>& pieces);

// Removes the temporary files that a replacement of `path` interrupted by a crash left in its
// folder: only names of the form above whose process is gone (or is this one). Nothing else,
// such as a file a copy tool is delivering under a name of its own, is touched.
void RemoveTemporaryFiles(const std::filesystem::path& path);

}  // namespace common
