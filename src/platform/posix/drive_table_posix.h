// The Linux drives directory: laid out like a Wine prefix's dosdevices, with
// `x:` naming a drive's root (a directory or mount) and `x::` its raw volume (a
// block device or a file).
#pragma once

#include <string>

namespace varnel {

// The library's per-user configuration directory: $XDG_CONFIG_HOME/varnel when
// XDG_CONFIG_HOME is set and not empty, else ~/.config/varnel.
std::string ConfigDirectory();

// The directory: $VARNEL_DRIVES when set and not empty, else
// ConfigDirectory()/drives.
std::string DrivesDirectory();

// Path of `x:` (root) or `x::` (volume) for `letter` ('A'..'Z'). The entry is
// looked up in lower case first (as Wine writes it), then in upper case; when
// neither exists the lower-case path is returned.
std::string DriveEntryPath(char letter, bool volume);

}  // namespace varnel
