"""An X server of the test's own: the clipboard and the screen are shared by every client of a display."""
import os
import subprocess


class PrivateXvfb:
    def __init__(self, size="1920x1080"):
        self.size = size

    def command(self):
        return ["Xvfb", "-screen", "0", f"{self.size}x24"]

    def __enter__(self):
        # The server picks a free display and writes its number once it accepts clients.
        read, write = os.pipe()
        self.process = subprocess.Popen([*self.command(), "-displayfd", str(write), "-nolisten", "tcp", "-noreset"],
                                        pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError(f"{self.command()[0]} did not start")
        self.name = ":" + number
        return self

    def __exit__(self, *_):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
