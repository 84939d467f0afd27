#!/usr/bin/env python3
"""The NV38K in DFU mode, and devices beside it, for umockdev.

Usage: emulated_keyboard.py OUT_DIR

Writes a folder OUT_DIR/SET for each set of devices below: a device
description (devices.umockdev), one USB capture per DFU device that answers
dfu-util's string requests (1-PORT.pcap), and dfu-util-static, which runs
Debian's dfu-util among these devices with umockdev-run. No kernel module and
no USB hardware are involved.
"""
import os
import struct
import sys

# The keyboard as it describes itself over USB. It keeps its own copy of its
# strings, as the real keyboard does, so that the tool's expectations are
# checked against it rather than copied into it.
KEYBOARD = {
    "vendor": 0x0483,
    "product": 0xDF13,
    "bcd_device": 0x0200,
    # DfuSe 1.1a: download, upload and manifestation tolerant; 255 ms detach
    # time-out, 2048-byte transfers.
    "dfu_functional": bytes.fromhex("09210BFF0000081A01"),
    "alt_names": ["@NV38K Flash   /0x00000000/15*001Ka,155*001Kg"],
    "serial": "NV38K CUSTOMED KEYBOARD",
}
# Another DFU device: an STM32 in its system boot loader (the keyboard's
# vendor, another product).
OTHER_DFU = dict(KEYBOARD, product=0xDF11, bcd_device=0x2200,
                 alt_names=["@Internal Flash  /0x08000000/064*0002Kg"], serial="FFFFFFFEFFFF")

# What each set has on bus 1, by port.
SETS = {
    # The root hub alone.
    "no-device": {},
    "keyboard": {2: KEYBOARD},
    "keyboard-and-other-dfu": {2: KEYBOARD, 3: OTHER_DFU},
    "other-serial": {2: dict(KEYBOARD, serial="205C38A0534B")},
    # Plugged in without being put into DFU mode: a plain HID keyboard.
    "not-in-dfu-mode": {2: dict(KEYBOARD, dfu_functional=None)},
    # A capture without the serial request: libusb times out after 1 s.
    "unreadable-serial": {2: dict(KEYBOARD, unanswered=("serial",))},
    "two-alt-settings": {2: dict(KEYBOARD, alt_names=KEYBOARD["alt_names"]
                                 + ["@Option Bytes  /0x1FFFF800/01*016 e"])},
    # Its device node may not be opened, as without the udev rule.
    "no-access": {2: dict(KEYBOARD, no_access=True)},
    # Another DFU device that may not be opened, beside the keyboard or alone.
    "keyboard-and-unreachable-other": {2: KEYBOARD, 3: dict(OTHER_DFU, no_access=True)},
    "unreachable-other": {3: dict(OTHER_DFU, no_access=True)},
}

SERIAL_INDEX = 3
FIRST_ALT_NAME_INDEX = 4
ENGLISH = 0x0409
HUB_PATH = "/devices/pci0000:00/0000:00:14.0/usb1"
# Bus 1's root hub, where libusb looks for each device's parent.
ROOT_HUB = (struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 9, 0, 0, 64, 0x1D6B, 2, 0x0601,
                        3, 2, 1, 1)
            + bytes.fromhex("09021900010100E0000904000001090000000705810304000C"))


def devnum(port):
    return port + 3


def descriptors(device):
    """The sysfs descriptors attribute: device and configuration descriptors."""
    alts = device["alt_names"]
    dfu = device["dfu_functional"]
    device_descriptor = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 0, 0, 0, 64,
                                    device["vendor"], device["product"],
                                    device["bcd_device"], 0, 0, SERIAL_INDEX, 1)
    if dfu is None:  # a boot keyboard: HID interface, HID descriptor, report endpoint
        body = (struct.pack("<9B", 9, 4, 0, 0, 1, 3, 1, 1, 0)
                + bytes.fromhex("092111010001223F00" "0705810308000A"))
    else:
        body = b"".join(struct.pack("<9B", 9, 4, 0, alt, 0, 0xFE, 1, 2,
                                    FIRST_ALT_NAME_INDEX + alt) + dfu
                        for alt in range(len(alts)))
    config = struct.pack("<BBHBBBBB", 9, 2, 9 + len(body), 1, 1, 0, 0x80, 50) + body
    return device_descriptor + config


def string_descriptor(text):
    encoded = text.encode("utf-16-le")
    return bytes([2 + len(encoded), 3]) + encoded


def capture(device, port):
    """usbmon records (link type USB_LINUX_MMAPPED) for each string request that
    dfu-util 0.11 makes while listing, in its order: per alt setting the
    language list, the name, the language list, the serial."""
    languages = struct.pack("<BBH", 4, 3, ENGLISH)
    requests = []
    for alt, name in enumerate(device["alt_names"]):
        requests += [(0, 0, languages), (FIRST_ALT_NAME_INDEX + alt, ENGLISH,
                                         string_descriptor(name)),
                     (0, 0, languages), (SERIAL_INDEX, ENGLISH,
                                         string_descriptor(device["serial"]))]
    if "serial" in device.get("unanswered", ()):
        requests.pop()
    records = b""
    for urb_id, (index, language, answer) in enumerate(requests, start=1):
        setup = struct.pack("<BBHHH", 0x80, 6, 0x0300 | index, language, 255)
        for event, flag_setup, flag_data, status, data in (
                (b"S", 0, ord("<"), -115, b""), (b"C", ord("-"), 0, 0, answer)):
            header = struct.pack("<QcBBBHBBqiiII8siiII", urb_id, event, 2, 0x80,
                                 devnum(port), 1, flag_setup, flag_data, 0, 0, status,
                                 255 if event == b"S" else len(data), len(data),
                                 setup, 0, 0, 0, 0)
            packet = header + data
            records += struct.pack("<IIII", 0, 0, len(packet), len(packet)) + packet
    return struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 220) + records


def usb_device(path, port, number, descriptor_bytes):
    node = f"bus/usb/001/{number:03d}"
    return "\n".join([
        f"P: {path}", f"N: {node}", f"E: DEVNAME=/dev/{node}", "E: DEVTYPE=usb_device",
        "E: DRIVER=usb", "E: SUBSYSTEM=usb", "E: BUSNUM=001", f"E: DEVNUM={number:03d}",
        r"A: busnum=1\n", fr"A: devnum={number}\n", fr"A: devpath={port}\n",
        r"A: bConfigurationValue=1\n", r"A: speed=12\n",
        f"H: descriptors={descriptor_bytes.hex().upper()}", ""])


def write_set(name, devices, out):
    os.makedirs(out, exist_ok=True)
    records = [usb_device(HUB_PATH, 0, 1, ROOT_HUB)]
    command = ["exec umockdev-run", f"-d '{out}/devices.umockdev'"]
    program = 'dfu-util "$@"'
    for port, device in devices.items():
        path = f"{HUB_PATH}/1-{port}"
        records.append(usb_device(path, port, devnum(port), descriptors(device)))
        if device["dfu_functional"] is not None:
            with open(f"{out}/1-{port}.pcap", "wb") as pcap:
                pcap.write(capture(device, port))
            command.append(f"-p '/sys{path}={out}/1-{port}.pcap'")
        if device.get("no_access"):
            # Not as root, who may open any node.
            command[0] = "exec $(test $(id -u) != 0 || echo setpriv --reuid=nobody " \
                         "--regid=nogroup --clear-groups) umockdev-run"
            node = f"$UMOCKDEV_DIR/dev/bus/usb/001/{devnum(port):03d}"
            program = f"sh -c 'chmod 000 \"{node}\" && exec {program}' sh \"$@\""
    with open(f"{out}/devices.umockdev", "w") as description:
        description.write("\n".join(records))
    script = f"{out}/dfu-util-static"
    with open(script, "w") as wrapper:
        wrapper.write(f"#!/bin/sh\n# Debian's dfu-util among the emulated devices of the set "
                      f"\"{name}\".\n{' '.join(command)} -- {program}\n")
    os.chmod(script, 0o755)


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} OUT_DIR")
    for name, devices in SETS.items():
        write_set(name, devices, os.path.join(os.path.abspath(sys.argv[1]), name))


if __name__ == "__main__":
    main()
