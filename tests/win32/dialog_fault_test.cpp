// The fault campaign's state "during a dialog": a camera streams, one of the
// settings dialogs is open on the application's thread, and the head fails
// (every fault of the campaign's table, removal included) while a helper
// thread works the dialog and frames flow. Each user action, the dialog's
// opening and its ending must keep the application's thread no longer than
// any call may; Cancel and OK must leave the instance's values as the
// dialogs document; once the head recovers (or comes back) the next start
// delivers frames; and the process's handles must not grow from case to
// case. The other states are in tests/api/fault_campaign_test.cpp.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/dialog_ids.h"
#include "support/camera_session.h"
#include "support/fault_campaign.h"
#include "support/test_clock.h"
#include "support/wait_until.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'F';
constexpr int kBrightness = 1, kPhase = 12;

// ---- finding and working the open dialog --------------------------------------

bool IsDialogClass(HWND window) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  return std::string(name) == "#32770";
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && IsDialogClass(window)) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  }
  return TRUE;
}

std::vector<HWND> OpenDialogs() {
  std::vector<HWND> found;
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WaitForNewDialog(const std::vector<HWND>& known) {
  HWND found = nullptr;
  WaitUntil([&] {
    for (HWND window : OpenDialogs()) {
      if (std::find(known.begin(), known.end(), window) == known.end()) found = window;
    }
    return found != nullptr;
  });
  return found;
}

struct PageSearch {
  int id;
  HWND page;
};
BOOL CALLBACK FindPage(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<PageSearch*>(param);
  if (IsDialogClass(window) && GetDlgItem(window, search->id) != nullptr) {
    search->page = window;
    return FALSE;
  }
  return TRUE;
}

// The page inside the frame's tab control that holds `id`.
HWND PageWith(HWND frame, int id) {
  PageSearch search{id, nullptr};
  EnumChildWindows(frame, FindPage, reinterpret_cast<LPARAM>(&search));
  return search.page;
}

// Each of these sends to the dialog's thread, so the dialog has handled the
// change when the call returns.
void TypeNumber(HWND window, int id, int value) {
  SetDlgItemInt(window, id, static_cast<UINT>(value), TRUE);
}
// A check box clicked into `state`.
void Click(HWND window, int id, bool state = true) {
  HWND button = GetDlgItem(window, id);
  SendMessageA(button, BM_SETCHECK, state ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}
void Press(HWND window, int id) {
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}
void Choose(HWND window, int list, int index) {
  HWND control = GetDlgItem(window, list);
  SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(control));
}

int Filter(CameraHandle handle, int id) {
  int valid = 0;
  return Varnel_GetFilterValue(handle, id, &valid);
}

enum class Kind { kAnalog, kImage, kCamera };

const char* Name(Kind kind) {
  switch (kind) {
    case Kind::kAnalog:
      return "analog dialog";
    case Kind::kImage:
      return "image dialog";
    default:
      return "camera dialog";
  }
}

class DialogFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    options_.clock = &clock_;
    // The dialogs run on this thread, inside the export.
    clock_.Watch(std::this_thread::get_id());
  }

  // What one stretch of the dialog's thread slept: checked against the bound.
  // Called from the helper thread too, so failures are kept until the case
  // ends and reported from the test's thread.
  void Tally(const std::string& what, uint64_t slept) {
    std::lock_guard lock(mutex_);
    if (slept > kCallBoundMs) {
      failures_.push_back(what + " kept the application's thread " + std::to_string(slept) + " ms");
    }
    if (slept > longest_) longest_ = slept, longestCall_ = what;
    ++calls_;
  }
  void Fail(const std::string& what) {
    std::lock_guard lock(mutex_);
    failures_.push_back(what);
  }

  // An export called by the test's thread, as in the rest of the campaign.
  int Call(const std::string& what, const std::function<int()>& call) {
    watchdog_.Arm(what);
    const uint64_t before = TallyClock::ThreadSlept();
    const int result = call();
    Tally(what, TallyClock::ThreadSlept() - before);
    watchdog_.Disarm();
    return result;
  }

  // A user action on the open dialog, from the helper thread: the dialog's
  // thread handles it while the helper waits, and what that thread slept
  // meanwhile is what the action kept the application waiting.
  void Act(const std::string& what, const std::function<void()>& action) {
    watchdog_.Arm(what);
    const uint64_t before = clock_.WatchedSlept();
    action();
    Tally(what, clock_.WatchedSlept() - before);
    watchdog_.Arm("the open dialog");
  }

  // One case: stream, open the dialog, inject the fault while it is open
  // and frames flow, change something, end the dialog with `ending`, check
  // the values, recover, start again.
  void RunCase(Kind kind, const Fault& fault, int ending) {
    CameraSession s(kModelHXA1, 1, kLetter, options_);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    ASSERT_EQ(Varnel_SetAutoIris(h, 1), 1);
    const int brightnessBefore = Filter(h, kBrightness);
    const int phaseBefore = Filter(h, kPhase);
    const int mirrorBefore = Varnel_GetMirrorV(h);
    ASSERT_EQ(Varnel_StartPreview(h), 1);
    ASSERT_TRUE(AwaitNewFrame(h));

    const std::vector<HWND> before = OpenDialogs();
    const uint64_t openedFrom = clock_.WatchedSlept();
    uint64_t endedFrom = 0;
    std::thread helper([&] {
      const HWND frame = WaitForNewDialog(before);
      if (frame == nullptr) {
        Fail("no dialog appeared");
        return;
      }
      Tally("opening the " + std::string(Name(kind)), clock_.WatchedSlept() - openedFrom);
      // The camera dialog stops the stream while it is open; the others
      // leave frames flowing.
      if (kind != Kind::kCamera && !AwaitNewFrame(h)) Fail("no frame while the dialog is open");
      Inject(s, fault);
      switch (kind) {
        case Kind::kAnalog: {
          const HWND page = PageWith(frame, IDC_GLOBAL_GAIN_EDIT);
          Act("typing a gain", [&] { TypeNumber(page, IDC_GLOBAL_GAIN_EDIT, 20); });
          Act("typing an exposure", [&] { TypeNumber(page, IDC_EXPOSURE_EDIT, 300); });
          // The box is turned over: the model's stored default has it checked.
          Act("turning mirror V over", [&] { Click(page, IDC_MIRROR_V, mirrorBefore == 0); });
          Act("checking automatic gain", [&] { Click(page, IDC_AUTO_IRIS_GAIN); });
          break;
        }
        case Kind::kImage: {
          const HWND page = PageWith(frame, IDC_BRIGHTNESS_EDIT);
          Act("typing a brightness",
              [&] { TypeNumber(page, IDC_BRIGHTNESS_EDIT, brightnessBefore + 17); });
          if (Filter(h, kBrightness) != brightnessBefore + 17) Fail("brightness while open");
          break;
        }
        case Kind::kCamera:
          Act("choosing a colour", [&] { Choose(frame, IDC_COLOR_LIST, 0); });  // mono 8-bit
          break;
      }
      // The application's other threads go on copying pictures out.
      std::vector<uint8_t> picture(static_cast<size_t>(StrideOf(256, 3)) * 64);
      const uint64_t copyFrom = TallyClock::ThreadSlept();
      Varnel_GetImage(h, picture.data(), static_cast<int>(picture.size()), 1);
      Tally("GetImage beside the dialog", TallyClock::ThreadSlept() - copyFrom);
      endedFrom = clock_.WatchedSlept();
      watchdog_.Arm(ending == IDOK ? "OK" : "Cancel");
      Press(frame, ending);
    });
    watchdog_.Arm(Name(kind));
    int result = 0;
    switch (kind) {
      case Kind::kAnalog:
        result = Varnel_SetAnalogDlg(h, nullptr);
        break;
      case Kind::kImage:
        result = Varnel_SetImageDlg(h, nullptr);
        break;
      case Kind::kCamera:
        result = Varnel_SetCameraDlg(h, nullptr);
        break;
    }
    helper.join();
    // Ending: from the button to the export's return (the instance puts
    // values back or restarts the stream after the window has gone).
    Tally(ending == IDOK ? "ending with OK" : "ending with Cancel",
          clock_.WatchedSlept() - endedFrom);
    watchdog_.Disarm();
    ++injected_[kind];
    {
      std::lock_guard lock(mutex_);
      for (const std::string& failure : failures_) ADD_FAILURE() << failure;
      failures_.clear();
    }
    EXPECT_EQ(result, 1);

    // What the ending leaves: values kept by OK, put back by anything else.
    // These live in the instance, whatever the head did with what was sent.
    const bool ok = ending == IDOK;
    int valid = 0;
    switch (kind) {
      case Kind::kAnalog:
        EXPECT_EQ(Filter(h, kPhase), ok ? phaseBefore ^ 1 : phaseBefore) << "Bayer phase";
        EXPECT_EQ(Varnel_GetAutoIris(h, &valid), ok ? 2 : 1) << "automatic mode";
        break;
      case Kind::kImage:
        EXPECT_EQ(Filter(h, kBrightness), ok ? brightnessBefore + 17 : brightnessBefore);
        break;
      case Kind::kCamera:
        EXPECT_EQ(Varnel_GetColorMode(h), ok ? 8 : 24) << "colour mode";
        break;
    }
    EXPECT_EQ(Call("StopPreview", [&] { return Varnel_StopPreview(h); }), 1);
    for (int code : s.Errors()) EXPECT_TRUE(Documented(code)) << "error code " << code;

    // The head recovers (or is plugged in again): the next start works.
    Recover(s, fault, options_);
    s.Errors();
    if (kind == Kind::kCamera && ok) {
      // OK loaded the stored window and format; the picture checks below
      // read the campaign's own.
      ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
      ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
    }
    ASSERT_EQ(Call("StartPreview", [&] { return Varnel_StartPreview(h); }), 1)
        << ::testing::PrintToString(s.Errors());
    EXPECT_TRUE(AwaitNewFrame(h)) << "no frame after recovery";
    EXPECT_EQ(Call("StopPreview", [&] { return Varnel_StopPreview(h); }), 1);
  }

  TallyClock clock_;
  ScopedCurrentClock installed_{&clock_};
  HeadOptions options_;
  Watchdog watchdog_;
  std::mutex mutex_;
  std::vector<std::string> failures_;
  std::map<Kind, int> injected_;
  uint64_t longest_ = 0;
  std::string longestCall_;
  int calls_ = 0;
};

// Fault caught, for each fault of the head while each dialog is open: a
// dialog action or ending that hangs or waits past the single-frame bound on
// a head that does not answer, a crash when the head goes away under an open
// dialog, Cancel not putting the instance's values back (or OK not keeping
// them) when what was sent failed, a stream the camera dialog cannot restart
// or stop, an instance that stays broken after the head comes back, and a
// handle kept by any of it.
TEST_F(DialogFaultTest, EveryFaultDuringEachDialog) {
  const Kind kinds[] = {Kind::kAnalog, Kind::kImage, Kind::kCamera};
  unsigned long handlesAfterFirst = 0;
  int cases = 0;
  for (Kind kind : kinds) {
    for (const Fault& fault : kFaults) {
      for (int ending : {IDCANCEL, IDOK}) {
        SCOPED_TRACE(std::string(Name(kind)) + ", " + fault.name +
                     (ending == IDOK ? ", OK" : ", Cancel"));
        RunCase(kind, fault, ending);
        if (HasFatalFailure()) return;
        ++cases;
        if (handlesAfterFirst == 0) handlesAfterFirst = ProcessHandles();
      }
    }
  }
  // Every case opens the volume, a dialog window, threads and events: a
  // handle kept by any of them would show here many times over.
  const unsigned long handlesAtEnd = ProcessHandles();
  ASSERT_NE(handlesAfterFirst, 0u);
  EXPECT_LE(handlesAtEnd, handlesAfterFirst + 8)
      << "handles after the first case " << handlesAfterFirst << ", at the end " << handlesAtEnd;
  std::printf(
      "during a dialog: %d cases (analog %d, image %d, camera %d), %d calls and actions checked, "
      "the longest %s (%llu ms on the library's clock, bound %llu); process handles after the "
      "first case %lu, after the last %lu\n",
      cases, injected_[Kind::kAnalog], injected_[Kind::kImage], injected_[Kind::kCamera], calls_,
      longestCall_.c_str(), static_cast<unsigned long long>(longest_),
      static_cast<unsigned long long>(kCallBoundMs), handlesAfterFirst, handlesAtEnd);
}

}  // namespace
}  // namespace varnel::testing
