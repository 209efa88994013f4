#pragma once
// Non-blocking byte copy between two descriptors, and a TCP connect with a
// time-out, both driven by the loop. Each run completes once with a status.
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/event.h"
#include "foundation/os.h"
#include "foundation/timer.h"

namespace ASync {

class Copy {
public:
  struct Status {
    enum Type { Idle = 0, Copying = 1, SourceDone = 2, Flushing = 3, Failed = 4, Done = 5, Reconfigured = 6 };
  };

  struct EventsParams {
    uint32_t src = POLLIN;
    uint32_t dst = POLLOUT;
    // 0: no flush phase.
    uint32_t flush = POLLWRNORM;
  };

  class Handler {
  public:
    virtual ~Handler() {}
    virtual void Invoke(Status::Type status) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    typedef void (T::*Action)(Status::Type);
    THandler(Action action, T* obj) : action_(action), obj_(obj) {}
    void Invoke(Status::Type status) override {
      if (action_) (obj_->*action_)(status);
    }

  private:
    Action action_;
    T* obj_;
  };

  static constexpr unsigned kDefaultBufSize = 1024;

  Copy();
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;
  ~Copy();

  void Bind(Handler* h);
  void UnBind() { Bind(nullptr); }
  template <class T>
  void Bind(typename THandler<T>::Action action, T* obj) {
    Bind(new THandler<T>(action, obj));
  }

  // Both end a running copy with Reconfigured.
  void set_events(const EventsParams& params);
  void set_bufsize(unsigned n);

  void Start(const Fd& source, const Fd& destination);
  // Ends the input: what is being written drains, then the flush phase.
  void Stop();

  int state() const { return state_; }
  int error() const { return error_; }
  unsigned written() const { return written_; }
  unsigned bufsize() const { return bufsize_; }

private:
  typedef int (Copy::*Step)();

  void CheckBuffer();
  void Progress();
  int SrcReady();
  int DstReady();
  int NotReady() { return 0; }
  void GoReading();
  void GoWriting();
  int GoFlush();
  int GoFlushDst();
  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);
  void Complete(Status::Type status);

  Fd src_;
  Fd dst_;
  EventsParams params_;
  unsigned bufsize_ = 0;
  int error_ = 0;
  Step step_ = &Copy::NotReady;
  Handler* handler_ = nullptr;
  Event src_event_;
  Event dst_event_;
  unsigned written_ = 0;
  char* cursor_ = nullptr;
  char* wend_ = nullptr;
  int state_ = Status::Idle;
  std::unique_ptr<char[]> buffer_;
  // The source event no longer polls after an error or hang-up on it.
  bool src_polled_ = false;
};

class Connect {
public:
  struct Status {
    enum Type { Idle = 0, Connecting = 1, Failed = 2, Connected = 3, Stopped = 4 };
  };

  class Handler {
  public:
    virtual ~Handler() {}
    // fd is valid with Connected only and closed after the call.
    virtual void Invoke(Status::Type status, Fd fd) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    typedef void (T::*Action)(Status::Type, Fd);
    THandler(Action action, T* obj) : action_(action), obj_(obj) {}
    // The member gets a descriptor of its own, closed when it returns.
    void Invoke(Status::Type status, Fd fd) override {
      if (!action_) return;
      Fd copy(fd);
      (obj_->*action_)(status, std::move(copy));
    }

  private:
    Action action_;
    T* obj_;
  };

  Connect() = default;
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;
  ~Connect();

  void Bind(Handler* h);
  void UnBind() { Bind(nullptr); }
  template <class T>
  void Bind(typename THandler<T>::Action action, T* obj) {
    Bind(new THandler<T>(action, obj));
  }

  // address: dotted IPv4 address with ":" and port.
  void Start(const std::string& address, unsigned int timeout_ms);
  void Stop() { Complete(Status::Stopped); }

  int status() const { return status_; }

private:
  void OnSocketEvent(int fd, short revents);
  void OnTimeOut(Timer* timer);
  void Complete(Status::Type status);

  int status_ = Status::Idle;
  Fd socket_;
  Event event_;
  Handler* handler_ = nullptr;
  Timer timer_;
};

}  // namespace ASync
