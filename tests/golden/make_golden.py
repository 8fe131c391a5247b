#!/usr/bin/env python3
"""Writes the golden datagrams and their expected records (see README.md).

Every case is written here once, as the datagram and the record a correct parser makes of it,
both worked out by hand from the wire format and not by running the parser. The generated files
are committed; run this script again only to add or change a case:

    python3 tests/golden/make_golden.py

It rewrites broadcast/ and multicast/ completely, so a case removed here disappears there too.
"""

import pathlib
import shutil

HERE = pathlib.Path(__file__).resolve().parent
SENDER = "10.231.0.99"  # the sender address every golden datagram is parsed with
FIELDS = ["id", "ip", "host", "product", "extra", "osVersion", "vendor", "ssid", "mac0", "mac1"]


def escape(data: bytes) -> str:
    out = []
    for byte in data:
        ch = chr(byte)
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif 0x20 <= byte < 0x7F:
            out.append(ch)
        else:
            out.append("\\x%02x" % byte)
    return "".join(out)


def record(type_, ttl=60, **fields):
    """The expected device: every text field empty unless given, ip the sender unless given, the
    default time to live of 60 seconds unless given."""
    values = {name: b"" for name in FIELDS}
    values["ip"] = SENDER.encode()
    for name, value in fields.items():
        assert name in values, name
        values[name] = value.encode("latin-1") if isinstance(value, str) else value
    for name, value in values.items():
        assert len(value) <= 31, (name, value)
    lines = ["%s=%s" % (name, escape(values[name])) for name in FIELDS]
    lines.append("type=%d" % type_)
    lines.append("timeToLive=%d" % ttl)
    return "\n".join(lines) + "\n"


DROPPED = "dropped\n"
WRONG_LENGTH = "dropped wrong-length\n"
NOT_DEVICE = "dropped not-device\n"
NOT_IPV4 = "dropped not-ipv4\n"

CASES = {"broadcast": {}, "multicast": {}}


def case(kind, name, why, data, expected):
    assert name not in CASES[kind], name
    CASES[kind][name] = (why, bytes(data), expected)


# ------------------------------------------------------------------------------------------------
# Broadcast replies: 148 bytes, byte 0 opcode, byte 1 type, 128-byte text area from byte 20.


def packet(text=b"", opcode=12, byte1=1, middle=b"\0\0\xff\xff\xff\xff" + b"\0" * 12):
    assert len(middle) == 18
    assert len(text) <= 128, len(text)
    data = bytes([opcode, byte1]) + middle + text + b"\0" * (128 - len(text))
    assert len(data) == 148
    return data


ALL_KEYS = b"id=A1&host=nas&vendor=V&product=P&ssid=S&mac0=M0&mac1=M1"
DIGITS40 = b"0123456789" * 4

case("broadcast", "all_seven_keys", "every key present, in the usual order",
     packet(ALL_KEYS),
     record(1, id="A1", host="nas", vendor="V", product="P", ssid="S", mac0="M0", mac1="M1"))
case("broadcast", "keys_in_other_order", "the order of the keys in the text does not matter",
     packet(b"mac1=M1&mac0=M0&product=P&vendor=V&host=nas&id=A1"),
     record(1, id="A1", host="nas", vendor="V", product="P", mac0="M0", mac1="M1"))
case("broadcast", "ip_from_sender_not_text", "an ip= key in the text is an unknown key",
     packet(b"ip=192.168.9.9&id=A1"), record(1, id="A1"))
case("broadcast", "id_found_inside_ssid",
     "id= is searched as plain text, so the first match is the one inside ssid=",
     packet(b"ssid=S&id=A1&host=nas"), record(1, id="S", ssid="S", host="nas"))
case("broadcast", "key_inside_longer_word", "host= matches inside ghost=, mac0= inside xmac0=",
     packet(b"ghost=g&host=h&xmac0=ZZ&mac0=M0"), record(1, host="g", mac0="ZZ"))
case("broadcast", "value_40_without_ampersand", "a last value of 40 characters keeps 31",
     packet(b"id=A1&host=" + DIGITS40), record(1, id="A1", host=DIGITS40[:31]))
case("broadcast", "value_40_before_ampersand", "a value of 40 characters keeps 31, the next key "
     "still reads", packet(b"host=" + DIGITS40 + b"&vendor=V"),
     record(1, host=DIGITS40[:31], vendor="V"))
case("broadcast", "values_31_and_32", "31 characters stay whole, 32 lose the last one",
     packet(b"id=" + DIGITS40[:31] + b"&host=" + DIGITS40[:32] + b"&vendor=V"),
     record(1, id=DIGITS40[:31], host=DIGITS40[:31], vendor="V"))


def full_text(tail: bytes) -> bytes:
    """A 128-byte text area without NUL that ends in `tail`, padded in front by an unknown key."""
    head = b"id=A1&pad="
    filler = 128 - len(head) - 1 - len(tail)
    text = head + b"x" * filler + b"&" + tail
    assert len(text) == 128 and b"\0" not in text
    return text


case("broadcast", "text_full_short_last_value",
     "128 bytes without NUL: the last value ends with the last byte of the area",
     packet(full_text(b"mac1=M1END")), record(1, id="A1", mac1="M1END"))
case("broadcast", "text_full_long_last_value",
     "128 bytes without NUL: a last value longer than 31 is cut",
     packet(full_text(b"mac1=" + DIGITS40)), record(1, id="A1", mac1=DIGITS40[:31]))
case("broadcast", "text_full_key_at_end", "128 bytes without NUL ending in a bare key: empty value",
     packet(full_text(b"mac1=")), record(1, id="A1"))
case("broadcast", "text_full_key_without_equals", "mac1 without = at the very end is no key",
     packet(full_text(b"mac1")), record(1, id="A1"))
case("broadcast", "text_ends_at_first_nul", "keys after the first NUL of the area are not read",
     packet(b"id=A1\0host=hidden&vendor=X"), record(1, id="A1"))
case("broadcast", "empty_text", "an empty text area: every field empty, ip and type still set",
     packet(b""), record(1))
case("broadcast", "empty_values", "a key directly followed by & gives an empty field",
     packet(b"id=&host=&vendor=V"), record(1, vendor="V"))
case("broadcast", "repeated_key_first_wins", "the first occurrence of a key is the one read",
     packet(b"id=first&id=second"), record(1, id="first"))
case("broadcast", "eight_bit_text", "8-bit text is copied as received",
     packet(b"host=\xe6\x97\xa5\xe6\x9c\xac&vendor=\xff\x80"),
     record(1, host=b"\xe6\x97\xa5\xe6\x9c\xac", vendor=b"\xff\x80"))
# Long UTF-8 names: a cut at byte 31 that would fall inside a character leaves the character out
# whole. HOST_JA is twelve 3-byte characters (36 bytes): 31 bytes hold ten of them and one byte of
# the eleventh, so the field keeps the first ten (30 bytes). EMOJI8 is eight 4-byte characters
# (32 bytes): the field keeps seven (28 bytes).
HOST_JA = "データ倉庫サーバー二号機".encode()
HOST_JA_KEPT = "データ倉庫サーバー二".encode()
assert len(HOST_JA) == 36 and len(HOST_JA_KEPT) == 30
EMOJI8 = "\U0001F600".encode() * 8
EMOJI7 = "\U0001F600".encode() * 7
assert len(EMOJI8) == 32 and len(EMOJI7) == 28
case("broadcast", "utf8_values_cut_at_character",
     "long UTF-8 values lose the character that the cut at 31 bytes would split",
     packet(b"id=A1&host=" + HOST_JA + b"&vendor=" + EMOJI8 + b"&product=P"),
     record(1, id="A1", host=HOST_JA_KEPT, vendor=EMOJI7, product="P"))
case("broadcast", "eight_bit_cut_kept_as_received",
     "bytes at the cut that are no whole UTF-8 character in the reply are kept as received",
     packet(b"host=" + b"x" * 29 + b"\xe6\x97A&vendor=" + b"y" * 30 + b"\xe9tage"),
     record(1, host=b"x" * 29 + b"\xe6\x97", vendor=b"y" * 30 + b"\xe9"))
case("broadcast", "byte1_zero", "byte 1 is the type, 0 included",
     packet(b"id=A1", byte1=0), record(0, id="A1"))
case("broadcast", "byte1_four", "byte 1 is the type: 4", packet(b"id=A1", byte1=4), record(4, id="A1"))
case("broadcast", "byte1_255", "byte 1 is read unsigned", packet(b"id=A1", byte1=255),
     record(255, id="A1"))
case("broadcast", "reserved_bytes_ignored", "reserved bytes and address do not matter",
     packet(b"id=A1", byte1=7, middle=bytes(range(0x80, 0x92))), record(7, id="A1"))
case("broadcast", "opcode_11_request", "the search request itself, as another searching host sends "
     "it", packet(b"", opcode=11), NOT_DEVICE)
case("broadcast", "opcode_11_with_text", "opcode 11 with a good text is still no device",
     packet(ALL_KEYS, opcode=11), NOT_DEVICE)
case("broadcast", "opcode_0", "opcode 0", packet(ALL_KEYS, opcode=0), NOT_DEVICE)
case("broadcast", "opcode_13", "opcode 13", packet(ALL_KEYS, opcode=13), NOT_DEVICE)
case("broadcast", "opcode_255", "opcode 255", packet(ALL_KEYS, opcode=255), NOT_DEVICE)
case("broadcast", "length_0", "an empty datagram", b"", WRONG_LENGTH)
case("broadcast", "length_1", "one byte, the reply opcode", b"\x0c", WRONG_LENGTH)
case("broadcast", "length_147", "a good reply one byte short", packet(ALL_KEYS)[:147], WRONG_LENGTH)
case("broadcast", "length_149", "a good reply with one byte more", packet(ALL_KEYS) + b"\0",
     WRONG_LENGTH)
case("broadcast", "length_296", "two good replies in one datagram", packet(ALL_KEYS) * 2,
     WRONG_LENGTH)
case("broadcast", "length_1024", "a full receive buffer", packet(ALL_KEYS) + b"\0" * (1024 - 148),
     WRONG_LENGTH)
case("broadcast", "multicast_request", "the 129-byte multicast search request",
     b"M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n"
     b"ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n",
     WRONG_LENGTH)

# ------------------------------------------------------------------------------------------------
# Multicast messages: HTTP-style text, parsed up to the first NUL or the datagram's end.

STATUS = b"HTTP/1.1 200 OK\r\n"
CACHE = b"CACHE-CONTROL: max-age=1800\r\n"
CACHED = 1800  # the time to live CACHE gives
LOCATION = b"LOCATION: http://192.168.1.5:80/desc.xml\r\n"
SERVER = b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\n"
SSIDINFO = b"SSIDINFO: SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02\r\n"
ST = b"ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
USN = b"USN: uuid:abc::upnp:rootdevice\r\n"
END = b"\r\n"
MAC0 = "02:00:00:00:00:01"
MAC1 = "02:00:00:00:00:02"

FULL = dict(id="abc", ip="192.168.1.5", host="nas", product="P", extra="1", osVersion="2.0",
            vendor="V", ssid="home", mac0=MAC0, mac1=MAC1)
WIRELESS = dict(ssid="home", mac0=MAC0, mac1=MAC1)


def reply(server=SERVER, ssidinfo=SSIDINFO, location=LOCATION, usn=USN):
    return STATUS + CACHE + location + server + ssidinfo + ST + usn + END


def notify(nts=b"NTS: ssdp:alive\r\n", nt=b"NT: upnp:rootdevice\r\n",
           usn=b"USN: uuid:abc::upnp:rootdevice\r\n"):
    return (b"NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n" + CACHE + LOCATION + nt + nts +
            SERVER + SSIDINFO + usn + END)


def only(*groups, **fields):
    """FULL with some fields replaced: by whole groups first, then by single fields."""
    values = dict(FULL)
    for group in groups:
        values.update(group)
    values.update(fields)
    return values


NO_SERVER = dict(host="", product="", extra="", osVersion="", vendor="")
NO_WIRELESS = dict(ssid="", mac0="", mac1="")

# Replies and the fields they fill.
case("multicast", "reply_full", "a search reply with every header",
     reply(), record(1, ttl=CACHED, **FULL))
case("multicast", "reply_headers_reordered", "header order does not matter when no search crosses "
     "into another header", STATUS + USN + SSIDINFO + SERVER + LOCATION + END, record(1, **FULL))
case("multicast", "reply_no_location_uses_sender", "without LOCATION the sender is the address",
     reply(location=b""), record(1, ttl=CACHED, **only(ip=SENDER)))
case("multicast", "reply_server_three_parts",
     "a product item vendor/host/product leaves extra empty and skips SSIDINFO",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/P\r\n"),
     record(1, ttl=CACHED, **only(NO_WIRELESS, extra="")))
case("multicast", "reply_server_four_parts_no_ssidinfo", "a four-part item without SSIDINFO",
     reply(ssidinfo=b""), record(1, ttl=CACHED, **only(NO_WIRELESS)))
case("multicast", "reply_server_extra_with_slashes",
     "everything after the third slash is the extra text", reply(
         server=b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/P/1/b/c\r\n"),
     record(1, ttl=CACHED, **only(extra="1/b/c")))
case("multicast", "reply_no_server_reads_ssidinfo",
     "without SERVER (VRIX elsewhere) the wireless part is still read",
     reply(server=b"X-SYSTEM: VRIX\r\n"), record(1, ttl=CACHED, **only(NO_SERVER)))
case("multicast", "reply_no_server_no_vrix_dropped",
     "without SERVER and without any other VRIX the message is no device",
     reply(server=b""), DROPPED)
case("multicast", "reply_server_without_vrix",
     "a SERVER value without VRIX/ fills nothing and skips SSIDINFO (VRIX is elsewhere)",
     reply(server=b"SERVER: Linux/5.10, UPnP/1.0, V/nas/P/1\r\nX-SYSTEM: VRIX\r\n"),
     record(1, ttl=CACHED, **only(NO_SERVER, NO_WIRELESS)))
case("multicast", "reply_vrix_in_later_header", "VRIX/ is searched from SERVER: on, across lines",
     STATUS + LOCATION + b"SERVER: Linux/5.10, UPnP/1.0, X/y/z\r\nX-OS: VRIX/3.1, a, W/h/p/e\r\n" +
     SSIDINFO + USN + END,
     record(1, **only(osVersion="3.1", vendor="W", host="h", product="p", extra="e")))
case("multicast", "reply_server_version_without_comma",
     "no comma after the version: nothing from SERVER, SSIDINFO skipped",
     STATUS + LOCATION + SSIDINFO + USN + b"SERVER: VRIX/2.0\r\n" + END,
     record(1, **only(NO_SERVER, NO_WIRELESS)))
case("multicast", "reply_server_single_comma", "only one comma: the version alone",
     STATUS + LOCATION + SSIDINFO + USN + b"SERVER: VRIX/2.0, UPnP/1.0\r\n" + END,
     record(1, **only(NO_SERVER, NO_WIRELESS, osVersion="2.0")))
case("multicast", "reply_ends_at_comma_before_item",
     "the last byte is the comma before the product item", STATUS + LOCATION + SSIDINFO + USN +
     b"SERVER: VRIX/2.0, UPnP/1.0,", record(1, **only(NO_SERVER, NO_WIRELESS, osVersion="2.0")))
case("multicast", "reply_ends_at_blank_before_item",
     "the last bytes are the comma and the blank before the product item",
     STATUS + LOCATION + SSIDINFO + USN + b"SERVER: VRIX/2.0, UPnP/1.0, ",
     record(1, **only(NO_SERVER, NO_WIRELESS, osVersion="2.0")))
case("multicast", "reply_item_without_carriage_return", "a product item that ends the datagram",
     STATUS + LOCATION + SSIDINFO + USN + b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/P/1",
     record(1, **only(NO_SERVER, NO_WIRELESS, osVersion="2.0")))
case("multicast", "reply_item_without_slash", "a product item without slash fills nothing more",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, Plain\r\n"),
     record(1, ttl=CACHED, **only(NO_SERVER, NO_WIRELESS, osVersion="2.0")))
case("multicast", "reply_item_one_slash", "vendor/host without a second slash: only the vendor",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/nas\r\n"),
     record(1, ttl=CACHED, **only(NO_SERVER, NO_WIRELESS, osVersion="2.0", vendor="V")))
PS = "p" * 57
case("multicast", "reply_item_cut_at_63_before_third_slash",
     "the item is cut to 63 characters before it is split: a third slash as 64th character is lost",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/" + PS.encode() + b"/extra\r\n"),
     record(1, ttl=CACHED, **only(NO_WIRELESS, product=PS[:31], extra="")))
case("multicast", "reply_item_third_slash_as_63rd_character",
     "a third slash as 63rd character survives the cut, with an empty extra text",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/" + PS[1:].encode() + b"/extra\r\n"),
     record(1, ttl=CACHED, **only(product=PS[:31], extra="")))
ES = "e" * 70
case("multicast", "reply_item_long_extra", "a long extra text is cut to 31",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/nas/P/" + ES.encode() + b"\r\n"),
     record(1, ttl=CACHED, **only(extra=ES[:31])))
AS = "A" * 35
OS = "9" * 40
case("multicast", "reply_server_parts_longer_than_31", "version and vendor keep 31 characters",
     reply(server=b"SERVER: VRIX/" + OS.encode() + b", UPnP/1.0, " + AS.encode() + b"/h/p/e\r\n"),
     record(1, ttl=CACHED,
            **only(osVersion=OS[:31], vendor=AS[:31], host="h", product="p", extra="e")))
case("multicast", "reply_ssidinfo_without_mac0", "SSIDINFO with only an ssid",
     reply(ssidinfo=b"SSIDINFO: SSID/home,OTHER\r\n"),
     record(1, ttl=CACHED, **only(mac0="", mac1="")))
case("multicast", "reply_ssidinfo_without_comma", "an ssid without a comma after it is not read",
     STATUS + LOCATION + SERVER + USN + b"SSIDINFO: SSID/home\r\n" + END,
     record(1, **only(NO_WIRELESS)))
case("multicast", "reply_ssidinfo_without_ssid_marker", "SSIDINFO without SSID/ fills nothing",
     reply(ssidinfo=b"SSIDINFO: NAME/home,MAC0/" + MAC0.encode() + b",MAC1/" + MAC1.encode() +
           b"\r\n"), record(1, ttl=CACHED, **only(NO_WIRELESS)))
case("multicast", "reply_ssid_value_contains_mac0", "MAC0/ is searched after the comma that ends "
     "the ssid", reply(ssidinfo=b"SSIDINFO: SSID/MAC0/x,MAC0/y,MAC1/z\r\n"),
     record(1, ttl=CACHED, **only(ssid="MAC0/x", mac0="y", mac1="z")))
case("multicast", "reply_ssid_marker_before_ssidinfo", "SSID/ counts only after SSIDINFO",
     STATUS + b"X-OLD: SSID/old,MAC0/a,MAC1/b\r\n" + LOCATION + SERVER + SSIDINFO + USN + END,
     record(1, **FULL))
case("multicast", "reply_ssidinfo_unterminated", "a last MAC1 value without carriage return",
     STATUS + LOCATION + SERVER + USN + b"SSIDINFO: SSID/home,MAC0/" + MAC0.encode() + b",MAC1/" +
     MAC1.encode(), record(1, **only(mac1="")))
SS = "s" * 40
case("multicast", "reply_ssidinfo_long_ssid", "an ssid of 40 characters keeps 31",
     reply(ssidinfo=b"SSIDINFO: SSID/" + SS.encode() + b",MAC0/a,MAC1/b\r\n"),
     record(1, ttl=CACHED, **only(ssid=SS[:31], mac0="a", mac1="b")))
case("multicast", "reply_eight_bit_text", "8-bit text is copied as received",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/\xe6\x97\xa5\xe6\x9c\xac/P/1\r\n"),
     record(1, ttl=CACHED, **only(host=b"\xe6\x97\xa5\xe6\x9c\xac")))
# SSID_DE has 2-byte letters and is 33 bytes long; "ü" takes bytes 30 and 31 (counted from 0),
# so the cut at 31 would split it and the field keeps the 30 bytes before it.
SSID_DE = "Gäste-WLAN Erdgeschoss Flur Süd".encode()
SSID_DE_KEPT = "Gäste-WLAN Erdgeschoss Flur S".encode()
assert len(SSID_DE) == 33 and SSID_DE[30:32] == "ü".encode() and len(SSID_DE_KEPT) == 30
case("multicast", "reply_utf8_names_cut_at_character",
     "a long UTF-8 host in SERVER and ssid in SSIDINFO lose the character the cut would split",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, V/" + HOST_JA + b"/P/1\r\n",
           ssidinfo=b"SSIDINFO: SSID/" + SSID_DE + b",MAC0/a,MAC1/b\r\n"),
     record(1, ttl=CACHED, **only(host=HOST_JA_KEPT, ssid=SSID_DE_KEPT, mac0="a", mac1="b")))
# The product item V/hhh.../P/eee...日 is 64 bytes; the cut at 63 falls after the second byte of
# 日, so the item keeps 61 bytes and the extra text (itself short enough for its field) ends with
# the last "e".
ITEM_63 = b"V/" + b"h" * 28 + b"/P/" + b"e" * 28 + "日".encode()
assert len(ITEM_63) == 64 and ITEM_63[61:] == "日".encode()
case("multicast", "reply_item_cut_at_63_inside_character",
     "the cut of the product item at 63 bytes leaves out the character it would split",
     reply(server=b"SERVER: VRIX/2.0, UPnP/1.0, " + ITEM_63 + b"\r\n"),
     record(1, ttl=CACHED, **only(host="h" * 28, product="P", extra="e" * 28)))

# The address: the host of the LOCATION URL, from "//" on its own line to the first ':', '/',
# blank or line end. A device is handed on only with a dotted IPv4 address; anything else, a name
# or a URL of another site above all, is what a hostile device would have the user open.
ADDRESS_CASES = [
    # (name, why, LOCATION line, where it goes, expected address or DROPPED / NOT_IPV4)
    ("location_without_port_last_header", "a LOCATION URL without port: the host ends at the /",
     b"LOCATION: http://192.168.1.5/desc.xml\r\n", "last", "192.168.1.5"),
    ("location_without_port_later_header",
     "without port the address ends at the /, not at a colon in a later header",
     b"LOCATION: http://192.168.1.5/desc.xml\r\n", "first", "192.168.1.5"),
    ("location_without_port_or_path", "a bare host ends at the line end",
     b"LOCATION: http://192.168.1.5\r\n", "first", "192.168.1.5"),
    ("location_trailing_blanks", "blanks after the host end it",
     b"LOCATION: http://192.168.1.5   \r\n", "first", "192.168.1.5"),
    ("location_blank_before_port", "a blank ends the host before anything else",
     b"LOCATION: http://192.168.1.5 :80/\r\n", "first", "192.168.1.5"),
    ("location_tab_after_host", "a tab ends the host like a blank",
     b"LOCATION: http://192.168.1.5\t/x\r\n", "first", "192.168.1.5"),
    ("location_colon_in_path", "a colon later in the path plays no part",
     b"LOCATION: http://10.231.3.9/desc?x=:80/\r\n", "first", "10.231.3.9"),
    ("location_host_name", "a host name is no address",
     b"LOCATION: http://nas.example:80/desc.xml\r\n", "first", NOT_IPV4),
    ("location_url_of_another_site", "a URL of another site with a colon in its query",
     b"LOCATION: http://evil.example/phish?x=:80/\r\n", "first", NOT_IPV4),
    ("location_host_longer_than_31", "a long host name is no address, cut or not",
     b"LOCATION: http://a-very-long-host-name-of-a-storage-device.example:80/\r\n", "first",
     NOT_IPV4),
    ("location_ipv6_literal", "an IPv6 literal is not taken",
     b"LOCATION: http://[fe80::1]:80/desc.xml\r\n", "first", NOT_IPV4),
    ("location_port_only", "an empty host before the port",
     b"LOCATION: http://:80/desc.xml\r\n", "first", NOT_IPV4),
    ("location_port_only_without_slashes", "a port alone, without //, drops the message",
     b"LOCATION: :80\r\n", "first", DROPPED),
    ("location_userinfo", "user information before the address",
     b"LOCATION: http://admin@192.168.1.5:80/\r\n", "first", NOT_IPV4),
    ("location_leading_zero", "a part with a leading zero",
     b"LOCATION: http://192.168.001.5:80/\r\n", "first", NOT_IPV4),
    ("location_part_above_255", "a part above 255",
     b"LOCATION: http://192.168.1.256:80/\r\n", "first", NOT_IPV4),
    ("location_three_parts", "three parts are no dotted address",
     b"LOCATION: http://192.168.1:80/\r\n", "first", NOT_IPV4),
    ("location_five_parts", "five parts are no dotted address",
     b"LOCATION: http://192.168.1.5.7:80/\r\n", "first", NOT_IPV4),
    ("location_hexadecimal", "a number in another notation",
     b"LOCATION: http://0xc0a80105:80/\r\n", "first", NOT_IPV4),
    ("location_eight_bit_host", "8-bit bytes in the host",
     b"LOCATION: http://192.168.1.5\xc2\xa0:80/\r\n", "first", NOT_IPV4),
    ("location_without_slashes_dropped", "a LOCATION without // drops the message",
     b"LOCATION: 192.168.1.5:80\r\n", "last", DROPPED),
    ("location_slashes_on_next_line_dropped", "// counts only on LOCATION's own line",
     b"LOCATION: 192.168.1.5:80\r\nX-URL: http://10.0.0.9:1/\r\n", "first", DROPPED),
    ("location_truncated_not_ipv4", "a datagram that ends inside the address",
     b"LOCATION: http://192.168.1", "end", NOT_IPV4),
    ("location_ends_datagram", "a datagram that ends right after the address",
     b"LOCATION: http://192.168.1.5", "end", "192.168.1.5"),
]
for name, why, line, where, outcome in ADDRESS_CASES:
    if where == "first":
        data = STATUS + line + SERVER + SSIDINFO + USN + END
    elif where == "last":
        data = STATUS + SERVER + SSIDINFO + USN + line + END
    else:
        data = STATUS + SERVER + SSIDINFO + USN + line
    expected = outcome if outcome in (DROPPED, NOT_IPV4) else record(1, **only(ip=outcome))
    case("multicast", name, why, data, expected)
case("multicast", "location_slashes_before_location", "// counts only after LOCATION:",
     STATUS + b"X-URL: http://10.0.0.9:1/\r\n" + LOCATION + SERVER + SSIDINFO + USN + END,
     record(1, **FULL))
case("multicast", "location_name_inside_other_header", "LOCATION: counts only at a line start",
     STATUS + b"X-LOCATION: http://10.0.0.9:1/\r\n" + LOCATION + SERVER + SSIDINFO + USN + END,
     record(1, **FULL))
case("multicast", "sender_used_without_location", "without LOCATION the sender is the address, "
     "and a LOCATION name inside a value does not count",
     STATUS + b"X-NOTE: see LOCATION: http://nas.example/\r\n" + SERVER + SSIDINFO + USN + END,
     record(1, **only(ip=SENDER)))

# Header names in any letter case; the values stay exactly as received.
CASE_MIXES = [
    # (name, why, location, server, ssidinfo, usn, expected)
    ("headers_lower_case", "every header name in lower case",
     b"location: http://192.168.1.5:80/desc.xml\r\n", b"server: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\n",
     b"ssidinfo: SSID/home,MAC0/" + MAC0.encode() + b",MAC1/" + MAC1.encode() + b"\r\n",
     b"usn: uuid:abc::upnp:rootdevice\r\n", record(1, ttl=CACHED, **FULL)),
    ("headers_mixed_case", "header names as many devices write them",
     b"Location: http://192.168.1.5:80/desc.xml\r\n", b"Server: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\n",
     b"SsidInfo: SSID/home,MAC0/" + MAC0.encode() + b",MAC1/" + MAC1.encode() + b"\r\n",
     b"Usn: uuid:abc::upnp:rootdevice\r\n", record(1, ttl=CACHED, **FULL)),
    ("headers_odd_case", "any mix of cases",
     b"lOcAtIoN: http://192.168.1.5:80/desc.xml\r\n", b"sERVEr: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\n",
     b"SSIDinfo: SSID/home,MAC0/" + MAC0.encode() + b",MAC1/" + MAC1.encode() + b"\r\n",
     b"uSn: uuid:abc::upnp:rootdevice\r\n", record(1, ttl=CACHED, **FULL)),
    ("header_values_keep_their_case", "lower-case names, mixed-case values kept as received",
     b"location: http://192.168.1.5:80/Desc.xml\r\n", b"server: VRIX/2.0, UPnP/1.0, Vd/NaS/Pr/Ex\r\n",
     b"ssidinfo: SSID/Home,MAC0/Aa,MAC1/bB\r\n", b"usn: uuid:AbC::upnp:rootdevice\r\n",
     record(1, ttl=CACHED, **only(id="AbC", vendor="Vd", host="NaS", product="Pr", extra="Ex",
                                  ssid="Home", mac0="Aa", mac1="bB"))),
    ("header_value_markers_keep_their_case", "SSID/ and MAC0/ are value text: ssid/ is not read",
     LOCATION, SERVER, b"ssidinfo: ssid/home,mac0/a,mac1/b\r\n", USN,
     record(1, ttl=CACHED, **only(NO_WIRELESS))),
    ("header_uuid_is_value_text", "uuid: is part of the USN value: UUID: is no identity",
     LOCATION, SERVER, SSIDINFO, b"usn: UUID:abc::upnp:rootdevice\r\n", DROPPED),
    ("header_vrix_is_value_text", "VRIX is value text: vrix/ in SERVER gives no version, and "
     "the wireless part is skipped as for any SERVER without VRIX/",
     LOCATION, b"Server: vrix/2.0, UPnP/1.0, V/nas/P/1\r\nX-SYSTEM: VRIX\r\n", SSIDINFO, USN,
     record(1, ttl=CACHED, **only(NO_SERVER, NO_WIRELESS))),
]
for name, why, location, server, ssidinfo, usn, expected in CASE_MIXES:
    case("multicast", name, why, STATUS + CACHE + location + server + ssidinfo + ST + usn + END,
         expected)
case("multicast", "server_name_inside_value", "a value that holds Server: before the SERVER "
     "header is no header", STATUS + b"NT: urn:schemas-upnp-org:device:MediaServer:1\r\n" +
     LOCATION + SERVER + SSIDINFO + USN + END, record(1, **FULL))
case("multicast", "notify_lower_case_headers", "an announcement with lower-case names",
     b"NOTIFY * HTTP/1.1\r\nhost: 239.143.255.250:1900\r\nlocation: http://192.168.1.5:80/\r\n"
     b"nt: upnp:rootdevice\r\nnts: ssdp:byebye\r\nserver: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\n"
     b"ssidinfo: SSID/home,MAC0/" + MAC0.encode() + b",MAC1/" + MAC1.encode() + b"\r\n"
     b"usn: uuid:abc::upnp:rootdevice\r\n\r\n", record(4, **FULL))
case("multicast", "notify_nts_name_inside_value", "NTS: counts only at a line start: a value "
     "ending in ...Events: is no NTS header",
     notify(nt=b"NT: upnp:rootdevice\r\nX-EVENTS: ssdp:byebye\r\n"), record(2, ttl=CACHED, **FULL))
case("multicast", "notify_nts_value_keeps_its_case", "the NTS value is compared as received",
     notify(nts=b"Nts: SSDP:ALIVE\r\n"), record(0, ttl=CACHED, **FULL))

# The time to live: the max-age directive of CACHE-CONTROL, in seconds, moved into [60, 86400].
# Anything that is not a plain decimal number there leaves the default of 60.
CACHE_CASES = [
    # (name, why, header lines in place of CACHE, expected time to live)
    ("cache_lower_case_name", "the header name in lower case",
     b"cache-control: max-age=900\r\n", 900),
    ("cache_mixed_case_directive", "the directive name in any letter case",
     b"Cache-Control: Max-AGE=900\r\n", 900),
    ("cache_other_directives_first", "max-age after other directives, with blanks around =",
     b'CACHE-CONTROL: no-cache="x", max-age = 900\r\n', 900),
    ("cache_other_directives_after", "max-age before other directives",
     b"CACHE-CONTROL: max-age=900, public\r\n", 900),
    ("cache_tabs_around_equals", "tabs count as blanks, also after the digits",
     b"CACHE-CONTROL:max-age\t=\t900\t\r\n", 900),
    ("cache_empty_list_elements", "empty elements of the list are skipped",
     b"CACHE-CONTROL: , ,max-age=900,\r\n", 900),
    ("cache_leading_zeros", "leading zeros are digits like any other",
     b"CACHE-CONTROL: max-age=000900\r\n", 900),
    ("cache_line_feed_only", "a bare line feed ends the header too",
     b"CACHE-CONTROL: max-age=900\n", 900),
    ("cache_just_above_minimum", "61 seconds are kept", b"CACHE-CONTROL: max-age=61\r\n", 61),
    ("cache_minimum", "60 seconds are kept", b"CACHE-CONTROL: max-age=60\r\n", 60),
    ("cache_below_minimum", "less than a minute gives a minute",
     b"CACHE-CONTROL: max-age=5\r\n", 60),
    ("cache_zero", "zero seconds give a minute", b"CACHE-CONTROL: max-age=0\r\n", 60),
    ("cache_one_day", "a day is kept", b"CACHE-CONTROL: max-age=86400\r\n", 86400),
    ("cache_above_a_day", "more than a day gives a day",
     b"CACHE-CONTROL: max-age=86401\r\n", 86400),
    ("cache_largest_number", "the largest 64-bit number gives a day",
     b"CACHE-CONTROL: max-age=9223372036854775807\r\n", 86400),
    ("cache_overflow_by_one", "one more than the largest 64-bit number is malformed",
     b"CACHE-CONTROL: max-age=9223372036854775808\r\n", 60),
    ("cache_overflow", "twenty nines are malformed",
     b"CACHE-CONTROL: max-age=99999999999999999999\r\n", 60),
    ("cache_minus_sign", "a negative number is malformed", b"CACHE-CONTROL: max-age=-900\r\n", 60),
    ("cache_plus_sign", "a plus sign is malformed", b"CACHE-CONTROL: max-age=+900\r\n", 60),
    ("cache_empty_value", "max-age= without digits", b"CACHE-CONTROL: max-age=, public\r\n", 60),
    ("cache_value_at_line_end", "max-age= at the end of the line; the next line is not read",
     b"CACHE-CONTROL: max-age=\r\nX-AGE: 900\r\n", 60),
    ("cache_without_equals", "max-age without = and value", b"CACHE-CONTROL: max-age\r\n", 60),
    ("cache_digits_then_letters", "digits followed by other characters",
     b"CACHE-CONTROL: max-age=900s\r\n", 60),
    ("cache_digits_blank_digits", "a blank inside the number", b"CACHE-CONTROL: max-age=9 00\r\n",
     60),
    ("cache_quoted_value", "a quoted number is not decimal digits only",
     b'CACHE-CONTROL: max-age="900"\r\n', 60),
    ("cache_first_max_age_decides", "of two max-age directives the first counts",
     b"CACHE-CONTROL: max-age=120, max-age=900\r\n", 120),
    ("cache_first_header_decides", "of two CACHE-CONTROL headers the first counts",
     b"CACHE-CONTROL: max-age=900\r\nCACHE-CONTROL: max-age=1200\r\n", 900),
    ("cache_similar_directive_names", "s-maxage, max-ages and x-max-age are other directives",
     b"CACHE-CONTROL: s-maxage=900, max-ages=901, x-max-age=902\r\n", 60),
    ("cache_no_max_age", "a header without max-age", b"CACHE-CONTROL: no-cache\r\n", 60),
    ("cache_max_age_in_quoted_value", "max-age and commas inside a quoted value do not count",
     b'CACHE-CONTROL: private="a, max-age=5", max-age=900\r\n', 900),
    ("cache_escaped_quote_in_value", "an escaped quote does not end a quoted value",
     b'CACHE-CONTROL: no-cache="a\\", max-age=5", max-age=900\r\n', 900),
    ("cache_unterminated_quote", "a quoted value that runs to the line end hides the rest",
     b'CACHE-CONTROL: no-cache="a, max-age=900\r\n', 60),
    ("cache_max_age_in_other_header", "max-age in another header's value does not count",
     b"X-NOTE: CACHE-CONTROL: max-age=900\r\nX-CACHE: max-age=901\r\n", 60),
    ("cache_max_age_on_next_line", "a directive counts only on the header's own line",
     b"CACHE-CONTROL: no-cache\r\nX-AGE: max-age=900\r\n", 60),
    ("cache_blank_before_colon", "a blank between name and colon: no CACHE-CONTROL header",
     b"CACHE-CONTROL : max-age=900\r\n", 60),
    ("cache_missing", "no CACHE-CONTROL header", b"", 60),
]
for name, why, cache, ttl in CACHE_CASES:
    case("multicast", name, why, STATUS + cache + LOCATION + SERVER + SSIDINFO + ST + USN + END,
         record(1, ttl=ttl, **FULL))
case("multicast", "cache_ends_datagram", "a CACHE-CONTROL header that ends the datagram",
     STATUS + LOCATION + SERVER + SSIDINFO + USN + b"CACHE-CONTROL: max-age=900",
     record(1, ttl=900, **FULL))
case("multicast", "cache_notify_byebye", "an announcement carries its time to live as a reply does",
     b"NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\ncache-control: max-age=3600\r\n" +
     LOCATION + b"NT: upnp:rootdevice\r\nNTS: ssdp:byebye\r\n" + SERVER + SSIDINFO + USN + END,
     record(4, ttl=3600, **FULL))
case("multicast", "cache_dropped_message", "a good CACHE-CONTROL does not make a message a device",
     STATUS + b"CACHE-CONTROL: max-age=900\r\n" + LOCATION + SERVER + SSIDINFO + END, DROPPED)

# The identity.
case("multicast", "usn_missing_dropped", "no USN header", reply(usn=b""), DROPPED)
case("multicast", "usn_without_double_colon_dropped", "uuid: without :: after it",
     reply(usn=b"USN: uuid:abc\r\n"), DROPPED)
case("multicast", "usn_without_uuid_dropped", "USN without uuid:",
     reply(usn=b"USN: abc::upnp:rootdevice\r\n"), DROPPED)
case("multicast", "uuid_only_before_usn_dropped", "uuid: counts only after USN:",
     STATUS + b"X-ID: uuid:abc::x\r\n" + LOCATION + SERVER + SSIDINFO + b"USN: abc\r\n" + END,
     DROPPED)
case("multicast", "usn_double_colon_before_uuid", ":: counts only after uuid:",
     reply(usn=b"USN: x::y uuid:abc::upnp:rootdevice\r\n"), record(1, ttl=CACHED, **FULL))
US = "u" * 40
case("multicast", "usn_identity_longer_than_31", "a long identity keeps 31 characters",
     reply(usn=b"USN: uuid:" + US.encode() + b"::upnp:rootdevice\r\n"),
     record(1, ttl=CACHED, **only(id=US[:31])))
case("multicast", "usn_empty_identity", "uuid::: gives an empty identity",
     reply(usn=b"USN: uuid:::upnp:rootdevice\r\n"), record(1, ttl=CACHED, **only(id="")))
case("multicast", "usn_identity_across_lines", "the identity runs to the next ::, wherever it is",
     STATUS + LOCATION + SERVER + SSIDINFO + b"USN: uuid:abc\r\nX-NEXT: a::b\r\n" + END,
     record(1, **only(id="abc\r\nX-NEXT: a")))

# Type and the first word.
case("multicast", "notify_alive", "an ssdp:alive announcement", notify(),
     record(2, ttl=CACHED, **FULL))
case("multicast", "notify_byebye", "an ssdp:byebye announcement",
     notify(nts=b"NTS: ssdp:byebye\r\n"), record(4, ttl=CACHED, **FULL))
case("multicast", "notify_other_value", "any other NTS value is handed on with type 0",
     notify(nts=b"NTS: ssdp:update\r\n"), record(0, ttl=CACHED, **FULL))
case("multicast", "notify_blanks_and_tabs", "blanks and tabs after NTS: are skipped",
     notify(nts=b"NTS: \t \t ssdp:byebye\r\n"), record(4, ttl=CACHED, **FULL))
case("multicast", "notify_no_blank", "no blank after NTS:", notify(nts=b"NTS:ssdp:alive\r\n"),
     record(2, ttl=CACHED, **FULL))
case("multicast", "notify_value_on_next_line", "a line break is not skipped like a blank",
     notify(nts=b"NTS:\r\n ssdp:alive\r\n"), record(0, ttl=CACHED, **FULL))
case("multicast", "notify_value_prefix", "only the first 10 characters of the value count",
     notify(nts=b"NTS: ssdp:alivex\r\n"), record(2, ttl=CACHED, **FULL))
case("multicast", "notify_without_rootdevice_dropped", "no rootdevice anywhere",
     notify(nt=b"NT: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n",
            usn=b"USN: uuid:abc::urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"), DROPPED)
case("multicast", "notify_without_nts_dropped", "no NTS: header", notify(nts=b""), DROPPED)
case("multicast", "notify_nts_ends_datagram", "NTS: as the last bytes of the datagram",
     b"NOTIFY * HTTP/1.1\r\n" + LOCATION + SERVER + SSIDINFO + USN + b"NTS:", record(0, **FULL))
case("multicast", "notify_nts_value_truncated", "a datagram that ends inside ssdp:alive",
     b"NOTIFY * HTTP/1.1\r\n" + LOCATION + SERVER + SSIDINFO + USN + b"NTS: ssdp:aliv",
     record(0, **FULL))
case("multicast", "notify_lowercase_dropped", "the first word is case-sensitive",
     b"notify" + notify()[6:], DROPPED)
case("multicast", "http_lowercase_dropped", "the first word is case-sensitive",
     b"http" + reply()[4:], DROPPED)
case("multicast", "http_prefix_is_enough", "only the first four characters are compared",
     b"HTTPX" + reply()[4:], record(1, ttl=CACHED, **FULL))
case("multicast", "leading_blank_dropped", "the first word starts at the first byte",
     b" " + reply(), DROPPED)
case("multicast", "msearch_with_device_headers_dropped", "a request is neither reply nor "
     "announcement", b"M-SEARCH * HTTP/1.1\r\n" + reply()[len(STATUS):], DROPPED)
case("multicast", "msearch_request_dropped", "the workers' own 129-byte search request",
     b"M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n"
     b"ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n",
     DROPPED)
case("multicast", "no_vrix_dropped", "a reply without VRIX anywhere",
     reply(server=b"SERVER: Linux/2.0, UPnP/1.0, V/nas/P/1\r\n"), DROPPED)
case("multicast", "vrix_only_in_usn", "VRIX anywhere in the message is enough",
     reply(server=b"", ssidinfo=b"", usn=b"USN: uuid:VRIX-1::upnp:rootdevice\r\n"),
     record(1, ttl=CACHED, **only(NO_SERVER, NO_WIRELESS, id="VRIX-1")))

# Damaged datagrams.
FULL_REPLY = reply()
cut_in_usn = FULL_REPLY.index(b"uuid:abc:") + len(b"uuid:abc:")
case("multicast", "truncated_inside_usn_dropped", "a reply cut between the two colons after the "
     "identity", FULL_REPLY[:cut_in_usn], DROPPED)
case("multicast", "truncated_after_double_colon", "a reply cut right after ::",
     FULL_REPLY[:cut_in_usn + 1], record(1, ttl=CACHED, **FULL))
case("multicast", "nul_before_usn_dropped", "the message ends at its first NUL",
     STATUS + LOCATION + SERVER + b"\0" + SSIDINFO + USN + END, DROPPED)
case("multicast", "nul_after_usn_hides_ssidinfo", "headers after the first NUL are not read",
     STATUS + LOCATION + SERVER + USN + b"\0" + SSIDINFO + END, record(1, **only(NO_WIRELESS)))
case("multicast", "leading_nul_dropped", "a NUL first: an empty message", b"\0" + FULL_REPLY,
     DROPPED)
case("multicast", "all_nuls_1024", "1024 NUL bytes", b"\0" * 1024, DROPPED)
case("multicast", "all_nuls_1", "a single NUL byte", b"\0", DROPPED)
case("multicast", "single_byte", "a single letter", b"H", DROPPED)
pad_head = STATUS + LOCATION + SERVER + SSIDINFO + b"X-PAD: "
pad_tail = b"\r\nUSN: uuid:big::"
EXACT = pad_head + b"a" * (1024 - len(pad_head) - len(pad_tail)) + pad_tail
assert len(EXACT) == 1024
case("multicast", "exactly_1024_bytes", "a full datagram without NUL whose last bytes are ::",
     EXACT, record(1, **only(id="big")))


def main():
    for kind, cases in CASES.items():
        folder = HERE / kind
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir()
        for name, (why, data, expected) in sorted(cases.items()):
            (folder / (name + ".bin")).write_bytes(data)
            (folder / (name + ".expected")).write_text("# " + why + "\n" + expected)
        print("%s: %d cases" % (kind, len(cases)))


if __name__ == "__main__":
    main()
