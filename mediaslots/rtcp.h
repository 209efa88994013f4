#pragma once
// The RTCP packets an RTP stream sends itself (RFC 3550, version 2, no
// padding bit): an SDES packet when the stream starts and a BYE when it ends.
// The driver carries the media; nothing is ever read back, and no sender or
// receiver reports are made.
#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

// What the stream's SDES packet says about its maker.
inline constexpr const char* kCname = "Tamsora Quennavox";
inline constexpr const char* kEmail = "support@tamsora.example";
inline constexpr const char* kPhone = "+44 20 7946 0100";
inline constexpr const char* kByeReason = "session end";

class Msg {
public:
  virtual ~Msg() = default;
  virtual unsigned pt() const = 0;
  // The 5-bit count of the first header byte.
  virtual unsigned count() const = 0;
  // Writes everything after the 4-byte common header. The length written (a
  // multiple of 4), 0 when it did not fit.
  virtual unsigned encode_body(char* buf, unsigned int len) const = 0;

  // The whole packet: its length in bytes, 0 when nothing was written.
  unsigned encode(char* buf, unsigned int len) const;
};

class SDES : public Msg {
public:
  class Item {
  public:
    // RFC 3550 item numbers.
    enum Type : std::uint8_t { CNAME = 1, NAME = 2, EMAIL = 3, PHONE = 4, LOC = 5, TOOL = 6, NOTE = 7 };
    Item(Type type, std::string text) : type_(type), text_(std::move(text)) {}
    Type type() const { return type_; }
    const std::string& text() const { return text_; }

  private:
    Type type_;
    std::string text_;
  };

  explicit SDES(unsigned int ssrc) : ssrc_(ssrc) {}
  void add(Item::Type type, const std::string& text) { items_.emplace_back(type, text); }

  unsigned pt() const override { return 202; }
  unsigned count() const override { return 1; }
  // The SSRC, the items that fit (from the first one that does not fit on,
  // none), and the chunk's null word.
  unsigned encode_body(char* buf, unsigned int len) const override;

private:
  std::uint32_t ssrc_;
  std::vector<Item> items_;
};

class BYE : public Msg {
public:
  BYE(unsigned int ssrc, std::string reason) : ssrc_(ssrc), reason_(std::move(reason)) {}

  unsigned pt() const override { return 203; }
  unsigned count() const override { return 1; }
  // The SSRC, then the reason when there is one and room for it (cut to
  // what fits).
  unsigned encode_body(char* buf, unsigned int len) const override;

private:
  std::uint32_t ssrc_;
  std::string reason_;
};

}  // namespace RTPC
