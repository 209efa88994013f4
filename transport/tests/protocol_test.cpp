#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Journal = std::vector<std::string>;

std::string outcome(Protocol_status const& st) { return st->success() ? "ok" : "error " + st->message(); }

// A layer that writes what happens to it into a journal. With a header byte it
// prepends that byte going down and strips it coming up.
class Layer : public Protocol {
public:
  Layer(Journal& journal, std::string tag, unsigned char header = 0)
      : journal(journal), tag(std::move(tag)), header(header) {}
  ~Layer() override { journal.push_back(tag + " deleted"); }

  void local_prepare_head(Packet& p) override { p.reserve_head(header ? 1 : 0); }
  Protocol_status local_initialize() override {
    journal.push_back(tag + " initialize");
    if (fail_initialize) return new Protocol_status_error(this, tag + " failed");
    return Protocol::local_initialize();
  }
  void local_activate() override {
    journal.push_back(tag + " local_activate");
    if (!activate_later) on_activate();
  }
  void local_deactivate() override {
    journal.push_back(tag + " local_deactivate");
    Protocol::local_deactivate();
  }
  void on_deactivate(Protocol_status st) override {
    journal.push_back(tag + " on_deactivate " + outcome(st));
    last_status = st;
    Protocol::on_deactivate(st);
  }
  void on_status(Protocol_status st) override {
    journal.push_back(tag + " on_status " + st->message());
    Protocol::on_status(st);
  }
  void message(Packet& p) override {
    if (header) p.push8(header);
    transmit(p);
  }
  void receive(Packet& p) override {
    if (header && (p.empty() || p.pull8() != header)) {
      journal.push_back(tag + " bad header");
      return;
    }
    on_message(p);
  }

  Journal& journal;
  std::string tag;
  unsigned char header;
  bool fail_initialize = false;
  bool activate_later = false;
  Protocol_status last_status;
};

// A layer that answers to a name.
class NamedLayer : public Layer {
public:
  NamedLayer(Journal& journal, char const* name) : Layer(journal, name), own_name(name) {}
  bool compare_name(Protocol_name const& n) const override { return own_name.compare(n); }
  Protocol_name const& name() const override { return own_name; }

private:
  Protocol_name_str own_name;
};

// The bottom of a stack: what goes down lands on the wire.
class Wire : public Layer {
public:
  Wire(Journal& journal, std::vector<std::string>& sent) : Layer(journal, "wire"), sent(sent) {}
  void message(Packet& p) override { sent.push_back(p.text()); }
  std::vector<std::string>& sent;
};

// Records what reaches it from its members, then behaves as a family.
class Family : public ProtocolsFamily {
public:
  Family(Journal& journal, std::string tag) : journal(journal), tag(std::move(tag)) {}
  ~Family() override { journal.push_back(tag + " deleted"); }
  void on_activated(Protocol* p) override {
    journal.push_back(tag + " on_activated " + tag_of(p));
    ProtocolsFamily::on_activated(p);
  }
  void on_deactivated(Protocol* p, Protocol_status st) override {
    journal.push_back(tag + " on_deactivated " + tag_of(p) + " " + outcome(st));
    last_status = st;
    ProtocolsFamily::on_deactivated(p, st);
  }
  static std::string tag_of(Protocol* p) {
    if (auto* layer = dynamic_cast<Layer*>(p)) return layer->tag;
    if (auto* family = dynamic_cast<Family*>(p)) return family->tag;
    return "?";
  }

  Journal& journal;
  std::string tag;
  Protocol_status last_status;
};

// The object that consumes a stack's output, as a slot or the controller
// connection does.
class Owner : public Family {
public:
  using Family::Family;
  void on_message(Packet& p) override { received.push_back(p.text()); }
  void on_status(Protocol_status st) override { journal.push_back(tag + " on_status " + st->message()); }
  std::vector<std::string> received;
};

template <class T, class... Args>
T* add(ProtocolsList& list, Args&&... args) {
  return static_cast<T*>(list.add_protocol_tail(new T(std::forward<Args>(args)...)));
}

}  // namespace

TEST(ProtocolName, Comparison) {
  Protocol_name_null null_a, null_b;
  Protocol_name_str tpkt("TPKT"), tpkt2("TPKT"), strm("StrmProtocol"), none(nullptr);
  struct Case {
    Protocol_name const& a;
    Protocol_name const& b;
    bool equal;
  } cases[] = {
      {null_a, null_b, true}, {null_a, tpkt, false}, {tpkt, null_a, false}, {tpkt, tpkt2, true},
      {tpkt, strm, false},    {none, null_a, false}, {null_a, none, false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(std::string(c.a.name()) + " vs " + c.b.name());
    EXPECT_EQ(c.a.compare(c.b), c.equal);
  }
  EXPECT_STREQ(none.name(), "(no name)");
  EXPECT_STREQ(null_a.name(), "(no name)");
  EXPECT_EQ(none.kind(), 1);
  EXPECT_EQ(null_a.kind(), 0);
}

TEST(ProtocolsList, SearchFindsTheLowestLayerOfThatName) {
  Journal j;
  Owner owner(j, "owner");
  add<Layer>(owner, j, "plain");
  EXPECT_EQ(owner.search(Protocol_name_null()), nullptr);
  EXPECT_EQ(owner.search(Protocol_name_str("plain")), nullptr);
  auto* strm = add<NamedLayer>(owner, j, "StrmProtocol");
  auto* tpkt = add<NamedLayer>(owner, j, "TPKT");
  add<NamedLayer>(owner, j, "TPKT");
  EXPECT_EQ(owner.search(Protocol_name_str("TPKT")), tpkt);
  EXPECT_EQ(owner.search(Protocol_name_str("StrmProtocol")), strm);
  EXPECT_EQ(owner.search(Protocol_name_str("LAPD")), nullptr);
  EXPECT_STREQ(tpkt->name().name(), "TPKT");
  EXPECT_STREQ(owner.name().name(), "(no name)");
}

TEST(ProtocolsList, AddingAtEitherEndOrdersTheLayers) {
  Journal j;
  Owner owner(j, "owner");
  auto* middle = add<Layer>(owner, j, "middle");
  auto* top = add<Layer>(owner, j, "top");
  auto* bottom = static_cast<Layer*>(owner.add_protocol_head(new Layer(j, "bottom")));
  EXPECT_EQ(owner.lowest(), bottom);
  EXPECT_EQ(owner.highest(), top);
  EXPECT_EQ(bottom->lower(), nullptr);
  EXPECT_EQ(bottom->upper(), middle);
  EXPECT_EQ(top->lower(), middle);
  EXPECT_EQ(top->upper(), nullptr);
  EXPECT_EQ(middle->get_owner(), &owner);
  EXPECT_EQ(owner.layers(), 3u);
}

TEST(ProtocolsFamily, ActivationRunsBottomUp) {
  Journal j;
  Owner owner(j, "owner");
  auto* family = add<Family>(owner, j, "family");
  auto* lower = add<Layer>(*family, j, "lower");
  auto* upper = add<Layer>(*family, j, "upper");

  family->activate();
  EXPECT_EQ(j, (Journal{"lower local_activate", "upper local_activate", "family on_activated upper",
                        "owner on_activated family"}));

  // Only the highest member's report counts.
  j.clear();
  family->on_activated(lower);
  EXPECT_EQ(j, Journal{"family on_activated lower"});

  // A layer that comes up later holds back the ones above it.
  j.clear();
  lower->activate_later = true;
  family->activate();
  EXPECT_EQ(j, Journal{"lower local_activate"});
  lower->on_activate();
  EXPECT_EQ(j, (Journal{"lower local_activate", "upper local_activate", "family on_activated upper",
                        "owner on_activated family"}));
  (void)upper;
}

TEST(ProtocolsFamily, OrderlyDeactivationRunsTopDown) {
  Journal j;
  Family family(j, "family");
  auto* low = add<Layer>(family, j, "low");
  add<Layer>(family, j, "mid");
  add<Layer>(family, j, "high");

  family.deactivate();
  EXPECT_EQ(j,
            (Journal{"high local_deactivate", "high on_deactivate ok", "mid local_deactivate", "mid on_deactivate ok",
                     "low local_deactivate", "low on_deactivate ok", "family on_deactivated low ok"}));
  // The status that reaches the owner is the lowest layer's own.
  ASSERT_FALSE(family.last_status.null());
  EXPECT_EQ(family.last_status.get(), low->last_status.get());
  EXPECT_EQ(family.last_status->reporter(), low);
  EXPECT_EQ(family.last_status->message(), "success");
}

TEST(ProtocolsFamily, FailureTravelsUpWithoutShuttingDown) {
  Journal j;
  Family family(j, "family");
  auto* low = add<Layer>(family, j, "low");
  auto* mid = add<Layer>(family, j, "mid");
  auto* high = add<Layer>(family, j, "high");

  Internal_protocol_status* failure = new Protocol_status_error(mid, "peer closed");
  mid->on_deactivate(failure);
  EXPECT_EQ(j, (Journal{"mid on_deactivate error peer closed", "high on_deactivate error peer closed",
                        "family on_deactivated high error peer closed"}));
  EXPECT_EQ(high->last_status.get(), failure);
  EXPECT_EQ(family.last_status.get(), failure);
  EXPECT_TRUE(low->last_status.null());
}

TEST(ProtocolsFamily, StatusEventsTravelUpUnchanged) {
  Journal j;
  Owner owner(j, "owner");
  auto* low = add<Layer>(owner, j, "low");
  add<Layer>(owner, j, "high");
  low->on_status(new Protocol_status_success(low, "flow off"));
  EXPECT_EQ(j, (Journal{"low on_status flow off", "high on_status flow off", "owner on_status flow off"}));
}

TEST(ProtocolsFamily, PrepareHeadReservesEveryHeaderBelow) {
  struct Reserve4 : Layer {
    using Layer::Layer;
    void local_prepare_head(Packet& p) override { p.reserve_head(4); }
  };
  Journal j;
  Family stack(j, "stack");
  add<Layer>(stack, j, "zero");
  auto* top = add<Reserve4>(stack, j, "four");

  Packet p;
  top->prepare_head(p);
  EXPECT_EQ(p._headroom(), 4u);
  EXPECT_EQ(p._length(), 0u);
  EXPECT_EQ(p._tailroom(), 65532u);

  Packet q;
  stack.prepare_head(q);
  EXPECT_EQ(q._headroom(), 4u);

  Packet t;
  stack.prepare_tail(t);
  EXPECT_EQ(t._headroom(), 65536u);
  EXPECT_EQ(t._tailroom(), 0u);
}

// A family standing as one layer of a larger stack: wire, family (two layers),
// top, all inside the consuming owner.
class NestedStack : public ::testing::Test {
protected:
  NestedStack() : owner(j, "owner") {
    wire = add<Wire>(owner, j, sent);
    family = add<Family>(owner, j, "family");
    l1 = add<Layer>(*family, j, "l1", 0x11);
    l2 = add<Layer>(*family, j, "l2", 0x22);
    top = add<Layer>(owner, j, "top", 0x33);
  }

  Journal j;
  std::vector<std::string> sent;
  Owner owner;
  Wire* wire;
  Family* family;
  Layer* l1;
  Layer* l2;
  Layer* top;
};

TEST_F(NestedStack, PacketsGoDownThroughTheFamilyAndComeBackUp) {
  Packet p;
  top->prepare_head(p);
  EXPECT_EQ(p._headroom(), 3u);
  p.put8(0x99);
  unsigned char const* payload = p.cdata();
  owner.message(p);
  ASSERT_EQ(sent, std::vector<std::string>{"11 22 33 99"});
  EXPECT_EQ(p._headroom(), 0u);
  EXPECT_EQ(p.cdata() + 3, payload);

  wire->on_message(p);
  EXPECT_EQ(owner.received, std::vector<std::string>{"99"});
  EXPECT_TRUE(j.empty());

  Packet bad;
  bad.reserve_head(0);
  bad.put8(0x11);
  bad.put8(0x44);
  owner.receive(bad);
  EXPECT_EQ(j, Journal{"l2 bad header"});
  EXPECT_EQ(owner.received.size(), 1u);
}

TEST_F(NestedStack, ActivationAndDeactivationCrossTheFamily) {
  owner.activate();
  EXPECT_EQ(j, (Journal{"wire local_activate", "l1 local_activate", "l2 local_activate", "family on_activated l2",
                        "top local_activate", "owner on_activated top"}));

  j.clear();
  owner.deactivate();
  EXPECT_EQ(j, (Journal{"top local_deactivate", "top on_deactivate ok", "l2 local_deactivate", "l2 on_deactivate ok",
                        "l1 local_deactivate", "l1 on_deactivate ok", "family on_deactivated l1 ok",
                        "wire local_deactivate", "wire on_deactivate ok", "owner on_deactivated wire ok"}));
}

TEST_F(NestedStack, FailureInsideTheFamilyReachesTheOwner) {
  l1->on_deactivate(new Protocol_status_error(l1, "device error"));
  EXPECT_EQ(j, (Journal{"l1 on_deactivate error device error", "l2 on_deactivate error device error",
                        "family on_deactivated l2 error device error", "top on_deactivate error device error",
                        "owner on_deactivated top error device error"}));
  EXPECT_EQ(owner.last_status.get(), l1->last_status.get());
}

TEST_F(NestedStack, InitializationGoesLowestFirstAndStopsAtAFailure) {
  Protocol_status st = owner.initialize();
  EXPECT_TRUE(st->success());
  EXPECT_EQ(j, (Journal{"wire initialize", "l1 initialize", "l2 initialize", "top initialize"}));
  EXPECT_EQ(st->reporter(), top);

  j.clear();
  l1->fail_initialize = true;
  st = owner.initialize();
  EXPECT_FALSE(st->success());
  EXPECT_EQ(st->message(), "l1 failed");
  EXPECT_EQ(st->reporter(), l1);
  EXPECT_EQ(j, (Journal{"wire initialize", "l1 initialize"}));
}

TEST(ProtocolsFamily, EmptyFamilyDoesNothing) {
  Journal j;
  Owner owner(j, "owner");
  auto* empty = add<Family>(owner, j, "empty");
  Packet p;
  p.reserve_head(0);
  p.put8(1);
  empty->message(p);
  empty->receive(p);
  empty->activate();
  empty->deactivate();
  Packet unprepared;
  empty->local_prepare_head(unprepared);
  EXPECT_TRUE(unprepared.null());
  EXPECT_TRUE(j.empty());
  EXPECT_TRUE(owner.received.empty());
  EXPECT_EQ(p.text(), "01");

  Protocol_status st = empty->local_initialize();
  EXPECT_FALSE(st->success());
  EXPECT_EQ(st->message(), "error");
  EXPECT_EQ(st->reporter(), empty);
  std::ostringstream os;
  st->out(os);
  EXPECT_EQ(os.str(), "error");
}

TEST(ProtocolsList, DeletingTheListDeletesItsLayersHighestFirst) {
  Journal j;
  auto* list = new Family(j, "list");
  add<Layer>(*list, j, "a");
  auto* inner = add<Family>(*list, j, "inner");
  add<Layer>(*inner, j, "inner-a");
  add<Layer>(*inner, j, "inner-b");
  add<Layer>(*list, j, "c");
  delete list;
  EXPECT_EQ(j,
            (Journal{"list deleted", "c deleted", "inner deleted", "inner-b deleted", "inner-a deleted", "a deleted"}));
}

TEST(ProtocolsList, DeletingOneLayerRelinksItsNeighbours) {
  Journal j;
  Family list(j, "list");
  auto* a = add<Layer>(list, j, "a");
  auto* b = add<Layer>(list, j, "b");
  auto* c = add<Layer>(list, j, "c");
  delete b;
  EXPECT_EQ(list.layers(), 2u);
  EXPECT_EQ(a->upper(), c);
  EXPECT_EQ(c->lower(), a);
  delete c;
  EXPECT_EQ(list.highest(), a);
  EXPECT_EQ(a->upper(), nullptr);
  delete a;
  EXPECT_EQ(list.layers(), 0u);
  EXPECT_EQ(list.lowest(), nullptr);
  list.activate();
  EXPECT_EQ(j, (Journal{"b deleted", "c deleted", "a deleted"}));
}

TEST(ProtocolStatus, CountedAndDeletedWithTheLastHandle) {
  struct Watched : Protocol_status_success {
    Watched(bool& gone) : Protocol_status_success(nullptr, "w"), gone(gone) {}
    ~Watched() override { gone = true; }
    bool& gone;
  };
  bool gone = false;
  {
    Protocol_status a = new Watched(gone);
    Protocol_status b = a;
    EXPECT_EQ(a.use_count(), 2u);
    a = b;
    a.clean();
    EXPECT_TRUE(a.null());
    EXPECT_FALSE(gone);
    EXPECT_EQ(b.use_count(), 1u);
  }
  EXPECT_TRUE(gone);
}

TEST(ProtocolStatusDeathTest, NullStatusHandle) {
  EXPECT_DEATH(
      {
        Protocol_status none;
        static_cast<Protocol_status const&>(none)->success();
      },
      "SMART POINTER ASSERTION!");
}
