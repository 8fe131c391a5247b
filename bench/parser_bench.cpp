// Throughput of the datagram parsers and of the workers' whole receive path, in datagrams per
// second ("items_per_second"). No socket is opened: the workers are called the way their receive
// thread calls them, with the log off and a callback that only counts.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/LogSystem.h"
#include "discovery/SearchDeviceBroadcastThread.h"
#include "discovery/SearchDeviceManager.h"
#include "discovery/SearchDeviceMulticastThread.h"
#include "discovery/SearchProtocol.h"

namespace {

constexpr const char* kSender = "10.231.1.17";

// Datagrams as the simulated devices send them, each in a zeroed receive buffer of 1025 bytes
// as the receive loop passes it.
struct Datagram {
  explicit Datagram(const std::string& bytes) : buffer(CSearchDeviceThread::kReceiveLength + 1, 0) {
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    length = static_cast<std::int32_t>(bytes.size());
  }
  std::vector<char> buffer;
  std::int32_t length;
};

Datagram BroadcastReply(int index) {
  std::string bytes(sizeof(SearchPacket), '\0');
  bytes[0] = static_cast<char>(kSearchReplyOpcode);
  bytes[1] = 1;
  const std::string text = "id=SIM" + std::to_string(index) + "&host=nas" + std::to_string(index) +
                           "&vendor=Tarvelo&product=HomeNas&ssid=home&mac0=02:00:00:00:00:01"
                           "&mac1=02:00:00:00:00:02";
  bytes.replace(20, text.size(), text);
  return Datagram(bytes);
}

Datagram MulticastReply(int index) {
  const std::string i = std::to_string(index);
  return Datagram(
      "HTTP/1.1 200 OK\r\n"
      "CACHE-CONTROL: max-age=1800\r\n"
      "EXT:\r\n"
      "LOCATION: http://10.231.1." +
      i +
      ":80/desc.xml\r\n"
      "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/nas" +
      i +
      "/HomeNas/1\r\n"
      "SSIDINFO: SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02\r\n"
      "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
      "USN: uuid:SIM" +
      i +
      "::upnp:rootdevice\r\n"
      "\r\n");
}

Datagram MulticastNotify(int index) {
  const std::string i = std::to_string(index);
  return Datagram(
      "NOTIFY * HTTP/1.1\r\n"
      "HOST: 239.143.255.250:1900\r\n"
      "CACHE-CONTROL: max-age=1800\r\n"
      "LOCATION: http://10.231.1." +
      i +
      ":80/desc.xml\r\n"
      "NT: upnp:rootdevice\r\n"
      "NTS: ssdp:alive\r\n"
      "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/nas" +
      i +
      "/HomeNas/1\r\n"
      "SSIDINFO: SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02\r\n"
      "USN: uuid:SIM" +
      i +
      "::upnp:rootdevice\r\n"
      "\r\n");
}

void BM_ParseBroadcastReply(benchmark::State& state) {
  const Datagram reply = BroadcastReply(1);
  DeviceInfo device;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseBroadcastReply(
        reply.buffer.data(), static_cast<std::size_t>(reply.length), kSender, device));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseBroadcastReply);

void BM_ParseMulticastMessage(benchmark::State& state, Datagram (*make)(int)) {
  const Datagram message = make(1);
  DeviceInfo device;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseMulticastMessage(
        message.buffer.data(), static_cast<std::size_t>(message.length), kSender, device));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * message.length);
}
BENCHMARK_CAPTURE(BM_ParseMulticastMessage, reply, MulticastReply);
BENCHMARK_CAPTURE(BM_ParseMulticastMessage, notify, MulticastNotify);

// The whole path a received datagram takes: parse, compare with the last record, hand-off under
// the process-wide mutex, callback. Two devices alternate, so every datagram is a new record and
// is handed on (a burst of distinct devices); with `repeat` the same datagram comes again and
// again (a device answering several times), which the broadcast worker drops after the first and
// the multicast worker hands on every second time.
std::int64_t handOffs = 0;

std::int32_t CountHandOff(const DeviceInfo*, std::int32_t) {
  ++handOffs;
  return 0;
}

template <typename Worker>
void RunHandleReceiveData(benchmark::State& state, Datagram (*make)(int), bool repeat) {
  SetLogState(false, nullptr);
  SearchDeviceManager::foundCallback = &CountHandOff;
  handOffs = 0;
  Worker worker;
  const Datagram datagrams[2] = {make(1), make(repeat ? 1 : 2)};
  std::size_t next = 0;
  for (auto _ : state) {
    const Datagram& datagram = datagrams[next];
    next ^= 1;
    worker.HandleReceiveData(datagram.buffer.data(), datagram.length, kSender);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["handed_on"] =
      benchmark::Counter(static_cast<double>(handOffs) / static_cast<double>(state.iterations()));
  SearchDeviceManager::foundCallback = nullptr;
}

void BM_BroadcastHandleReceiveData(benchmark::State& state, bool repeat) {
  RunHandleReceiveData<CSearchDeviceBroadcastThread>(state, BroadcastReply, repeat);
}
BENCHMARK_CAPTURE(BM_BroadcastHandleReceiveData, distinct, false);
BENCHMARK_CAPTURE(BM_BroadcastHandleReceiveData, repeat, true);

void BM_MulticastHandleReceiveData(benchmark::State& state, bool repeat) {
  RunHandleReceiveData<CSearchDeviceMulticastThread>(state, MulticastReply, repeat);
}
BENCHMARK_CAPTURE(BM_MulticastHandleReceiveData, distinct, false);
BENCHMARK_CAPTURE(BM_MulticastHandleReceiveData, repeat, true);

}  // namespace

BENCHMARK_MAIN();
