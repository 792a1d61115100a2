// A vendor HCI command round trip through vrlbusd --emulate over its socket:
// per-request latency (median and 99th percentile) on one open connection, the
// full open-request-close path that each library call takes, and requests per
// second with 4 concurrent clients.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "latency.h"
#include "port/linux/bus_client.h"
#include "port/linux/bus_socket.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kVendorCode = 0x9C4024C8;
// SendVendorHCICmd(0xFC59, 7 parameters, pattern 0xAA) as the library builds it.
const std::vector<BYTE> kRequest{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 10, 1, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA};

using utils::bench::microseconds;
using utils::bench::reportLatency;

// One request on an open connection.
void BM_VendorCommandRoundTrip(benchmark::State& state) {
  utils::linuxport::LinuxBus bus;
  utils::port::BusInterface found;
  if (bus.findFirstInterface(&found) != 0) return state.SkipWithError("vrlbusd is not running");
  HANDLE handle = nullptr;
  bus.open(found.path.c_str(), &handle);
  BYTE answer[1024];
  std::vector<double> latencies;
  latencies.reserve(1 << 20);
  for (auto _ : state) {
    const auto start = Clock::now();
    const DWORD error = bus.ioControl(handle, kVendorCode, kRequest.data(), static_cast<DWORD>(kRequest.size()), answer,
                                      sizeof answer, nullptr);
    latencies.push_back(microseconds(Clock::now() - start));
    if (error != 0) return state.SkipWithError("request failed");
  }
  bus.close(handle);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) reportLatency(state, latencies);
}
BENCHMARK(BM_VendorCommandRoundTrip)->UseRealTime();
BENCHMARK(BM_VendorCommandRoundTrip)->Threads(4)->UseRealTime();

// What one library call does with the bus: look the interface up, open, one
// request, close.
void BM_OpenRequestClose(benchmark::State& state) {
  utils::linuxport::LinuxBus bus;
  BYTE answer[1024];
  std::vector<double> latencies;
  for (auto _ : state) {
    const auto start = Clock::now();
    utils::port::BusInterface found;
    HANDLE handle = nullptr;
    if (bus.findFirstInterface(&found) != 0 || bus.open(found.path.c_str(), &handle) != 0) {
      return state.SkipWithError("vrlbusd is not running");
    }
    bus.ioControl(handle, kVendorCode, kRequest.data(), static_cast<DWORD>(kRequest.size()), answer, sizeof answer,
                  nullptr);
    bus.close(handle);
    latencies.push_back(microseconds(Clock::now() - start));
  }
  state.SetItemsProcessed(state.iterations());
  reportLatency(state, latencies);
}
BENCHMARK(BM_OpenRequestClose)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // A private daemon on a socket of its own, ended when the benchmarks are done.
  char folder[] = "/tmp/vrlbusd-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::string socket = std::string(folder) + "/bus.sock";
  ::setenv("UTILS_BUS_SOCKET", socket.c_str(), 1);
  std::string program = UTILS_VRLBUSD_PATH;
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
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::kill(daemon, SIGTERM);
  ::waitpid(daemon, nullptr, 0);
  ::rmdir(folder);
  return 0;
}
