// The daemon: reads its configuration and command line, builds the board's
// services, serves the controller and runs the main loop until SIGTERM or
// SIGINT.
#include <getopt.h>
#include <signal.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "board/board.h"
#include "daemon/bound_services.h"
#include "control/ctrl_server.h"
#include "control/trace_ctl.h"
#include "foundation/child_wait.h"
#include "foundation/dpc.h"
#include "foundation/ext_text.h"
#include "foundation/ini_file.h"
#include "foundation/log_output.h"
#include "foundation/logging.h"
#include "foundation/multiplexer.h"
#include "foundation/os.h"
#include "foundation/sys_paths.h"
#include "foundation/version.h"
#include "hardware/bus_ctl.h"
#include "hardware/hw_mux.h"
#include "mediaslots/modem_slot.h"
#include "mediaslots/rtp_ed137_slot.h"
#include "mediaslots/rtp_lemz_slot.h"
#include "mediaslots/rtp_slot.h"
#include "mediaslots/t38_slot.h"
#include "monitoring/monitoring_ctl.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/hdlc_slot.h"
#include "slots/isdn_slot.h"
#include "slots/map_slot.h"
#include "slots/mcc_slot.h"
#include "slots/mixer_slot.h"
#include "slots/pstn_slot.h"
#include "slots/slots.h"
#include "slots/voice_slot.h"
#include "transport/control_service.h"

namespace {

const char* const configFile = SysPaths::kConfigFile;
const int kDefaultPort = 20001;
const int kDisableClock = 10;

volatile sig_atomic_t doDumpStatus = 0;
volatile sig_atomic_t updateResources = 0;
// The loop forgets a termination request made before it starts; this one
// is looked at on every pass.
volatile sig_atomic_t terminateRequested = 0;
int print_version = 0;

const option long_options[] = {
    {"daemon", no_argument, nullptr, 'D'},     {"disable-clock", no_argument, nullptr, kDisableClock},
    {"port", required_argument, nullptr, 'p'}, {"version", no_argument, &print_version, 1},
    {"help", no_argument, nullptr, 'h'},       {nullptr, 0, nullptr, 0}};

const char sUsageText[] =
    "Usage:\n"
    " ulvarond -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

void Usage() { std::cout << sUsageText << std::endl; }

// Decimal digits only, 1 to 65535.
bool ParsePort(const char* text, int& port) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 5) return false;
  long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = int(value);
  return true;
}

// The loop's watchdog is a board device; the loop takes a plain descriptor.
int OpenBoardDevice(const char* path, int flags) { return Board::open(path, flags).release(); }

void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*) {
  terminateRequested = 1;
  multiplexer.terminate();
}

void SigUsr2Handler(int, siginfo_t*, void*) { doDumpStatus = 1; }

void SigHupHandler(int, siginfo_t*, void*) { updateResources = 1; }

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = 0;
  std::ofstream out(SysPaths::resolve(SysPaths::kStatusDump), std::ios::out | std::ios::trunc);
  if (!out) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  out << "==== server status at ";
  ext::timestamp(out);
  out << " ====\n";
  out << "version : " << Version::current << '\n';
  multiplexer.dump(out);
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance().UpdateHardwareResources();
}

void CheckSignals() {
  if (terminateRequested) multiplexer.terminate();
  CheckDumpStatus();
  CheckUpdateResources();
}

void InstallSignalHandlers() {
  IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
}

void RunDaemon() {
  Daemon::Params params;
  std::ostringstream identity;
  identity << "ulv-" << Version::current;
  params.name = identity.str();
  Daemon::Init(params);
}

// Creation order: the slot factories MapFactory, PstnFactory, RtpFactory,
// ModemFactory, Mixer::MixerFactory, ExtFactory, MccFactory, EchoFactory,
// VoiceFactory, T38SoftFactory, IsdnFactory, RtpLEMZFactory, RtpED137Factory,
// HdlcSlotFactory, then HwMux, then MonitoringCtl, which reads its agents
// from the configuration (an empty one when the file did not open). A factory
// joins the head of the factory chain when it is built, so the chain is asked
// in the reverse order; the singletons die in the reverse order at exit.
void CreateSingletons(IniFile::File& config) {
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance().Configure(config["modem"]);
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpLEMZFactory::instance();
  RtpED137Factory::instance();
  HdlcSlotFactory::instance();
  // Opens the cross-connect and disables every output before a controller
  // can connect.
  HwMux::instance();
  // Clears the status files and arms its timers; the main loop has not run
  // yet when it reads the configuration.
  MonitoringCtl::instance().Configure(config);
}

void BindServices() {
  for (CtrlSrv::Service* service : CtrlSrv::BoundServices()) ctrlServer.Bind(service);
}

}  // namespace

int main(int argc, char* argv[]) {
  // Whole lines, written once a pass, instead of a write per insertion.
  Log::InstallLineOutput();
  opterr = 1;
  int port = kDefaultPort;
  bool daemon = false;

  IniFile::File config;
  if (config.Open(SysPaths::resolve(configFile))) {
    traces.Reset();
    traces.Configure(config["traces"]);
  }

  InstallSignalHandlers();

  for (;;) {
    const int c = getopt_long(argc, argv, "Dh", long_options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'D':
        daemon = true;
        break;
      case kDisableClock:
        BusCtl::instance().DisableControl();
        break;
      case 'p':
        if (!ParsePort(optarg, port)) {
          std::cerr << argv[0] << ": invalid port \"" << optarg << "\", expected 1..65535" << std::endl;
          Usage();
          return 2;
        }
        break;
      case 'h':
        Usage();
        return 0;
      case '?':
      case ':':
        Usage();
        return 2;
      default:
        break;
    }
  }
  for (int i = optind; i < argc; ++i) std::cerr << argv[0] << ": argument \"" << argv[i] << "\" ignored" << std::endl;

  if (print_version) {
    std::cout << "server version: " << Version::current << std::endl;
    return 2;
  }

  Board::Start();
  multiplexer.set_watchdog_device(&OpenBoardDevice, SysPaths::kWatchdog);

  CreateSingletons(config);

  if (daemon) RunDaemon();

  Linux::Run pidFile("server");

  std::cout << "Starting server [" << Version::current << "], port=" << port << std::endl;

  BindServices();

  ChildWait::Activate();

  Dpc signals;
  signals.Bind(&CheckSignals);
  signals.Activate();

  ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));

  multiplexer.run(true, true);
  Log::LeaveLoop();

  ctrlServer.Deactivate();
  return 0;
}
