// The text on the clipboard (CF_UNICODETEXT), as any program pastes it;
// empty when there is none or the clipboard cannot be opened.
#pragma once

#include <string>

std::wstring ClipboardText();
