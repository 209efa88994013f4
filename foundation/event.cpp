#include "foundation/event.h"

#include <utility>

Event::~Event() {
  delete handler_;
  handler_ = nullptr;
  mux_detach();
}

void Event::Bind(Handler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

void Event::UnBind() { Bind(nullptr); }

void Event::Schedule(const Fd& fd, short events) {
  // The event's own descriptor is taken back as it is.
  Schedule(&fd == &fd_ ? Fd(fd_.release()) : Fd(fd), events);
}

void Event::Schedule(Fd&& fd, short events) {
  mux_detach();
  fd_ = std::move(fd);
  events_ = events;
  if (fd_.is_valid()) mux_attach();
}

int Event::Release() {
  if (fd_.is_valid()) mux_detach();
  return fd_.close();
}

void Event::shedule_event(pollfd& entry) {
  entry.fd = fd_.lowlevel_fd();
  entry.events = events_;
}

void Event::svc_event(short revents) {
  if (revents & events_) ++hits_;
  if (handler_) handler_->Invoke(fd_.lowlevel_fd(), revents);
}
