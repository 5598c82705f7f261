#include "clipboard/x11/selection_owner.h"

#include <X11/Xatom.h>
#include <algorithm>
#include <sys/eventfd.h>
#include <unistd.h>

namespace dravnok::clipboard {
namespace {

// A requestor that stops fetching increments for this long is abandoned.
constexpr auto kTransferIdle = std::chrono::seconds(5);
constexpr auto kPlaceTimeout = std::chrono::seconds(2);

} // namespace

void SelectionOwnerDeleter::operator()(SelectionOwner* owner) const { delete owner; }

std::unique_ptr<SelectionOwner, SelectionOwnerDeleter> SelectionOwner::create(std::atomic<uint32_t>& ownSequence) {
  DisplayConnection display = openDisplay();
  if (!display) return nullptr;
  return std::unique_ptr<SelectionOwner, SelectionOwnerDeleter>(new SelectionOwner(std::move(display), ownSequence));
}

SelectionOwner::SelectionOwner(DisplayConnection display, std::atomic<uint32_t>& ownSequence)
    : display_(std::move(display)), ownSequence_(ownSequence) {
  Display* d = display_.get();
  clipboard_ = XInternAtom(d, "CLIPBOARD", False);
  targets_ = XInternAtom(d, "TARGETS", False);
  timestamp_ = XInternAtom(d, "TIMESTAMP", False);
  incr_ = XInternAtom(d, "INCR", False);
  utf8String_ = XInternAtom(d, "UTF8_STRING", False);
  textPlain_ = XInternAtom(d, "text/plain;charset=utf-8", False);
  imagePng_ = XInternAtom(d, "image/png", False);
  placeTime_ = XInternAtom(d, "DRAVNOK_CLIPBOARD_TIME", False);
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  window_ = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                          CWEventMask, &attributes);
  // Larger contents go in increments; one piece stays well inside a request.
  chunkBytes_ = std::min<size_t>(static_cast<size_t>(XMaxRequestSize(d)) * 4 - 1024, 256 * 1024);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  XFlush(d);
  thread_ = std::thread([this] { run(); });
}

SelectionOwner::~SelectionOwner() {
  quit_.store(true);
  wake();
  thread_.join();
  XDestroyWindow(display_.get(), window_);
  XFlush(display_.get());
  if (wakeFd_ >= 0) close(wakeFd_);
}

void SelectionOwner::wake() {
  uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // The counter is saturated, so the thread is being woken anyway.
  }
}

bool SelectionOwner::place(ClipboardContent content) {
  std::lock_guard placeLock(placeMutex_);
  std::unique_lock lock(mutex_);
  request_ = std::move(content);
  const uint64_t id = ++requestId_;
  lock.unlock();
  wake();
  lock.lock();
  return answered_.wait_for(lock, kPlaceTimeout, [&] { return answeredId_ == id; }) && answeredOk_;
}

void SelectionOwner::run() {
  Display* d = display_.get();
  while (!quit_.load()) {
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      handle(event);
    }
    takeRequest();
    dropStaleTransfers();
    XFlush(d);
    if (XPending(d) > 0) continue;
    waitForDisplay(d, wakeFd_, 1000);
    uint64_t count;
    while (read(wakeFd_, &count, sizeof count) > 0) {
    }
  }
}

void SelectionOwner::takeRequest() {
  {
    std::lock_guard lock(mutex_);
    if (!request_) return;
    placing_ = std::move(request_);
    request_.reset();
    placingId_ = requestId_;
  }
  // SetSelectionOwner wants a real server time, and the selection's time
  // doubles as the change's sequence number: an empty append to our own
  // window's property yields a PropertyNotify that carries the time.
  XChangeProperty(display_.get(), window_, placeTime_, placeTime_, 8, PropModeAppend, nullptr, 0);
}

void SelectionOwner::finishPlacing(Time time) {
  Display* d = display_.get();
  // Recorded before the change is visible, so the watcher never mistakes it
  // for another client's.
  const auto sequence = static_cast<uint32_t>(time);
  const uint32_t previous = ownSequence_.exchange(sequence);
  XSetSelectionOwner(d, clipboard_, window_, time);
  const bool ok = XGetSelectionOwner(d, clipboard_) == window_;
  if (ok) {
    current_ = std::make_shared<const ClipboardContent>(std::move(*placing_));
    ownedSince_ = time;
  } else {
    uint32_t expected = sequence;
    ownSequence_.compare_exchange_strong(expected, previous);
  }
  placing_.reset();
  {
    std::lock_guard lock(mutex_);
    answeredId_ = placingId_;
    answeredOk_ = ok;
  }
  answered_.notify_all();
}

void SelectionOwner::handle(const XEvent& event) {
  switch (event.type) {
  case PropertyNotify:
    if (event.xproperty.window == window_) {
      if (event.xproperty.atom == placeTime_ && placing_) finishPlacing(event.xproperty.time);
    } else if (event.xproperty.state == PropertyDelete) {
      continueTransfer(event.xproperty);
    }
    break;
  case SelectionRequest:
    serve(event.xselectionrequest);
    break;
  case SelectionClear:
    // Another client took the clipboard; a clear older than our latest
    // placement belongs to an earlier one.
    if (event.xselectionclear.selection == clipboard_ && event.xselectionclear.time >= ownedSince_) current_.reset();
    break;
  default:
    break;
  }
}

void SelectionOwner::serve(const XSelectionRequestEvent& request) {
  // Clients from before ICCCM name no property: use the target's name.
  const Atom property = request.property == None ? request.target : request.property;
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.display = request.display;
  reply.xselection.requestor = request.requestor;
  reply.xselection.selection = request.selection;
  reply.xselection.target = request.target;
  reply.xselection.time = request.time;
  reply.xselection.property = None;
  if (request.selection == clipboard_ && current_ && answer(request, property)) reply.xselection.property = property;
  XSendEvent(display_.get(), request.requestor, False, NoEventMask, &reply);
}

std::vector<Atom> SelectionOwner::targetsFor(const ClipboardContent& content) const {
  if (content.kind == ClipboardContent::Kind::Png) return {imagePng_};
  return {utf8String_, textPlain_};
}

bool SelectionOwner::answer(const XSelectionRequestEvent& request, Atom property) {
  Display* d = display_.get();
  if (request.target == targets_) {
    std::vector<Atom> list = {targets_, timestamp_};
    for (Atom a : targetsFor(*current_)) list.push_back(a);
    XChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(list.data()), static_cast<int>(list.size()));
    return true;
  }
  if (request.target == timestamp_) {
    long time = static_cast<long>(ownedSince_);
    XChangeProperty(d, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&time), 1);
    return true;
  }
  auto offered = targetsFor(*current_);
  if (std::find(offered.begin(), offered.end(), request.target) == offered.end()) return false;
  const std::string& bytes = current_->bytes;
  if (bytes.size() <= chunkBytes_) {
    XChangeProperty(d, request.requestor, property, request.target, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return true;
  }
  // Increments: announce the size; each deletion of the property by the
  // requestor asks for the next piece.
  XSelectInput(d, request.requestor, PropertyChangeMask);
  long size = static_cast<long>(bytes.size());
  XChangeProperty(d, request.requestor, property, incr_, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&size), 1);
  std::erase_if(transfers_,
                [&](const Transfer& t) { return t.requestor == request.requestor && t.property == property; });
  transfers_.push_back({request.requestor, property, request.target, current_, 0, std::chrono::steady_clock::now()});
  return true;
}

void SelectionOwner::continueTransfer(const XPropertyEvent& event) {
  auto it = std::find_if(transfers_.begin(), transfers_.end(),
                         [&](const Transfer& t) { return t.requestor == event.window && t.property == event.atom; });
  if (it == transfers_.end()) return;
  const std::string& bytes = it->content->bytes;
  const size_t piece = std::min(chunkBytes_, bytes.size() - it->offset);
  XChangeProperty(display_.get(), it->requestor, it->property, it->type, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(bytes.data() + it->offset), static_cast<int>(piece));
  it->offset += piece;
  it->lastActivity = std::chrono::steady_clock::now();
  if (piece == 0) transfers_.erase(it); // the empty piece ends the transfer
}

void SelectionOwner::dropStaleTransfers() {
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(transfers_, [&](const Transfer& t) { return now - t.lastActivity > kTransferIdle; });
}

} // namespace dravnok::clipboard
