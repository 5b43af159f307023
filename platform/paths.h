// The program folder and the per-user folders the system works in.
#pragma once

#include <string>

namespace ys::paths {

// Folder of the running executable (no trailing "/").
std::string ProgramDir();

// $XDG_DATA_HOME/Norvane, by default ~/.local/share/Norvane. Not created here.
std::string DataDir();

// The XDG documents folder (from user-dirs.dirs), by default ~/Documents.
std::string DocumentsDir();

// Creates the folder and its parents, each new one with `mode` (as the umask lets it); an existing
// folder is fine and keeps its mode. False when it cannot be made.
bool MakeDirs(const std::string& dir, unsigned mode = 0755);

// The data folder holds a name, an address and a phone number: a new one is for its owner only.
inline constexpr unsigned kDataDirMode = 0700;

std::string Join(const std::string& dir, const std::string& name);

}  // namespace ys::paths
