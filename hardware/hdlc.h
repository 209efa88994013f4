#pragma once
// One HDLC framing channel of the board's multichannel controller
// ("/dev/mcc/ctl"). Activation allocates a controller channel, joins its TDM
// timeslot to the link's trunk timeslot both ways through the cross-connect,
// and from then on every frame the client transmits is written whole, and
// every frame the device delivers goes to the client, one per readiness event.
#include <cstdint>
#include <iosfwd>

#include "foundation/log_limit.h"
#include "hardware/frame_io.h"
#include "transport/packet.h"

class HwMux;

// What a link layer transmits through. The channel below, the ISDN slot and
// the tests' fake channels implement it.
class GenericHDLC {
public:
  virtual ~GenericHDLC();
  // True when the frame went out (an empty frame: nothing to do). False when
  // it did not; after a refusal (is_ready() false) the client waits for
  // on_hdlc_ready(). The packet stays the caller's.
  virtual bool hdlc_transmit(Packet& frame) = 0;
  virtual bool is_open() const = 0;
  virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC, private FrameIO::Port::Owner {
public:
  // The receive packet size a channel is allocated with: the longest frame
  // the far channel takes whole.
  static constexpr unsigned kFrameSize = 512;

  // The client's callbacks. They come from inside the channel's event
  // handler: the client may transmit, deactivate or activate the channel
  // there, but must not delete it (its owner defers the destruction to a
  // later pass of the loop).
  class Notify {
  public:
    struct Cause {
      enum Type { read_error = 0 };
    };
    virtual ~Notify();
    // One frame; the packet is the channel's and is emptied after the call,
    // so a client that keeps the frame keeps its own handle or copy.
    virtual void on_hdlc_receive(Packet& frame) = 0;
    // The channel has closed itself after a device error.
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    // The channel takes frames again.
    virtual void on_hdlc_ready() = 0;
  };

  struct Params {
    unsigned trunk;
    unsigned timeslot;  // shown in the log header
    int tdm;            // bus timeslot of the link; the channel receives from it
                        // (and transmits to it in modes 0 and 1)
    int tdmOut;         // output the channel transmits to in mode 2
    int mode;           // 0, 1 or 2
  };

  // Reported by the slots as txSU, txDiscard, txError, txOverflow, rxSU.
  struct Statistics {
    std::uint32_t txSU;        // frames written
    std::uint32_t txDiscard;   // refused: the channel was closed
    std::uint32_t txError;     // the write failed or was cut short
    std::uint32_t txOverflow;  // dropped by the client: its queue was full
    std::uint32_t rxSU;        // frames received
  };

  // Cross-connects through the daemon's HwMux unless told otherwise.
  HDLC();
  explicit HDLC(HwMux& mux);
  // An open channel undoes its cross-connections and closes.
  ~HDLC() override;
  HDLC(const HDLC&) = delete;
  HDLC& operator=(const HDLC&) = delete;

  void bind(Notify* client);
  void unbind();

  void params(const Params& p) { params_ = p; }
  const Params& params() const { return params_; }
  void trunk(unsigned trunk) { trunk_ = trunk; }
  void logLevel(unsigned level) { logLevel_ = level; }
  unsigned logLevel() const { return logLevel_; }
  const Statistics& statistics() const { return stats_; }
  // A client that queues frames while the channel refuses them counts here
  // those it had to drop for a full queue.
  void overflowed(std::uint32_t frames) { stats_.txOverflow += frames; }

  // Closes the channel first, then opens, allocates and cross-connects a new
  // one. False (and the channel closed, with whatever it had connected
  // undone) when any step fails.
  bool activate();
  // Undoes the channel's cross-connections (the outputs then idle) and
  // closes it.
  void deactivate();

  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return port_.is_open(); }
  bool is_ready() const override { return port_.is_ready(); }

  // The controller timeslot of the open channel, -1 when closed.
  int channel() const { return channel_; }

  void on_event(int fd, short events);
  void do_read();

  void PutHeader(std::ostream& os) const override;

private:
  // Releases the descriptor and undoes the connections made at activation.
  void close();

  // FrameIO::Port::Owner
  void on_port_frame(Packet& frame) override;
  void on_port_end(int error) override;
  void on_port_ready() override;

  HwMux& mux_;
  Params params_;
  Statistics stats_;
  unsigned logLevel_ = 0;
  unsigned trunk_ = 0;
  Notify* client_;
  // What activation connected: the channel's timeslot, the trunk output fed
  // by it, and whether the channel's input is fed by the link.
  int channel_ = -1;
  int linkOutput_ = -1;
  bool inputLinked_ = false;
  // The line may bring log lines about at any rate: a channel writes a few a
  // second and counts the rest.
  Log::Limiter lines_;
  FrameIO::Port port_{*this, lines_};
};
