// Showing the three settings dialogs. On Windows they are modal dialogs made
// from the library's own templates, English or Japanese by the system's
// default language; on Linux there are no dialogs (DialogsAvailable is
// false and the exports record "operation not supported").
//
// A dialog that the frame thread must keep current (the filter dialog after
// an automatic white balance or gray gain step, the analog dialog after an
// automatic exposure step) publishes its window in a DialogWindowSlot while
// it is open. The frame thread never calls into the dialog: it posts a
// refresh request to the published window, and the dialog reloads its
// controls from the instance on its own thread.
#pragma once

#include <atomic>

#include "platform/window_messages.h"

namespace varnel {

class AnalogDialog;
class CameraDialog;
class FilterDialog;

using DialogWindowSlot = std::atomic<WindowHandle>;

// Whether this platform shows dialogs at all.
bool DialogsAvailable();

// Each runs its dialog modally with `owner` as the parent and returns how it
// ended: 1 OK, 2 Cancel (or closed any other way), -1 when it could not be
// shown.
int RunCameraDialog(WindowHandle owner, CameraDialog& dialog);
int RunFilterDialog(WindowHandle owner, FilterDialog& dialog, DialogWindowSlot& published);
int RunAnalogDialog(WindowHandle owner, AnalogDialog& dialog, DialogWindowSlot& published);

// Asks the dialog published in `slot`, if any, to reload its controls. Safe
// from any thread: it only posts a message.
void RequestDialogRefresh(const DialogWindowSlot& slot);

}  // namespace varnel
