#!/usr/bin/env python3
"""Checks that the files installed beside the program agree with each other and with the code.

The desktop entry, the AppStream description and the icon must name one application id, the
description the version being built; the ufw profile must parse the way ufw parses it; the ufw
profile and the firewalld service must open the same ports, and those must be the ports the
engine's searches receive on, read from the engine's own constants.

Usage: check_desktop_files.py SOURCE_DIR METAINFO VERSION
"""

import configparser
import pathlib
import re
import sys
import xml.etree.ElementTree as ElementTree

APP_ID = "org.tarvelo.Tarvelo"
# How many per-address search slots the firewall files are meant to cover.
COVERED_SLOTS = 32

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def read_desktop_entry(path):
    parser = configparser.RawConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keys of desktop entries are case-sensitive
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"]


def parse_ufw_ports(text):
    """The set of (protocol, first, last) a ufw 'ports=' value opens, or raises ValueError.

    Follows ufw's rules for application profiles: entries separated by '|', each a list of ports
    and ranges "FIRST:LAST" with an optional "/tcp" or "/udp"; a list of more than one port, and
    any range, needs the protocol; a range counts as two ports, and a list holds at most 15.
    """
    opened = set()
    for entry in text.split("|"):
        ports, _, protocol = entry.partition("/")
        if protocol not in ("tcp", "udp", ""):
            raise ValueError(f"unknown protocol in {entry!r}")
        items = ports.split(",")
        weight = 0
        for item in items:
            first, colon, last = item.partition(":")
            if not first.isdigit() or (colon and not last.isdigit()):
                raise ValueError(f"not a port or range: {item!r}")
            low, high = int(first), int(last) if colon else int(first)
            if not 1 <= low <= 65535 or not 1 <= high <= 65535 or (colon and low >= high):
                raise ValueError(f"port out of bounds or empty range: {item!r}")
            weight += 2 if colon else 1
            protocols = [protocol] if protocol else ["tcp", "udp"]
            for each in protocols:
                opened.add((each, low, high))
        if (len(items) > 1 or ":" in ports) and not protocol:
            raise ValueError(f"a list or range needs a protocol: {entry!r}")
        if weight > 15:
            raise ValueError(f"more than 15 ports in {entry!r}")
    return opened


def read_constant(path, name):
    match = re.search(rf"\b{name}\s*=\s*(\d+)\s*;", path.read_text(encoding="utf-8"))
    if match is None:
        raise ValueError(f"{name} not found in {path}")
    return int(match.group(1))


def main():
    source = pathlib.Path(sys.argv[1])
    metainfo_path = pathlib.Path(sys.argv[2])
    version = sys.argv[3]

    desktop_path = source / "res" / f"{APP_ID}.desktop"
    entry = read_desktop_entry(desktop_path)
    check(entry.get("Icon") == APP_ID, f"desktop entry: Icon is {entry.get('Icon')!r}")
    binary = entry.get("Exec", "").split(" ")[0]
    check(binary == "tarvelo", f"desktop entry: Exec runs {binary!r}")
    for size in (16, 22, 24, 32, 48, 64, 128, 256):
        icon = source / "res" / "icons" / "hicolor" / f"{size}x{size}" / "apps" / f"{APP_ID}.png"
        check(icon.is_file(), f"no icon {icon}")
    svg = source / "res" / "icons" / "hicolor" / "scalable" / "apps" / f"{APP_ID}.svg"
    check(svg.is_file(), f"no icon {svg}")

    component = ElementTree.parse(metainfo_path).getroot()
    check(component.findtext("id") == APP_ID, "metainfo: wrong id")
    check(component.findtext("launchable[@type='desktop-id']") == desktop_path.name,
          "metainfo: the launchable is not the desktop entry")
    check(component.findtext("provides/binary") == binary,
          "metainfo: provides another binary than the desktop entry runs")
    releases = component.findall("releases/release")
    check(bool(releases) and releases[0].get("version") == version,
          f"metainfo: the newest release is not {version}")
    for image in component.iter("image"):
        check(image.text.startswith("https://"), f"metainfo: screenshot {image.text} not https")

    ufw = configparser.RawConfigParser(interpolation=None, strict=True)
    ufw.read(source / "res" / "firewall" / "tarvelo.ufw", encoding="utf-8")
    check(ufw.sections() == ["Tarvelo"], f"ufw profile: sections {ufw.sections()}")
    ufw_ports = set()
    for section in ufw.sections():
        for key in ("title", "description", "ports"):
            check(bool(ufw[section].get(key, "").strip()), f"ufw profile: no {key}")
        try:
            ufw_ports = parse_ufw_ports(ufw[section].get("ports", ""))
        except ValueError as error:
            check(False, f"ufw profile: {error}")

    service = ElementTree.parse(source / "res" / "firewall" / "tarvelo.xml").getroot()
    firewalld_ports = set()
    for port in service.findall("port"):
        first, _, last = port.get("port").partition("-")
        firewalld_ports.add((port.get("protocol"), int(first), int(last or first)))
    check(ufw_ports == firewalld_ports,
          f"ufw opens {sorted(ufw_ports)}, firewalld {sorted(firewalld_ports)}")

    discovery = source / "src" / "discovery"
    first_port = read_constant(discovery / "SearchProtocol.h", "kFirstCommandPort")
    step = read_constant(discovery / "SearchProtocol.h", "kCommandPortStep")
    retries = read_constant(discovery / "SearchDeviceThread.h", "kMaxCreateRetries")
    broadcast = read_constant(discovery / "SearchProtocol.h", "kBroadcastLocalPort")
    multicast = read_constant(discovery / "SearchProtocol.h", "kMulticastPort")
    # A worker's slot starts at first_port + n * step; its creation retries may move it up to
    # `retries` ports further.
    last_port = first_port + (COVERED_SLOTS - 1) * step + retries
    expected = {("udp", broadcast, broadcast), ("udp", multicast, multicast),
                ("udp", first_port, last_port)}
    check(firewalld_ports == expected,
          f"firewall files open {sorted(firewalld_ports)}, the searches use {sorted(expected)}")

    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
