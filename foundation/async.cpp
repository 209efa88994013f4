#include "foundation/async.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "foundation/inet4.h"

namespace ASync {

namespace {
const short kTrouble = POLLERR | POLLHUP | POLLNVAL;
}

Copy::Copy() = default;

Copy::~Copy() { delete handler_; }

void Copy::Bind(Handler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

void Copy::set_events(const EventsParams& params) {
  params_ = params;
  Complete(Status::Reconfigured);
}

void Copy::set_bufsize(unsigned n) {
  bufsize_ = n;
  buffer_.reset(n ? new char[n] : nullptr);
  Complete(Status::Reconfigured);
}

// A buffer of no size would read nothing and pass for the end of the input.
void Copy::CheckBuffer() {
  if (buffer_ && bufsize_ != 0) return;
  bufsize_ = kDefaultBufSize;
  buffer_.reset(new char[bufsize_]);
}

void Copy::Start(const Fd& source, const Fd& destination) {
  state_ = Status::Copying;
  if (&source != &src_) src_ = source;
  if (&destination != &dst_) dst_ = destination;
  src_event_.Release();
  dst_event_.Release();
  src_event_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  dst_event_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  CheckBuffer();
  error_ = 0;
  written_ = 0;
  // Without both descriptors nothing would ever be polled.
  if (!src_.is_valid() || !dst_.is_valid()) {
    error_ = EBADF;
    Complete(Status::Failed);
    return;
  }
  src_event_.Schedule(src_, 0);
  dst_event_.Schedule(dst_, 0);
  src_polled_ = true;
  step_ = &Copy::SrcReady;
  Progress();
}

void Copy::Stop() {
  if (state_ == Status::Copying) GoFlush();
}

void Copy::Progress() {
  while ((this->*step_)()) {
  }
}

int Copy::SrcReady() {
  errno = 0;
  const ssize_t n = ::read(src_.lowlevel_fd(), buffer_.get(), bufsize_);
  if (n > 0) {
    cursor_ = buffer_.get();
    wend_ = cursor_ + n;
    GoWriting();
    return 1;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN && src_polled_) {
    src_event_.SetEvents(params_.src);
    dst_event_.SetEvents(0);
    return 0;
  }
  // A read error is a failure even after data went through; so is a source
  // that reported trouble and then has nothing to read.
  error_ = errno;
  Complete(Status::Failed);
  return 0;
}

int Copy::DstReady() {
  const ssize_t n = ::write(dst_.lowlevel_fd(), cursor_, wend_ - cursor_);
  if (n > 0) {
    written_ += static_cast<unsigned>(n);
    cursor_ += n;
    if (cursor_ < wend_) return 1;
    if (state_ == Status::SourceDone) return GoFlushDst();
    GoReading();
    return 1;
  }
  if (n == 0) {
    error_ = 0;
    Complete(Status::Failed);
    return 0;
  }
  if (errno == EAGAIN) {
    src_event_.SetEvents(0);
    dst_event_.SetEvents(params_.dst);
    return 0;
  }
  error_ = errno;
  Complete(Status::Failed);
  return 0;
}

void Copy::GoReading() {
  src_event_.SetEvents(params_.src);
  dst_event_.SetEvents(0);
  step_ = &Copy::SrcReady;
}

void Copy::GoWriting() {
  src_event_.SetEvents(0);
  dst_event_.SetEvents(params_.dst);
  step_ = &Copy::DstReady;
}

int Copy::GoFlush() {
  src_event_.Release();
  src_polled_ = false;
  src_.close();
  if (step_ == &Copy::DstReady) {
    state_ = Status::SourceDone;
    return 1;
  }
  return GoFlushDst();
}

int Copy::GoFlushDst() {
  if (params_.flush != 0) {
    dst_event_.SetEvents(params_.flush);
    step_ = &Copy::NotReady;
    state_ = Status::Flushing;
    return 1;
  }
  Complete(Status::Done);
  return 0;
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & params_.src) {
    Progress();
  } else if (revents & kTrouble) {
    // The input may still hold data; it is read without polling.
    src_event_.Release();
    src_polled_ = false;
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & kTrouble) {
    error_ = 0;
    Complete(Status::Failed);
    return;
  }
  if (state_ == Status::Copying || state_ == Status::SourceDone) {
    if (revents & params_.dst) Progress();
  } else if (state_ == Status::Flushing) {
    if (revents & params_.flush) Complete(Status::Done);
  }
}

void Copy::Complete(Status::Type status) {
  if (state_ != Status::Copying && state_ != Status::SourceDone && state_ != Status::Flushing) return;
  src_event_.UnBind();
  dst_event_.UnBind();
  state_ = status;
  src_event_.Release();
  dst_event_.Release();
  src_polled_ = false;
  src_.close();
  dst_.close();
  step_ = &Copy::NotReady;
  if (handler_) handler_->Invoke(status);
}

Connect::~Connect() { delete handler_; }

void Connect::Bind(Handler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

void Connect::Start(const std::string& address, unsigned int timeout_ms) {
  status_ = Status::Connecting;
  socket_ = Fd(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!socket_.is_valid() || !socket_.NonBlock()) {
    Complete(Status::Failed);
    return;
  }
  INet4::Addr addr;
  if (!addr.Assign(address, nullptr)) {
    Complete(Status::Failed);
    return;
  }
  if (::connect(socket_.lowlevel_fd(), addr, addr.size()) == 0) {
    Complete(Status::Connected);
    return;
  }
  if (errno != EINPROGRESS) {
    Complete(Status::Failed);
    return;
  }
  event_.Schedule(socket_, POLLOUT);
  event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  timer_.set(timeout_ms, &Connect::OnTimeOut, this);
}

void Connect::OnSocketEvent(int fd, short revents) {
  if (revents & kTrouble) {
    Complete(Status::Failed);
    return;
  }
  if (!(revents & POLLOUT)) return;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
    Complete(Status::Failed);
    return;
  }
  Complete(Status::Connected);
}

void Connect::OnTimeOut(Timer*) { Complete(Status::Failed); }

void Connect::Complete(Status::Type status) {
  if (status_ != Status::Connecting) return;
  status_ = status;
  Fd result;
  if (status == Status::Connected) result = std::move(socket_);
  socket_.close();
  event_.Release();
  event_.UnBind();
  timer_.reset();
  if (handler_) handler_->Invoke(status, std::move(result));
}

}  // namespace ASync
