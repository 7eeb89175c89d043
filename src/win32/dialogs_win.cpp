#include "win32/dialogs_win.h"

#include "win32/resource_ids.h"
#include "win32/text_win.h"

namespace stormtally {
namespace {

std::wstring crToCrLf(const std::wstring& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == L'\r' && (i + 1 == text.size() || text[i + 1] != L'\n')) out += L'\n';
  }
  return out;
}

struct PromptState {
  std::wstring prompt, title, defaultText;
  POINT topLeft;
  std::wstring answer;
};

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

INT_PTR CALLBACK promptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<PromptState*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      SetWindowTextW(dialog, state->title.c_str());
      SetDlgItemTextW(dialog, IDC_PROMPT_TEXT, state->prompt.c_str());
      SetDlgItemTextW(dialog, IDC_PROMPT_EDIT, state->defaultText.c_str());
      SetWindowPos(dialog, HWND_TOPMOST, state->topLeft.x, state->topLeft.y, 0, 0, SWP_NOSIZE);
      HWND edit = GetDlgItem(dialog, IDC_PROMPT_EDIT);
      SendMessageW(edit, EM_SETSEL, 0, -1);
      SetFocus(edit);
      SetForegroundWindow(dialog);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        state->answer = windowText(GetDlgItem(dialog, IDC_PROMPT_EDIT));
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

void showMessage(HWND owner, const std::string& text, const std::string& title, MessageKind kind) {
  const UINT icon = kind == MessageKind::Critical ? MB_ICONERROR : MB_ICONINFORMATION;
  MessageBoxW(owner, crToCrLf(widen(text)).c_str(), widen(title).c_str(),
              MB_OK | icon | MB_SETFOREGROUND);
}

std::string showInputPrompt(HWND owner, const std::string& prompt, const std::string& title,
                            const std::string& defaultText, POINT topLeft) {
  PromptState state{widen(prompt), widen(title), widen(defaultText), topLeft, L""};
  const INT_PTR result =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INPUT_PROMPT), owner,
                      promptProc, reinterpret_cast<LPARAM>(&state));
  return result == IDOK ? narrow(state.answer) : std::string();
}

}  // namespace stormtally
