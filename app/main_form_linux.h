// MainForm in GTK: the one window, with the text to send, the reply and the start button.
#pragma once

#include <gtk/gtk.h>

// Builds the six controls into the main window, then calls FormLoad.
void CreateForm();

// Gives the six controls their texts; called once at the end of the creation handling.
void FormLoad();

// Releases the font and ends the loop; called when the window is destroyed.
void FormUnload();

// The control with `id` under the main window, or null.
GtkWidget* FindControl(int id);

// A control's text as Shift-JIS bytes, as the Windows build's GetWindowTextA gives it: at most
// `limit` - 1 bytes and a terminating zero. Returns the bytes copied.
int GetControlText(int id, char* buffer, int limit);

// Sets a control's text from Shift-JIS bytes, up to the first zero byte.
void SetControlText(int id, const char* text);
