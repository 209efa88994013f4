#pragma once
// A descriptor that the loop polls, with a bound callback.
#include <cstdint>
#include <string>

#include "foundation/multiplexer.h"
#include "foundation/os.h"

class Event : public EventHandler {
public:
  // Called after every poll that returned events, with this descriptor's
  // own result, 0 included.
  class Handler {
  public:
    virtual ~Handler() {}
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    typedef void (T::*Action)(int, short);
    THandler(Action action, T* obj) : action_(action), obj_(obj) {}
    void Invoke(int fd, short revents) override {
      if (action_) (obj_->*action_)(fd, revents);
    }

  private:
    Action action_;
    T* obj_;
  };

  Event() = default;
  ~Event() override;

  void Bind(Handler* h);
  void UnBind();
  // The name is set even when building the adapter fails.
  template <class T>
  void Bind(const std::string& name, typename THandler<T>::Action action, T* obj) {
    name_ = name;
    Bind(new THandler<T>(action, obj));
  }

  // Polls a duplicate of fd for events; an invalid fd leaves the event
  // detached and without descriptor.
  void Schedule(const Fd& fd, short events);
  // Polls fd itself, taken over: the event holds the only descriptor.
  void Schedule(Fd&& fd, short events);
  void SetEvents(int events) { events_ = static_cast<short>(events); }
  int Release();

  bool IsActive() const { return fd_.is_valid(); }
  int lowlevel_fd() const { return fd_.lowlevel_fd(); }
  const Measure& measure() const { return measure_; }
  short events() const { return events_; }
  uint32_t hits() const { return hits_; }
  bool is_bound() const { return handler_ != nullptr; }

  void shedule_event(pollfd& entry) override;
  void svc_event(short revents) override;
  using EventHandler::svc_event;
  std::string event_name() const override { return name_; }
  bool is_named() const override { return true; }

private:
  Handler* handler_ = nullptr;
  Fd fd_;
  short events_ = 0;
  std::string name_ = "Unknown";
  uint32_t hits_ = 0;
  Measure measure_;
};
