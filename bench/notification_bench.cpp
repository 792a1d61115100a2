// The notification service's latency and idle cost on Linux.
//
// BM_SignalEventToCallback: a signal-strength command sent through vrlbusd
// --emulate, whose controller emulator answers and pushes the signal event;
// the library's event thread receives it and the window handler calls the
// callback. Reported: from the command's send and from its answer's return to
// the callback (the event leaves vrlbusd right after the answer).
// BM_ConnectionRecordToCallback: a connection record handed to the window
// handler, to its callback (the handler's own share).
// BM_IdleCpu: the process's CPU time per second while the service runs for a
// disconnected device.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "latency.h"
#include "port/linux/bus_client.h"
#include "port/linux/bus_socket.h"
#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/notification_window.h"
#include "port/platform.h"
#include "port/sim/sim_radio.h"
#include "port/sim/sim_registry.h"
#include "radio/notification_state.h"
#include "utils/notification.h"
#include "utils/radio.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr BtAddr kWatched = 0x001122334455ULL;
const BYTE kWatchedBd[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

std::mutex gMutex;
std::condition_variable gCalled;
unsigned long long gCalls = 0;
Clock::time_point gCalledAt;

DWORD onNotification(DWORD, DWORD) {
  {
    std::lock_guard lock(gMutex);
    gCalledAt = Clock::now();
    ++gCalls;
  }
  gCalled.notify_all();
  return 0;
}

using utils::bench::microseconds;
using utils::bench::reportLatency;

void BM_SignalEventToCallback(benchmark::State& state) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(onNotification);
  std::vector<double> fromSend;
  std::vector<double> fromAnswer;
  for (auto _ : state) {
    unsigned long long before = 0;
    {
      std::lock_guard lock(gMutex);
      before = gCalls;
    }
    const auto sent = Clock::now();
    if (SendRssiCmdWithAddr(kWatchedBd) != 0) return state.SkipWithError("the command failed");
    const auto answered = Clock::now();
    std::unique_lock lock(gMutex);
    if (!gCalled.wait_for(lock, std::chrono::seconds(2), [&] { return gCalls > before; })) {
      return state.SkipWithError("no callback");
    }
    fromSend.push_back(microseconds(gCalledAt - sent));
    fromAnswer.push_back(std::max(0.0, microseconds(gCalledAt - answered)));
  }
  RegisterNotification(nullptr);
  UTIL_BT_Uninitialize();
  reportLatency(state, fromSend, "from_send_");
  reportLatency(state, fromAnswer, "from_answer_");
}
BENCHMARK(BM_SignalEventToCallback)->UseRealTime()->Iterations(2000);

void BM_ConnectionRecordToCallback(benchmark::State& state) {
  auto& service = utils::radio::notify::serviceState();
  service.address = kWatched;
  service.shutdown = 0;
  service.callback = onNotification;
  bool connected = true;
  std::vector<double> latencies;
  for (auto _ : state) {
    const utils::port::DeviceBroadcast record{utils::port::kDbtDevTypeHandle, utils::port::kGuidBluetoothHciEvent,
                                              utils::port::hciEventInfoData(kWatched, 1, connected)};
    const auto start = Clock::now();
    utils::radio::notify::OnDeviceChange(utils::port::kDbtCustomEvent, &record);
    latencies.push_back(microseconds(gCalledAt - start));
    connected = !connected;
  }
  service.callback = nullptr;
  reportLatency(state, latencies, "to_callback_");
}
BENCHMARK(BM_ConnectionRecordToCallback);

void BM_IdleCpu(benchmark::State& state) {
  UTIL_BT_Initialize(kWatched);
  for (auto _ : state) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage& r) {
      return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
    };
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["cpu_us_per_s"] = (cpu(after) - cpu(before)) / seconds;
  }
  UTIL_BT_Uninitialize();
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  // A private vrlbusd on a socket of its own, ended when the benchmarks are done.
  char folder[] = "/tmp/utils-notify-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::string socket = std::string(folder) + "/bus.sock";
  ::setenv("UTILS_BUS_SOCKET", socket.c_str(), 1);
  const std::string program = UTILS_VRLBUSD_PATH;
  std::vector<std::string> args{program, "--emulate", "--socket", socket};
  std::vector<char*> argp;
  for (auto& arg : args) argp.push_back(arg.data());
  argp.push_back(nullptr);
  pid_t daemon = -1;
  if (posix_spawn(&daemon, program.c_str(), nullptr, nullptr, argp.data(), environ) != 0) return 1;
  for (int i = 0; i < 500; ++i) {
    std::unique_ptr<utils::linuxport::BusSocket> probe;
    if (utils::linuxport::BusSocket::connect(socket, &probe) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // The real bus client, event thread and message window; a simulated radio (the
  // one BlueZ adapter path stands for it) and registry, so that no system
  // service is needed besides vrlbusd.
  utils::sim::SimRegistry registry;
  utils::linuxport::LinuxDebugOutput debugOutput(nullptr);
  utils::linuxport::LinuxClock clock;
  utils::linuxport::LinuxBus bus;
  utils::sim::SimRadio radio;
  BLUETOOTH_RADIO_INFO details{};
  details.manufacturer = 0x1D;
  radio.setRadioDetails(details);
  utils::linuxport::LinuxNotification notification([](HANDLE) { return std::string("/org/bluez/hci0"); });
  utils::port::Platform platform{&registry, &debugOutput, &clock};
  platform.bus = &bus;
  platform.radio = &radio;
  platform.notification = &notification;
  utils::port::installPlatform(platform);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  ::kill(daemon, SIGTERM);
  ::waitpid(daemon, nullptr, 0);
  ::unlink(socket.c_str());
  ::rmdir(folder);
  return 0;
}
