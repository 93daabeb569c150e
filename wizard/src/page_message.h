// The pages' message boxes: caption and text from the string table, owned
// by the page, only an OK button.
#pragma once

#include <string>

#include "platform/framework_window.h"

// The string-table entry of the program's resources; empty when missing.
std::string LoadResourceString(UINT id);

// icon: MB_ICONHAND, MB_ICONEXCLAMATION or MB_ICONASTERISK. The answer is
// not needed: there is only OK.
void ShowPageMessage(CWnd& page, UINT icon, UINT captionId, UINT textId);
