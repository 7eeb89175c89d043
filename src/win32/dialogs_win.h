// The widget's two modal dialogs: a message box and an input prompt.
#pragma once

#include <string>

#include "core/desktop.h"
#include "win32/handles_win.h"

namespace stormtally {

// CR alone starts a new line in the widget's messages; the message box wants CR LF.
void showMessage(HWND owner, const std::string& text, const std::string& title, MessageKind kind);

// The prompt of the dialog resource IDD_INPUT_PROMPT: an edit field, OK and Cancel, its
// upper-left corner at a screen pixel. Returns the edited text on OK and the empty text on
// Cancel.
std::string showInputPrompt(HWND owner, const std::string& prompt, const std::string& title,
                            const std::string& defaultText, POINT topLeft);

}  // namespace stormtally
