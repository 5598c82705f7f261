#!/usr/bin/env python3
"""aiortc (python3-aiortc), a viewer unlike a browser (candidates in the offer, data channels in the
older "DTLS/SCTP 5000" form, no use for trickled candidates), in a whole session with remote-helper:
the video track's SSRC and name, no switch to a monitor that does not exist, the video at the screen's
size, key frames only on a picture-loss report, a file downloaded whole, and stop ending with 0."""
import os
import re
import sys

try:
    import aiortc  # noqa: F401
except ImportError:
    # ctest's Python may not be the system's, which has the Debian packages.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])

import asyncio
import json
import subprocess
import unittest

import helper_program

try:
    from aiortc import RTCPeerConnection, RTCSessionDescription
    from aiortc.mediastreams import MediaStreamError
except ImportError:
    RTCPeerConnection = None

WIDTH, HEIGHT = 640, 360
DOWNLOAD_BYTES = 300_000
STEP_TIMEOUT = 30


@unittest.skipIf(RTCPeerConnection is None, "needs python3-aiortc and python3-av")
class AiortcViewer(unittest.TestCase):
    def setUp(self):
        self.x_env = helper_program.display_env(self, f"{WIDTH}x{HEIGHT}")
        info = subprocess.run(["xdpyinfo"], env=self.x_env, capture_output=True, text=True, check=True).stdout
        self.width, self.height = map(int, re.search(r"dimensions:\s+(\d+)x(\d+)", info).groups())
        self.folder, self.exe = helper_program.folder(self, copy=True)

    def test_whole_session(self):
        asyncio.run(self.run_helper(self.story()))
        self.assertEqual([line for line in self.logs if "monitor switch" in line], [])

    def send(self, command):
        self.helper.stdin.write((json.dumps(command) + "\n").encode())

    async def run_helper(self, steps):
        """Starts the session, takes the steps, stops it: the helper ends with 0."""
        self.helper = await asyncio.create_subprocess_exec(
            *helper_program.command(program=self.exe), cwd=self.folder, env=self.x_env,
            stdin=asyncio.subprocess.PIPE, stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.DEVNULL)
        self.answer = asyncio.get_running_loop().create_future()
        self.frames, self.files_messages = asyncio.Queue(), asyncio.Queue()
        self.logs = []
        self.tasks = [asyncio.ensure_future(self.read_events())]
        self.pc = RTCPeerConnection()
        try:
            self.send({"cmd": "start", "sessionId": "aiortc", "mode": "control", "viewerName": "aiortc"})
            await steps
            self.send({"cmd": "stop"})
            self.helper.stdin.close()
            self.assertEqual(await asyncio.wait_for(self.helper.wait(), STEP_TIMEOUT), 0)
            await self.tasks[0]  # every event read
        finally:
            await self.pc.close()
            if self.helper.returncode is None:
                self.helper.kill()
                await self.helper.wait()
            for task in self.tasks:
                task.cancel()

    async def story(self):
        answer = await self.connect()
        # The data channel section answers in the form it was offered in.
        self.assertIn("m=application 9 DTLS/SCTP 5000\r\n", answer)
        self.assertIn("a=sctpmap:5000 webrtc-datachannel", answer)
        self.assertIn("a=ssrc:42 cname:dravnok-remote\r\n", answer)
        await self.check_video()
        await self.check_picture_loss()
        await self.check_files()

    async def read_events(self):
        while line := await self.helper.stdout.readline():
            event = json.loads(line)
            if event.get("evt") == "answer" and not self.answer.done():
                self.answer.set_result(event["sdp"])
            elif event.get("evt") == "log":
                self.logs.append(event["msg"])

    async def connect(self):
        self.pc.addTransceiver("video", direction="recvonly")
        channels = {label: self.pc.createDataChannel(label) for label in ("input", "files")}
        opened = {label: asyncio.Event() for label in channels}
        for label, channel in channels.items():
            channel.on("open", opened[label].set)
        self.files = channels["files"]
        self.files.on("message", self.files_messages.put_nowait)

        @self.pc.on("track")
        def on_track(track):
            async def pull():
                try:
                    while True:
                        await self.frames.put(await track.recv())
                except MediaStreamError:
                    pass  # the session ended
            self.tasks.append(asyncio.ensure_future(pull()))

        await self.pc.setLocalDescription(await self.pc.createOffer())
        self.send({"cmd": "offer", "sdp": self.pc.localDescription.sdp})
        answer = await asyncio.wait_for(self.answer, STEP_TIMEOUT)
        await self.pc.setRemoteDescription(RTCSessionDescription(answer, "answer"))
        for event in opened.values():
            await asyncio.wait_for(event.wait(), STEP_TIMEOUT)
        channels["input"].send(json.dumps({"type": "monitor", "index": 1}))  # the screen has one monitor
        return answer

    async def check_video(self):
        frame = await asyncio.wait_for(self.frames.get(), STEP_TIMEOUT)
        self.assertEqual((frame.width, frame.height), (self.width, self.height))

    async def painted_frames(self, seconds, until_key_frame=False):
        """Whether each frame decoded while the screen changes colour every 100 ms is a key frame."""
        seen, step = [], 0
        end = asyncio.get_running_loop().time() + seconds
        while asyncio.get_running_loop().time() < end and not (until_key_frame and any(seen)):
            step += 1
            helper_program.paint(self.x_env, "#%02x50c8" % (step * 16 % 256))
            await asyncio.sleep(0.1)
            while not self.frames.empty():
                seen.append(self.frames.get_nowait().key_frame)
        return seen

    async def check_picture_loss(self):
        changes = await self.painted_frames(1.5)
        self.assertTrue(changes and not any(changes), f"key frames among changes: {changes}")
        receiver = next(t.receiver for t in self.pc.getTransceivers() if t.kind == "video")
        await receiver._send_rtcp_pli(42)
        self.assertTrue(any(await self.painted_frames(STEP_TIMEOUT, until_key_frame=True)))

    async def files_reply(self):
        return await asyncio.wait_for(self.files_messages.get(), STEP_TIMEOUT)

    async def check_files(self):
        self.assertEqual(json.loads(await self.files_reply())["t"], "hello")
        content = os.urandom(DOWNLOAD_BYTES)
        with open(os.path.join(self.folder, "report.bin"), "wb") as f:
            f.write(content)
        self.files.send(json.dumps({"t": "get", "path": os.path.join(self.folder, "report.bin")}))
        self.assertEqual(json.loads(await self.files_reply())["size"], DOWNLOAD_BYTES)
        received = b""
        while isinstance(message := await self.files_reply(), bytes):
            received += message
        self.assertEqual(json.loads(message)["t"], "get-done", message)
        self.assertTrue(received == content, f"{len(received)} bytes, not the file's")


if __name__ == "__main__":
    helper_program.main()
