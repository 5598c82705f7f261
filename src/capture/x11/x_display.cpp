#include "capture/x11/x_display.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace dravnok::capture::x11 {
namespace {

// X reports request errors through one handler per process; during a read
// it only notes that one came, instead of ending the process.
std::atomic<bool> errorSeen{false};

int noteError(Display*, XErrorEvent*) {
  errorSeen = true;
  return 0;
}

class ErrorTrap {
public:
  explicit ErrorTrap(Display* display) : display(display) {
    XSync(display, False);
    errorSeen = false;
    previous = XSetErrorHandler(noteError);
  }
  ~ErrorTrap() { XSetErrorHandler(previous); }
  // Waits for the server's answer to everything sent so far.
  bool failed() {
    XSync(display, False);
    return errorSeen.load();
  }

private:
  Display* display;
  int (*previous)(Display*, XErrorEvent*);
};

} // namespace

std::vector<MonitorInfo> listMonitors(Display* display, int screen) {
  std::vector<MonitorInfo> monitors;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    XRRMonitorInfo* list = XRRGetMonitors(display, RootWindow(display, screen), True, &count);
    for (int i = 0; list && i < count; ++i) {
      if (list[i].width <= 0 || list[i].height <= 0) continue;
      monitors.push_back({list[i].x, list[i].y, list[i].width, list[i].height, list[i].primary != 0});
    }
    if (list) XRRFreeMonitors(list);
  }
  if (monitors.empty()) {
    monitors.push_back({0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen), true});
  }
  ensureOnePrimary(monitors);
  sortMonitors(monitors);
  return monitors;
}

ScreenReader::ScreenReader(Display* display, int screen)
    : display(display), screen(screen), shmWanted(XShmQueryExtension(display)) {}

ScreenReader::~ScreenReader() { freeImage(); }

void ScreenReader::freeImage() {
  if (!image) return;
  if (shmAttached) {
    XShmDetach(display, &shm);
    XSync(display, False);
    shmAttached = false;
  }
  if (shm.shmaddr) {
    shmdt(shm.shmaddr);
    shm.shmaddr = nullptr;
    // The image's data is the segment: keep XDestroyImage from freeing it.
    image->data = nullptr;
  }
  XDestroyImage(image);
  image = nullptr;
}

bool ScreenReader::makeImage(int32_t width, int32_t height) {
  freeImage();
  Visual* visual = DefaultVisual(display, screen);
  const int depth = DefaultDepth(display, screen);
  if (shmWanted) {
    image = XShmCreateImage(display, visual, depth, ZPixmap, nullptr, &shm, width, height);
    if (image) {
      shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
      if (shm.shmid >= 0) {
        shm.shmaddr = image->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
        // Marked for removal now: it goes away with the last detach.
        shmctl(shm.shmid, IPC_RMID, nullptr);
        if (shm.shmaddr == reinterpret_cast<char*>(-1)) shm.shmaddr = image->data = nullptr;
      }
      if (shm.shmaddr) {
        shm.readOnly = False;
        ErrorTrap trap(display);
        XShmAttach(display, &shm);
        shmAttached = !trap.failed();
      }
      if (shmAttached) return true;
      freeImage();
    }
    // A server that cannot share memory with us (another host, no access).
    shmWanted = false;
  }
  return true;
}

bool ScreenReader::read(int32_t left, int32_t top, int32_t width, int32_t height, std::string& error) {
  if (width <= 0 || height <= 0) {
    error = "empty capture rectangle";
    return false;
  }
  const Window root = RootWindow(display, screen);
  if (shmWanted && (!image || image->width != width || image->height != height)) makeImage(width, height);
  if (shmWanted) {
    ErrorTrap trap(display);
    bool ok = XShmGetImage(display, root, image, left, top, AllPlanes);
    if (!ok || trap.failed()) {
      error = "XShmGetImage failed";
      return false;
    }
  } else {
    freeImage();
    ErrorTrap trap(display);
    image = XGetImage(display, root, left, top, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes,
                      ZPixmap);
    if (trap.failed() || !image) {
      if (image) XDestroyImage(image);
      image = nullptr;
      error = "XGetImage failed";
      return false;
    }
  }
  if (image->bits_per_pixel != 32 || image->byte_order != LSBFirst || image->red_mask != 0xFF0000 ||
      image->green_mask != 0xFF00 || image->blue_mask != 0xFF) {
    error = "the X screen is not 24/32-bit true colour";
    return false;
  }
  return true;
}

const uint8_t* ScreenReader::pixels() const { return image ? reinterpret_cast<const uint8_t*>(image->data) : nullptr; }

int64_t ScreenReader::pitch() const { return image ? image->bytes_per_line : 0; }

} // namespace dravnok::capture::x11
