#!/usr/bin/env python3
"""A private X display with two monitors side by side, for tests.

Xvfb cannot define XRandR monitors, so this starts Xorg with the dummy video
driver on a 3840x1080 screen and splits it into monitor A (0,0) and monitor
B (1920,0), each 1920x1080.

    python3 tests/lib/two_monitor_display.py -- <command> [args...]

runs the command with DISPLAY set to that server and exits with its code.
From Python, `with TwoMonitorDisplay() as display:` gives `display.name`.
"""
import os
import shutil
import subprocess
import sys
import tempfile

CONFIG = """
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "3840x1080" 250.0 3840 3848 3880 3920 1080 1083 1088 1100
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 3840 1080
        Modes "3840x1080"
    EndSubSection
EndSection
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoAddGPU" "false"
EndSection
"""

MONITORS = [("A", "1920/508x1080/286+0+0", "DUMMY0"), ("B", "1920/508x1080/286+1920+0", "none")]


class TwoMonitorDisplay:
    def __init__(self):
        self.name = None
        self._server = None
        self._dir = None

    def __enter__(self):
        xorg = shutil.which("Xorg")
        if not xorg:
            raise RuntimeError("Xorg is missing: install xserver-xorg-core and xserver-xorg-video-dummy")
        self._dir = tempfile.mkdtemp(prefix="dravnok-xorg-")
        config = os.path.join(self._dir, "xorg.conf")
        with open(config, "w") as f:
            f.write(CONFIG)
        # The server picks a free display and writes its number once it accepts clients.
        read, write = os.pipe()
        self._server = subprocess.Popen(
            [xorg, "-displayfd", str(write), "-config", config, "-noreset", "-nolisten", "tcp",
             "-logfile", os.path.join(self._dir, "xorg.log")],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            self._server.kill()
            raise RuntimeError("Xorg did not start; see " + os.path.join(self._dir, "xorg.log"))
        self.name = ":" + number
        env = dict(os.environ, DISPLAY=self.name)
        for name, geometry, output in MONITORS:
            subprocess.run(["xrandr", "--setmonitor", name, geometry, output], env=env, check=True,
                           stdout=subprocess.DEVNULL)
        return self

    def __exit__(self, *exc):
        if self._server:
            self._server.terminate()
            try:
                self._server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._server.kill()
                self._server.wait()
        shutil.rmtree(self._dir, ignore_errors=True)
        return False


def main(argv):
    if "--" not in argv or argv.index("--") == len(argv) - 1:
        print("usage: two_monitor_display.py -- <command> [args...]", file=sys.stderr)
        return 2
    command = argv[argv.index("--") + 1:]
    with TwoMonitorDisplay() as display:
        return subprocess.run(command, env=dict(os.environ, DISPLAY=display.name)).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
