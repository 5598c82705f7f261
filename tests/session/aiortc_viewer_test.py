#!/usr/bin/env python3
"""aiortc (python3-aiortc) as a viewer that offers unlike a browser (ICE credentials in every
section, data channels in the older "DTLS/SCTP 5000" form) drives remote-helper through a whole
session, with trickled candidates and without: the video decodes at the screen's size and
colour, key frames come only on a picture-loss report, a pointer move lands, a file downloads
whole, and stop ends the helper with 0."""
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
import hashlib
import json
import subprocess
import unittest

import helper_program
from private_xvfb import PrivateXvfb

try:
    import numpy
    from aiortc import RTCPeerConnection, RTCSessionDescription
    from aiortc.mediastreams import MediaStreamError
    from aiortc.sdp import candidate_from_sdp
except ImportError:
    RTCPeerConnection = None

WIDTH, HEIGHT = 640, 360
SCREEN_RGB = (0xC0, 0x30, 0x20)  # BT.601 would read it back 13 levels off
DOWNLOAD_BYTES = 300_000
STEP_TIMEOUT = 30


def rgb_from_bt709_limited(y, u, v):
    luma = (y - 16) / 219 * 255
    cb, cr = (u - 128) / 224 * 255, (v - 128) / 224 * 255
    return luma + 1.5748 * cr, luma - 0.1873 * cb - 0.4681 * cr, luma + 1.8556 * cb


def split_candidates(sdp):
    """The offer without candidates, and (mid, candidate) of the section BUNDLE tags, the first."""
    lines, sections, mid, found = [], 0, None, []
    for line in sdp.split("\r\n"):
        sections += line.startswith("m=")
        if sections == 1 and line.startswith("a=mid:"):
            mid = line[len("a=mid:"):]
        if sections == 1 and line.startswith("a=candidate:"):
            found.append(line[2:])
        if not line.startswith(("a=candidate:", "a=end-of-candidates")):
            lines.append(line)
    return "\r\n".join(lines), [(mid, c) for c in found]


class Session:
    """remote-helper in a folder of its own, on the test's display, and the aiortc peer viewing it."""

    def __init__(self, display, folder, exe):
        self.display, self.folder, self.exe = display, folder, exe
        self.answer = asyncio.get_running_loop().create_future()
        self.candidates = asyncio.Queue()
        self.states = []
        self.frames = asyncio.Queue()
        self.files_messages = asyncio.Queue()

    async def start(self):
        env = dict(os.environ, DISPLAY=self.display)
        self.process = await asyncio.create_subprocess_exec(
            *helper_program.command(program=self.exe), cwd=self.folder, env=env, stdin=asyncio.subprocess.PIPE,
            stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.DEVNULL)
        self.reader = asyncio.ensure_future(self._read_events())
        self.send({"cmd": "start", "sessionId": "aiortc", "mode": "control", "viewerName": "aiortc"})

    def send(self, command):
        self.process.stdin.write((json.dumps(command) + "\n").encode())

    async def _read_events(self):
        while line := await self.process.stdout.readline():
            event = json.loads(line)
            if event.get("evt") == "state":
                self.states.append(event["value"])
            elif event.get("evt") == "answer" and not self.answer.done():
                self.answer.set_result(event["sdp"])
            elif event.get("evt") == "ice":
                self.candidates.put_nowait(event.get("candidate"))

    async def connect(self, trickle):
        self.pc = RTCPeerConnection()
        self.pc.addTransceiver("video", direction="recvonly")
        self.input = self.pc.createDataChannel("input")
        self.files = self.pc.createDataChannel("files")
        opened = {label: asyncio.Event() for label in ("input", "files")}
        for channel in (self.input, self.files):
            channel.on("open", opened[channel.label].set)
        self.files.on("message", self.files_messages.put_nowait)

        @self.pc.on("track")
        def on_track(track):
            async def pull():
                try:
                    while True:
                        await self.frames.put(await track.recv())
                except MediaStreamError:
                    pass  # the session ended
            asyncio.ensure_future(pull())

        await self.pc.setLocalDescription(await self.pc.createOffer())
        offer = self.pc.localDescription.sdp
        bare, candidates = split_candidates(offer)
        self.send({"cmd": "offer", "sdp": bare if trickle else offer})
        if trickle:
            for mid, candidate in candidates:
                self.send({"cmd": "ice", "candidate": {"candidate": candidate, "sdpMid": mid}})
        answer = await asyncio.wait_for(self.answer, STEP_TIMEOUT)
        await self.pc.setRemoteDescription(RTCSessionDescription(answer, "answer"))
        self.taker = asyncio.ensure_future(self._take_candidates())
        for label in opened:
            await asyncio.wait_for(opened[label].wait(), STEP_TIMEOUT)
        return answer

    async def _take_candidates(self):
        while ice := await self.candidates.get():
            candidate = candidate_from_sdp(ice["candidate"].split(":", 1)[1])
            candidate.sdpMid = ice["sdpMid"]
            candidate.sdpMLineIndex = 0
            await self.pc.addIceCandidate(candidate)

    async def files_reply(self, kind):
        while True:
            message = await asyncio.wait_for(self.files_messages.get(), STEP_TIMEOUT)
            if isinstance(message, str) and json.loads(message).get("t") in (kind, "error"):
                return json.loads(message)

    async def close(self):
        if getattr(self, "pc", None):
            await self.pc.close()
        if self.process.returncode is None:
            self.process.kill()
            await self.process.wait()
        self.reader.cancel()
        if getattr(self, "taker", None):
            self.taker.cancel()


@unittest.skipIf(RTCPeerConnection is None, "needs python3-aiortc, python3-av and python3-numpy")
class AiortcViewer(unittest.TestCase):
    def setUp(self):
        if helper_program.emulated():
            # Wine's desktop lives on the display its server started with.
            self.display = os.environ["DISPLAY"]
        else:
            xvfb = PrivateXvfb(f"{WIDTH}x{HEIGHT}").__enter__()
            self.addCleanup(xvfb.__exit__)
            self.display = xvfb.name
        self.x_env = dict(os.environ, DISPLAY=self.display)
        info = subprocess.run(["xdpyinfo"], env=self.x_env, capture_output=True, text=True, check=True).stdout
        self.width, self.height = map(int, re.search(r"dimensions:\s+(\d+)x(\d+)", info).groups())
        self.folder, self.exe = helper_program.folder(self, copy=True)

    def test_whole_session_with_trickled_candidates_and_with_candidates_in_the_offer(self):
        for trickle in (True, False):
            with self.subTest(trickle=trickle):
                asyncio.run(self.story(trickle))

    async def story(self, trickle):
        subprocess.run(["xsetroot", "-solid", "#%02x%02x%02x" % SCREEN_RGB], env=self.x_env, check=True)
        session = Session(self.display, self.folder, self.exe)
        await session.start()
        try:
            answer = await session.connect(trickle)
            # The data channel section answers in the form it was offered in.
            self.assertIn("m=application 9 DTLS/SCTP 5000\r\n", answer)
            self.assertIn("a=sctpmap:5000 webrtc-datachannel", answer)
            await self.check_video(session)
            await self.check_picture_loss(session, answer)
            await self.check_pointer(session)
            await self.check_files(session)
            session.send({"cmd": "stop"})
            session.process.stdin.close()
            self.assertEqual(await asyncio.wait_for(session.process.wait(), STEP_TIMEOUT), 0)
            self.assertIn("connected", session.states)
        finally:
            await session.close()

    async def check_video(self, session):
        frame = await asyncio.wait_for(session.frames.get(), STEP_TIMEOUT)
        self.assertEqual((frame.width, frame.height), (self.width, self.height))
        planes = frame.to_ndarray(format="yuv420p")
        chroma = planes[self.height:].reshape(-1)
        y = float(numpy.median(planes[:self.height]))
        u, v = (float(numpy.median(half)) for half in numpy.split(chroma, 2))
        for got, want in zip(rgb_from_bt709_limited(y, u, v), SCREEN_RGB):
            self.assertAlmostEqual(got, want, delta=2, msg=f"YUV {y} {u} {v}")

    async def painted_frames(self, session, seconds, until_key_frame=False):
        """Whether each frame decoded while the screen changes colour every 100 ms is a key frame."""
        seen, step = [], 0
        end = asyncio.get_running_loop().time() + seconds
        while asyncio.get_running_loop().time() < end and not (until_key_frame and any(seen)):
            step += 1
            subprocess.run(["xsetroot", "-solid", "#%02x50c8" % (step * 16 % 256)], env=self.x_env, check=True)
            await asyncio.sleep(0.1)
            while not session.frames.empty():
                seen.append(session.frames.get_nowait().key_frame)
        return seen

    async def check_picture_loss(self, session, answer):
        changes = await self.painted_frames(session, 1.5)
        self.assertTrue(changes and not any(changes), f"key frames among changes: {changes}")
        receiver = next(t.receiver for t in session.pc.getTransceivers() if t.kind == "video")
        await receiver._send_rtcp_pli(int(re.search(r"a=ssrc:(\d+) ", answer).group(1)))
        self.assertTrue(any(await self.painted_frames(session, STEP_TIMEOUT, until_key_frame=True)))

    async def check_pointer(self, session):
        session.input.send(json.dumps({"type": "move", "x": 0.25, "y": 0.5}))
        want = (self.width // 4, self.height // 2)
        for _ in range(100):
            where = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=self.x_env, capture_output=True,
                                   text=True, check=True).stdout
            fields = dict(line.split("=", 1) for line in where.split())
            got = (int(fields["X"]), int(fields["Y"]))
            if abs(got[0] - want[0]) <= 1 and abs(got[1] - want[1]) <= 1:
                return
            await asyncio.sleep(0.1)
        self.fail(f"the pointer is at {got}, not {want}")

    async def check_files(self, session):
        self.assertEqual((await session.files_reply("hello"))["t"], "hello")
        content = os.urandom(DOWNLOAD_BYTES)
        with open(os.path.join(self.folder, "report.bin"), "wb") as f:
            f.write(content)
        session.files.send(json.dumps({"t": "get", "path": os.path.join(self.folder, "report.bin")}))
        self.assertEqual((await session.files_reply("get-meta"))["size"], DOWNLOAD_BYTES)
        received = hashlib.sha256()
        while True:
            message = await asyncio.wait_for(session.files_messages.get(), STEP_TIMEOUT)
            if isinstance(message, bytes):
                received.update(message)
                continue
            self.assertEqual(json.loads(message)["t"], "get-done", message)
            break
        self.assertEqual(received.hexdigest(), hashlib.sha256(content).hexdigest())


if __name__ == "__main__":
    helper_program.main()
