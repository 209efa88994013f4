#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Journal = std::vector<std::string>;

class Layer : public Protocol {
public:
  Layer(Journal& journal, std::string tag) : journal(journal), tag(std::move(tag)) {}
  ~Layer() override { journal.push_back(tag + " deleted"); }
  void local_deactivate() override {
    journal.push_back(tag + " local_deactivate");
    Protocol::local_deactivate();
    // Still running inside the stack after the owner has been told.
    journal.push_back(tag + " back");
  }
  Journal& journal;
  std::string tag;
};

class Slot;

class SlotFamily : public ProtocolsFamily {
public:
  SlotFamily(Slot& slot, Journal& journal) : slot(slot), journal(journal) {}
  ~SlotFamily() override { journal.push_back("family deleted"); }
  void on_deactivated(Protocol* p, Protocol_status st) override;
  Slot& slot;
  Journal& journal;
};

// Owns a family and must not delete it from inside the family's own report:
// the layers are still on the call stack. It deletes it on the next pass of
// the loop instead.
class Slot {
public:
  explicit Slot(Journal& journal) : journal(journal), family(new SlotFamily(*this, journal)) {
    family->add_protocol_tail(new Layer(journal, "link"));
    family->add_protocol_tail(new Layer(journal, "top"));
    teardown.Bind(this, &Slot::delete_family);
  }
  ~Slot() { delete family; }

  void deactivated(Protocol_status const& st) {
    journal.push_back(std::string("slot deactivated ") + (st->success() ? "ok" : "error"));
    teardown.Activate();
  }
  void delete_family() {
    teardown.Deactivate();
    delete family;
    family = nullptr;
  }

  Journal& journal;
  SlotFamily* family;
  Dpc teardown;
};

void SlotFamily::on_deactivated(Protocol*, Protocol_status st) { slot.deactivated(st); }

}  // namespace

TEST(ProtocolsFamilyTeardown, OwnerDeletesTheFamilyFromADeferredCall) {
  Journal j;
  Slot slot(j);
  slot.family->deactivate();
  EXPECT_EQ(j,
            (Journal{"top local_deactivate", "link local_deactivate", "slot deactivated ok", "link back", "top back"}));
  ASSERT_NE(slot.family, nullptr);
  EXPECT_TRUE(slot.teardown.IsActive());

  j.clear();
  multiplexer.execute_dpc();
  EXPECT_EQ(slot.family, nullptr);
  EXPECT_FALSE(slot.teardown.IsActive());
  EXPECT_EQ(j, (Journal{"family deleted", "top deleted", "link deleted"}));

  j.clear();
  multiplexer.execute_dpc();
  EXPECT_TRUE(j.empty());
}
