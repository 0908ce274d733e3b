#include "app/main_form_linux.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/form_layout.h"
#include "app/globals_linux.h"
#include "app/text_linux.h"
#include "serial/serial_exchange.h"

namespace {

// The key under which each control keeps its id, as a Windows control keeps its own.
constexpr char kControlIdKey[] = "kivom-control-id";

GtkWidget* Form() { return gtk_bin_get_child(GTK_BIN(MainWindowHandle)); }

GtkWidget* NewControl(const ControlSpec& control) {
  const std::string caption = kivom_text::Utf8FromShiftJis(control.caption);
  switch (control.kind) {
    case ControlKind::kEdit: {
      GtkWidget* edit = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(edit), caption.c_str());
      gtk_entry_set_has_frame(GTK_ENTRY(edit), control.exStyle == kClientEdge);
      return edit;
    }
    case ControlKind::kLabel: {
      GtkWidget* label = gtk_label_new(caption.c_str());
      gtk_label_set_xalign(GTK_LABEL(label), 0);  // left-aligned text from the top
      gtk_label_set_yalign(GTK_LABEL(label), 0);
      return label;
    }
    case ControlKind::kButton:
      return gtk_button_new_with_label(caption.c_str());
  }
  return nullptr;
}

// The width of `text` as the edit draws it, in pixels.
int TextWidth(GtkWidget* edit, const char* text) {
  PangoLayout* layout = gtk_widget_create_pango_layout(edit, text);
  int width = 0;
  pango_layout_get_pixel_size(layout, &width, nullptr);
  g_object_unref(layout);
  return width;
}

// Whether the text fits the send box with the first `count` characters of `inserted` put in at
// byte `at` of `before`.
bool FitsWith(GtkEntry* edit, int width, const std::string& before, std::size_t at,
              const std::string& inserted, glong count) {
  const std::size_t bytes = g_utf8_offset_to_pointer(inserted.c_str(), count) - inserted.c_str();
  const std::string candidate =
      before.substr(0, at) + inserted.substr(0, bytes) + before.substr(at);
  return TextWidth(GTK_WIDGET(edit), candidate.c_str()) < width;
}

// The send box does not scroll: what is typed or pasted is taken only as far as it fits the
// box's visible width, as the Windows edit does. A text set by a program (an assistive tool
// through the accessibility bus) arrives with no input event and is kept whole.
void OnSendBoxInsert(GtkEditable* editable, const gchar* text, gint length, gint* position,
                     gpointer) {
  GdkEvent* event = gtk_get_current_event();
  if (event == nullptr) return;
  gdk_event_free(event);

  GtkEntry* edit = GTK_ENTRY(editable);
  GdkRectangle area = {};
  gtk_entry_get_text_area(edit, &area);
  const std::string before(gtk_entry_get_text(edit));
  const std::size_t at = g_utf8_offset_to_pointer(before.c_str(), *position) - before.c_str();
  const std::string inserted(text, length >= 0 ? static_cast<std::size_t>(length) : strlen(text));
  // The longest leading part of the insertion, in whole characters, with which the text fits.
  // A longer part is never narrower, so the part is found by doubling from one character and
  // then halving the gap: a paste of any length costs a few layouts of about what fits, where
  // laying out every shorter part in turn froze the window for minutes.
  const glong count = g_utf8_strlen(inserted.c_str(), static_cast<gssize>(inserted.size()));
  glong fitting = 0;           // the longest part known to fit (none: nothing is put in)
  glong too_long = count + 1;  // the shortest part known not to fit
  for (glong tried = 1; fitting < count && too_long > count; tried *= 2) {
    const glong part = std::min(tried, count);
    if (FitsWith(edit, area.width, before, at, inserted, part)) {
      fitting = part;
    } else {
      too_long = part;
    }
  }
  while (too_long - fitting > 1) {
    const glong part = fitting + (too_long - fitting) / 2;
    if (FitsWith(edit, area.width, before, at, inserted, part)) {
      fitting = part;
    } else {
      too_long = part;
    }
  }
  const std::size_t fits = g_utf8_offset_to_pointer(inserted.c_str(), fitting) - inserted.c_str();
  if (fits == inserted.size()) return;
  g_signal_stop_emission_by_name(editable, "insert-text");
  if (fits == 0) return;
  g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(OnSendBoxInsert), nullptr);
  gtk_editable_insert_text(editable, inserted.c_str(), static_cast<gint>(fits), position);
  g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(OnSendBoxInsert), nullptr);
}

// Tells a screen reader what the exchange brought: the reply box's new text is not read out
// while the focus is on the button, and the focus stays there for the next press. What is
// spoken leaves out the reply's line end; the box keeps it.
void AnnounceReply() {
  GtkWidget* reply = FindControl(ReceiveEdit);
  const std::string shown(gtk_entry_get_text(GTK_ENTRY(reply)));
  std::string spoken = shown.substr(0, shown.find_last_not_of("\r\n") + 1);
  if (shown.empty()) spoken = kivom_text::Utf8FromShiftJis(kNoReplyText);
  if (spoken.empty()) spoken = shown;  // a line end alone: the reader says what it makes of it
  g_signal_emit_by_name(gtk_widget_get_accessible(reply), "announcement", spoken.c_str());
}

gboolean RunExchange(gpointer) {
  SerialTestExchange();
  AnnounceReply();
  return G_SOURCE_REMOVE;
}

// A click, or the space bar while the button has the focus, runs one exchange on the one
// thread: the window does not respond until it is over. It runs as soon as the click's own
// handling has returned, so that an assistive tool that pressed the button through the
// accessibility bus gets its answer first; run inside that call, the exchange (and a message
// box it opens) would hold the accessibility bus, and the box could not be read.
void OnStartClicked(GtkButton*, gpointer) {
  g_idle_add_full(G_PRIORITY_HIGH, RunExchange, nullptr, nullptr);
}

// Return and Enter do not press the button, as they do not on Windows outside a dialog.
gboolean OnStartKey(GtkWidget*, GdkEventKey* key, gpointer) {
  switch (key->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void CreateForm() {
  GtkWidget* form = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(MainWindowHandle), form);
  for (const ControlSpec& control : kControls) {
    GtkWidget* widget = NewControl(control);
    g_object_set_data(G_OBJECT(widget), kControlIdKey, GINT_TO_POINTER(control.id));
    gtk_widget_set_size_request(widget, control.width, control.height);
    gtk_fixed_put(GTK_FIXED(form), widget, control.x, control.y);
    gtk_style_context_add_provider(gtk_widget_get_style_context(FindControl(control.id)),
                                   GTK_STYLE_PROVIDER(FormFont),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  // A screen reader names each box by the label above it.
  gtk_label_set_mnemonic_widget(GTK_LABEL(FindControl(TransmitLabel)), FindControl(TransmitEdit));
  gtk_label_set_mnemonic_widget(GTK_LABEL(FindControl(ReceiveLabel)), FindControl(ReceiveEdit));
  g_signal_connect(FindControl(TransmitEdit), "insert-text", G_CALLBACK(OnSendBoxInsert), nullptr);
  g_signal_connect(FindControl(StartButton), "clicked", G_CALLBACK(OnStartClicked), nullptr);
  g_signal_connect(FindControl(StartButton), "key-press-event", G_CALLBACK(OnStartKey), nullptr);
  FormLoad();
  // A screen reader names the window by its title, "kivom"; the title label says what it is.
  atk_object_set_description(gtk_widget_get_accessible(MainWindowHandle),
                             gtk_label_get_text(GTK_LABEL(FindControl(TitleLabel))));
  atk_object_set_description(gtk_widget_get_accessible(FindControl(ReceiveEdit)),
                             kivom_text::Utf8FromShiftJis(kReceiveEditDescription).c_str());
}

void FormLoad() {
  for (const ControlSpec& control : kControls) SetControlText(control.id, control.text);
}

void FormUnload() {
  g_clear_object(&FormFont);
  gtk_main_quit();
}

GtkWidget* FindControl(int id) {
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(Form()));
  for (GList* child = children; child != nullptr && found == nullptr; child = child->next) {
    if (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(child->data), kControlIdKey)) == id) {
      found = GTK_WIDGET(child->data);
    }
  }
  g_list_free(children);
  return found;
}

int GetControlText(int id, char* buffer, int limit) {
  GtkWidget* control = FindControl(id);
  if (control == nullptr || limit <= 0 || !GTK_IS_ENTRY(control)) return 0;
  const std::string bytes = kivom_text::ShiftJisFromUtf8(gtk_entry_get_text(GTK_ENTRY(control)));
  const std::size_t kept = kivom_text::ShiftJisCut(bytes, static_cast<std::size_t>(limit));
  memcpy(buffer, bytes.data(), kept);
  buffer[kept] = '\0';
  return static_cast<int>(kept);
}

void SetControlText(int id, const char* text) {
  GtkWidget* control = FindControl(id);
  const std::string utf8 = kivom_text::Utf8FromShiftJis(text);
  if (GTK_IS_ENTRY(control)) {
    gtk_entry_set_text(GTK_ENTRY(control), utf8.c_str());
  } else if (GTK_IS_LABEL(control)) {
    gtk_label_set_text(GTK_LABEL(control), utf8.c_str());
  } else if (GTK_IS_BUTTON(control)) {
    gtk_button_set_label(GTK_BUTTON(control), utf8.c_str());
  }
}
