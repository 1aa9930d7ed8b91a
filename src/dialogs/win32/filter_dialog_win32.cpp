// The image and gray filter dialog as a window: a frame with a tab control,
// the "Image Filter" page and, for the monochrome classes, the "Gray Filter"
// page. Every control writes into the instance's block at once.
#include <windows.h>
#include <commctrl.h>

#include <iterator>

#include "dialogs/dialog_ids.h"
#include "dialogs/dialog_runner.h"
#include "dialogs/filter_dialog.h"
#include "dialogs/win32/dialog_support_win32.h"

namespace varnel {
namespace {

using namespace dialog_win32;

struct FilterPage {
  FilterDialog* dialog = nullptr;
  bool gray = false;
  // Change notifications are taken only once the page is set up, and not
  // while it reloads itself (the values are the block's already).
  bool initialised = false;
  bool loading = false;

  const FilterRow* Rows() const { return gray ? kGrayRows : kImageRows; }
  size_t RowCount() const { return gray ? kGrayRowCount : kImageRowCount; }
};

struct FilterFrame {
  FilterDialog* dialog = nullptr;
  DialogWindowSlot* published = nullptr;
  FilterPage imagePage;
  FilterPage grayPage;
  HWND image = nullptr;
  HWND gray = nullptr;
};

const FilterRow* RowOf(const FilterPage& page, int control) {
  for (size_t i = 0; i < page.RowCount(); ++i) {
    const FilterRow& row = page.Rows()[i];
    if (row.trackbar == control || row.edit == control) return &row;
  }
  return nullptr;
}

void CheckBayerButton(HWND window, const FilterDialog& dialog) {
  for (int id = IDC_BAYER_MODE_0; id <= IDC_BAYER_MODE_3; ++id) {
    CheckDlgButton(window, id, BST_UNCHECKED);
  }
  const int button = dialog.BayerPhaseButton();
  if (button >= 0) CheckDlgButton(window, IDC_BAYER_MODE_0 + button, BST_CHECKED);
}

void LoadPage(HWND window, FilterPage& page, bool setUp) {
  FilterDialog& dialog = *page.dialog;
  page.loading = true;
  for (size_t i = 0; i < page.RowCount(); ++i) {
    const FilterRow& row = page.Rows()[i];
    const int value = dialog.Value(row.index);
    if (setUp) {
      SetUpRow(window, row.trackbar, row.edit, row.upDown, row.minimum, row.maximum,
               row.tickFrequency, value, page.gray || dialog.RowEnabled(row));
    } else {
      ShowRowValue(window, row.trackbar, row.edit, value);
    }
  }
  CheckBayerButton(window, dialog);
  if (page.gray) {
    const int mode = dialog.GrayMode();
    CheckDlgButton(window, IDC_GRAY_MODE_BAYER, mode == 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window, IDC_GRAY_MODE_CONVERT, mode == 1 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window, IDC_GRAY_MODE_GRAYSCALE, mode == 2 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window, IDC_ALL_FRAMES,
                   dialog.GrayAutoGainAllFramesChecked() ? BST_CHECKED : BST_UNCHECKED);
  } else {
    CheckDlgButton(window, IDC_ALL_FRAMES,
                   dialog.WhiteBalanceAllFramesChecked() ? BST_CHECKED : BST_UNCHECKED);
  }
  page.loading = false;
}

// OK: what the edits hold goes into the block (the edits already sent
// every change; an edit left empty keeps the block's value).
void ReadBackPage(HWND window, FilterPage& page) {
  for (size_t i = 0; i < page.RowCount(); ++i) {
    const FilterRow& row = page.Rows()[i];
    BOOL ok = FALSE;
    const int value = static_cast<int>(GetDlgItemInt(window, row.edit, &ok, TRUE));
    if (ok) page.dialog->SetValue(row.index, value);
  }
  // The image page's Bayer Mode buttons count only where they can be used:
  // in the monochrome classes they are disabled and still show the phase the
  // dialog opened with, while the gray page's buttons set it.
  if (page.gray || !page.dialog->ImageButtonsEnabled()) return;
  for (int id = IDC_BAYER_MODE_0; id <= IDC_BAYER_MODE_3; ++id) {
    if (IsDlgButtonChecked(window, id) == BST_CHECKED) {
      page.dialog->SetBayerPhase(id - IDC_BAYER_MODE_0);
      break;
    }
  }
}

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  FilterPage* page = StoredObject<FilterPage>(window, message, lParam);
  if (page == nullptr) return FALSE;
  FilterDialog& dialog = *page->dialog;
  switch (message) {
    case WM_INITDIALOG: {
      MatchTabBody(window);
      LoadPage(window, *page, true);
      if (!page->gray) {
        const bool enabled = dialog.ImageButtonsEnabled();
        EnableWindow(GetDlgItem(window, IDC_ONCE), enabled);
        EnableWindow(GetDlgItem(window, IDC_ALL_FRAMES), enabled);
        for (int id = IDC_BAYER_MODE_0; id <= IDC_BAYER_MODE_3; ++id) {
          EnableWindow(GetDlgItem(window, id), enabled);
        }
      }
      page->initialised = true;
      return TRUE;
    }
    case WM_HSCROLL: {
      const FilterRow* row = RowOf(*page, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
      if (row == nullptr) return FALSE;
      const int position =
          static_cast<int>(SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
      SetDlgItemInt(window, row->edit, static_cast<UINT>(position), TRUE);
      dialog.SetValue(row->index, position);
      return TRUE;
    }
    case kRefreshMessage:
      LoadPage(window, *page, false);
      return TRUE;
    case WM_COMMAND: {
      const int control = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (code == EN_CHANGE) {
        const FilterRow* row = RowOf(*page, control);
        if (row == nullptr || !page->initialised || page->loading) return TRUE;
        BOOL ok = FALSE;
        const int value = static_cast<int>(GetDlgItemInt(window, control, &ok, TRUE));
        if (!ok) return TRUE;
        dialog.SetValue(row->index, value);
        SendMessageA(GetDlgItem(window, row->trackbar), TBM_SETPOS, TRUE, value);
        return TRUE;
      }
      if (code != BN_CLICKED || page->loading) return FALSE;
      if (control >= IDC_BAYER_MODE_0 && control <= IDC_BAYER_MODE_3) {
        dialog.SetBayerPhase(control - IDC_BAYER_MODE_0);
      } else if (control == IDC_ALL_FRAMES) {
        const bool checked = IsDlgButtonChecked(window, IDC_ALL_FRAMES) == BST_CHECKED;
        if (page->gray) {
          dialog.GrayAutoGainAllFrames(checked);
        } else {
          dialog.WhiteBalanceAllFrames(checked);
        }
      } else if (control == IDC_ONCE) {
        if (page->gray) {
          dialog.GrayAutoGainOnce();
        } else {
          dialog.WhiteBalanceOnce();
        }
        CheckDlgButton(window, IDC_ALL_FRAMES, BST_UNCHECKED);
      } else if (page->gray && control >= IDC_GRAY_MODE_BAYER &&
                 control <= IDC_GRAY_MODE_GRAYSCALE) {
        dialog.SetGrayMode(control - IDC_GRAY_MODE_BAYER);
      } else {
        return FALSE;
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void InsertTab(HWND tab, int position, const char* english, const char* japanese) {
  std::wstring text = Wide(Text(english, japanese));
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = text.data();
  SendMessageW(tab, TCM_INSERTITEMW, static_cast<WPARAM>(position),
               reinterpret_cast<LPARAM>(&item));
}

HWND CreatePage(HWND tab, int templateId, FilterPage* page, bool shown) {
  HWND window = CreateDialogParamA(TemplateModule(), MAKEINTRESOURCEA(templateId), tab, PageProc,
                                   reinterpret_cast<LPARAM>(page));
  if (window != nullptr) {
    SetWindowPos(window, nullptr, 30, 25, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  }
  return window;
}

INT_PTR CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  FilterFrame* frame = StoredObject<FilterFrame>(window, message, lParam);
  if (frame == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG: {
      // Published before the page reads its values: a change the frame
      // thread makes from here on asks for a refresh, which is handled after
      // this message; one made before is what the page reads.
      frame->published->store(window, std::memory_order_release);
      HWND tab = GetDlgItem(window, IDC_TAB);
      const bool japanese = JapaneseSystem();
      InsertTab(tab, 0, "Image Filter", "イメージフィルタ");
      frame->image = CreatePage(tab, japanese ? IDD_IMAGE_PAGE_JA : IDD_IMAGE_PAGE_EN,
                                &frame->imagePage, true);
      if (frame->dialog->HasGrayPage()) {
        InsertTab(tab, 1, "Gray Filter", "グレーフィルタ");
        frame->gray = CreatePage(tab, japanese ? IDD_GRAY_PAGE_JA : IDD_GRAY_PAGE_EN,
                                 &frame->grayPage, false);
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != IDC_TAB || header->code != TCN_SELCHANGE) return FALSE;
      const int selection = static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
      ShowWindow(frame->image, selection == 0 ? SW_SHOW : SW_HIDE);
      if (frame->gray != nullptr) ShowWindow(frame->gray, selection == 1 ? SW_SHOW : SW_HIDE);
      return TRUE;
    }
    case kRefreshMessage:
      if (frame->image != nullptr) LoadPage(frame->image, frame->imagePage, false);
      if (frame->gray != nullptr) LoadPage(frame->gray, frame->grayPage, false);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (frame->image != nullptr) ReadBackPage(frame->image, frame->imagePage);
          if (frame->gray != nullptr) ReadBackPage(frame->gray, frame->grayPage);
          EndDialog(window, 1);
          return TRUE;
        case IDCANCEL:
          EndDialog(window, 2);
          return TRUE;
        case IDC_DEFAULT:
          frame->dialog->Default();
          if (frame->image != nullptr) LoadPage(frame->image, frame->imagePage, false);
          if (frame->gray != nullptr) LoadPage(frame->gray, frame->grayPage, false);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

int RunFilterDialog(WindowHandle owner, FilterDialog& dialog, DialogWindowSlot& published) {
  EnsureCommonControls();
  FilterFrame frame;
  frame.dialog = &dialog;
  frame.published = &published;
  frame.imagePage.dialog = &dialog;
  frame.grayPage.dialog = &dialog;
  frame.grayPage.gray = true;
  // A dialog opened from this one's modal loop publishes itself in turn;
  // once it ends, the one beneath is published again.
  WindowHandle beneath = published.load(std::memory_order_acquire);
  const INT_PTR result = DialogBoxParamA(
      TemplateModule(),
      MAKEINTRESOURCEA(JapaneseSystem() ? IDD_FILTER_FRAME_JA : IDD_FILTER_FRAME_EN), AsHwnd(owner),
      FrameProc, reinterpret_cast<LPARAM>(&frame));
  published.store(beneath, std::memory_order_release);
  return result == 1 ? 1 : (result == -1 || result == 0) ? -1 : 2;
}

}  // namespace varnel
