// The Linux settings store: the current user's registry tree in one text file
// in the registry's export format (registry_file.h, docs/settings.md).
//
// Readers read the whole file; it is only ever replaced whole (a temporary
// file beside it, flushed to disk, renamed over it), so a reader sees either
// the old or the new file and never a part of one. Writers hold an advisory
// lock on "<file>.lock" from reading the file to replacing it, so that two
// processes saving at once never lose each other's changes.
//
// A file that cannot be parsed is reported once on the standard error stream
// and read as an empty store. It is replaced only by a complete new file when
// settings are next saved, and is kept as "<file>.bad" then. A file that
// exists but cannot be read at all (permissions, I/O errors) is never
// replaced: writes fail instead.
#pragma once

#include <string>

namespace varnel {

// The store's file: $VARNEL_REGISTRY when set and not empty, else
// registry.reg in the configuration directory, beside the drives directory
// (ConfigDirectory() in drive_table_posix.h).
std::string RegistryFilePath();

}  // namespace varnel
