// The runtime's message box in GTK. It has no owner and is not modal: as on Windows, the form
// stays enabled while it is open, and the box's own loop goes on dispatching the events of every
// window, so a further press runs a nested exchange.
#include <gtk/gtk.h>

#include <string>

#include "app/text_linux.h"
#include "runtime/platform.h"

namespace {

constexpr char kDefaultCaption[] = "Error";  // what Windows calls a box given no caption
constexpr int32_t kOkPressed = 1;            // IDOK

void OnAnswered(GtkDialog*, gint, gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

}  // namespace

namespace runtime::platform {

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t) {
  const std::string message = kivom_text::Utf8FromShiftJis(text != nullptr ? text : "");
  const std::string title =
      caption != nullptr ? kivom_text::Utf8FromShiftJis(caption) : kDefaultCaption;
  GtkWidget* box = gtk_message_dialog_new(static_cast<GtkWindow*>(owner), GtkDialogFlags{},
                                          GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_signal_connect(box, "response", G_CALLBACK(OnAnswered), loop);  // OK, Escape, or closed
  gtk_widget_show_all(box);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  gtk_widget_destroy(box);
  return kOkPressed;
}

}  // namespace runtime::platform
