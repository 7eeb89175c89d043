// Resource identifiers shared by res/stormtally.rc and the Win32 adapters.
#pragma once

#define IDI_STORMTALLY 1
#define IDD_INPUT_PROMPT 100
#define IDC_PROMPT_TEXT 101
#define IDC_PROMPT_EDIT 102
