// The three settings dialogs, driven as a user drives them: the dialog runs
// modally on the test's thread inside the export, and a helper thread finds
// it, sets its controls through window messages and presses its buttons.
// What the dialog did is read back through the C interface (while it is open
// and after it ends) and from the registry.
//
// The same program runs once more under a Japanese system locale (see
// extra.cmake): each test then expects the Japanese templates.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/dialog_ids.h"
#include "support/camera_session.h"
#include "support/scene_check.h"
#include "support/settings_store_guard.h"
#include "support/wait_until.h"
#include "varnel.h"

namespace varnel {
namespace {

using testing::CameraSession;

bool JapaneseSystem() { return GetSystemDefaultLangID() == 1041; }

// ---- finding and working the dialog's controls -------------------------------

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

// Shown top-level dialogs of this process.
std::vector<HWND> OpenDialogs() {
  std::vector<HWND> found;
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WaitForNewDialog(const std::vector<HWND>& known) {
  HWND found = nullptr;
  testing::WaitUntil([&] {
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

// The page (a child dialog inside the frame's tab control) that holds `id`.
HWND PageWith(HWND frame, int id) {
  PageSearch search{id, nullptr};
  EnumChildWindows(frame, FindPage, reinterpret_cast<LPARAM>(&search));
  return search.page;
}

std::string WindowText(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  char utf8[768] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

// Each of these sends (never posts) to the dialog's thread, so the dialog
// has handled the change when the call returns.
void TypeNumber(HWND window, int id, int value) {
  SetDlgItemInt(window, id, static_cast<UINT>(value), TRUE);
}
int EditNumber(HWND window, int id) {
  BOOL ok = FALSE;
  const int value = static_cast<int>(GetDlgItemInt(window, id, &ok, TRUE));
  return ok ? value : -99999;
}
void Slide(HWND page, int trackbar, int position) {
  HWND bar = GetDlgItem(page, trackbar);
  SendMessageA(bar, TBM_SETPOS, TRUE, position);
  SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
               reinterpret_cast<LPARAM>(bar));
}
// A check box or radio button clicked into `state`.
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
int ListCount(HWND window, int list) {
  return static_cast<int>(SendDlgItemMessageA(window, list, CB_GETCOUNT, 0, 0));
}
int ListSelection(HWND window, int list) {
  return static_cast<int>(SendDlgItemMessageA(window, list, CB_GETCURSEL, 0, 0));
}
std::string ListText(HWND window, int list, int index) {
  wchar_t text[128] = {};
  SendDlgItemMessageW(window, list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text));
  char utf8[384] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}
bool Enabled(HWND window, int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }

// What the helper thread saw, reported by the test's thread once the dialog
// has ended (the helper thread makes no assertions of its own).
struct Seen {
  std::vector<std::string> failures;
  void Expect(bool ok, const std::string& what) {
    if (!ok) failures.push_back(what);
  }
  void Equal(long long expected, long long actual, const std::string& what) {
    if (expected != actual) {
      failures.push_back(what + ": expected " + std::to_string(expected) + ", got " +
                         std::to_string(actual));
    }
  }
  void Text(const std::string& expected, const std::string& actual, const std::string& what) {
    if (expected != actual)
      failures.push_back(what + ": expected \"" + expected + "\", got \"" + actual + "\"");
  }
};

// The dialog as the helper thread works it; End presses OK or Cancel.
struct Dialog {
  HWND frame = nullptr;
  bool ended = false;
  void End(int button) {
    Press(frame, button);
    ended = true;
  }
};

// Runs `open` (a dialog export) on this thread while `drive` works the new
// dialog from a helper thread. A drive that stops half-way still closes the
// dialog with Cancel, so a failing test never hangs.
int Drive(const std::function<int()>& open, const std::function<void(Dialog&, Seen&)>& drive,
          Seen& seen) {
  const std::vector<HWND> before = OpenDialogs();
  std::thread helper([&] {
    Dialog dialog;
    dialog.frame = WaitForNewDialog(before);
    if (dialog.frame == nullptr) {
      seen.failures.push_back("no dialog appeared");
      return;
    }
    drive(dialog, seen);
    if (!dialog.ended) Press(dialog.frame, IDCANCEL);
  });
  const int result = open();
  helper.join();
  return result;
}

#define EXPECT_NOTHING_UNSEEN(seen) \
  for (const std::string& failure : (seen).failures) ADD_FAILURE() << failure

// The session's store, as the registry holds it (the session made it on its
// first run).
void WriteStored(const std::string& subkey, const char* name, int32_t value) {
  std::string path = testing::kStoreKey;
  if (!subkey.empty()) path += "\\" + subkey;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}
std::optional<int32_t> ReadStored(const std::string& subkey, const char* name) {
  std::string path = testing::kStoreKey;
  if (!subkey.empty()) path += "\\" + subkey;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  int32_t value = 0;
  DWORD type = 0;
  DWORD size = sizeof value;
  const LONG status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

int Filter(CameraHandle handle, int id) {
  int valid = 0;
  return Varnel_GetFilterValue(handle, id, &valid);
}

struct Ranges {
  int gainMin, gainMax, exposureMin, exposureMax;
};
Ranges CameraRanges(CameraHandle handle) {
  int32_t record[9] = {36};
  Varnel_GetCameraInfo(handle, reinterpret_cast<CameraInfo*>(record));
  return Ranges{record[3], record[4], record[7], record[8]};
}

constexpr int kBrightness = 1, kContrast = 2, kHue = 3, kRedGain = 7, kGamma = 11, kPhase = 12,
              kGain = 13, kExposure = 18, kGrayMode = 19, kGrayGainRed = 20, kGrayOffsetBlue = 27;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
  }
};

// Fault caught: templates missing from the shipped library (compiled only
// into the test program), a template of one language missing, or a Japanese
// run that silently shows the English templates.
TEST_F(DialogTest, LibraryCarriesEveryTemplateAndTheRunHasItsLanguage) {
  HMODULE library = LoadLibraryA("VarnelSdk_Rade.dll");
  ASSERT_NE(library, nullptr) << "LoadLibrary failed, error " << GetLastError();
  const int templates[] = {IDD_CAMERA_EN,       IDD_CAMERA_JA,      IDD_FILTER_FRAME_EN,
                           IDD_FILTER_FRAME_JA, IDD_IMAGE_PAGE_EN,  IDD_IMAGE_PAGE_JA,
                           IDD_GRAY_PAGE_EN,    IDD_GRAY_PAGE_JA,   IDD_ANALOG_FRAME_EN,
                           IDD_ANALOG_FRAME_JA, IDD_ANALOG_PAGE_EN, IDD_ANALOG_PAGE_JA};
  for (int id : templates) {
    EXPECT_NE(FindResourceA(library, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)), nullptr)
        << "template " << id;
  }
  FreeLibrary(library);
  const char* language = std::getenv("LANG");
  const bool japaneseLocale = language != nullptr && std::string(language).rfind("ja_JP", 0) == 0;
  EXPECT_EQ(JapaneseSystem(), japaneseLocale) << (language ? language : "(no LANG)");
}

// ---- analog dialog --------------------------------------------------------------

// Fault caught: a typed gain or exposure sent to the camera unchecked (300 on
// a 0..63 sensor reaches its register as 44), changes not reaching the camera
// while the dialog is open, Cancel not sending the old values back, OK not
// keeping the new ones (or keeping the typed, unlimited number).
TEST_F(DialogTest, AnalogValuesAreLimitedSentAtOnceRestoredByCancelKeptByOk) {
  struct Case {
    const char* name;
    ModelCode model;
    int type;
  };
  const Case cases[] = {{"HXA1", kModelHXA1, 1}, {"HZG7", kModelHZG7, 8}, {"R2T", kModelR2T, 5}};
  for (const Case& c : cases) {
    for (const int ending : {IDCANCEL, IDOK}) {
      SCOPED_TRACE(std::string(c.name) + (ending == IDOK ? " OK" : " Cancel"));
      CameraSession session(c.model, c.type, u'Q');
      ASSERT_TRUE(session.Ready());
      const CameraHandle h = session.Handle();
      const Ranges range = CameraRanges(h);
      const int gainBefore = Filter(h, kGain);
      const int exposureBefore = Filter(h, kExposure);
      const int phaseBefore = Filter(h, kPhase);
      const int mirrorBefore = Varnel_GetMirrorV(h);
      const int typedGains[][2] = {
          {range.gainMax + 237, range.gainMax},
          {range.gainMin - 5, range.gainMin},
          {(range.gainMin + range.gainMax) / 2, (range.gainMin + range.gainMax) / 2}};
      Seen seen;
      const int result = Drive(
          [&] { return Varnel_SetAnalogDlg(h, nullptr); },
          [&](Dialog& dialog, Seen& s) {
            HWND page = PageWith(dialog.frame, IDC_GLOBAL_GAIN_EDIT);
            s.Equal(range.gainMax,
                    SendDlgItemMessageA(page, IDC_GLOBAL_GAIN_BAR, TBM_GETRANGEMAX, 0, 0),
                    "gain trackbar maximum");
            s.Equal(gainBefore, EditNumber(page, IDC_GLOBAL_GAIN_EDIT), "gain edit at open");
            for (const auto& [typed, sent] : typedGains) {
              TypeNumber(page, IDC_GLOBAL_GAIN_EDIT, typed);
              s.Equal(sent, Filter(h, kGain), "gain typed " + std::to_string(typed));
            }
            TypeNumber(page, IDC_EXPOSURE_EDIT, range.exposureMax + 1000);
            s.Equal(range.exposureMax, Filter(h, kExposure), "exposure typed past the maximum");
            Click(page, IDC_MIRROR_V, mirrorBefore == 0);
            s.Equal(mirrorBefore ^ 1, Varnel_GetMirrorV(h), "mirror V while open");
            s.Equal(phaseBefore ^ 1, Filter(h, kPhase), "phase after mirror V");
            // The edit holds a number past the range when OK reads it.
            TypeNumber(page, IDC_GLOBAL_GAIN_EDIT, range.gainMax + 1);
            dialog.End(ending);
          },
          seen);
      EXPECT_EQ(result, 1);
      EXPECT_NOTHING_UNSEEN(seen);
      if (ending == IDOK) {
        EXPECT_EQ(Filter(h, kGain), range.gainMax);
        EXPECT_EQ(Filter(h, kExposure), range.exposureMax);
        EXPECT_EQ(Varnel_GetMirrorV(h), mirrorBefore ^ 1);
        EXPECT_EQ(Filter(h, kPhase), phaseBefore ^ 1);
      } else {
        EXPECT_EQ(Filter(h, kGain), gainBefore);
        EXPECT_EQ(Filter(h, kExposure), exposureBefore);
        EXPECT_EQ(Varnel_GetMirrorV(h), mirrorBefore);
        EXPECT_EQ(Filter(h, kPhase), phaseBefore);
      }
      EXPECT_EQ(session.Errors(), std::vector<int>{});
    }
  }
}

// Fault caught: "Default" giving another model's gain and exposure (or
// values outside the camera's range), Cancel after "Default" not sending the
// previous values back, the two automatic modes checked together.
TEST_F(DialogTest, AnalogDefaultPerModelAndOneAutomaticMode) {
  struct Case {
    const char* name;
    ModelCode model;
    int type;
    int gain;
    int exposure;
  };
  const Case cases[] = {{"HXA1", kModelHXA1, 1, 14, 1095},
                        {"HWH8", kModelHWH8, 0, 14, 1095},
                        {"HZF6", kModelHZF6, 7, 512, 64},
                        {"HZG7", kModelHZG7, 8, 128, 64},
                        {"HXE5", kModelHXE5, 3, 16, 480}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession session(c.model, c.type, u'Q');
    ASSERT_TRUE(session.Ready());
    const CameraHandle h = session.Handle();
    const Ranges range = CameraRanges(h);
    ASSERT_EQ(Varnel_SetAutoIris(h, 1), 1);
    const int gainBefore = Filter(h, kGain);
    const int exposureBefore = Filter(h, kExposure);
    Seen seen;
    EXPECT_EQ(Drive([&] { return Varnel_SetAnalogDlg(h, nullptr); },
                    [&](Dialog& dialog, Seen& s) {
                      HWND page = PageWith(dialog.frame, IDC_GLOBAL_GAIN_EDIT);
                      s.Expect(IsDlgButtonChecked(page, IDC_AUTO_IRIS_EXPOSURE) == BST_CHECKED,
                               "Exposure checked for mode 1");
                      Click(page, IDC_AUTO_IRIS_GAIN);
                      s.Expect(IsDlgButtonChecked(page, IDC_AUTO_IRIS_EXPOSURE) == BST_UNCHECKED,
                               "Exposure unchecked by Gain");
                      int valid = 0;
                      s.Equal(2, Varnel_GetAutoIris(h, &valid), "mode after Gain");
                      Press(dialog.frame, IDC_DEFAULT);
                      s.Equal(std::clamp(c.gain, range.gainMin, range.gainMax), Filter(h, kGain),
                              "default gain");
                      s.Equal(std::clamp(c.exposure, range.exposureMin, range.exposureMax),
                              Filter(h, kExposure), "default exposure");
                      s.Equal(Filter(h, kGain), EditNumber(page, IDC_GLOBAL_GAIN_EDIT),
                              "gain edit after Default");
                      dialog.End(IDCANCEL);
                    },
                    seen),
              1);
    EXPECT_NOTHING_UNSEEN(seen);
    EXPECT_EQ(Filter(h, kGain), gainBefore);
    EXPECT_EQ(Filter(h, kExposure), exposureBefore);
    int valid = 0;
    EXPECT_EQ(Varnel_GetAutoIris(h, &valid), 1);
  }
}

// Fault caught: the analog dialog's mirrors moving the Bayer phase by other
// rules than the exports (a horizontal mirror stepping it on one model only,
// a vertical one on a model whose picture does not turn over), so that the
// colours go wrong in some mirror combination, or a mirror that does not
// mirror the picture.
TEST_F(DialogTest, AnalogMirrorsKeepTheColours) {
  const int combinations[][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  for (const testing::ModelCase& m : testing::kModelCases) {
    CameraSession session(m.code, m.type, u'Q');
    ASSERT_TRUE(session.Ready()) << m.name;
    const CameraHandle h = session.Handle();
    for (const auto& [v, hm] : combinations) {
      SCOPED_TRACE(std::string(m.name) + " mirror V " + std::to_string(v) + " H " +
                   std::to_string(hm));
      Seen seen;
      EXPECT_EQ(Drive([&] { return Varnel_SetAnalogDlg(h, nullptr); },
                      [&](Dialog& dialog, Seen&) {
                        HWND page = PageWith(dialog.frame, IDC_MIRROR_V);
                        // Only a box whose state changes is clicked, as a user does.
                        if (Varnel_GetMirrorV(h) != v) Click(page, IDC_MIRROR_V, v != 0);
                        if (Varnel_GetMirrorH(h) != hm) Click(page, IDC_MIRROR_H, hm != 0);
                        dialog.End(IDOK);
                      },
                      seen),
                1);
      EXPECT_NOTHING_UNSEEN(seen);
      EXPECT_EQ(Varnel_GetMirrorV(h), v);
      EXPECT_EQ(Varnel_GetMirrorH(h), hm);
      const testing::Picture p = testing::Snap24(h, m.code);
      const testing::View view{session.Head().sensorWidth(), session.Head().sensorHeight(), 0,
                               hm != 0, v != m.storedMirrorV};
      for (const std::string& what : testing::CompareWithScene(p, view)) ADD_FAILURE() << what;
    }
    EXPECT_EQ(session.Errors(), std::vector<int>{});
  }
}

// ---- image and gray filter dialog ----------------------------------------------

// Fault caught: the gray tab missing for a monochrome class (or shown for a
// colour one), colour-only rows and buttons left enabled on a gray picture,
// templates of the wrong language.
TEST_F(DialogTest, FilterControlsFollowTheColourClass) {
  struct Case {
    const char* name;
    int colorMode;
    int tabs;
    bool colourControls;
  };
  const Case cases[] = {{"mono 8", 8, 2, false},
                        {"mono 16", 16, 2, false},
                        {"colour 24", 24, 1, true},
                        {"colour 48", 48, 1, true}};
  CameraSession session(kModelHXA1, 1, u'Q');
  ASSERT_TRUE(session.Ready());
  const CameraHandle h = session.Handle();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Varnel_SetColorMode(h, c.colorMode), 1);
    Seen seen;
    EXPECT_EQ(Drive([&] { return Varnel_SetImageDlg(h, nullptr); },
                    [&](Dialog& dialog, Seen& s) {
                      s.Text(JapaneseSystem() ? "プロパティ" : "Property", WindowText(dialog.frame),
                             "title");
                      s.Text(JapaneseSystem() ? "規定値(&D)" : "Default(&D)",
                             WindowText(GetDlgItem(dialog.frame, IDC_DEFAULT)), "Default button");
                      s.Equal(c.tabs,
                              SendDlgItemMessageA(dialog.frame, IDC_TAB, TCM_GETITEMCOUNT, 0, 0),
                              "tabs");
                      HWND image = PageWith(dialog.frame, IDC_BRIGHTNESS_EDIT);
                      s.Expect(Enabled(image, IDC_BRIGHTNESS_BAR), "brightness enabled");
                      s.Expect(Enabled(image, IDC_GAMMA_EDIT), "gamma enabled");
                      for (int id : {IDC_HUE_BAR, IDC_SATURATION_EDIT, IDC_R_GAIN_SPIN,
                                     IDC_B_GAIN_EDIT, IDC_ONCE, IDC_ALL_FRAMES, IDC_BAYER_MODE_2}) {
                        s.Equal(c.colourControls, Enabled(image, id),
                                "control " + std::to_string(id) + " enabled");
                      }
                      s.Equal(c.tabs == 2, PageWith(dialog.frame, IDC_GRAY_GAIN_R_EDIT) != nullptr,
                              "gray page made");
                      dialog.End(IDCANCEL);
                    },
                    seen),
              1);
    EXPECT_NOTHING_UNSEEN(seen);
  }
}

// Fault caught: a slider, edit or button change not reaching the live block
// at once, a typed value beyond the slider's range cut short, Cancel not
// putting back every value (the Bayer phase included), OK not keeping them.
TEST_F(DialogTest, FilterChangesAreLiveRestoredByCancelKeptByOk) {
  for (const int ending : {IDCANCEL, IDOK}) {
    SCOPED_TRACE(ending == IDOK ? "OK" : "Cancel");
    CameraSession session(kModelHXA1, 1, u'Q');
    ASSERT_TRUE(session.Ready());
    const CameraHandle h = session.Handle();
    ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
    struct Change {
      const char* name;
      int id;
      int value;
    };
    const Change changes[] = {{"brightness slid", kBrightness, -100},
                              {"contrast typed", kContrast, 50},
                              {"brightness typed past the slider", kBrightness, 300},
                              {"hue slid", kHue, -270},
                              {"red gain typed", kRedGain, 250},
                              {"gamma slid", kGamma, 180},
                              {"Bayer mode 2", kPhase, 2}};
    std::vector<int> before;
    for (const Change& change : changes) before.push_back(Filter(h, change.id));
    Seen seen;
    EXPECT_EQ(Drive([&] { return Varnel_SetImageDlg(h, nullptr); },
                    [&](Dialog& dialog, Seen& s) {
                      HWND page = PageWith(dialog.frame, IDC_BRIGHTNESS_EDIT);
                      Slide(page, IDC_BRIGHTNESS_BAR, -100);
                      s.Equal(-100, Filter(h, kBrightness), changes[0].name);
                      s.Equal(-100, EditNumber(page, IDC_BRIGHTNESS_EDIT), "brightness edit");
                      TypeNumber(page, IDC_CONTRAST_EDIT, 50);
                      s.Equal(50, Filter(h, kContrast), changes[1].name);
                      TypeNumber(page, IDC_BRIGHTNESS_EDIT, 300);
                      s.Equal(300, Filter(h, kBrightness), changes[2].name);
                      Slide(page, IDC_HUE_BAR, -270);
                      s.Equal(-270, Filter(h, kHue), changes[3].name);
                      TypeNumber(page, IDC_R_GAIN_EDIT, 250);
                      s.Equal(250, Filter(h, kRedGain), changes[4].name);
                      Slide(page, IDC_GAMMA_BAR, 180);
                      s.Equal(180, Filter(h, kGamma), changes[5].name);
                      Click(page, IDC_BAYER_MODE_2);
                      s.Equal(2, Filter(h, kPhase), changes[6].name);
                      dialog.End(ending);
                    },
                    seen),
              1);
    EXPECT_NOTHING_UNSEEN(seen);
    for (size_t i = 0; i < std::size(changes); ++i) {
      const int expected = ending == IDOK ? (i == 0 ? 300 : changes[i].value) : before[i];
      EXPECT_EQ(Filter(h, changes[i].id), expected) << changes[i].name;
    }
  }
}

// Fault caught: gray rows, filter mode or "Default" not reaching the block,
// "Default" giving another model's Bayer phase, Cancel after "Default" not
// restoring the gray values.
TEST_F(DialogTest, GrayPageAndDefaultPerModel) {
  struct Case {
    const char* name;
    ModelCode model;
    int type;
    int defaultPhase;
  };
  const Case cases[] = {{"HXA1", kModelHXA1, 1, 3},
                        {"HZF6", kModelHZF6, 7, 1},
                        {"HXE5", kModelHXE5, 3, 1},
                        {"HWH8", kModelHWH8, 0, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession session(c.model, c.type, u'Q');
    ASSERT_TRUE(session.Ready());
    const CameraHandle h = session.Handle();
    ASSERT_EQ(Varnel_SetFilterValue(h, kPhase, 0), 1);
    ASSERT_EQ(Varnel_SetFilterValue(h, kGrayGainRed, 77), 1);
    ASSERT_EQ(Varnel_SetFilterValue(h, kBrightness, 40), 1);
    Seen seen;
    EXPECT_EQ(Drive([&] { return Varnel_SetImageDlg(h, nullptr); },
                    [&](Dialog& dialog, Seen& s) {
                      HWND gray = PageWith(dialog.frame, IDC_GRAY_GAIN_R_EDIT);
                      s.Equal(77, EditNumber(gray, IDC_GRAY_GAIN_R_EDIT), "gray gain at open");
                      TypeNumber(gray, IDC_GRAY_GAIN_R_EDIT, 200);
                      s.Equal(200, Filter(h, kGrayGainRed), "gray gain typed");
                      Slide(gray, IDC_GRAY_OFFSET_B_BAR, -60);
                      s.Equal(-60, Filter(h, kGrayOffsetBlue), "gray offset slid");
                      Click(gray, IDC_GRAY_MODE_GRAYSCALE);
                      s.Equal(2, Filter(h, kGrayMode), "filter mode Grayscale");
                      Press(dialog.frame, IDC_DEFAULT);
                      s.Equal(c.defaultPhase, Filter(h, kPhase), "default phase");
                      s.Equal(0, Filter(h, kBrightness), "default brightness");
                      s.Equal(128, Filter(h, kGrayGainRed), "default gray gain");
                      s.Equal(0, Filter(h, kGrayOffsetBlue), "default gray offset");
                      s.Equal(128, EditNumber(gray, IDC_GRAY_GAIN_R_EDIT),
                              "gray edit after Default");
                      dialog.End(IDCANCEL);
                    },
                    seen),
              1);
    EXPECT_NOTHING_UNSEEN(seen);
    EXPECT_EQ(Filter(h, kPhase), 0);
    EXPECT_EQ(Filter(h, kGrayGainRed), 77);
    EXPECT_EQ(Filter(h, kBrightness), 40);
    EXPECT_EQ(Filter(h, kGrayMode), 0);
  }
}

// Fault caught: on a monochrome picture the image page's Bayer Mode buttons,
// disabled and still showing the phase the dialog opened with, read back on
// OK over the phase chosen on the gray page.
TEST_F(DialogTest, GrayPageBayerModeIsKeptByOk) {
  CameraSession session(kModelHXA1, 1, u'Q');
  ASSERT_TRUE(session.Ready());
  const CameraHandle h = session.Handle();
  for (const int mode : {8, 16}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(Varnel_SetColorMode(h, mode), 1);
    const int before = Filter(h, kPhase);
    const int chosen = (before + 1) & 3;
    Seen seen;
    EXPECT_EQ(Drive([&] { return Varnel_SetImageDlg(h, nullptr); },
                    [&](Dialog& dialog, Seen& s) {
                      HWND gray = PageWith(dialog.frame, IDC_GRAY_GAIN_R_EDIT);
                      Click(gray, IDC_BAYER_MODE_0 + chosen);
                      s.Equal(chosen, Filter(h, kPhase), "phase chosen on the gray page");
                      dialog.End(IDOK);
                    },
                    seen),
              1);
    EXPECT_NOTHING_UNSEEN(seen);
    EXPECT_EQ(Filter(h, kPhase), chosen);
  }
}

// A window whose procedure opens a filter dialog on a second camera when it
// is told to, as an application's window might from a menu while the first
// dialog's modal loop runs.
constexpr UINT kOpenNested = WM_APP + 7;
CameraHandle nestedHandle = 0;
LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kOpenNested) return Varnel_SetImageDlg(nestedHandle, window);
  return DefWindowProcA(window, message, wParam, lParam);
}

// Fault caught: dialogs that reach their object through one process-wide
// pointer: a second dialog opened from the first one's modal loop replaces
// it, and the first then writes into the second camera's block (or into the
// freed object of the dialog that has ended).
TEST_F(DialogTest, DialogOpenedFromAnotherOnesLoopKeepsEachToItsCamera) {
  CameraSession first(kModelHXA1, 1, u'Q');
  CameraSession second(kModelHXE5, 3, u'R');
  ASSERT_TRUE(first.Ready());
  ASSERT_TRUE(second.Ready());
  nestedHandle = second.Handle();
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = OwnerProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VarnelDialogTestOwner";
  RegisterClassExA(&windowClass);
  HWND owner = CreateWindowExA(0, "VarnelDialogTestOwner", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                               100, nullptr, nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(owner, nullptr);
  const int firstBefore = Filter(first.Handle(), kBrightness);
  Seen seen;
  EXPECT_EQ(Drive([&] { return Varnel_SetImageDlg(first.Handle(), owner); },
                  [&](Dialog& outer, Seen& s) {
                    std::vector<HWND> open = OpenDialogs();
                    PostMessageA(owner, kOpenNested, 0, 0);
                    Dialog inner;
                    inner.frame = WaitForNewDialog(open);
                    if (inner.frame == nullptr) {
                      s.Expect(false, "nested dialog did not appear");
                      return;
                    }
                    Slide(PageWith(inner.frame, IDC_BRIGHTNESS_EDIT), IDC_BRIGHTNESS_BAR, 77);
                    inner.End(IDOK);
                    s.Equal(77, Filter(second.Handle(), kBrightness), "second camera after its OK");
                    Slide(PageWith(outer.frame, IDC_BRIGHTNESS_EDIT), IDC_BRIGHTNESS_BAR, -33);
                    s.Equal(-33, Filter(first.Handle(), kBrightness), "first camera, live");
                    s.Equal(77, Filter(second.Handle(), kBrightness), "second camera untouched");
                    outer.End(IDCANCEL);
                  },
                  seen),
            1);
  EXPECT_NOTHING_UNSEEN(seen);
  EXPECT_EQ(Filter(first.Handle(), kBrightness), firstBefore);
  EXPECT_EQ(Filter(second.Handle(), kBrightness), 77);
  DestroyWindow(owner);
}

// ---- what the frame thread measures while a dialog is open -------------------

// Fault caught: the frame thread calling into the open dialog (or not
// telling it at all): the edits of an open dialog must follow what the
// automatic white balance and the automatic exposure measure, through a
// refresh the dialog carries out on its own thread, and the dialog must
// close cleanly while frames keep coming.
TEST_F(DialogTest, OpenDialogsFollowWhatTheFrameThreadMeasures) {
  CameraSession session(kModelHXA1, 1, u'Q');
  ASSERT_TRUE(session.Ready());
  session.StaticScene();
  const CameraHandle h = session.Handle();
  ASSERT_TRUE(testing::ChooseWindow(h, kModelHXA1, 320, 240));
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  ASSERT_EQ(Varnel_SetFilterValue(h, kRedGain, 37), 1);
  ASSERT_EQ(Varnel_StartPreview(h), 1);

  Seen seen;
  EXPECT_EQ(Drive([&] { return Varnel_SetImageDlg(h, nullptr); },
                  [&](Dialog& dialog, Seen& s) {
                    HWND page = PageWith(dialog.frame, IDC_R_GAIN_EDIT);
                    s.Equal(37, EditNumber(page, IDC_R_GAIN_EDIT), "red gain at open");
                    Click(page, IDC_ALL_FRAMES);
                    s.Expect(testing::WaitUntil([&] { return Filter(h, kRedGain) != 37; }),
                             "white balance measured a red gain");
                    Click(page, IDC_ALL_FRAMES, false);
                    s.Expect(testing::WaitUntil([&] {
                               return EditNumber(page, IDC_R_GAIN_EDIT) == Filter(h, kRedGain);
                             }),
                             "red gain edit follows the measured gain");
                    dialog.End(IDOK);
                  },
                  seen),
            1);
  EXPECT_NOTHING_UNSEEN(seen);
  EXPECT_NE(Filter(h, kRedGain), 37);

  const Ranges range = CameraRanges(h);
  // A dark picture: the automatic mode raises the gain.
  ASSERT_EQ(Varnel_SetFilterValue(h, kGain, range.gainMin), 1);
  ASSERT_EQ(Varnel_SetFilterValue(h, kExposure, range.exposureMin), 1);
  ASSERT_EQ(Varnel_SetAutoIris(h, 2), 1);
  EXPECT_EQ(Drive([&] { return Varnel_SetAnalogDlg(h, nullptr); },
                  [&](Dialog& dialog, Seen& s) {
                    HWND page = PageWith(dialog.frame, IDC_GLOBAL_GAIN_EDIT);
                    s.Expect(
                        testing::WaitUntil([&] { return Filter(h, kGain) != range.gainMin; }),
                        "automatic exposure raised the gain from " + std::to_string(range.gainMin));
                    Varnel_SetAutoIris(h, 0);
                    s.Expect(testing::WaitUntil([&] {
                               return EditNumber(page, IDC_GLOBAL_GAIN_EDIT) == Filter(h, kGain);
                             }),
                             "gain edit follows the automatic exposure: edit " +
                                 std::to_string(EditNumber(page, IDC_GLOBAL_GAIN_EDIT)) +
                                 ", camera " + std::to_string(Filter(h, kGain)));
                    dialog.End(IDCANCEL);
                  },
                  seen),
            1);
  EXPECT_NOTHING_UNSEEN(seen);
  EXPECT_EQ(Varnel_StopPreview(h), 1);
}

// ---- camera dialog ---------------------------------------------------------------

// Fault caught: controls enabled on the wrong models, the wait time left
// empty on the models with a fixed window (OK then stores 0), the fixed
// models not showing their whole sensor, the sync buttons where they do not
// belong, lists in the wrong language or order.
TEST_F(DialogTest, CameraDialogShowsEachModelsControls) {
  struct Case {
    const char* name;
    ModelCode model;
    int type;
    bool windowFixed;
    uint32_t width, height;  // the fixed models' whole sensor
  };
  const Case cases[] = {{"HXA1", kModelHXA1, 1, false, 0, 0},
                        {"HWH8", kModelHWH8, 0, false, 0, 0},
                        {"HYD4", kModelHYD4, 6, true, 1360, 1024},
                        {"HZF6", kModelHZF6, 7, true, 1600, 1200},
                        {"HZG7", kModelHZG7, 8, true, 2456, 2038}};
  const bool japanese = JapaneseSystem();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession session(c.model, c.type, u'Q');
    ASSERT_TRUE(session.Ready());
    const CameraHandle h = session.Handle();
    WriteStored("", "WaitTime", 25);
    WriteStored("", "SyncV", 1);
    Seen seen;
    EXPECT_EQ(
        Drive([&] { return Varnel_SetCameraDlg(h, nullptr); },
              [&](Dialog& dialog, Seen& s) {
                HWND d = dialog.frame;
                s.Equal(25, EditNumber(d, IDC_WAIT_TIME), "wait time shown");
                s.Equal(!c.windowFixed, Enabled(d, IDC_H_EFFECTIVE), "size edits enabled");
                s.Equal(c.windowFixed, Enabled(d, IDC_APPLY), "Apply enabled at start");
                s.Equal(c.windowFixed, Enabled(d, IDC_CLOCK_LIST), "clock list enabled");
                if (c.windowFixed) {
                  const int expected[] = {static_cast<int>(c.width),
                                          static_cast<int>(c.height),
                                          static_cast<int>(c.width),
                                          static_cast<int>(c.height),
                                          0,
                                          0};
                  for (int i = 0; i < 6; ++i) {
                    s.Equal(expected[i], EditNumber(d, IDC_H_TOTAL + i),
                            "size edit " + std::to_string(i));
                  }
                } else {
                  // Apply is enabled by the first change.
                  TypeNumber(d, IDC_WAIT_TIME, 30);
                  s.Expect(Enabled(d, IDC_APPLY), "Apply enabled by a change");
                }
                s.Equal(9, ListCount(d, IDC_COLOR_LIST), "colour items");
                s.Text(japanese ? "カラー 48bit ※" : "Color 48bit *",
                       ListText(d, IDC_COLOR_LIST, 7), "colour item 7");
                s.Equal(5, ListSelection(d, IDC_COLOR_LIST), "stored Color 2 selected");
                s.Text(japanese ? "カスタム" : "Custom",
                       ListText(d, IDC_SIZE_LIST, ListCount(d, IDC_SIZE_LIST) - 1),
                       "last size item");
                s.Equal(japanese, GetDlgItem(d, IDC_SYNC_V_PLUS) != nullptr, "sync buttons exist");
                if (japanese) {
                  s.Equal(c.model == kModelHWH8, Enabled(d, IDC_SYNC_V_PLUS), "sync enabled");
                  if (c.model == kModelHWH8) {
                    s.Expect(IsDlgButtonChecked(d, IDC_SYNC_V_PLUS) == BST_CHECKED, "V sync +");
                    s.Expect(IsDlgButtonChecked(d, IDC_SYNC_H_MINUS) == BST_CHECKED, "H sync -");
                  }
                }
                dialog.End(IDCANCEL);
              },
              seen),
        1);
    EXPECT_NOTHING_UNSEEN(seen);
    // Cancel stores nothing.
    EXPECT_EQ(ReadStored("", "WaitTime"), 25);
  }
}

// Fault caught: a "Custom" window not added as a new preset (or added in
// the wrong place), the colour list's choice stored as the wrong class or bit
// depth, OK not loading the new size and format into the instance, the sync
// polarity lost on a template without sync buttons.
TEST_F(DialogTest, CustomApplyAddsPresetsThatTheInstanceUsesAfterOk) {
  CameraSession session(kModelHXA1, 1, u'Q');
  ASSERT_TRUE(session.Ready());
  const CameraHandle h = session.Handle();
  WriteStored("", "SyncH", 1);
  struct Custom {
    uint32_t width, height, x, y;
  };
  const Custom customs[] = {{640, 480, 8, 4}, {320, 240, 0, 0}};
  Seen seen;
  EXPECT_EQ(Drive([&] { return Varnel_SetCameraDlg(h, nullptr); },
                  [&](Dialog& dialog, Seen& s) {
                    HWND d = dialog.frame;
                    const int presets = ListCount(d, IDC_SIZE_LIST) - 1;
                    s.Equal(1, presets, "presets at first");
                    for (size_t i = 0; i < std::size(customs); ++i) {
                      const Custom& c = customs[i];
                      const int custom = ListCount(d, IDC_SIZE_LIST) - 1;
                      Choose(d, IDC_SIZE_LIST, custom);
                      TypeNumber(d, IDC_H_EFFECTIVE, static_cast<int>(c.width));
                      TypeNumber(d, IDC_V_EFFECTIVE, static_cast<int>(c.height));
                      TypeNumber(d, IDC_H_START, static_cast<int>(c.x));
                      TypeNumber(d, IDC_V_START, static_cast<int>(c.y));
                      Press(d, IDC_APPLY);
                      s.Equal(custom, ListSelection(d, IDC_SIZE_LIST), "new preset selected");
                      s.Text(std::to_string(c.width) + " x " + std::to_string(c.height),
                             ListText(d, IDC_SIZE_LIST, custom), "new item text");
                      s.Expect(!Enabled(d, IDC_APPLY), "Apply disabled after applying");
                    }
                    Choose(d, IDC_COLOR_LIST, 7);  // "Color 48bit *"
                    Choose(d, IDC_SIZE_LIST, 1);   // the first custom window
                    dialog.End(IDOK);
                  },
                  seen),
            1);
  EXPECT_NOTHING_UNSEEN(seen);
  for (size_t i = 0; i < std::size(customs); ++i) {
    const std::string entry = "Size_0" + std::to_string(i + 1);
    EXPECT_EQ(ReadStored(entry, "EH"), static_cast<int32_t>(customs[i].width)) << entry;
    EXPECT_EQ(ReadStored(entry, "EHS"), static_cast<int32_t>(customs[i].x)) << entry;
    EXPECT_EQ(ReadStored(entry, "Buf"), 10) << entry;
  }
  EXPECT_EQ(ReadStored("", "Size"), 1);
  EXPECT_EQ(ReadStored("", "Color"), 4);
  EXPECT_EQ(ReadStored("", "BwMode"), 4);
  EXPECT_EQ(ReadStored("", "SyncH"), 1);
  EXPECT_EQ(Varnel_Width(h), 640);
  EXPECT_EQ(Varnel_Height(h), 480);
  int hTotal, hStart, hEffective, vTotal, vStart, vEffective;
  Varnel_GetCaptureWindowEx(h, &hTotal, &hStart, &hEffective, &vTotal, &vStart, &vEffective);
  EXPECT_EQ(hStart, 8);
  EXPECT_EQ(vStart, 4);
  EXPECT_EQ(Varnel_GetColorMode(h), 48);
  EXPECT_EQ(Varnel_SetCaptureWindow(h, 320, 240), 1);
  EXPECT_EQ(session.Errors(), std::vector<int>{});
}

// Fault caught: "Custom" + Apply with all 100 presets in use writing a 101st
// entry past the table, Apply with no size selected storing preset -1, a
// stored window that does not fit the model used after OK without the size
// check (error 7 and the whole sensor).
TEST_F(DialogTest, CameraDialogRefusesWhatWouldBreakTheStore) {
  CameraSession session(kModelHXA1, 1, u'Q');
  ASSERT_TRUE(session.Ready());
  const CameraHandle h = session.Handle();
  for (int i = 0; i < 100; ++i) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "Size_%02d", i);
    for (const auto& [name, value] : std::vector<std::pair<const char*, int>>{{"TH", 2048},
                                                                              {"TV", 1536},
                                                                              {"EH", 100 + 8 * i},
                                                                              {"EV", 100},
                                                                              {"EHS", 0},
                                                                              {"EVS", 0},
                                                                              {"Buf", 10}}) {
      WriteStored(entry, name, value);
    }
  }
  WriteStored("", "Size", 5);
  Seen seen;
  EXPECT_EQ(
      Drive([&] { return Varnel_SetCameraDlg(h, nullptr); },
            [&](Dialog& dialog, Seen& s) {
              HWND d = dialog.frame;
              s.Equal(101, ListCount(d, IDC_SIZE_LIST), "100 presets and Custom");
              Choose(d, IDC_SIZE_LIST, 100);
              TypeNumber(d, IDC_H_EFFECTIVE, 640);
              Press(d, IDC_APPLY);
              s.Equal(101, ListCount(d, IDC_SIZE_LIST), "no item added to a full table");
              s.Equal(5, ListSelection(d, IDC_SIZE_LIST), "previous size selected again");
              s.Equal(5, ReadStored("", "Size").value_or(-1), "stored size after full Custom");
              SendDlgItemMessageA(d, IDC_SIZE_LIST, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
              TypeNumber(d, IDC_H_EFFECTIVE, 4000);  // would not fit, were it stored
              Press(d, IDC_APPLY);
              s.Equal(5, ReadStored("", "Size").value_or(-1), "stored size without a selection");
              s.Equal(140, ReadStored("Size_05", "EH").value_or(-1), "preset 5 untouched");
              // Now a window too wide for the sensor, stored as typed.
              Choose(d, IDC_SIZE_LIST, 5);
              TypeNumber(d, IDC_H_EFFECTIVE, 4000);
              dialog.End(IDOK);
            },
            seen),
      1);
  EXPECT_NOTHING_UNSEEN(seen);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Holvik\\VarnelRadeSdk\\Size_100", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadStored("Size_05", "EH"), 4000);
  EXPECT_EQ(Varnel_Width(h), 2048);
  EXPECT_EQ(Varnel_Height(h), 1536);
  EXPECT_EQ(session.Errors(), std::vector<int>{7});
}

// Fault caught: the camera dialog opened while frames stream (the stored
// format changing under a running stream), or the preview not started again
// after it.
TEST_F(DialogTest, CameraDialogStopsAndRestartsThePreview) {
  CameraSession session(kModelHXA1, 1, u'Q');
  ASSERT_TRUE(session.Ready());
  const CameraHandle h = session.Handle();
  ASSERT_TRUE(testing::ChooseWindow(h, kModelHXA1, 320, 240));
  ASSERT_EQ(Varnel_StartPreview(h), 1);
  ASSERT_TRUE(testing::WaitUntil([&] { return session.Head().Counters().frameReads > 0; }));
  size_t runsWhileOpen = 0;
  uint64_t readsWhileOpen = 0;
  Seen seen;
  EXPECT_EQ(Drive([&] { return Varnel_SetCameraDlg(h, nullptr); },
                  [&](Dialog& dialog, Seen& s) {
                    // No frame is read while the dialog is open. (A pause can
                    // only miss a running stream on a slow machine, never
                    // fail a stopped one.)
                    const uint64_t reads = session.Head().Counters().frameReads;
                    Sleep(300);
                    s.Equal(static_cast<long long>(reads),
                            static_cast<long long>(session.Head().Counters().frameReads),
                            "frames read while open");
                    runsWhileOpen = session.Head().RunLog().size();
                    readsWhileOpen = session.Head().Counters().frameReads;
                    Choose(dialog.frame, IDC_COLOR_LIST, 0);  // "Monochrome 8bit"
                    dialog.End(IDOK);
                  },
                  seen),
            1);
  EXPECT_NOTHING_UNSEEN(seen);
  // Started again: a new run command, and frames flow.
  const std::vector<RunExchange> runs = session.Head().RunLog();
  EXPECT_GT(runs.size(), runsWhileOpen);
  EXPECT_TRUE(!runs.empty() && runs.back().run);
  EXPECT_TRUE(testing::WaitUntil(
      [&] { return session.Head().Counters().frameReads > readsWhileOpen + 2; }));
  EXPECT_EQ(Varnel_GetColorMode(h), 8);
  EXPECT_EQ(Varnel_StopPreview(h), 1);
}

}  // namespace
}  // namespace varnel
