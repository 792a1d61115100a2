#!/usr/bin/env python3
"""Writes a registry file shaped like a software hive, as a registry editor
exports one: UTF-16LE with its byte order mark, CRLF line ends, nested keys
(class registrations, per-product settings, uninstall entries), string, dword,
binary, expandable and multi-string values, hex data wrapped at 80 columns.

Usage: make_hive_reg.py OUT.reg [KEYS] [ROOT]
The same arguments always give the same file. It prints the counts.
"""
import random
import sys


def hex_lines(prefix, data):
    """prefix + comma-separated bytes, wrapped as a registry editor wraps them."""
    line = prefix
    out = []
    for i, byte in enumerate(data):
        line += "%02x" % byte
        if i + 1 < len(data):
            line += ","
            if len(line) >= 77:
                out.append(line + "\\")
                line = "  "
    out.append(line)
    return "\r\n".join(out)


def utf16_hex(text):
    return list((text + "\0").encode("utf-16-le"))


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    out = sys.argv[1]
    target_keys = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    root = sys.argv[3] if len(sys.argv) > 3 else "HKEY_LOCAL_MACHINE\\Software\\BenchHive"
    rng = random.Random(20261206)
    words = ["Shell", "Open", "Command", "Settings", "Options", "Display", "Network", "Audio", "Driver",
             "Service", "Policy", "Version", "Install", "Profile", "Cache", "Font", "Locale", "Update"]
    keys = []  # (path, [(name, kind, data)])

    def guid():
        return "{%08X-%04X-%04X-%04X-%012X}" % (rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(16),
                                                rng.getrandbits(16), rng.getrandbits(48))

    def path_text():
        return "C:\\\\Program Files\\\\" + "\\\\".join(rng.choice(words) for _ in range(rng.randint(2, 5))) + ".dll"

    def values():
        result = []
        for _ in range(rng.choice([1, 2, 2, 3, 3, 4, 5, 6])):
            name = rng.choice(words) + str(rng.randint(0, 99))
            kind = rng.random()
            if kind < 0.45:
                result.append((name, "sz", path_text().replace("\\\\", "\\")))
            elif kind < 0.75:
                result.append((name, "dword", rng.getrandbits(32)))
            elif kind < 0.88:
                result.append((name, "hex", bytes(rng.getrandbits(8) for _ in range(rng.randint(4, 140)))))
            elif kind < 0.95:
                result.append((name, "expand", "%SystemRoot%\\system32\\" + rng.choice(words) + ".dll"))
            else:
                result.append((name, "multi", [rng.choice(words) for _ in range(rng.randint(1, 4))]))
        return result

    classes = root + "\\Classes\\CLSID"
    while len(keys) < target_keys * 0.6:
        base = classes + "\\" + guid()
        keys.append((base, [("", "sz", rng.choice(words) + " Object")]))
        keys.append((base + "\\InprocServer32", [("", "expand", "%SystemRoot%\\system32\\" + rng.choice(words) +
                                                  ".dll"), ("ThreadingModel", "sz", rng.choice(["Both", "Apartment"]))]))
        if rng.random() < 0.5:
            keys.append((base + "\\ProgID", [("", "sz", rng.choice(words) + "." + rng.choice(words) + ".1")]))
    product = 0
    while len(keys) < target_keys:
        product += 1
        base = root + "\\Vendor%d\\Product%d" % (product % 37, product)
        keys.append((base, values()))
        for depth in range(rng.randint(1, 6)):
            base += "\\" + rng.choice(words) + str(depth)
            keys.append((base, values()))
    keys.sort(key=lambda k: k[0].upper())

    lines = ["Windows Registry Editor Version 5.00", ""]
    value_count = 0
    for path, vals in keys:
        lines.append("[" + path + "]")
        seen = set()
        for name, kind, data in vals:
            if name.upper() in seen:
                continue
            seen.add(name.upper())
            value_count += 1
            left = "@" if name == "" else quoted(name)
            if kind == "sz":
                lines.append(left + "=" + quoted(data))
            elif kind == "dword":
                lines.append(left + "=dword:%08x" % data)
            elif kind == "hex":
                lines.append(hex_lines(left + "=hex:", data))
            elif kind == "expand":
                lines.append(hex_lines(left + "=hex(2):", utf16_hex(data)))
            else:
                lines.append(hex_lines(left + "=hex(7):", utf16_hex("\0".join(data) + "\0")))
        lines.append("")
    text = "\r\n".join(lines) + "\r\n"
    with open(out, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    print("%s: %d keys, %d values, %d bytes" % (out, len(keys), value_count, 2 + 2 * len(text)))


if __name__ == "__main__":
    main()
