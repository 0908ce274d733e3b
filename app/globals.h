// The process-wide globals of the program. Start-up owns them; the form and the serial
// exchange read them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/startup.h"
#include "runtime/strings.h"

extern runtime::TrackedString GlobalStringSlots[kGlobalStringSlotCount];
extern HFONT FormFont;
extern double FaceBrush;  // the brush handle, as a signed 32-bit value held as a double
extern HWND MainWindowHandle;
extern MSG MessageRecord;
extern int32_t LoopResult;
extern WNDCLASSEXA DialogClassRecord;  // "NORMALDLG"
extern WNDCLASSEXA FormClassRecord;    // "NORMAL0"
// The port as the failure message names it and as the exchange opens it: kPortName for both
// unless the command line named another (TakePortArgument).
extern const char* PortName;
extern const char* PortPath;

// A handle kept in a numeric value goes back to the platform rounded to a signed 32-bit
// integer, as handles are.
HGDIOBJ NumericToHandle(double value);
double HandleToNumeric(HGDIOBJ handle);
