#!/usr/bin/env python3
"""Lists the paths outside the allowed places that a traced Windows program
asked for, and fails if there is one.

Usage: trace_paths.py TRACE PROGRAM CURRENT_DIR ALLOWED_DIR...

TRACE is Wine's debug output with WINEDEBUG=+pid,+file,+loaddll; only the
lines of PROGRAM's own process count (the process that loaded PROGRAM, an
.exe name). Each path there must lie in one of the ALLOWED_DIRs, or be one
of their parent folders, which it may look at but which no user can create
(C:\\, C:\\users). A relative path counts from CURRENT_DIR; one that starts
with a backslash, or a slash, lies on CURRENT_DIR's drive, as on Windows.
"""
import ntpath
import re
import sys

LINE = re.compile(r"^([0-9a-f]+):[0-9a-f]+:(?:trace|warn|err|fixme):(file|loaddll):")
STRING = re.compile(r'L"((?:[^"\\]|\\.)*)"')
# Devices, pipes and mailslots are not folders.
DEVICES = re.compile(r"^(\\device\\|\\\?\?\\(pipe|mailslot|conin\$|conout\$|con|nul|"
                     r"mountpointmanager|global\\)|\\\\\.\\|con$|nul$|conin\$|conout\$)",
                     re.IGNORECASE)


def unescape(text):
    return re.sub(r"\\(x[0-9a-fA-F]{2,4}|u[0-9a-fA-F]{4}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) > 1
                  else {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)), text)


def absolute(path, current):
    path = path.replace("/", "\\")
    for prefix in ("\\??\\UNC\\", "\\\\?\\UNC\\"):
        if path.upper().startswith(prefix):
            return "\\\\" + path[len(prefix):]
    for prefix in ("\\??\\", "\\\\?\\"):
        if path.startswith(prefix):
            path = path[len(prefix):]
    drive, rest = ntpath.splitdrive(path)
    if not drive:
        drive = ntpath.splitdrive(current)[0]
        rest = path if path.startswith("\\") else ntpath.join(ntpath.splitdrive(current)[1], path)
    return ntpath.normpath(drive + (rest or "\\"))


def main():
    trace, program, current, *allowed = sys.argv[1:]
    allowed = [ntpath.normpath(place).lower() for place in allowed]
    parents = {"c:\\", "c:\\users"}
    lines = open(trace, encoding="utf-8", errors="replace").read().splitlines()
    pid = next((LINE.match(line).group(1) for line in lines
                if LINE.match(line) and "Loaded L" in line
                and line.lower().split("loaded l\"", 1)[1].split('"')[0].endswith(program.lower())),
               None)
    if pid is None:
        print(f"{trace}: no process loaded {program}")
        return 1
    seen, outside = set(), {}
    for line in lines:
        match = LINE.match(line)
        if not match or match.group(1) != pid:
            continue
        for raw in STRING.findall(line):
            path = unescape(raw)
            if not path or DEVICES.match(path):
                continue
            full = absolute(path, current)
            seen.add(full.lower())
            low = full.lower()
            if low in parents or any(low == place or low.startswith(place + "\\")
                                     for place in allowed):
                continue
            outside.setdefault(full, line.strip()[:200])
    for path, line in sorted(outside.items()):
        print(f"outside: {path}\n    {line}")
    print(f"{len(seen)} paths asked for by {program} (process {pid}), {len(outside)} outside")
    return 1 if outside else 0


if __name__ == "__main__":
    sys.exit(main())
