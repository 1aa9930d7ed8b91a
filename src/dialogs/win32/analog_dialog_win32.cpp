// The analog dialog as a window: a frame with one tab and the "Analog Gain"
// page. Every change goes to the camera at once.
#include <windows.h>
#include <commctrl.h>

#include "dialogs/analog_dialog.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/dialog_runner.h"
#include "dialogs/win32/dialog_support_win32.h"

namespace varnel {
namespace {

using namespace dialog_win32;

struct AnalogPage {
  AnalogDialog* dialog = nullptr;
  bool initialised = false;
  bool loading = false;
};

struct AnalogFrame {
  AnalogDialog* dialog = nullptr;
  DialogWindowSlot* published = nullptr;
  AnalogPage page;
  HWND pageWindow = nullptr;
};

struct ColourGainRow {
  int trackbar, edit, upDown;
};
constexpr ColourGainRow kColourGainRows[] = {
    {IDC_COLOR_GAIN_G1_BAR, IDC_COLOR_GAIN_G1_EDIT, IDC_COLOR_GAIN_G1_SPIN},
    {IDC_COLOR_GAIN_R_BAR, IDC_COLOR_GAIN_R_EDIT, IDC_COLOR_GAIN_R_SPIN},
    {IDC_COLOR_GAIN_B_BAR, IDC_COLOR_GAIN_B_EDIT, IDC_COLOR_GAIN_B_SPIN},
    {IDC_COLOR_GAIN_G2_BAR, IDC_COLOR_GAIN_G2_EDIT, IDC_COLOR_GAIN_G2_SPIN},
};

void LoadRows(HWND window, AnalogPage& page, bool setUp) {
  page.loading = true;
  const AnalogRow gain = page.dialog->GainRow();
  const AnalogRow exposure = page.dialog->ExposureRow();
  if (setUp) {
    SetUpRow(window, IDC_GLOBAL_GAIN_BAR, IDC_GLOBAL_GAIN_EDIT, IDC_GLOBAL_GAIN_SPIN, gain.minimum,
             gain.maximum, gain.tickFrequency, gain.value, true);
    SetUpRow(window, IDC_EXPOSURE_BAR, IDC_EXPOSURE_EDIT, IDC_EXPOSURE_SPIN, exposure.minimum,
             exposure.maximum, exposure.tickFrequency, exposure.value, true);
  } else {
    ShowRowValue(window, IDC_GLOBAL_GAIN_BAR, IDC_GLOBAL_GAIN_EDIT, gain.value);
    ShowRowValue(window, IDC_EXPOSURE_BAR, IDC_EXPOSURE_EDIT, exposure.value);
  }
  page.loading = false;
}

// The edit of a row shows the value that was sent, once the user leaves it
// (rewriting it while the user types would fight the typing).
void ShowSent(HWND window, AnalogPage& page, int edit, int sent) {
  BOOL ok = FALSE;
  const int shown = static_cast<int>(GetDlgItemInt(window, edit, &ok, TRUE));
  if (ok && shown == sent) return;
  page.loading = true;
  SetDlgItemInt(window, edit, static_cast<UINT>(sent), TRUE);
  page.loading = false;
}

// The value of a row's edit, limited and sent; the trackbar follows.
void TakeEdit(HWND window, AnalogPage& page, int edit, bool finished) {
  BOOL ok = FALSE;
  const int typed = static_cast<int>(GetDlgItemInt(window, edit, &ok, TRUE));
  if (!ok) return;
  const bool gain = edit == IDC_GLOBAL_GAIN_EDIT;
  const int sent = gain ? page.dialog->GainChanged(typed) : page.dialog->ExposureChanged(typed);
  SendMessageA(GetDlgItem(window, gain ? IDC_GLOBAL_GAIN_BAR : IDC_EXPOSURE_BAR), TBM_SETPOS, TRUE,
               sent);
  if (finished) ShowSent(window, page, edit, sent);
}

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  AnalogPage* page = StoredObject<AnalogPage>(window, message, lParam);
  if (page == nullptr) return FALSE;
  AnalogDialog& dialog = *page->dialog;
  switch (message) {
    case WM_INITDIALOG:
      MatchTabBody(window);
      LoadRows(window, *page, true);
      for (const ColourGainRow& row : kColourGainRows) {
        SetUpRow(window, row.trackbar, row.edit, row.upDown, 0, 0, 0, 0, false);
      }
      CheckDlgButton(window, IDC_MIRROR_V, dialog.MirrorV() ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(window, IDC_MIRROR_H, dialog.MirrorH() ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(window, IDC_AUTO_IRIS_EXPOSURE,
                     dialog.AutoExposureChecked() ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(window, IDC_AUTO_IRIS_GAIN,
                     dialog.AutoGainChecked() ? BST_CHECKED : BST_UNCHECKED);
      page->initialised = true;
      return TRUE;
    case WM_HSCROLL: {
      HWND bar = reinterpret_cast<HWND>(lParam);
      const int control = GetDlgCtrlID(bar);
      if (control != IDC_GLOBAL_GAIN_BAR && control != IDC_EXPOSURE_BAR) return FALSE;
      const int position = static_cast<int>(SendMessageA(bar, TBM_GETPOS, 0, 0));
      // The edit's change notification sends the value.
      SetDlgItemInt(window,
                    control == IDC_GLOBAL_GAIN_BAR ? IDC_GLOBAL_GAIN_EDIT : IDC_EXPOSURE_EDIT,
                    static_cast<UINT>(position), TRUE);
      return TRUE;
    }
    case kRefreshMessage:
      LoadRows(window, *page, false);
      return TRUE;
    case WM_COMMAND: {
      const int control = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (control == IDC_GLOBAL_GAIN_EDIT || control == IDC_EXPOSURE_EDIT) {
        if (!page->initialised || page->loading) return TRUE;
        if (code == EN_CHANGE) TakeEdit(window, *page, control, false);
        if (code == EN_KILLFOCUS) TakeEdit(window, *page, control, true);
        return TRUE;
      }
      if (code != BN_CLICKED) return FALSE;
      const bool checked = IsDlgButtonChecked(window, control) == BST_CHECKED;
      switch (control) {
        case IDC_MIRROR_V:
          dialog.MirrorVChanged(checked);
          return TRUE;
        case IDC_MIRROR_H:
          dialog.MirrorHChanged(checked);
          return TRUE;
        case IDC_AUTO_IRIS_GAIN:
          if (checked) CheckDlgButton(window, IDC_AUTO_IRIS_EXPOSURE, BST_UNCHECKED);
          dialog.AutoGainChanged(checked);
          return TRUE;
        case IDC_AUTO_IRIS_EXPOSURE:
          if (checked) CheckDlgButton(window, IDC_AUTO_IRIS_GAIN, BST_UNCHECKED);
          dialog.AutoExposureChanged(checked);
          return TRUE;
        default:
          return FALSE;
      }
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  AnalogFrame* frame = StoredObject<AnalogFrame>(window, message, lParam);
  if (frame == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG: {
      // Published before the page reads its values: a change the frame
      // thread makes from here on asks for a refresh, which is handled after
      // this message; one made before is what the page reads.
      frame->published->store(window, std::memory_order_release);
      HWND tab = GetDlgItem(window, IDC_TAB);
      std::wstring text = Wide(Text("Analog Gain", "アナログゲイン"));
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = text.data();
      SendMessageW(tab, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      frame->pageWindow = CreateDialogParamA(
          TemplateModule(),
          MAKEINTRESOURCEA(JapaneseSystem() ? IDD_ANALOG_PAGE_JA : IDD_ANALOG_PAGE_EN), tab,
          PageProc, reinterpret_cast<LPARAM>(&frame->page));
      if (frame->pageWindow != nullptr) {
        SetWindowPos(frame->pageWindow, nullptr, 30, 25, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != IDC_TAB || header->code != TCN_SELCHANGE) return FALSE;
      if (SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0) == 0) {
        ShowWindow(frame->pageWindow, SW_SHOW);
      }
      return TRUE;
    }
    case kRefreshMessage:
      if (frame->pageWindow != nullptr) LoadRows(frame->pageWindow, frame->page, false);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (frame->pageWindow != nullptr) {
            TakeEdit(frame->pageWindow, frame->page, IDC_GLOBAL_GAIN_EDIT, true);
            TakeEdit(frame->pageWindow, frame->page, IDC_EXPOSURE_EDIT, true);
          }
          EndDialog(window, 1);
          return TRUE;
        case IDCANCEL:
          EndDialog(window, 2);
          return TRUE;
        case IDC_DEFAULT:
          frame->dialog->Default();
          if (frame->pageWindow != nullptr) LoadRows(frame->pageWindow, frame->page, false);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

int RunAnalogDialog(WindowHandle owner, AnalogDialog& dialog, DialogWindowSlot& published) {
  EnsureCommonControls();
  AnalogFrame frame;
  frame.dialog = &dialog;
  frame.published = &published;
  frame.page.dialog = &dialog;
  WindowHandle beneath = published.load(std::memory_order_acquire);
  const INT_PTR result = DialogBoxParamA(
      TemplateModule(),
      MAKEINTRESOURCEA(JapaneseSystem() ? IDD_ANALOG_FRAME_JA : IDD_ANALOG_FRAME_EN), AsHwnd(owner),
      FrameProc, reinterpret_cast<LPARAM>(&frame));
  published.store(beneath, std::memory_order_release);
  return result == 1 ? 1 : (result == -1 || result == 0) ? -1 : 2;
}

}  // namespace varnel
