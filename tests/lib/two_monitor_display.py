#!/usr/bin/env python3
"""Xorg with the dummy driver (Xvfb cannot define XRandR monitors): monitor A at 0,0 and B at
1920,0, each 1920x1080. `two_monitor_display.py -- <command> [args...]` runs the command on it."""
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


if __name__ == "__main__":
    with TwoMonitorDisplay() as display:
        command = sys.argv[sys.argv.index("--") + 1:]
        sys.exit(subprocess.run(command, env=dict(os.environ, DISPLAY=display.name)).returncode)
