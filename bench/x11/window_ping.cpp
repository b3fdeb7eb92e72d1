// Pings a window from outside its process, as a window manager does: a _NET_WM_PING client
// message to the window, answered by the program's event loop with a copy sent to the root
// window. The time to the answer is how long the window's thread kept the user waiting.
//
//   window_ping TITLE SECONDS [INTERVAL_MS]
// Waits up to 120 s for a top-level window whose title contains TITLE, lets it settle for 2 s,
// then pings it for SECONDS and prints the count, median, 99th percentile and longest answer.
// Exit status 1 when no window appeared or it stopped answering for 5 s.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string titleOf(Display* display, Window window) {
  Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
  }
  if (title.empty()) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
      title = name;
      XFree(name);
    }
  }
  return title;
}

bool answersPings(Display* display, Window window) {
  Atom* protocols = nullptr;
  int count = 0;
  if (!XGetWMProtocols(display, window, &protocols, &count)) return false;
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  const bool found = std::find(protocols, protocols + count, ping) != protocols + count;
  XFree(protocols);
  return found;
}

// The first shown window below `parent`, depth first, whose title holds `part` and that answers
// pings (Qt gives helper windows the same title); 0 when none does.
Window find(Display* display, Window parent, const char* part) {
  Window root = 0, up = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && !found; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable &&
        titleOf(display, children[i]).find(part) != std::string::npos &&
        answersPings(display, children[i]))
      found = children[i];
    else
      found = find(display, children[i], part);
  }
  if (children) XFree(children);
  return found;
}

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_ping TITLE SECONDS [INTERVAL_MS]\n");
    return 2;
  }
  const char* part = argv[1];
  const double seconds = std::atof(argv[2]);
  const int interval = argc > 3 ? std::atoi(argv[3]) : 20;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "window_ping: no X display\n");
    return 1;
  }
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, StructureNotifyMask);  // where Qt sends its answer
  Window window = 0;
  for (const auto until = Clock::now() + std::chrono::seconds(120); !window;) {
    window = find(display, root, part);
    if (!window && Clock::now() > until) {
      std::fprintf(stderr, "window_ping: no window titled \"%s\"\n", part);
      return 1;
    }
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  std::vector<double> answers, at;
  const auto begin = Clock::now();
  const int fd = ConnectionNumber(display);
  long serial = 1;
  for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end;
       ++serial) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(ping);
    event.xclient.data.l[1] = serial;  // in place of a server time: names this ping
    event.xclient.data.l[2] = static_cast<long>(window);
    const auto sent = Clock::now();
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    bool answered = false;
    while (!answered) {
      while (!answered && XPending(display)) {
        XEvent reply;
        XNextEvent(display, &reply);
        answered = reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                   static_cast<Atom>(reply.xclient.data.l[0]) == ping &&
                   reply.xclient.data.l[1] == serial;
      }
      if (answered) break;
      const double waited = std::chrono::duration<double>(Clock::now() - sent).count();
      if (waited > 5) {
        std::printf("window_ping: no answer within 5 s\n");
        return 1;
      }
      pollfd wait{fd, POLLIN, 0};
      ::poll(&wait, 1, 10);
    }
    answers.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    at.push_back(std::chrono::duration<double>(sent - begin).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  }
  if (answers.empty()) return 1;
  std::printf(
      "pinged from outside, every %d ms for %.0f s: %zu answers, median %.1f ms, 99th percentile "
      "%.1f ms, longest %.1f ms\n",
      interval, seconds, answers.size(), percentile(answers, 0.5), percentile(answers, 0.99),
      percentile(answers, 1.0));
  std::vector<std::size_t> order(answers.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return answers[a] > answers[b]; });
  std::printf("  the longest:");
  for (std::size_t i = 0; i < std::min<std::size_t>(5, order.size()); ++i)
    std::printf(" %.1f ms at %.1f s;", answers[order[i]], at[order[i]]);
  std::printf("\n");
  return 0;
}
