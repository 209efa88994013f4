#pragma once
// Deferred calls: an active Dpc runs twice in every pass of the loop until it
// is deactivated; a client that wants one run deactivates it in its callback.

// Keeps the global multiplexer alive for as long as any Dpc may still exist.
#include "foundation/multiplexer.h"

class DpcHandler {
public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() {}
};

class DpcHandler1 : public DpcHandler {
public:
  explicit DpcHandler1(void (*fn)()) : fn_(fn) {}
  void Invoke() override { fn_(); }

private:
  void (*fn_)();
};

template <class T>
class TDpcHandler : public DpcHandler {
public:
  typedef void (T::*Member)();
  TDpcHandler(T* obj, Member member) : obj_(obj), member_(member) {}
  void Invoke() override { (obj_->*member_)(); }

private:
  T* obj_;
  Member member_;
};

class Dpc {
public:
  Dpc() = default;
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;
  ~Dpc();

  void Bind(DpcHandler* h);
  void Bind(void (*fn)()) { Bind(new DpcHandler1(fn)); }
  template <class T>
  void Bind(T* obj, typename TDpcHandler<T>::Member member) {
    Bind(new TDpcHandler<T>(obj, member));
  }

  void Activate();
  void Deactivate();
  bool IsActive() const { return active_; }
  bool is_bound() const { return handler_ != nullptr; }
  void Invoke() {
    if (handler_) handler_->Invoke();
  }

private:
  DpcHandler* handler_ = nullptr;
  bool active_ = false;
};
