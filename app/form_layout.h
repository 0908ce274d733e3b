// MainForm as both builds draw it: the window, its six controls and their texts. The Windows
// build creates them with CreateWindowExA, the Linux build with GTK; both take every id,
// position, size and text from here. Texts are Shift-JIS (code page 932) byte strings.
#pragma once

#include <cstdint>

// The form's window class and title, by which other programs find its window.
constexpr char kFormClassName[] = "NORMAL0";
constexpr char kMainWindowTitle[] = "kivom";
// A class that the start-up registers and of which no window is ever made.
constexpr char kDialogClassName[] = "NORMALDLG";

// The main window's outer size on Windows, frame and title bar included.
constexpr int kMainWindowWidth = 480;
constexpr int kMainWindowHeight = 360;
// Its client area as Wine lays out that frame (a sizing border of 4 pixels all round and a
// caption of 19, at 96 dots per inch): the size of the Linux build's window, whose frame is the
// desktop's.
constexpr int kClientWidth = 472;
constexpr int kClientHeight = 333;

// The form font: a character height of 12 pixels in "ＭＳ Ｐゴシック", or in IPAPGothic, its
// metric twin, where that face is missing (Linux, Wine).
constexpr int kFontCharacterHeight = 12;
constexpr char kFontFace[] =  // ＭＳ Ｐゴシック
    "\x82l\x82r \x82o\x83S\x83V\x83"
    "b\x83N";
constexpr char kFontTwinFace[] = "IPAPGothic";

// Control ids; controls are always found by id under the main window.
enum ControlId : int {
  TransmitEdit = 1000,
  ReceiveEdit = 1001,
  TransmitLabel = 1002,
  ReceiveLabel = 1003,
  TitleLabel = 1004,
  StartButton = 1005,
};

enum class ControlKind { kEdit, kLabel, kButton };

// Windows' styles of the controls: child and visible, no class-specific bits and no tab stop, so
// the edits are single-line boxes that do not scroll, the labels left-aligned text and the button
// a plain push button.
constexpr uint32_t kChildStyle = 0x50000000;  // WS_CHILD | WS_VISIBLE
constexpr uint32_t kClientEdge = 0x200;       // WS_EX_CLIENTEDGE

struct ControlSpec {
  int id;
  ControlKind kind;
  uint32_t exStyle;
  int x, y, width, height;  // client-area pixels of the form
  const char* caption;      // text at creation
  const char* text;         // text set by FormLoad
};

// Shift-JIS texts of the form.
constexpr char kTransmitLabelText[] = "\x91\x97\x90M\x95\xb6\x8e\x9a";  // 送信文字
constexpr char kReceiveLabelText[] = "\x8e\xf3\x90M\x95\xb6\x8e\x9a";   // 受信文字
constexpr char kTitleLabelText[] =  // 簡易通信テストプログラム API
    "\x8a\xc8\x88\xd5\x92\xca\x90M\x83"
    "e\x83X\x83g\x83v\x83\x8d\x83O\x83\x89\x83\x80 API";
constexpr char kStartButtonText[] =
    "\x92\xca\x90M\x83"
    "e\x83X\x83g\x8aJ\x8en";  // 通信テスト開始

// What the Linux build gives a screen reader: the reply box's description, and what is spoken
// at the end of an exchange in which nothing came back.
constexpr char kReceiveEditDescription[] =  // 通信相手から返ってきた文字: the text that came back
    "\x92\xca\x90M\x91\x8a\x8e\xe8\x82\xa9\x82\xe7\x95\xd4\x82\xc1\x82\xc4\x82\xab\x82\xbd\x95\xb6"
    "\x8e\x9a";
constexpr char kNoReplyText[] = "\x8e\xf3\x90M\x82\xc8\x82\xb5";  // 受信なし: nothing received

// In id order, the order in which they are created and given their texts.
constexpr ControlSpec kControls[] = {
    {TransmitEdit, ControlKind::kEdit, kClientEdge, 95, 65, 239, 83, "", ""},
    {ReceiveEdit, ControlKind::kEdit, kClientEdge, 95, 188, 238, 76, "", ""},
    {TransmitLabel, ControlKind::kLabel, 0, 94, 45, 61, 20, "Text1", kTransmitLabelText},
    {ReceiveLabel, ControlKind::kLabel, 0, 95, 169, 48, 19, "Text2", kReceiveLabelText},
    {TitleLabel, ControlKind::kLabel, 0, 84, 7, 260, 31, "Text3", kTitleLabelText},
    {StartButton, ControlKind::kButton, 0, 367, 284, 84, 34, "Button1", kStartButtonText},
};
