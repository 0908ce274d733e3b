// One GTK 3 entry alone in a window, with nothing of kivom's: the yardstick for what a paste into
// the native kivom's send box costs beyond what the toolkit spends on it.
#include <gtk/gtk.h>

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "plain-entry");
  gtk_window_set_default_size(GTK_WINDOW(window), 472, 329);
  GtkWidget* fixed = gtk_fixed_new();
  GtkWidget* entry = gtk_entry_new();
  gtk_widget_set_size_request(entry, 400, 32);
  gtk_fixed_put(GTK_FIXED(fixed), entry, 36, 40);
  gtk_container_add(GTK_CONTAINER(window), fixed);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
