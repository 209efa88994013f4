#pragma once
// The end of a child process, reported on the loop's thread. A SIGCHLD
// handler reaps every child and passes (pid, status) through a datagram
// socket pair that the loop polls.
#include <signal.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "foundation/event.h"
#include "foundation/lists.h"
#include "foundation/os.h"

class ChildWaitService;

class ChildWait : public F_dual_list_item<ChildWait> {
public:
  // Lives in its ChildWait's storage: deleting it only runs its destructor.
  class Handler {
  public:
    virtual ~Handler() {}
    virtual void Invoke(ChildWait& wait, int status) = 0;
    static void operator delete(void*) {}
  };

  class DummyHandler : public Handler {
  public:
    void Invoke(ChildWait&, int) override {}
  };

  template <class T>
  class THandler1 : public Handler {
  public:
    typedef void (T::*Member)(int);
    THandler1(T& obj, Member member) : obj_(&obj), member_(member) {}
    void Invoke(ChildWait&, int status) override { (obj_->*member_)(status); }

  private:
    T* obj_;
    Member member_;
  };

  // One per unit that uses child waits; the service lives while any exists.
  struct Init {
    Init();
    ~Init();
  };
  static unsigned UsageCounter;

  ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;
  ~ChildWait();

  void Attach(int pid);
  void Detach();
  int pid() const { return pid_; }
  bool is_registered() const { return registered_; }

  // Builds the adapter in place; never allocates.
  template <class T>
  void Bind(T* obj, typename THandler1<T>::Member member) {
    static_assert(sizeof(THandler1<T>) <= sizeof(storage_), "child-wait handler storage too small");
    static_assert(alignof(THandler1<T>) <= alignof(Storage), "child-wait handler storage misaligned");
    delete handler_;
    handler_ = new (&storage_) THandler1<T>(*obj, member);
  }

  static void Initialize();
  static void Cleanup();
  static void Activate();

private:
  friend class ChildWaitService;
  struct Example {
    virtual ~Example() {}
    void* obj;
    void (Example::*member)(int);
  };
  typedef std::aligned_storage_t<sizeof(Example), alignof(Example)> Storage;

  int pid_ = 0;
  Storage storage_;
  Handler* handler_;
  bool registered_ = false;
};

static ChildWait::Init childWaitInit;

class ChildWaitService {
public:
  // What the signal handler reports, as it travels on the socket pair.
  struct Record {
    int32_t pid;
    int32_t status;
  };
  static_assert(sizeof(Record) == 8, "child report record is 8 bytes");

  // Reports kept when the socket's queue is full.
  static constexpr unsigned kSpareRecords = 64;

  static ChildWaitService* volatile childWaitService;

  ChildWaitService();
  ChildWaitService(const ChildWaitService&) = delete;
  ChildWaitService& operator=(const ChildWaitService&) = delete;
  ~ChildWaitService();

  void Activate();
  bool is_active() const { return write_end_.is_valid(); }
  void Attach(ChildWait* w);
  void Detach(ChildWait* w);

  static void SigChldHandlerWrapper(int sig, siginfo_t* info, void* context);
  void SigChldHandler();
  void OnChildEvent(int fd, short revents);

  unsigned registered() const { return waits_.count(); }

private:
  // Reaps while a report can be kept; signal-safe.
  void Reap();
  void ReapBlocked();
  void Deliver(const Record& r);

  Event event_;
  Fd write_end_;
  F_dual_list<ChildWait> waits_;
  static_assert(std::atomic<unsigned>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
                "the signal handler needs lock-free atomics");
  // Filled by the signal handler only, emptied by the loop only.
  Record spare_[kSpareRecords];
  std::atomic<unsigned> spare_head_{0};
  std::atomic<unsigned> spare_tail_{0};
  // Children left unreaped because there was no room for their reports.
  std::atomic<bool> reap_pending_{false};
};
