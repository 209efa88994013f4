// The seed corpus of the full-path fuzz target (daemon/ctrl_server_fuzz.cpp):
// one TPKT frame per command alternative, named after it, each holding a
// command that passes the server's checks and so reaches the services.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "control/testing/test_controller.h"
#include "messages/LGCP.h"

namespace {

std::filesystem::path SeedDirectory() {
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "control_server_fuzz";
}

TEST(ServerFuzzSeeds, OneFramedCommandPerAlternative) {
  const ASN1::CHOICE::InfoType& info = LGCP::Command::theInfo;
  for (unsigned alternative = 0; alternative < info.totalChoices; ++alternative) {
    const std::filesystem::path file = SeedDirectory() / (std::string("command-") + info.selectionNames[alternative]);
    SCOPED_TRACE(file.string());
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in);
    const std::string frame((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(frame.size(), 4u);
    const std::string payload = frame.substr(4);
    EXPECT_EQ(CtrlTest::Controller::Frame(payload), frame);
    LGCP::Message m;
    ASSERT_TRUE(CtrlTest::Controller::Decode(payload, m));
    ASSERT_TRUE(m.get_pdu().command_isSelected());
    EXPECT_EQ(int(alternative), m.get_pdu().get_command().currentSelection());
    EXPECT_TRUE(m.isValid());
  }
}

}  // namespace
