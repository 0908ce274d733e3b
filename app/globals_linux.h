// The process-wide globals of the Linux build. Start-up owns them; the form and the serial
// exchange read them.
#pragma once

#include <gtk/gtk.h>

#include "app/startup.h"
#include "runtime/strings.h"

extern runtime::TrackedString GlobalStringSlots[kGlobalStringSlotCount];
// The form font as the toolkit takes it: a style that every control of the form is given.
extern GtkCssProvider* FormFont;
extern GtkWidget* MainWindowHandle;
// The device behind COM1, named on the command line.
extern const char* PortDevice;
