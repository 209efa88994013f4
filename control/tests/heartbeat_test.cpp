#include "control/heartbeat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_fixture.h"

using srvtest::Controller;
using srvtest::Destroy;
using srvtest::ServerFixture;

namespace {

class HeartBeat : public ServerFixture {
protected:
  void Advance(unsigned ms) { linktest::advance(clock, ms); }

  bool ControllerDropped() {
    return linktest::run_until([&] { return !listener->IsConnected(); }) && controller.WaitClosed(2000);
  }
};

}  // namespace

TEST_F(HeartBeat, SilentControllerIsCutOffAfterTheTimeOut) {
  EXPECT_TRUE(heartbeat.IsWatching()) << "armed on connect";
  Advance(HeartBeatCtl::timeout_ms - 1);
  EXPECT_TRUE(listener->IsConnected());
  EXPECT_FALSE(streams.log.text().find("heartbeat timeout!!!") != std::string::npos);
  Advance(1);
  EXPECT_TRUE(streams.log.text().find("\nheartbeat timeout!!!\n") != std::string::npos);
  EXPECT_TRUE(ControllerDropped());
  ASSERT_TRUE(linktest::run_until([&] { return journal.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"first disconnect", "second disconnect"}), journal);
  EXPECT_FALSE(heartbeat.IsWatching());
}

TEST_F(HeartBeat, AnyOfferedCommandRestartsTheTimeOut) {
  for (int i = 0; i < 3; ++i) {
    Advance(HeartBeatCtl::timeout_ms - 1000);
    // Nobody takes it, yet it counts.
    EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(Call(Controller::Make(Destroy(), i))));
  }
  Advance(HeartBeatCtl::timeout_ms - 1000);
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(9))));
  Advance(HeartBeatCtl::timeout_ms - 1);
  EXPECT_TRUE(listener->IsConnected());
  Advance(1);
  EXPECT_TRUE(ControllerDropped());
}

TEST_F(HeartBeat, MessagesAnsweredBeforeTheOfferDoNotCount) {
  Advance(HeartBeatCtl::timeout_ms - 1000);
  LGCP::Message response;
  response.set_pdu().select_response().select_success();
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(Call(response)));
  ASSERT_TRUE(controller.SendPayload(std::string("\xFF", 1)));
  Advance(1000);
  EXPECT_TRUE(ControllerDropped());
}

TEST_F(HeartBeat, PingIsTakenOnceOtherCommandsPassOn) {
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(1, 2))));
  EXPECT_TRUE(journal.empty());
  Call(Controller::Make(Destroy(), 2));
  EXPECT_EQ((std::vector<std::string>{"first command", "second command"}), journal);
  ExpectNothingBefore();
}

TEST_F(HeartBeat, ANewControllerIsWatchedFromItsConnect) {
  Advance(HeartBeatCtl::timeout_ms);
  ASSERT_TRUE(ControllerDropped());
  ASSERT_TRUE(linktest::run_until([&] { return listener->GetState() == Control::Service::State::Connecting; }));
  EXPECT_FALSE(heartbeat.IsWatching());
  ASSERT_TRUE(controller.Connect(port));
  ASSERT_TRUE(linktest::run_until([&] { return listener->IsConnected(); }));
  EXPECT_TRUE(heartbeat.IsWatching());
  Advance(HeartBeatCtl::timeout_ms);
  EXPECT_TRUE(ControllerDropped());
}

TEST(HeartBeatAlone, TimeOutWithoutConnectionDoesNothing) {
  linktest::CachedClock clock;
  linktest::Streams streams;
  CtrlSrv::Server server;
  HeartBeatCtl heartbeat;
  server.Bind(&heartbeat);
  heartbeat.ResetTimeOut();
  linktest::advance(clock, HeartBeatCtl::timeout_ms);
  EXPECT_EQ("heartbeat timeout!!!\n", streams.log.text());
  EXPECT_FALSE(heartbeat.IsWatching());
}
