"""The window as a screen reader meets it, through AT-SPI: the tree at start,
Tab and Shift+Tab, Return and Enter on each button, the boxes read as alerts
and closed by Return and by Esc, and the values announced when a reply fills
them. xdotool types into the real program, which fetches Version.txt from a
local HTTPS server. Runs in tests/accessibility/session.sh; prints one line
per row. Usage: tst_accessibility.py TOOL CERT_DIR VERSION"""
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading
import time

import pyatspi
from gi.repository import GLib

TOOL, CERTS, VERSION = sys.argv[1:4]
TITLE = "NV38K升级工具V" + VERSION
events = []
# Each wait's limit, in seconds, is this many times its own: a program built
# with the sanitizers, beside other builds on two cores, starts and answers
# many times slower. A wait ends as soon as its event comes.
SLOWER = float(os.environ.get("NV38K_WAIT_SCALE", "1"))


class FirmwareServer(http.server.BaseHTTPRequestHandler):
    """Version.txt, behind a CONNECT proxy to itself: the tool, built for the
    real server's name, checks TLS against the test root it was built with."""

    def do_CONNECT(self):
        self.send_response(200)
        self.end_headers()
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(f"{CERTS}/server.pem", f"{CERTS}/server.key")
        self.connection = context.wrap_socket(self.connection, server_side=True)
        self.rfile, self.wfile = self.connection.makefile("rb"), self.connection.makefile("wb")
        self.handle_one_request()

    def do_GET(self):
        body = "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=修复按键\r\n[Desc]=新增灯效\r\n".encode("gbk")
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


def wait_for(find, seconds=10):
    """What `find` returns once it returns something, AT-SPI's events taken meanwhile."""
    end = time.monotonic() + seconds * SLOWER
    while time.monotonic() < end:
        while GLib.MainContext.default().iteration(False):
            pass
        found = find()
        if found:
            return found
        time.sleep(0.05)
    return None


def nodes(node):
    yield node
    for child in node:
        yield from nodes(child)


def window(role, name=None):
    app = next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "nv38k-upgrade-tool"), [])
    return next((w for w in app if w.getRoleName() == role and name in (None, w.name)), None)


def find(node, role, name):
    return next((n for n in nodes(node) if n.getRoleName() == role and n.name == name), None)


def focused():
    return next((n.name for n in nodes(window("frame")) if n.getState().contains(pyatspi.STATE_FOCUSED)), None)


def labelled_by(node):
    return [r.getTarget(i).name for r in node.getRelationSet()
            if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]


def keys(*names):
    for name in names:
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=True)
        time.sleep(0.2)


def tree_at_start():
    frame = window("frame", TITLE)
    assert frame, [a.getRoleName() for a in nodes(pyatspi.Registry.getDesktop(0))][:5]
    labelled = [(n.getRoleName(), n.name, labelled_by(n)) for n in nodes(frame) if labelled_by(n)]
    # The values are known by their captions while empty; the notes, by theirs.
    assert labelled == [("label", "设备型号", ["设备型号"]), ("label", "固件版本", ["固件版本"]),
                        ("filler", "固件更新说明", ["固件更新说明"])], labelled
    assert find(frame, "push button", "获取固件信息") and find(frame, "push button", "下载固件")
    # The window takes focus a moment after it appears on the bus.
    assert wait_for(lambda: focused() == "获取固件信息", 5), focused()


def focus_walk(key, expected):
    def row():
        walk = []
        for _ in expected:
            keys(key)
            walk.append(wait_for(lambda: focused() not in (walk[-1:] or ["获取固件信息"]) and focused(), 3))
        assert walk == expected, walk
    return row


def box(typed, title, text, close):
    def row():
        del events[:]
        keys(*typed)
        alert = wait_for(lambda: window("alert", title))
        assert alert, f"no alert {title}"
        # Activated, the box is read out: its title, then its text.
        assert ("window:activate", title) in events, events
        assert find(alert, "label", text) and find(alert, "push button", "确定"), [n.name for n in nodes(alert)]
        keys(close)
        assert wait_for(lambda: not window("alert")), "the box stays open"
    return row


def values_announced():
    del events[:]
    keys("shift+Tab", "Return")
    model = wait_for(lambda: find(window("frame"), "label", "K1"))
    assert model and labelled_by(model) == ["设备型号"], model
    announced = lambda: [name for kind, name in events if kind == "object:property-change:accessible-name"]
    assert wait_for(lambda: all(v in announced() for v in ["K1", "2.0", "修复按键\r\n新增灯效"])), events


ROWS = [
    ("the tree at start: a frame, values labelled by their captions, focus on 获取固件信息", tree_at_start),
    ("Tab: 下载固件, the notes, 获取固件信息", focus_walk("Tab", ["下载固件", "固件更新说明", "获取固件信息"])),
    ("Shift+Tab: the notes, 下载固件, 获取固件信息", focus_walk("shift+Tab", ["固件更新说明", "下载固件", "获取固件信息"])),
    ("Return on 下载固件 first: alert \"警告\", its text, \"确定\"; Return closes it",
     box(["Tab", "Return"], "警告", "请先获取固件信息后再试", "Return")),
    ("Return on 获取固件信息: each value announced, labelled by its caption", values_announced),
    ("Enter on 下载固件, no dfu-util: alert \"错误\"; Esc closes it",
     box(["Tab", "KP_Enter"], "错误", "升级工具损坏，请重新安装", "Escape")),
]


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), FirmwareServer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    pyatspi.Registry.registerEventListener(lambda e: events.append((e.type, e.source.name)),
                                           "object:property-change:accessible-name", "window:activate")
    tool = subprocess.Popen([TOOL], cwd=tempfile.mkdtemp(),
                            env=dict(os.environ, https_proxy=f"http://127.0.0.1:{server.server_port}"))
    failed = not wait_for(lambda: window("frame"), 60)
    if failed:
        print("FAIL  accessibility  the window appears on the accessibility bus")
    for name, check in ROWS if not failed else []:
        try:
            check()
            print(f"ok    accessibility  {name}")
        except AssertionError as error:
            print(f"FAIL  accessibility  {name}: {error}")
            failed = True
    tool.terminate()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
