#pragma once
// "/dev/dsp", the voice-processing driver: per TDM timeslot VAD, SD, BSS,
// noise gate, receive and transmit mute, delays, a receive gain and tone
// filters (type 'd'). Records are zero-filled before use; words are in the
// processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Dsp {

inline constexpr const char* kDevice = "/dev/dsp";

// DSPROC_CONFIGURE types.
enum ConfigureType : std::uint32_t {
  kConfigVad = 1,
  kConfigSd = 2,
  kConfigDelays = 32,
  kConfigRxGain = 64,
  kConfigToneFilter = 256,
};

// The data of each configure type, 12 bytes at offset 8 of the record.
struct VadV2 {  // interface version 2
  std::uint16_t voiceMs;
  std::uint16_t silenceMs;
  std::int8_t energyDB;
  std::uint8_t zero[7];
};
struct VadV1 {  // any other version: fixed words
  std::uint32_t word[3];
};
inline constexpr std::uint32_t kVadV1Words[3] = {3, 127, 0};
struct Delays {
  std::uint32_t rx;
  std::uint32_t tx;
  std::uint32_t zero;
};
struct RxGain {
  std::uint8_t gainDB;  // the dB value cut to 8 bits: -6 dB is 0xFA
  std::uint8_t zero[11];
};
struct ToneFilter {
  std::uint16_t freq;
  std::uint8_t enable;
  std::uint8_t zero1;
  std::uint16_t durationMs;
  std::uint8_t levelDB;
  std::uint8_t zero2[5];
};
static_assert(sizeof(VadV2) == 12 && offsetof(VadV2, silenceMs) == 2 && offsetof(VadV2, energyDB) == 4);
static_assert(sizeof(VadV1) == 12 && sizeof(Delays) == 12 && offsetof(Delays, tx) == 4 && sizeof(RxGain) == 12);
static_assert(sizeof(ToneFilter) == 12 && offsetof(ToneFilter, enable) == 2);
static_assert(offsetof(ToneFilter, durationMs) == 4 && offsetof(ToneFilter, levelDB) == 6);

struct Configure {
  std::uint32_t timeslot;
  std::uint32_t type;  // ConfigureType
  union {
    VadV2 vadV2;
    VadV1 vadV1;
    Delays delays;
    RxGain rxGain;
    ToneFilter toneFilter;
    std::uint8_t raw[12];
  } data;
};
static_assert(sizeof(Configure) == 20);
static_assert(offsetof(Configure, type) == 4 && offsetof(Configure, data) == 8);

// DSPROC_ENABLE {timeslot, id, mask}; DSPROC_DISABLE {timeslot, 0, mask}.
struct Enable {
  std::uint32_t timeslot;
  std::uint32_t id;
  std::uint32_t mask;
};
static_assert(sizeof(Enable) == 12 && offsetof(Enable, id) == 4 && offsetof(Enable, mask) == 8);

// Function masks of DSPROC_ENABLE and DSPROC_DISABLE.
enum Function : std::uint32_t {
  kVad = 1,
  kSd = 2,
  kMuteRx = 4,
  kMuteTx = 8,
  kMute = kMuteRx | kMuteTx,
  kBss = 16,
  kNg = 128,
  kToneAll = 256,
};

// Event types.
enum EventType : std::uint32_t {
  kEventVad = 1,
  kEventSd = 2,
  kEventBss = 16,
  kEventTone = 256,
  kEventFlags = 512,
};

// The 12-byte payloads the receivers interpret themselves.
struct dsproc_bss_event {
  float score;
  std::uint32_t reserved[2];
};
struct dsproc_tone_event {
  std::uint32_t word[3];
};
struct dsproc_flags_event {
  std::uint32_t flags;
  std::uint32_t mask;
  std::uint32_t reserved;
};
static_assert(sizeof(float) == 4 && sizeof(dsproc_bss_event) == 12);
static_assert(sizeof(dsproc_tone_event) == 12 && sizeof(dsproc_flags_event) == 12);
static_assert(offsetof(dsproc_flags_event, mask) == 4);

// One event, as a read of the device returns it. VAD: word1 the direction
// mask (bit 0 receive, bit 1 transmit), word2 and word3 the signed receive and
// transmit values; SD: word1 the receive value; BSS, tone and flags: the
// payload above.
struct Event {
  std::uint32_t timeslot;
  std::uint32_t id;
  std::uint32_t type;  // EventType
  std::uint32_t word1;
  std::uint32_t word2;
  std::uint32_t word3;
};
static_assert(sizeof(Event) == 24);
static_assert(offsetof(Event, id) == 4 && offsetof(Event, type) == 8 && offsetof(Event, word1) == 12);
static_assert(offsetof(Event, word2) == 16 && offsetof(Event, word3) == 20);
inline constexpr std::size_t kPayloadOffset = offsetof(Event, word1);

inline constexpr Request kConfigure = 0x40146401;  // Configure
inline constexpr Request kEnable = 0x400C6402;     // Enable
inline constexpr Request kDisable = 0x400C6403;    // Enable with id 0
inline constexpr Request kVersion = 0x40046404;    // value 0; the result is the interface version
static_assert(kConfigure == Ppc::ior('d', 1, sizeof(Configure)));
static_assert(kEnable == Ppc::ior('d', 2, sizeof(Enable)));
static_assert(kDisable == Ppc::ior('d', 3, sizeof(Enable)));
static_assert(kVersion == Ppc::ior('d', 4, sizeof(std::uint32_t)));

}  // namespace Board::Dsp
