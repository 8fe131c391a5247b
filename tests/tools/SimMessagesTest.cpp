// The simulated devices' datagrams, byte for byte, and the requests they answer.

#include "SimMessages.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace nassim {
namespace {

std::string Bytes(const BroadcastReply& reply) { return std::string(reply.begin(), reply.end()); }

// 148 bytes: the opcode, byte 1, eighteen zero bytes, then the text area.
std::string ExpectedReply(char opcode, char byte1, const std::string& textArea) {
  std::string bytes(148, '\0');
  bytes[0] = opcode;
  bytes[1] = byte1;
  bytes.replace(20, textArea.size(), textArea);
  return bytes;
}

TEST(BroadcastReply, PutsOpcodeTypeAndTextAtTheirOffsets) {
  EXPECT_EQ(Bytes(BuildBroadcastReply(12, 1, "id=A&host=b")), ExpectedReply(12, 1, "id=A&host=b"));
  EXPECT_EQ(Bytes(BuildBroadcastReply(0, 255, "")), ExpectedReply(0, '\xff', ""));
}

TEST(BroadcastReply, CutsTextToTheAreaWithoutRoomForAZero) {
  const std::string exact(128, 'x');
  EXPECT_EQ(Bytes(BuildBroadcastReply(12, 1, exact)), ExpectedReply(12, 1, exact));
  const std::string longer = std::string(128, 'y') + "tail";
  EXPECT_EQ(Bytes(BuildBroadcastReply(12, 1, longer)), ExpectedReply(12, 1, std::string(128, 'y')));
}

TEST(SearchReply, ListsEveryHeaderInOrder) {
  const ReplyHeaders headers{"http://10.231.0.2:80/desc.xml", "VRIX/2.0, UPnP/1.0, V/nas/P/1",
                             "SSID/home,MAC0/m0,MAC1/m1", "uuid:SIM0::upnp:rootdevice"};
  EXPECT_EQ(BuildSearchReply(headers),
            "HTTP/1.1 200 OK\r\n"
            "CACHE-CONTROL: max-age=1800\r\n"
            "EXT:\r\n"
            "LOCATION: http://10.231.0.2:80/desc.xml\r\n"
            "SERVER: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\n"
            "SSIDINFO: SSID/home,MAC0/m0,MAC1/m1\r\n"
            "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
            "USN: uuid:SIM0::upnp:rootdevice\r\n"
            "\r\n");
}

TEST(SearchReply, LeavesOutHeadersWithoutValueButKeepsEmptyOnes) {
  EXPECT_EQ(BuildSearchReply(ReplyHeaders{}),
            "HTTP/1.1 200 OK\r\n"
            "CACHE-CONTROL: max-age=1800\r\n"
            "EXT:\r\n"
            "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
            "\r\n");
  EXPECT_EQ(BuildSearchReply(ReplyHeaders{std::nullopt, "", std::nullopt, "u"}),
            "HTTP/1.1 200 OK\r\n"
            "CACHE-CONTROL: max-age=1800\r\n"
            "EXT:\r\n"
            "SERVER: \r\n"
            "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
            "USN: u\r\n"
            "\r\n");
}

TEST(Notify, CarriesTheGivenNtsAmongTheDeviceHeaders) {
  const ReplyHeaders headers{"L", "S", "I", "U"};
  EXPECT_EQ(BuildNotify("ssdp:byebye", headers),
            "NOTIFY * HTTP/1.1\r\n"
            "HOST: 239.143.255.250:1900\r\n"
            "CACHE-CONTROL: max-age=1800\r\n"
            "LOCATION: L\r\n"
            "NT: upnp:rootdevice\r\n"
            "NTS: ssdp:byebye\r\n"
            "SERVER: S\r\n"
            "SSIDINFO: I\r\n"
            "USN: U\r\n"
            "\r\n");
  EXPECT_EQ(BuildNotify("x", ReplyHeaders{std::nullopt, std::nullopt, std::nullopt, "U"}),
            "NOTIFY * HTTP/1.1\r\n"
            "HOST: 239.143.255.250:1900\r\n"
            "CACHE-CONTROL: max-age=1800\r\n"
            "NT: upnp:rootdevice\r\n"
            "NTS: x\r\n"
            "USN: U\r\n"
            "\r\n");
}

TEST(BroadcastRequest, OnlyAFullPacketWithTheRequestOpcodeCounts) {
  const SearchPacket request = MakeSearchRequest();
  std::uint8_t bytes[160] = {};
  std::memcpy(bytes, &request, sizeof request);
  EXPECT_TRUE(IsBroadcastSearchRequest(bytes, 148));
  EXPECT_FALSE(IsBroadcastSearchRequest(bytes, 147));
  EXPECT_FALSE(IsBroadcastSearchRequest(bytes, 149));
  EXPECT_FALSE(IsBroadcastSearchRequest(bytes, 0));
  // Another device's reply on the same port is not a request.
  bytes[0] = 12;
  EXPECT_FALSE(IsBroadcastSearchRequest(bytes, 148));
  // The rest of the packet does not matter.
  std::uint8_t plain[148] = {11};
  EXPECT_TRUE(IsBroadcastSearchRequest(plain, 148));
}

TEST(DeviceSearch, AnswersOnlySearchesForStorageDevicesOrEverything) {
  struct Case {
    std::string message;
    bool answered;
  };
  const Case cases[] = {
      {std::string(kMulticastSearchRequest), true},
      {"M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\n\r\n", true},
      {"M-SEARCH * HTTP/1.1\r\nst:ssdp:all\r\n\r\n", true},
      {"M-SEARCH * HTTP/1.1\r\nSt: \tssdp:all  \r\n\r\n", true},
      {"M-SEARCH * HTTP/1.1\nHOST: x\nST: ssdp:all\n\n", true},
      {"M-SEARCH * HTTP/1.1\r\nST: ssdp:all", true},
      {"M-SEARCH * HTTP/1.1\r\nST: upnp:rootdevice\r\n\r\n", false},
      {"M-SEARCH * HTTP/1.1\r\nST: urn:schemas-upnp-org:device:HomeNasDevice:2\r\n\r\n", false},
      {"M-SEARCH * HTTP/1.1\r\nST: SSDP:ALL\r\n\r\n", false},
      {"M-SEARCH * HTTP/1.1\r\nXST: ssdp:all\r\n\r\n", false},
      {"M-SEARCH * HTTP/1.1\r\nHOST: x\r\n\r\nST: ssdp:all\r\n", false},
      {"M-SEARCH * HTTP/1.1\r\nHOST: x\r\n", false},
      {"m-search * HTTP/1.1\r\nST: ssdp:all\r\n\r\n", false},
      {"NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nST: ssdp:all\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\nST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n\r\n", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDeviceSearch(c.message), c.answered) << c.message;
  }
}

}  // namespace
}  // namespace nassim
