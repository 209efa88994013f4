#include "simboard/voice.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

namespace SimBoard {

namespace V = Board::Voice;

Voice::Voice(Counts counts, V::Version version)
    : Driver(V::kDevice, SOCK_SEQPACKET), default_counts_(std::move(counts)), default_version_(version) {
  reset();
  add_request(V::kClassCount, [this](Session&, void* arg) {
    std::uint32_t word = 0;
    std::memcpy(&word, arg, sizeof word);
    word = count(word);
    std::memcpy(arg, &word, sizeof word);
    return 0;
  });
  add_request(V::kGetVersion, [this](Session&, void* arg) {
    std::memcpy(arg, &version_, sizeof version_);
    return 0;
  });
  add_command("voice", "class", "<class> <count>",
              "the channel count of a codec class (4 g729, 2 g723, 1 g711, "
              "8 g711mcc, 65 universal)",
              [this](const Args& a, Reply& r) {
                long long c = 0, n = 0;
                if (a.size() != 2) return r.fail("usage: voice class <class> <count>");
                if (!ParseNumber(a[0], 0, UINT32_MAX, c)) return r.fail("bad class " + a[0]);
                if (!ParseNumber(a[1], 0, UINT32_MAX, n)) return r.fail("bad count " + a[1]);
                set_count(std::uint32_t(c), std::uint32_t(n));
              });
  add_command("voice", "list", "", "the counts of the codec classes", [this](const Args& a, Reply& r) {
    if (!a.empty()) return r.fail("usage: voice list");
    for (const auto& [c, n] : counts_) r.line("class=" + std::to_string(c) + " count=" + std::to_string(n));
  });
  add_command("voice", "version", "[<w0> <w1> <w2> <w3> <w4>]", "shows or sets the five words of the version record",
              [this](const Args& a, Reply& r) {
                if (!a.empty() && a.size() != 5) return r.fail("usage: voice version [<w0> <w1> <w2> <w3> <w4>]");
                V::Version v = version_;
                for (std::size_t i = 0; i < a.size(); ++i) {
                  long long w = 0;
                  if (!ParseNumber(a[i], 0, UINT32_MAX, w)) return r.fail("bad word " + a[i]);
                  v.word[i] = std::uint32_t(w);
                }
                version_ = v;
                std::string text = "version=";
                for (int i = 0; i < 5; ++i) text += (i ? " " : "") + std::to_string(version_.word[i]);
                r.line(text);
              });
}

void Voice::reset() {
  counts_ = default_counts_;
  version_ = default_version_;
}

std::uint32_t Voice::count(std::uint32_t codec_class) const {
  const auto it = counts_.find(codec_class);
  return it == counts_.end() ? 0 : it->second;
}

}  // namespace SimBoard
