"""An X server of the test's own: the clipboard and the screen are shared by every client of a display."""
import os
import subprocess


class PrivateXvfb:
    def __init__(self, size="1920x1080"):
        self.size = size

    def __enter__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{self.size}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        return self

    def __exit__(self, *_):
        self.process.terminate()
        self.process.wait(timeout=30)
