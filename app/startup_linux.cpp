#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <cstdio>

#include "app/form_layout.h"
#include "app/globals_linux.h"
#include "app/main_form_linux.h"
#include "app/startup.h"

runtime::TrackedString GlobalStringSlots[kGlobalStringSlotCount];
GtkCssProvider* FormFont;
GtkWidget* MainWindowHandle;
const char* PortDevice;

namespace {

// The form font at its character height, and the controls drawn as tightly as Windows draws
// them, so that each keeps its size: the theme's padding and smallest sizes would grow the
// button past its 84 pixels.
constexpr char kFormFontStyle[] =
    "* { font-family: \"%s\"; font-size: %dpx; }\n"
    "button, entry { padding: 0 2px; min-height: 0; min-width: 0; }\n";

GtkCssProvider* CreateFormFont() {
  char style[256];
  snprintf(style, sizeof style, kFormFontStyle, kFontTwinFace, kFontCharacterHeight);
  GtkCssProvider* font = gtk_css_provider_new();
  gtk_css_provider_load_from_data(font, style, -1, nullptr);
  return font;
}

// Closing the window destroys it, with no prompt and no condition.
gboolean OnClose(GtkWidget*, GdkEvent*, gpointer) {
  gtk_widget_destroy(MainWindowHandle);
  return TRUE;
}

void OnDestroy(GtkWidget*, gpointer) { FormUnload(); }

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// SIGTERM, SIGINT and SIGHUP close the window as its close button does. An exchange running
// then ends first: the signal waits for the loop, which the exchange holds.
gboolean OnEndSignal(gpointer) {
  static bool closed = false;
  if (!closed && MainWindowHandle != nullptr) gtk_widget_destroy(MainWindowHandle);
  closed = true;
  return G_SOURCE_CONTINUE;
}

}  // namespace

bool StartUp() {
  runtime::RuntimeInit();
  for (auto& slot : GlobalStringSlots) slot = runtime::AllocString(0);
  FormFont = CreateFormFont();

  MainWindowHandle = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(MainWindowHandle), kMainWindowTitle);
  gtk_window_set_default_size(GTK_WINDOW(MainWindowHandle), kClientWidth, kClientHeight);
  g_signal_connect(MainWindowHandle, "delete-event", G_CALLBACK(OnClose), nullptr);
  g_signal_connect(MainWindowHandle, "destroy", G_CALLBACK(OnDestroy), nullptr);
  CreateForm();
  for (const int signal : kEndSignals) g_unix_signal_add(signal, OnEndSignal, nullptr);
  gtk_widget_show_all(MainWindowHandle);
  return MainWindowHandle != nullptr;
}

void MainLoop() { gtk_main(); }
