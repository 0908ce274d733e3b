// MainForm: the one window, with the text to send, the reply and the start button.
#pragma once

#include <windows.h>

// The form's window class and title, by which other programs find its window.
constexpr char kFormClassName[] = "NORMAL0";
constexpr char kMainWindowTitle[] = "kivom";
// A class that the start-up registers and of which no window is ever made.
constexpr char kDialogClassName[] = "NORMALDLG";

// Control ids; controls are always found by id under the main window.
enum ControlId : int {
  TransmitEdit = 1000,
  ReceiveEdit = 1001,
  TransmitLabel = 1002,
  ReceiveLabel = 1003,
  TitleLabel = 1004,
  StartButton = 1005,
};

// The window procedure of the form's class.
LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the six controls their texts; called once at the end of the creation handling.
void FormLoad();

// Deletes the font and the brush and posts the quit message; called on WM_DESTROY.
void FormUnload();
