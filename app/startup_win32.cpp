#include "app/startup.h"

#include <cmath>

#include "app/globals.h"
#include "app/main_form.h"
#include "serial/exchange_settings.h"

runtime::TrackedString GlobalStringSlots[kGlobalStringSlotCount];
HFONT FormFont;
double FaceBrush;
HWND MainWindowHandle;
MSG MessageRecord;
int32_t LoopResult;
WNDCLASSEXA DialogClassRecord;
WNDCLASSEXA FormClassRecord;
const char* PortName = kPortName;
const char* PortPath = kPortName;

HGDIOBJ NumericToHandle(double value) {
  const auto handle = static_cast<int32_t>(std::lround(value));
  return reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(handle));
}

double HandleToNumeric(HGDIOBJ handle) {
  // GDI handles fit in 32 bits on every Windows; the value is kept signed.
  return static_cast<double>(static_cast<int32_t>(reinterpret_cast<intptr_t>(handle)));
}

namespace {

// The form font: 12-unit character height, Shift-JIS.
constexpr int kFontHeight = -kFontCharacterHeight;  // negative: character height, not cell height
constexpr int kFontWeight = FW_NORMAL;
constexpr DWORD kFontCharSet = SHIFTJIS_CHARSET;
constexpr DWORD kFontOutPrecision = OUT_STROKE_PRECIS;
constexpr DWORD kFontClipPrecision = CLIP_STROKE_PRECIS;
constexpr DWORD kFontQuality = DRAFT_QUALITY;
constexpr DWORD kFontPitchAndFamily = FF_SWISS | DEFAULT_PITCH;

constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;

constexpr DWORD kMainWindowStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE;

// The class "NORMALDLG" is registered but no window of it is made.
LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

void FillClassRecord(WNDCLASSEXA& record, const char* className, WNDPROC procedure) {
  ZeroMemory(&record, sizeof record);
  record.cbSize = sizeof record;
  record.hInstance = GetModuleHandleA(nullptr);
  record.style = kClassStyle;
  record.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));      // IDI_APPLICATION
  record.hIconSm = LoadIconA(nullptr, MAKEINTRESOURCEA(32517));    // IDI_WINLOGO
  record.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  record.lpszClassName = className;
  record.hbrBackground = static_cast<HBRUSH>(NumericToHandle(FaceBrush));
  record.lpfnWndProc = procedure;
}

}  // namespace

bool StartUp() {
  runtime::RuntimeInit();
  for (auto& slot : GlobalStringSlots) slot = runtime::AllocString(0);

  FormFont = CreateFontA(kFontHeight, 0, 0, 0, kFontWeight, FALSE, FALSE, FALSE, kFontCharSet,
                         kFontOutPrecision, kFontClipPrecision, kFontQuality, kFontPitchAndFamily,
                         kFontFace);
  FaceBrush = HandleToNumeric(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));

  FillClassRecord(DialogClassRecord, kDialogClassName, PlainWindowProc);
  RegisterClassExA(&DialogClassRecord);
  FillClassRecord(FormClassRecord, kFormClassName, MainFormProc);
  RegisterClassExA(&FormClassRecord);

  // The form's creation handling runs inside this call and keeps the handle.
  return CreateWindowExA(0,                                 // extended style
                         kFormClassName, kMainWindowTitle,  //
                         kMainWindowStyle,                  // created visible, no show call
                         CW_USEDEFAULT, CW_USEDEFAULT,      // the platform's default position
                         kMainWindowWidth, kMainWindowHeight,
                         nullptr,  // no parent
                         nullptr,  // no menu
                         GetModuleHandleA(nullptr),
                         nullptr) != nullptr;  // no creation parameter
}

void MainLoop() {
  for (;;) {
    LoopResult = GetMessageA(&MessageRecord, nullptr, 0, 0);
    if (LoopResult == 0 || LoopResult == -1) return;
    TranslateMessage(&MessageRecord);
    DispatchMessageA(&MessageRecord);
  }
}
