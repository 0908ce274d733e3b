// MainForm: the one window, with the text to send, the reply and the start button.
#pragma once

#include <windows.h>

#include "app/form_layout.h"

// The window procedure of the form's class.
LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the six controls their texts; called once at the end of the creation handling.
void FormLoad();

// Deletes the font and the brush and posts the quit message; called on WM_DESTROY.
void FormUnload();
