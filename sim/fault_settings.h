// The virtual head's fault switches as text: one `NAME VALUE` a line. This is
// what the FUSE daemon's `faults` file shows when read and takes when
// written, so that any program (a test in another language, the Windows
// library under Wine) can make the camera misbehave as the in-process head's
// switches do.
#pragma once

#include <string>

#include "sim/virtual_head.h"

namespace varnel {

// The switches and whether the head has been removed, as text: every name,
// in a fixed order, one a line.
std::string FormatFaultSettings(const HeadFaults& faults, bool removed);

// Changes the settings named in `text` (lines of `NAME VALUE`; empty lines
// and lines starting with '#' are skipped; names not given keep their
// values). `removed` is set to 0 or 1 when the text names it, else left
// alone. False, with `error` saying which line is wrong and nothing changed,
// for an unknown name or a value out of its range.
bool ParseFaultSettings(const std::string& text, HeadFaults* faults, int* removed,
                        std::string* error);

// The names and what each does, for --help and the documentation.
extern const char kFaultSettingsHelp[];

}  // namespace varnel
