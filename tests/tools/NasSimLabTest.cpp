// The built simulator in the network lab: it runs in the device namespace, and a plain socket in
// the engine namespace searches it as the engine would and checks every byte that comes back.

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>

#include "LabNetwork.h"
#include "TemporaryDirectory.h"
#include "discovery/SearchProtocol.h"

namespace {

namespace fs = std::filesystem;
using boost::asio::ip::udp;
using std::chrono::milliseconds;
using testsupport::LabNetwork;

// Generous: a datagram crosses the link in microseconds, but the machine may be busy.
constexpr milliseconds kTimeout{10000};

struct Reply {
  std::string address;
  int port;
  std::string bytes;
};

// The engine's side of the link: a plain UDP socket opened inside the engine namespace.
class EngineSocket {
 public:
  explicit EngineSocket(const LabNetwork& lab, unsigned short port = 0) : socket_(io_) {
    const LabNetwork::Scope scope = lab.EnterEngine();
    socket_.open(udp::v4());
    socket_.set_option(udp::socket::reuse_address(true));
    socket_.set_option(udp::socket::broadcast(true));
    socket_.bind(udp::endpoint(udp::v4(), port));
  }

  void JoinSearchGroup() {
    socket_.set_option(
        boost::asio::ip::multicast::join_group(boost::asio::ip::make_address_v4(kMulticastGroup)));
  }

  void Send(const char* address, unsigned short port, const std::string& bytes) {
    socket_.send_to(boost::asio::buffer(bytes),
                    udp::endpoint(boost::asio::ip::make_address_v4(address), port));
  }

  std::optional<Reply> Receive() {
    pollfd readable{socket_.native_handle(), POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(kTimeout.count())) != 1) {
      return std::nullopt;
    }
    std::array<char, 65536> buffer;
    udp::endpoint sender;
    const std::size_t length = socket_.receive_from(boost::asio::buffer(buffer), sender);
    return Reply{sender.address().to_string(), sender.port(), std::string(buffer.data(), length)};
  }

 private:
  boost::asio::io_context io_;
  udp::socket socket_;
};

std::string SearchRequest() {
  const SearchPacket request = MakeSearchRequest();
  return std::string(reinterpret_cast<const char*>(&request), sizeof request);
}

std::string BroadcastReply(char byte1, const std::string& text) {
  std::string bytes(148, '\0');
  bytes[0] = 12;
  bytes[1] = byte1;
  bytes.replace(20, text.size(), text);
  return bytes;
}

std::map<std::string, std::string> CaptureFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = testsupport::ReadFile(entry.path());
  }
  return files;
}

class NasSimLabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TARVELO_REQUIRE_LAB();
    lab_.emplace();
  }

  std::string Capture() const { return folder_.File("capture"); }

  // Starts the simulator in the device namespace and waits until its sockets are bound.
  void StartSimulator(std::vector<std::string> options) {
    const std::string ready = folder_.File("ready");
    std::vector<std::string> argv{testsupport::BuiltProgram("tarvelo-nas-sim"), "--ready", ready,
                                  "--capture", Capture()};
    argv.insert(argv.end(), options.begin(), options.end());
    simulator_ = lab_->Spawn(lab_->DeviceNamespace(), argv);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(ready); }, kTimeout))
        << "the simulator did not get ready";
  }

  // Runs the simulator to its end and returns its exit status.
  int RunSimulator(const std::vector<std::string>& options) {
    std::vector<std::string> argv{testsupport::BuiltProgram("tarvelo-nas-sim")};
    argv.insert(argv.end(), options.begin(), options.end());
    return lab_->Wait(lab_->Spawn(lab_->DeviceNamespace(), argv), kTimeout);
  }

  void ExpectReply(EngineSocket& engine, const char* address, int port, const std::string& bytes) {
    const std::optional<Reply> reply = engine.Receive();
    ASSERT_TRUE(reply) << "no reply from " << address << ":" << port;
    EXPECT_EQ(reply->address, address);
    EXPECT_EQ(reply->port, port);
    EXPECT_EQ(reply->bytes, bytes);
  }

  std::optional<LabNetwork> lab_;
  testsupport::TemporaryDirectory folder_;
  pid_t simulator_ = -1;
};

TEST_F(NasSimLabTest, DefaultDeviceAnswersBothSearchesFromTheDeviceAddress) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({}));
  EngineSocket engine(*lab_);

  // A request one byte short and another device's reply are not searches; only the real
  // request is answered, from port 68 of the address the request came in on.
  const std::string shortRequest = SearchRequest().substr(0, 147);
  std::string foreignReply = SearchRequest();
  foreignReply[0] = 12;
  engine.Send(kBroadcastAddress, 68, shortRequest);
  engine.Send(kBroadcastAddress, 68, foreignReply);
  engine.Send(kBroadcastAddress, 68, SearchRequest());
  ExpectReply(engine, LabNetwork::kDeviceAddress, 68,
              BroadcastReply(1,
                             "id=SIM0&host=nas0&vendor=Tarvelo&product=HomeNas&ssid=home"
                             "&mac0=02:00:00:00:00:01&mac1=02:00:00:00:00:02"));

  const std::string otherSearch =
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: upnp:rootdevice\r\n"
      "MAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n";
  engine.Send(kMulticastGroup, 1900, otherSearch);
  engine.Send(kMulticastGroup, 1900, std::string(kMulticastSearchRequest));
  ExpectReply(engine, LabNetwork::kDeviceAddress, 1900,
              "HTTP/1.1 200 OK\r\n"
              "CACHE-CONTROL: max-age=1800\r\n"
              "EXT:\r\n"
              "LOCATION: http://10.231.0.2:80/desc.xml\r\n"
              "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/nas0/HomeNas/1\r\n"
              "SSIDINFO: SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02\r\n"
              "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
              "USN: uuid:SIM0::upnp:rootdevice\r\n"
              "\r\n");

  // Had the simulator answered anything it should have ignored, that answer would arrive before
  // the answer to this last request.
  engine.Send(kBroadcastAddress, 68, SearchRequest());
  const std::optional<Reply> last = engine.Receive();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->port, 68);
  EXPECT_EQ(last->bytes.size(), 148u);

  // Each file is written before the answer leaves, so all are there by now.
  const std::map<std::string, std::string> expected{
      {"68-0001.bin", shortRequest},
      {"68-0002.bin", foreignReply},
      {"68-0003.bin", SearchRequest()},
      {"1900-0004.bin", otherSearch},
      {"1900-0005.bin", std::string(kMulticastSearchRequest)},
      {"68-0006.bin", SearchRequest()},
  };
  EXPECT_EQ(CaptureFiles(Capture()), expected);

  ASSERT_EQ(kill(simulator_, SIGTERM), 0);
  EXPECT_EQ(lab_->Wait(simulator_, kTimeout), 0);
}

TEST_F(NasSimLabTest, ThreeDevicesAnswerInTurnFromConsecutiveAddresses) {
  // The addresses cross an octet boundary, as the simulator's own arithmetic must.
  lab_->AddDeviceAddresses("10.231.1.254", 3);
  ASSERT_NO_FATAL_FAILURE(StartSimulator(
      {"--devices", "3", "--first-address", "10.231.1.254", "--repeat", "2", "--reply-spread", "30",
       "--byte1", "7", "--broadcast-text", "id=D{i}&host={ip}", "--server", "none", "--ssidinfo",
       "none", "--usn", "uuid:D{i}::upnp:rootdevice"}));
  EngineSocket engine(*lab_);
  const char* const addresses[] = {"10.231.1.254", "10.231.1.255", "10.231.2.0"};

  engine.Send(kBroadcastAddress, 68, SearchRequest());
  for (int device = 0; device < 3; ++device) {
    for (int copy = 0; copy < 2; ++copy) {
      SCOPED_TRACE("device " + std::to_string(device) + " copy " + std::to_string(copy));
      ExpectReply(
          engine, addresses[device], 68,
          BroadcastReply(7, "id=D" + std::to_string(device) + "&host=" + addresses[device]));
    }
  }

  engine.Send(kMulticastGroup, 1900, "M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\n\r\n");
  for (int device = 0; device < 3; ++device) {
    for (int copy = 0; copy < 2; ++copy) {
      SCOPED_TRACE("device " + std::to_string(device) + " copy " + std::to_string(copy));
      ExpectReply(engine, addresses[device], 1900,
                  "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\n"
                  "LOCATION: http://" +
                      std::string(addresses[device]) +
                      ":80/desc.xml\r\n"
                      "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
                      "USN: uuid:D" +
                      std::to_string(device) + "::upnp:rootdevice\r\n\r\n");
    }
  }
  EXPECT_EQ(CaptureFiles(Capture()).size(), 2u);
}

TEST_F(NasSimLabTest, OnceAnnouncesEveryDeviceSendsRawDatagramsAndExits) {
  lab_->AddDeviceAddresses("10.231.0.10", 2);
  // Bound to the group's port, this socket hears the announcements and the raw datagram alike.
  EngineSocket engine(*lab_, kMulticastPort);
  engine.JoinSearchGroup();
  const std::string raw("\x00\x01raw\xff", 6);
  const std::string rawFile = folder_.File("raw.bin");
  std::ofstream(rawFile, std::ios::binary) << raw;

  EXPECT_EQ(RunSimulator({"--devices", "2", "--first-address", "10.231.0.10", "--notify",
                          "ssdp:byebye", "--usn", "uuid:N{i}::upnp:rootdevice", "--once", "--raw",
                          rawFile, "--to", "10.231.0.1:1900"}),
            0);
  for (const char* address : {"10.231.0.10", "10.231.0.11"}) {
    const std::string index = address == std::string("10.231.0.10") ? "0" : "1";
    ExpectReply(engine, address, 1900,
                "NOTIFY * HTTP/1.1\r\n"
                "HOST: 239.143.255.250:1900\r\n"
                "CACHE-CONTROL: max-age=1800\r\n"
                "LOCATION: http://" +
                    std::string(address) +
                    ":80/desc.xml\r\n"
                    "NT: upnp:rootdevice\r\n"
                    "NTS: ssdp:byebye\r\n"
                    "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/nas" +
                    index +
                    "/HomeNas/1\r\n"
                    "SSIDINFO: SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02\r\n"
                    "USN: uuid:N" +
                    index +
                    "::upnp:rootdevice\r\n"
                    "\r\n");
  }
  ExpectReply(engine, "10.231.0.10", 1900, raw);
}

struct SilencedCase {
  const char* option;
  bool broadcastSilenced;
};

class SilencedSearch : public NasSimLabTest, public ::testing::WithParamInterface<SilencedCase> {};

TEST_P(SilencedSearch, IsCapturedButNotAnswered) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({GetParam().option}));
  EngineSocket engine(*lab_);
  const bool broadcastSilenced = GetParam().broadcastSilenced;
  const std::string search(kMulticastSearchRequest);

  // The silenced request first; its capture file shows that the simulator has dealt with it,
  // so an answer to it would leave before the answer to the other request.
  if (broadcastSilenced) {
    engine.Send(kBroadcastAddress, 68, SearchRequest());
  } else {
    engine.Send(kMulticastGroup, 1900, search);
  }
  const std::string silencedFile =
      Capture() + (broadcastSilenced ? "/68-0001.bin" : "/1900-0001.bin");
  ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(silencedFile); }, kTimeout));
  if (broadcastSilenced) {
    engine.Send(kMulticastGroup, 1900, search);
  } else {
    engine.Send(kBroadcastAddress, 68, SearchRequest());
  }
  const std::optional<Reply> reply = engine.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->port, broadcastSilenced ? 1900 : 68);
}

INSTANTIATE_TEST_SUITE_P(EitherSearch, SilencedSearch,
                         ::testing::Values(SilencedCase{"--no-broadcast", true},
                                           SilencedCase{"--no-multicast", false}));

TEST_F(NasSimLabTest, DurationEndsTheRunCleanly) {
  EXPECT_EQ(RunSimulator({"--duration", "0.2"}), 0);
}

TEST_F(NasSimLabTest, BadCommandLinesExitWithStatusTwo) {
  EXPECT_EQ(RunSimulator({"--devices", "0"}), 2);
  EXPECT_EQ(RunSimulator({"--devices", "2", "--first-address", "255.255.255.255"}), 2);
  EXPECT_EQ(RunSimulator({"--raw", folder_.File("missing.bin"), "--to", "10.231.0.1:67"}), 2);
  EXPECT_EQ(RunSimulator({"--frobnicate"}), 2);
}

}  // namespace
