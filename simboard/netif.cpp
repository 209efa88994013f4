#include "simboard/netif.h"

#include <errno.h>
#include <linux/if.h>
// After linux/if.h: it uses IFNAMSIZ.
#include <linux/hdlc/ioctl.h>
#include <linux/sockios.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace SimBoard {

namespace {

std::vector<NetIf::Row> DefaultRows() {
  std::vector<NetIf::Row> rows;
  rows.push_back({"lo", 1, IFF_UP | IFF_LOOPBACK | IFF_RUNNING, -1, ""});
  rows.push_back({"eth0", 2, IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST, -1, ""});
  for (int i = 0; i < 4; ++i) rows.push_back({"hdlc" + std::to_string(i), 10 + i, IFF_POINTOPOINT, 700 + i, "hdlc"});
  return rows;
}

}  // namespace

NetIf::NetIf() : Driver(kName, SOCK_SEQPACKET), rows_(DefaultRows()) {
  add_command("netif", "list", "", "the network interfaces", [this](const Args& a, Reply& r) {
    if (!a.empty()) return r.fail("usage: netif list");
    for (const Row& row : rows_) r.line(describe(row));
  });
  add_command("netif", "get", "<name>", "one interface", [this](const Args& a, Reply& r) {
    if (a.size() != 1) return r.fail("usage: netif get <name>");
    const Row* row = find(a[0]);
    if (!row) return r.fail("no interface " + a[0]);
    r.line(describe(*row));
  });
  add_command("netif", "add", "<name> <flags> <channel>", "adds or replaces an interface (protocol hdlc)",
              [this](const Args& a, Reply& r) {
                long long flags = 0, channel = 0;
                if (a.size() != 3 || a[0].empty() || a[0].size() >= IFNAMSIZ ||
                    !ParseNumber(a[1], 0, 0xFFFF, flags) || !ParseNumber(a[2], -1, INT32_MAX, channel))
                  return r.fail("usage: netif add <name> <flags> <channel>");
                if (Row* row = this->row(a[0])) {
                  row->flags = unsigned(flags);
                  row->channel = int(channel);
                  return;
                }
                int index = 1;
                for (const Row& row : rows_) index = std::max(index, row.index + 1);
                rows_.push_back({a[0], index, unsigned(flags), int(channel), "hdlc"});
              });
  add_command("netif", "running", "<name> 0|1", "the interface's IFF_RUNNING flag (the link is up)",
              [this](const Args& a, Reply& r) {
                if (a.size() != 2 || (a[1] != "0" && a[1] != "1")) return r.fail("usage: netif running <name> 0|1");
                Row* row = this->row(a[0]);
                if (!row) return r.fail("no interface " + a[0]);
                row->flags = a[1] == "1" ? row->flags | IFF_RUNNING : row->flags & ~unsigned(IFF_RUNNING);
                r.line(describe(*row));
              });
  add_command("netif", "remove", "<name>", "removes an interface", [this](const Args& a, Reply& r) {
    if (a.size() != 1) return r.fail("usage: netif remove <name>");
    for (auto it = rows_.begin(); it != rows_.end(); ++it)
      if (it->name == a[0]) {
        rows_.erase(it);
        return;
      }
    r.fail("no interface " + a[0]);
  });
}

void NetIf::reset() { rows_ = DefaultRows(); }

std::string NetIf::describe(const Row& row) {
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%x", row.flags);
  return row.name + " index=" + std::to_string(row.index) + " flags=" + flags +
         " channel=" + std::to_string(row.channel) + " protocol=" + row.protocol;
}

const NetIf::Row* NetIf::find(const std::string& name) const {
  for (const Row& row : rows_)
    if (row.name == name) return &row;
  return nullptr;
}

NetIf::Row* NetIf::row(const std::string& name) { return const_cast<Row*>(find(name)); }

int NetIf::request(unsigned long request, void* arg) {
  ifreq* ifr = static_cast<ifreq*>(arg);
  if (request == SIOCGIFNAME) {
    for (const Row& row : rows_)
      if (row.index == ifr->ifr_ifindex) {
        std::memset(ifr->ifr_name, 0, IFNAMSIZ);
        std::memcpy(ifr->ifr_name, row.name.data(), std::min(row.name.size(), std::size_t(IFNAMSIZ - 1)));
        return 0;
      }
    errno = ENODEV;
    return -1;
  }
  const std::string name(ifr->ifr_name, strnlen(ifr->ifr_name, IFNAMSIZ));
  Row* r = row(name);
  if (!r) {
    errno = ENODEV;
    return -1;
  }
  switch (request) {
    case SIOCGIFINDEX:
      ifr->ifr_ifindex = r->index;
      return 0;
    case SIOCGIFFLAGS:
      ifr->ifr_flags = static_cast<short>(r->flags);
      return 0;
    case SIOCSIFFLAGS:
      r->flags = static_cast<unsigned short>(ifr->ifr_flags);
      return 0;
    case SIOCWANDEV:
      break;
    default:
      errno = ENOTTY;
      return -1;
  }
  if_settings& set = ifr->ifr_settings;
  switch (set.type) {
    case IF_GET_IFACE: {
      if (set.size < 128) {
        errno = ENOBUFS;
        return -1;
      }
      std::uint32_t block[32] = {0};
      block[0] = IF_IFACE_E1;
      block[3] = static_cast<std::uint32_t>(r->channel);
      std::memcpy(set.ifs_ifsu.sync, block, sizeof block);
      return 0;
    }
    case IF_PROTO_PPP:
      r->protocol = "ppp";
      return 0;
    case IF_PROTO_HDLC:
      r->protocol = "hdlc";
      return 0;
    default:
      errno = EINVAL;
      return -1;
  }
}

}  // namespace SimBoard
