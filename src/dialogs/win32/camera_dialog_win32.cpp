// The camera settings dialog as a window: one "Stream Format" tab with the
// colour, size and sub-sample lists, the size edits, the wait time and clock
// and, in the Japanese template, the sync polarity buttons.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialogs/camera_dialog.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/dialog_runner.h"
#include "dialogs/win32/dialog_support_win32.h"

namespace varnel {
namespace {

using namespace dialog_win32;

struct CameraView {
  CameraDialog* dialog = nullptr;
  DialogLanguage language = DialogLanguage::kEnglish;
  // Edits written while the dialog fills itself are not user changes.
  bool initialised = false;
};

constexpr int kSizeEdits[6] = {IDC_H_TOTAL,     IDC_V_TOTAL, IDC_H_EFFECTIVE,
                               IDC_V_EFFECTIVE, IDC_H_START, IDC_V_START};

void InsertItem(HWND window, int list, int position, const std::string& utf8) {
  const std::wstring text = Wide(utf8.c_str());
  SendMessageW(GetDlgItem(window, list), CB_INSERTSTRING, static_cast<WPARAM>(position),
               reinterpret_cast<LPARAM>(text.c_str()));
}

int Selection(HWND window, int list) {
  return static_cast<int>(SendMessageA(GetDlgItem(window, list), CB_GETCURSEL, 0, 0));
}

void Select(HWND window, int list, int index) {
  SendMessageA(GetDlgItem(window, list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ShowFields(HWND window, const SizeFields& fields) {
  const uint32_t values[6] = {fields.hTotal, fields.vTotal, fields.width,
                              fields.height, fields.hStart, fields.vStart};
  for (int i = 0; i < 6; ++i) SetDlgItemInt(window, kSizeEdits[i], values[i], FALSE);
}

uint32_t ReadUnsigned(HWND window, int edit) {
  BOOL ok = FALSE;
  const UINT value = GetDlgItemInt(window, edit, &ok, FALSE);
  return ok ? value : 0;
}

// A sync button's state, or nothing when the template has none or it is
// disabled (the model has no sync setting).
std::optional<bool> SyncState(HWND window, int plusButton) {
  HWND button = GetDlgItem(window, plusButton);
  if (button == nullptr || !IsWindowEnabled(button)) return std::nullopt;
  return IsDlgButtonChecked(window, plusButton) == BST_CHECKED;
}

void Initialise(HWND window, CameraView& view) {
  CameraDialog& dialog = *view.dialog;
  const bool japanese = view.language == DialogLanguage::kJapanese;

  std::wstring tabText = Wide(Text("Stream Format", "ストリーム形式"));
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = tabText.data();
  SendMessageW(GetDlgItem(window, IDC_TAB), TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));

  for (int i = 0; i < kColorListSize; ++i) {
    InsertItem(window, IDC_COLOR_LIST, i,
               japanese ? kColorList[i].japanese : kColorList[i].english);
  }
  Select(window, IDC_COLOR_LIST, dialog.ColorSelection());
  InsertItem(window, IDC_SUBSAMPLE_LIST, 0, "1/1");
  Select(window, IDC_SUBSAMPLE_LIST, dialog.SubSampleSelection());
  InsertItem(window, IDC_CLOCK_LIST, 0, Text("Nomal", "標準"));
  InsertItem(window, IDC_CLOCK_LIST, 1, Text("Half", "ハーフ"));
  Select(window, IDC_CLOCK_LIST, dialog.ClockSelection());

  if (dialog.SyncEnabled()) {
    CheckDlgButton(window, dialog.SyncVPositive() ? IDC_SYNC_V_PLUS : IDC_SYNC_V_MINUS,
                   BST_CHECKED);
    CheckDlgButton(window, dialog.SyncHPositive() ? IDC_SYNC_H_PLUS : IDC_SYNC_H_MINUS,
                   BST_CHECKED);
  } else {
    for (int id = IDC_SYNC_V_PLUS; id <= IDC_SYNC_H_MINUS; ++id) {
      if (HWND button = GetDlgItem(window, id)) EnableWindow(button, FALSE);
    }
  }

  const std::vector<std::string> sizes = dialog.SizeItems(view.language);
  for (size_t i = 0; i < sizes.size(); ++i) {
    InsertItem(window, IDC_SIZE_LIST, static_cast<int>(i), sizes[i]);
  }
  Select(window, IDC_SIZE_LIST, dialog.SizeSelection());
  ShowFields(window, dialog.Fields());
  // Every model shows its wait time: an empty edit would be stored as 0.
  SetDlgItemInt(window, IDC_WAIT_TIME, dialog.WaitTime(), FALSE);

  if (!dialog.SizeEditsEnabled()) {
    for (int edit : kSizeEdits) EnableWindow(GetDlgItem(window, edit), FALSE);
  }
  EnableWindow(GetDlgItem(window, IDC_SUBSAMPLE_LIST), dialog.ListsEnabled());
  EnableWindow(GetDlgItem(window, IDC_CLOCK_LIST), dialog.ListsEnabled());
  EnableWindow(GetDlgItem(window, IDC_APPLY), dialog.ApplyEnabledAtStart());
  view.initialised = true;
}

void Apply(HWND window, CameraView& view) {
  CameraDialogControls controls;
  controls.colorSelection = Selection(window, IDC_COLOR_LIST);
  controls.sizeSelection = Selection(window, IDC_SIZE_LIST);
  controls.subSampleSelection = Selection(window, IDC_SUBSAMPLE_LIST);
  controls.clockSelection = Selection(window, IDC_CLOCK_LIST);
  BOOL ok = FALSE;
  const UINT wait = GetDlgItemInt(window, IDC_WAIT_TIME, &ok, FALSE);
  if (ok) controls.waitTime = wait;
  controls.syncVPositive = SyncState(window, IDC_SYNC_V_PLUS);
  controls.syncHPositive = SyncState(window, IDC_SYNC_H_PLUS);
  controls.fields =
      SizeFields{ReadUnsigned(window, IDC_H_TOTAL),     ReadUnsigned(window, IDC_V_TOTAL),
                 ReadUnsigned(window, IDC_H_EFFECTIVE), ReadUnsigned(window, IDC_V_EFFECTIVE),
                 ReadUnsigned(window, IDC_H_START),     ReadUnsigned(window, IDC_V_START)};

  const SizeListChange change = view.dialog->Apply(controls);
  HWND list = GetDlgItem(window, IDC_SIZE_LIST);
  if (change.kind == SizeListChange::kReplaced) {
    SendMessageA(list, CB_DELETESTRING, static_cast<WPARAM>(change.item), 0);
  }
  if (change.kind != SizeListChange::kNone) {
    InsertItem(window, IDC_SIZE_LIST, change.item, change.text);
  }
  Select(window, IDC_SIZE_LIST, change.selection);
  EnableWindow(GetDlgItem(window, IDC_APPLY), FALSE);
}

INT_PTR CALLBACK CameraProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CameraView* view = StoredObject<CameraView>(window, message, lParam);
  if (view == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      Initialise(window, *view);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      // The labels stand on the tab control's body.
      return TransparentLabel(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_COMMAND: {
      const int control = LOWORD(wParam);
      const int code = HIWORD(wParam);
      switch (control) {
        case IDOK:
          Apply(window, *view);
          EndDialog(window, 1);
          return TRUE;
        case IDCANCEL:
          EndDialog(window, 2);
          return TRUE;
        case IDC_APPLY:
          Apply(window, *view);
          return TRUE;
        default:
          break;
      }
      if (!view->initialised) return FALSE;
      if (code == CBN_SELCHANGE) {
        if (control == IDC_SIZE_LIST) {
          if (std::optional<SizeFields> fields =
                  view->dialog->SizeSelected(Selection(window, IDC_SIZE_LIST))) {
            ShowFields(window, *fields);
          }
        }
        EnableWindow(GetDlgItem(window, IDC_APPLY), TRUE);
        return TRUE;
      }
      if (code == EN_CHANGE) {
        EnableWindow(GetDlgItem(window, IDC_APPLY), TRUE);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int RunCameraDialog(WindowHandle owner, CameraDialog& dialog) {
  EnsureCommonControls();
  CameraView view;
  view.dialog = &dialog;
  view.language = JapaneseSystem() ? DialogLanguage::kJapanese : DialogLanguage::kEnglish;
  const INT_PTR result = DialogBoxParamA(
      TemplateModule(), MAKEINTRESOURCEA(JapaneseSystem() ? IDD_CAMERA_JA : IDD_CAMERA_EN),
      AsHwnd(owner), CameraProc, reinterpret_cast<LPARAM>(&view));
  return result == 1 ? 1 : (result == -1 || result == 0) ? -1 : 2;
}

}  // namespace varnel
