// The shared command builders: what each puts in the command, read back
// after a trip through the encoder and the decoder, and the hex helpers.
#include "control/testing/commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control/testing/test_controller.h"
#include "messages/LGCP.h"

namespace {

using namespace CtrlTest;

// The command as the daemon would get it.
LGCP::Command Sent(LGCP::Command const& command) {
  std::string payload;
  LGCP::Message message;
  EXPECT_TRUE(Controller::Encode(Controller::Make(command, 1, 2), payload));
  EXPECT_TRUE(Controller::Decode(payload, message));
  return message.get_pdu().get_command();
}

TEST(Commands, EachBuilderSurvivesTheWireWithItsFields) {
  using Check = std::function<bool(LGCP::Command const&)>;
  const struct Case {
    const char* name;
    LGCP::Command command;
    Check check;
  } cases[] = {
      {"trunk", Trunk(3, 17),
       [](LGCP::Command const& c) {
         const LGCP::CreateParams& p = c.get_create();
         return p.trunk_isSelected() && p.get_trunk().get_trunk().getValue() == 3 &&
                p.get_trunk().get_timeslot().getValue() == 17;
       }},
      {"trunk bri", Trunk(7, 2, true),
       [](LGCP::Command const& c) {
         const LGCP::CreateParams& p = c.get_create();
         return p.trunk_bri_isSelected() && p.get_trunk_bri().get_trunk().getValue() == 7 &&
                p.get_trunk_bri().get_timeslot().getValue() == 2;
       }},
      {"map transmitter only", Map(1, 5),
       [](LGCP::Command const& c) {
         const LGCP::MapParams& p = c.get_create().get_map();
         return p.transmitter_isPresent() && !p.receiver_isPresent() && p.get_transmitter().get_bus().getValue() == 1 &&
                p.get_transmitter().get_channel().getValue() == 5;
       }},
      {"map receiver only", Map(-1, 0, 2, 9),
       [](LGCP::Command const& c) {
         const LGCP::MapParams& p = c.get_create().get_map();
         return !p.transmitter_isPresent() && p.receiver_isPresent() && p.get_receiver().get_bus().getValue() == 2 &&
                p.get_receiver().get_channel().getValue() == 9;
       }},
      {"isdn bri network", Isdn(true, 8, true),
       [](LGCP::Command const& c) {
         const LGCP::IsdnParams& p = c.get_create().get_isdn();
         return p.get_type().asInt() == LGCP::IsdnType::bri && p.get_trunk().getValue() == 8 &&
                p.get_side().network_isSelected();
       }},
      {"isdn pri user", Isdn(false, 1, false),
       [](LGCP::Command const& c) {
         const LGCP::IsdnParams& p = c.get_create().get_isdn();
         return p.get_type().asInt() == LGCP::IsdnType::pri && p.get_trunk().getValue() == 1 &&
                p.get_side().user_isSelected();
       }},
      {"file player", FilePlayer({"a", "b"}, 3),
       [](LGCP::Command const& c) {
         const LGCP::PlayerParams_file& p = c.get_create().get_voice().get_player().get_file();
         return p.get_name().size() == 2 && p.get_repeat().getValue() == 3;
       }},
      {"connect", ConnectTo(1023), [](LGCP::Command const& c) { return c.get_connect().getValue() == 1023; }},
      {"disconnect", Disconnect(), [](LGCP::Command const& c) { return c.disconnect_isSelected(); }},
      {"destroy", Destroy(), [](LGCP::Command const& c) { return c.destroy_isSelected(); }},
      {"query", Query(), [](LGCP::Command const& c) { return c.query_isSelected(); }},
      {"activate", Activate(), [](LGCP::Command const& c) { return c.activate_isSelected(); }},
      {"deactivate", Deactivate(), [](LGCP::Command const& c) { return c.deactivate_isSelected(); }},
      {"user data octets", UserData(std::vector<char>{1, char(0xFF)}),
       [](LGCP::Command const& c) {
         return c.get_userData() == std::vector<char>{1, char(0xFF)};
       }},
      {"user data text", UserData(std::string("ab\0c", 4)),
       [](LGCP::Command const& c) {
         return c.get_userData() == std::vector<char>{'a', 'b', '\0', 'c'};
       }},
      {"ioctl", Ioctl([](LGCP::IoctlParams& p) { p.select_ss7RqBSN(); }),
       [](LGCP::Command const& c) { return c.get_ioctl().ss7RqBSN_isSelected(); }},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.check(Sent(c.command))) << c.name;
}

TEST(Commands, SignalReadings) {
  LGCP::Signal s;
  s.select_activated();
  EXPECT_TRUE(IsActivated(s));
  EXPECT_FALSE(IsUserData(s));
  s.select_userData(std::vector<char>{1});
  EXPECT_FALSE(IsActivated(s));
  EXPECT_TRUE(IsUserData(s));
}

TEST(Commands, HexBothWays) {
  const struct {
    std::string octets, text;
  } cases[] = {{"", ""}, {std::string("\x00\x7f\x80\xff", 4), "007f80ff"}, {"\x12\x34\x0a", "12340a"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, Hex(c.octets));
    EXPECT_EQ(c.text, Hex(std::vector<char>(c.octets.begin(), c.octets.end())));
    EXPECT_EQ(c.octets, Unhex(c.text));
  }
  // The board writes upper case; an odd digit at the end is no octet.
  EXPECT_EQ(std::string("\xab\xcd", 2), Unhex("ABCD"));
  EXPECT_EQ(std::string("\x01", 1), Unhex("012"));
}

}  // namespace
