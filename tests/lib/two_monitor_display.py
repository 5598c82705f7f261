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

from private_xvfb import PrivateXvfb

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


class TwoMonitorDisplay(PrivateXvfb):
    def command(self):
        return [shutil.which("Xorg") or "Xorg", "-config", os.path.join(self.dir, "xorg.conf"),
                "-logfile", os.path.join(self.dir, "xorg.log")]

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="dravnok-xorg-")
        with open(os.path.join(self.dir, "xorg.conf"), "w") as f:
            f.write(CONFIG)
        super().__enter__()
        env = dict(os.environ, DISPLAY=self.name)
        for name, geometry, output in MONITORS:
            subprocess.run(["xrandr", "--setmonitor", name, geometry, output], env=env, check=True,
                           stdout=subprocess.DEVNULL)
        return self

    def __exit__(self, *_):
        super().__exit__()
        shutil.rmtree(self.dir, ignore_errors=True)
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
