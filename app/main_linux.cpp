// kivom for Linux: the command line, then the start-up and the loop of the form.
//   kivom DEVICE     COM1 is DEVICE, a terminal such as /dev/ttyUSB0 or a /dev/serial/by-id/ name
//   kivom            COM1 is the one serial adapter present
//   kivom --demo     COM1 is an echo device on a pseudo-terminal that kivom makes itself
//   kivom --list     the serial adapters present, with their /dev/serial/by-id/ names
// Exit code 0 once the window has been shown; 2 when the command line cannot be followed.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/command_line_linux.h"
#include "app/demo_device_linux.h"
#include "app/globals_linux.h"
#include "app/startup.h"
#include "serial/exclusive_port_linux.h"

namespace {

constexpr int kExitRefused = 2;

// A refusal goes to standard error and, where nobody reads it (started from the desktop's
// menu), into a message box as well.
[[noreturn]] void Refuse(const std::string& why) {
  std::fprintf(stderr, "kivom: %s\n", why.c_str());
  if (isatty(STDERR_FILENO) == 0 && gtk_init_check(nullptr, nullptr)) {
    GtkWidget* box = gtk_message_dialog_new(nullptr, GtkDialogFlags{}, GTK_MESSAGE_ERROR,
                                            GTK_BUTTONS_OK, "%s", why.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "kivom");
    gtk_dialog_run(GTK_DIALOG(box));
  }
  std::exit(kExitRefused);
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine command = ParseCommandLine(argc, argv);
  switch (command.action) {
    case Action::kHelp:
      std::fputs(UsageText(), stdout);
      return 0;
    case Action::kVersion:
      std::printf("kivom %s\n", KIVOM_VERSION);
      return 0;
    case Action::kList:
      return ListAdapters(stdout);
    case Action::kUsage:
      std::fputs(UsageText(), stderr);
      return kExitRefused;
    case Action::kRun:
      break;
  }

  // The echo device's process starts before the toolkit, so that it carries none of it.
  std::string why;
  if (command.demo) {
    if (!StartDemoDevice(command.device, why)) Refuse(why);
    std::fprintf(stderr, "kivom: COM1 is the built-in echo device on %s\n", command.device.c_str());
  } else if (command.device.empty() && !FindOneAdapter(command.device, why)) {
    Refuse(why);
  }
  if (!CheckDevice(command.device, why)) Refuse(why);
  // The keeper of the port, too, starts before the toolkit: handing it the port at each press
  // then costs no copy of the program.
  StartPortKeeper();
  if (!gtk_init_check(&argc, &argv)) {
    std::fputs("kivom: no display: kivom is a window, and none could be opened\n", stderr);
    return kExitRefused;
  }
  if (!command.demo) std::fprintf(stderr, "kivom: COM1 is %s\n", command.device.c_str());
  SayWhoHolds(command.device, stderr);

  PortDevice = command.device.c_str();
  if (!StartUp()) return 1;
  MainLoop();
  return 0;
}
