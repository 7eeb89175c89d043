#include "app/dialogs_win.h"

#include <cstdint>
#include <vector>

#include "app/text_win.h"

namespace stormtally {
namespace {

constexpr WORD kPromptId = 100;
constexpr WORD kEditId = 101;

std::wstring crToCrLf(const std::wstring& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == L'\r' && (i + 1 == text.size() || text[i + 1] != L'\n')) out += L'\n';
  }
  return out;
}

// Builds an in-memory dialog template: DLGTEMPLATE, then each DLGITEMTEMPLATE on a DWORD
// boundary, strings as UTF-16.
class TemplateWriter {
 public:
  void word(WORD w) { data_.push_back(w); }
  void dword(DWORD d) {
    word(LOWORD(d));
    word(HIWORD(d));
  }
  void text(const std::wstring& s) {
    for (wchar_t ch : s) word(static_cast<WORD>(ch));
    word(0);
  }
  void alignDword() {
    if (data_.size() % 2) word(0);
  }
  void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
            const std::wstring& caption) {
    alignDword();
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    word(static_cast<WORD>(x));
    word(static_cast<WORD>(y));
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
    word(id);
    word(0xFFFF);
    word(classAtom);
    text(caption);
    word(0);  // no creation data
  }
  const WORD* data() const { return data_.data(); }

 private:
  std::vector<WORD> data_;
};

struct PromptState {
  std::wstring defaultText;
  POINT topLeft;
  std::wstring answer;
};

INT_PTR CALLBACK promptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<PromptState*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      SetDlgItemTextW(dialog, kEditId, state->defaultText.c_str());
      SetWindowPos(dialog, HWND_TOPMOST, state->topLeft.x, state->topLeft.y, 0, 0, SWP_NOSIZE);
      HWND edit = GetDlgItem(dialog, kEditId);
      SendMessageW(edit, EM_SETSEL, 0, -1);
      SetFocus(edit);
      SetForegroundWindow(dialog);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        HWND edit = GetDlgItem(dialog, kEditId);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        state->answer = std::move(text);
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

void showMessage(HWND owner, const std::string& text, const std::string& title, int style) {
  MessageBoxW(owner, crToCrLf(widen(text)).c_str(), widen(title).c_str(),
              static_cast<UINT>(style) | MB_SETFOREGROUND);
}

std::string showInputPrompt(HWND owner, const std::string& prompt, const std::string& title,
                            const std::string& defaultText, POINT topLeft) {
  // Laid out in dialog units: the prompt at the upper left, OK and Cancel at the right, the
  // edit field across the bottom.
  TemplateWriter t;
  const DWORD style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.dword(style);
  t.dword(WS_EX_TOPMOST);
  t.word(4);  // items
  t.word(0);
  t.word(0);
  t.word(240);
  t.word(78);
  t.word(0);  // no menu
  t.word(0);  // default class
  t.text(widen(title));
  t.word(8);
  t.text(L"MS Shell Dlg");
  t.item(SS_LEFT, 7, 7, 170, 44, kPromptId, 0x0082, widen(prompt));
  t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 184, 7, 50, 14, IDOK, 0x0080, L"OK");
  t.item(BS_PUSHBUTTON | WS_TABSTOP, 184, 25, 50, 14, IDCANCEL, 0x0080, L"Cancel");
  t.item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 57, 226, 13, kEditId, 0x0081, L"");

  PromptState state{widen(defaultText), topLeft, L""};
  const INT_PTR result = DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(t.data()), owner, promptProc,
      reinterpret_cast<LPARAM>(&state));
  return result == IDOK ? narrow(state.answer) : std::string();
}

}  // namespace stormtally
