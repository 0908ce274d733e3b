// paste-answered: pastes a text into the X window under the pointer as a person does (Ctrl+A,
// then Ctrl+V, as key presses through the X server, the text served as the clipboard), and
// prints the milliseconds from the Ctrl+V to the moment the window answers a _NET_WM_PING, the
// question a window manager asks before it calls a window "not responding".
//   paste-answered WINDOW FILE RUNS   prints one line "MS" per run
// WINDOW is the top-level window's id, FILE the text (UTF-8). The window's program handles X
// events in order on one thread, so its answer to the ping sent right after the clipboard's
// reply comes only once the paste has been taken.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr int kWaitSeconds = 120;  // a paste that takes longer has failed anyway

struct Clipboard {
  Display* display;
  Window owner;
  Atom selection, utf8, targets, protocols, ping;
  std::string text;
  bool served;  // the text was handed out since the last paste began
};

double NowMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The text as UTF8_STRING, the list of targets, and nothing else.
void Serve(Clipboard& clip, const XSelectionRequestEvent& request) {
  XSelectionEvent reply = {};
  reply.type = SelectionNotify;
  reply.requestor = request.requestor;
  reply.selection = request.selection;
  reply.target = request.target;
  reply.time = request.time;
  const Atom property = request.property != None ? request.property : request.target;
  if (request.target == clip.utf8) {
    XChangeProperty(clip.display, request.requestor, property, clip.utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(clip.text.data()),
                    static_cast<int>(clip.text.size()));
    reply.property = property;
    clip.served = true;
  } else if (request.target == clip.targets) {
    const Atom offered[] = {clip.targets, clip.utf8};
    XChangeProperty(clip.display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(offered), 2);
    reply.property = property;
  }
  XSendEvent(clip.display, request.requestor, False, NoEventMask,
             reinterpret_cast<XEvent*>(&reply));
  XFlush(clip.display);
}

// Handles X events until `done` holds or the time is up; false then.
template <typename Done>
bool HandleUntil(Clipboard& clip, Done done) {
  const double deadline = NowMs() + kWaitSeconds * 1000.0;
  while (true) {
    while (XPending(clip.display) > 0) {
      XEvent event;
      XNextEvent(clip.display, &event);
      if (event.type == SelectionRequest) Serve(clip, event.xselectionrequest);
      if (done(event)) return true;
    }
    const double left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd wait = {ConnectionNumber(clip.display), POLLIN, 0};
    poll(&wait, 1, static_cast<int>(left) + 1);
  }
}

// Asks WINDOW the window manager's ping and waits for its answer.
bool Ping(Clipboard& clip, Window window, long serial) {
  XEvent ping = {};
  ping.xclient.type = ClientMessage;
  ping.xclient.window = window;
  ping.xclient.message_type = clip.protocols;
  ping.xclient.format = 32;
  ping.xclient.data.l[0] = static_cast<long>(clip.ping);
  ping.xclient.data.l[1] = serial;
  ping.xclient.data.l[2] = static_cast<long>(window);
  XSendEvent(clip.display, window, False, NoEventMask, &ping);
  XFlush(clip.display);
  return HandleUntil(clip, [&](const XEvent& event) {
    return event.type == ClientMessage && event.xclient.message_type == clip.protocols &&
           event.xclient.data.l[0] == static_cast<long>(clip.ping) &&
           event.xclient.data.l[1] == serial;
  });
}

void Chord(Display* display, KeySym modifier, KeySym key) {
  const KeyCode held = XKeysymToKeycode(display, modifier);
  const KeyCode pressed = XKeysymToKeycode(display, key);
  XTestFakeKeyEvent(display, held, True, CurrentTime);
  XTestFakeKeyEvent(display, pressed, True, CurrentTime);
  XTestFakeKeyEvent(display, pressed, False, CurrentTime);
  XTestFakeKeyEvent(display, held, False, CurrentTime);
  XFlush(display);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: paste-answered WINDOW FILE RUNS\n", stderr);
    return 2;
  }
  const Window window = std::strtoul(argv[1], nullptr, 0);
  const int runs = std::atoi(argv[3]);
  std::ifstream file(argv[2], std::ios::binary);
  Clipboard clip = {};
  clip.text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  clip.display = XOpenDisplay(nullptr);
  if (clip.display == nullptr) {
    std::fputs("paste-answered: no display\n", stderr);
    return 1;
  }
  Display* display = clip.display;
  clip.owner = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  clip.selection = XInternAtom(display, "CLIPBOARD", False);
  clip.utf8 = XInternAtom(display, "UTF8_STRING", False);
  clip.targets = XInternAtom(display, "TARGETS", False);
  clip.protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  clip.ping = XInternAtom(display, "_NET_WM_PING", False);
  // A window answers a ping on the root window, to whoever watches its children.
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSetSelectionOwner(display, clip.selection, clip.owner, CurrentTime);
  if (XGetSelectionOwner(display, clip.selection) != clip.owner) {
    std::fputs("paste-answered: the clipboard could not be taken\n", stderr);
    return 1;
  }
  for (long run = 1; run <= runs; ++run) {
    Chord(display, XK_Control_L, XK_a);
    if (!Ping(clip, window, 2 * run)) {
      std::fprintf(stderr, "paste-answered: no answer to a ping within %d s\n", kWaitSeconds);
      return 1;
    }
    clip.served = false;
    const double start = NowMs();
    Chord(display, XK_Control_L, XK_v);
    if (!HandleUntil(clip, [&](const XEvent&) { return clip.served; }) ||
        !Ping(clip, window, 2 * run + 1)) {
      std::fprintf(stderr, "paste-answered: the paste was %s within %d s\n",
                   clip.served ? "not answered" : "never asked for", kWaitSeconds);
      return 1;
    }
    std::printf("%.2f\n", NowMs() - start);
    std::fflush(stdout);
  }
  return 0;
}
