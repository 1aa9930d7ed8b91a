// Linux has no dialogs: the three dialog exports record "operation not
// supported" before anything here would run.
#include "dialogs/dialog_runner.h"

namespace varnel {

bool DialogsAvailable() { return false; }
int RunCameraDialog(WindowHandle, CameraDialog&) { return -1; }
int RunFilterDialog(WindowHandle, FilterDialog&, DialogWindowSlot&) { return -1; }
int RunAnalogDialog(WindowHandle, AnalogDialog&, DialogWindowSlot&) { return -1; }
void RequestDialogRefresh(const DialogWindowSlot&) {}

}  // namespace varnel
