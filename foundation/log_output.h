#pragma once
// Whole-line output of the log streams. Every insertion into std::cout,
// std::cerr or std::clog used to be a write of its own; now each stream
// collects its current line, finished lines queue up in the order they were
// finished, whichever stream they came from, and the queue is written once a
// pass of the main loop, one write per run of lines for the same descriptor.
// A line is never split between two writes (a line longer than the queue is
// one write of its own), and nothing that waits is lost at exit or on a
// crash signal.
//
// Outside the loop (start-up, shutdown, tools without a loop) a flush of a
// stream, std::endl say, writes its finished lines at once.
#include <sys/types.h>

#include <cstddef>
#include <streambuf>
#include <string>

namespace Log {

class Output {
public:
  // What keeps an unfinished line back from the queue.
  class Source {
  public:
    virtual ~Source() = default;
    // Gives the finished lines it holds to the queue, and the unfinished one
    // too when unfinished is set (exit, a line that outgrew its buffer).
    virtual void drain(bool unfinished) = 0;
    // From a signal handler: writes the unfinished text with write(2) alone.
    virtual void drainFromSignal() noexcept = 0;
  };

  enum class Mode {
    Direct,    // a stream flush writes the finished lines
    Deferred,  // inside a loop pass: written at the end of the pass
    Exiting,   // every line at once, unfinished ones at each flush
  };

  enum { kQueueSize = 65536, kRuns = 256, kSources = 8 };

  // Never destroyed, so that streams flushed late in the exit still find it.
  static Output& instance();

  // Queues text for the descriptor behind what already waits; a descriptor
  // below 0 drops it.
  void put(int fd, const char* text, size_t len);
  // Writes what waits, in order.
  void flush();
  // The sources' finished lines (and unfinished ones when asked) first,
  // then everything.
  void flushAll(bool unfinished = true);
  // Writes what waits and the sources' unfinished text with write(2) alone.
  void flushFromSignal() noexcept;

  void add(Source* source);
  void remove(Source* source);

  Mode mode() const { return mode_; }
  void setMode(Mode mode) { mode_ = mode; }

  // Write calls made so far.
  unsigned long writes() const { return writes_; }

private:
  Output() = default;
  struct Run {
    int fd;
    size_t end;
  };
  bool write_all(int fd, const char* text, size_t len) noexcept;

  char queue_[kQueueSize];
  Run runs_[kRuns];
  // The signal path reads these between any two steps of put() and flush().
  volatile size_t used_ = 0;
  volatile size_t written_ = 0;
  volatile unsigned nruns_ = 0;
  Source* volatile sources_[kSources] = {};
  Mode mode_ = Mode::Direct;
  unsigned long writes_ = 0;
};

// A stream buffer that hands each finished line of its stream to the output,
// for the descriptor it was made for. It has no put area: it sees every
// insertion, so lines of two streams queue in the order they were finished.
class LineBuf : public std::streambuf, public Output::Source {
public:
  explicit LineBuf(int fd);
  LineBuf(const LineBuf&) = delete;
  LineBuf& operator=(const LineBuf&) = delete;
  ~LineBuf() override;

  void drain(bool unfinished) override;
  void drainFromSignal() noexcept override;

  // An unfinished line this long goes out as it is.
  static constexpr size_t kMaxLine = 1 << 20;

protected:
  std::streamsize xsputn(const char* text, std::streamsize n) override;
  int overflow(int c) override;
  int sync() override;

private:
  int fd_;
  std::string line_;
  volatile bool changing_ = false;
};

// Gives std::cout (descriptor 1), std::cerr and std::clog (descriptor 2)
// line buffers, writes the queue at the end of every pass of the global loop,
// at exit and on a crash signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT,
// which then go to whatever handled them before: the default action, say). Once per process.
void InstallLineOutput();
// The loop's pass is over: the finished lines are written, and lines wait
// for the end of the next pass. An unfinished line waits for its end, so no
// line is split between two writes.
void EndOfPass();
// The loop has returned: everything is written, and flushes write again.
void LeaveLoop();

}  // namespace Log
