'use strict';
// Remote support across NATs: the host and the supporter each behind a
// router that admits no inbound connection, the support server on a public
// address (lab.js). Run twice: with direct UDP between the two routers, and
// with it blocked, so that media can only go through TURN.
const test = require('node:test');
const assert = require('node:assert');
const { execFile, execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Lab, ADDRESSES, REPO, SERVER_IP } = require('./lab');
const { BUILD_DIR, poll, startXvfb, startPainter, pointerReaches, videoStats } = require('../browser/driver');

const AGENT = path.join(BUILD_DIR, 'src/agent/remote-agent');
const WIN_RELEASE = path.join(process.env.DRAVNOK_WIN_BUILD_DIR || path.join(REPO, 'build/win'), 'release');
const WIN_PROGRAMS = ['remote-agent.exe', 'remote-helper.exe', 'dravnok-input-relay.exe'];
const WINE_ENV = { WINEPREFIX: process.env.DRAVNOK_WINE_NETWORK_PREFIX || path.join(os.homedir(),
  '.cache/dravnok/wineprefix-network'), WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=' };
const HELPER = path.join(BUILD_DIR, 'src/host/remote-helper');
const BROKER_CLIENT = path.join(REPO, 'deploy/nats/broker_client.py');

// Listens on TCP and UDP port 7000 and prints what reaches it; knocks on
// both at an address and prints how the TCP connection went.
const LISTEN = `const net = require('node:net'), dgram = require('node:dgram');
net.createServer((s) => { console.log('tcp'); s.destroy(); }).listen(7000);
dgram.createSocket('udp4').on('message', () => console.log('udp')).bind(7000, () => console.log('ready'));`;
const KNOCK = `const net = require('node:net'), dgram = require('node:dgram');
const ip = process.argv.at(-1), udp = dgram.createSocket('udp4');
udp.send('knock', 7000, ip, () => udp.close());
const s = net.connect({ host: ip, port: 7000, timeout: 1500 });
s.on('connect', () => { console.log('connected'); s.destroy(); });
s.on('timeout', () => { console.log('timeout'); s.destroy(); });
s.on('error', (e) => console.log(e.code));`;

const knock = (lab, from, ip) => new Promise((resolve) =>
  execFile('ip', ['netns', 'exec', lab.ns[from], 'node', '-e', KNOCK, ip], (e, out) => resolve(out.trim())));

// The types of the candidates the viewer page's peer connection selected.
const selectedPair = (page) => page.evaluate(async () => {
  const stats = [...(await window.dravnokViewer.pc.getStats()).values()];
  const transport = stats.find((s) => s.type === 'transport' && s.selectedCandidatePairId);
  const pair = transport && stats.find((s) => s.id === transport.selectedCandidatePairId);
  const type = (id) => stats.find((s) => s.id === id).candidateType;
  return pair ? [type(pair.localCandidateId), type(pair.remoteCandidateId)] : null;
});

for (const udpBlocked of [false, true]) {
  test.describe(udpBlocked ? 'UDP between the two sides blocked' : 'direct UDP between the two sides', () => {
    let lab;
    let server;
    test.before(async () => {
      lab = new Lab({ udpBlocked });
      server = await lab.startServer();
    });
    test.after(() => lab && lab.close());

    test('the routers let nothing in: neither TCP nor UDP reaches the host or the supporter', async () => {
      for (const [side, router, other] of [['host', 'hostnat', 'supporter'], ['supporter', 'supnat', 'host']]) {
        const listener = lab.spawn(lab.ns[side], ['node', '-e', LISTEN]);
        await listener.waitLine(/ready/);
        const tries = [['server', ADDRESSES[router]], ['server', ADDRESSES[side]], [other, ADDRESSES[router]],
          [other, ADDRESSES[side]], ['wan', ADDRESSES[side]]];
        const outcomes = await Promise.all(tries.map(([from, ip]) => knock(lab, from, ip)));
        assert.deepStrictEqual(outcomes, tries.map(() => 'timeout'), `${side}: ${JSON.stringify(tries)}`);
        // The same knock from inside its LAN gets in: the listener was there.
        assert.strictEqual(await knock(lab, router, ADDRESSES[side]), 'connected');
        await poll('the LAN knock', () => listener.lines.join(' '), (l) => /tcp/.test(l) && /udp/.test(l));
        assert.deepStrictEqual(listener.lines.filter((l) => l !== 'ready').sort(), ['tcp', 'udp']);
        await lab.stop(listener);
      }
    });

    test('both sides reach the broker out through their NATs, each receiving on its own subject only', async () => {
      const probe = (side, role) => lab.spawn(lab.ns[side], ['/usr/bin/python3', BROKER_CLIENT, 'probe', '--server',
        server.origin, '--ca', server.ca, '--role', role, '--signers', server.signers]);
      for (const client of [probe('host', 'host'), probe('supporter', 'viewer')]) {
        const { subject, refused } = JSON.parse((await client.waitLine(/^\{.*/))[0]);
        // Everything but its own subject: the wildcards, another key's subject, the inboxes.
        assert.strictEqual(refused.length, 5, refused.join(' '));
        assert.ok(!refused.includes(subject) && refused.includes('>') && refused.includes('dv1.*'));
      }

      // The page's way in: nginx lets only a supporter have the page and its file, which lists the three ways to
      // the relay. (The page reaching the host through the broker's WebSocket is the session's to show.)
      const status = (url, login = []) => lab.in(lab.ns.supporter, ['curl', '-s', '-o', '/dev/null', '-w',
        '%{http_code}', '--cacert', server.ca, ...login, server.origin + url]);
      const files = ['/', '/supporter/dravnok-supporter.json', '/dravnok-server.json', '/vendor/nats.js'];
      const ann = ['-u', `ann:${server.password}`];
      assert.deepStrictEqual(files.map((url) => status(url)), ['401', '401', '200', '401']);
      assert.deepStrictEqual(files.map((url) => status(url, ann)), ['200', '200', '200', '200']);
      assert.strictEqual(status('/', ['-u', 'ann:wrong']), '401');
      const description = lab.in(lab.ns.supporter, ['curl', '-s', '--cacert', server.ca, ...ann,
        `${server.origin}/supporter/dravnok-supporter.json`]);
      assert.strictEqual(JSON.parse(description).turn.urls.length, 3);
    });

    // Whether media crosses the NATs straight or through the relay is the
    // session's to show, with our programs at both ends.
    test('the TURN relay reaches public peers only: a channel to a peer in a private range is refused',
      { skip: udpBlocked && 'once' }, async () => {
        const uclient = (peer) => new Promise((resolve) => execFile('ip', ['netns', 'exec', lab.ns.host,
          'turnutils_uclient', '-v', '-W', server.turnSecret, '-u', 'probe', '-e', peer, '-r', '7000', '-n', '1', '-c',
          SERVER_IP], { timeout: 4000 }, (e, out, err) => resolve(out + err)));
        const [open, shut] = await Promise.all([uclient(ADDRESSES.supnat), uclient(ADDRESSES.supporter)]);
        assert.match(open, /channel bind sent[^]*success: 0x/);
        assert.doesNotMatch(open, /Forbidden/);
        assert.match(shut, /channel bind: error 403 \(Forbidden IP\)/);
      });

    // The supporter opens the link that the agent (argv, in the host's
    // namespace, on a private X desktop) prints: the picture comes, a pointer
    // move lands, and the host listens on no TCP port. Under Wine, with a
    // wine server of that display started in the host's namespace.
    async function session(t, argv, { wine = false, limitMs = 30000 } = {}) {
      const x = await startXvfb('1280x720x24');
      const painter = startPainter(x.env);
      const env = wine ? { ...x.env, ...WINE_ENV } : x.env;
      t.after(() => {
        painter.stop();
        if (wine) spawnSync('wineserver', ['-k'], { env });
        return x.stop();
      });
      if (wine) {
        spawnSync('wineserver', ['-k'], { env });
        lab.in(lab.ns.host, ['wineboot', '-i'], { env, timeout: 180000 });
      }
      const agent = lab.spawn(lab.ns.host, argv, { env });
      const [, link] = await agent.waitLine(/^Give the supporter this link: (https:\S+)$/, limitMs);
      const printedAt = Date.now();
      assert.ok(link.startsWith(`${server.origin}/#k=`), link);
      const { page } = await lab.launchChromium();
      await page.goto(link);
      const frames = () => videoStats(page).then((s) => (s ? s.framesDecoded : 0));
      await poll('the first picture', frames, (n) => n > 0, limitMs);
      t.diagnostic(`link printed to first picture: ${Date.now() - printedAt} ms (${udpBlocked ? 'relayed' : 'direct'})`);
      await poll('the picture', frames, (n) => n > 5, limitMs);
      await page.evaluate(() => window.dravnokViewer.sendInput({ type: 'move', x: 0.25, y: 0.5 }));
      await pointerReaches(x.env, 320, 360, 2);
      assert.deepStrictEqual(lab.listeningTcp(lab.ns.host), []);
      return { agent, link, page, frames };
    }

    test('a session: the supporter opens the link, sees the picture and moves the pointer; the broker restarts; ' +
      'the page\'s stop ends the helper', async (t) => {
      const { agent, link, page, frames } = await session(t, [AGENT, '--server', server.origin, '--server-ca',
        server.ca, '--helper', HELPER]);
      // Without UDP between the sides only the relay carries media; with it, the NATs' own addresses do
      // (ICE may try the relay first and move on once both NATs let its checks through).
      await poll(udpBlocked ? 'a relayed pair' : 'a direct pair', () => selectedPair(page),
        (pair) => pair && pair.includes('relay') === udpBlocked, 15000);

      // The broker goes away and comes back: the picture goes on, and the agent is back on the broker (a
      // second supporter with the same link hears that the host is busy).
      const before = await frames();
      process.kill(Number(fs.readFileSync(path.join(server.state, 'run/nats.pid'), 'utf8')), 'SIGKILL');
      await server.child.waitLine(/nats-server ended .* starting it again/);
      await poll('frames after the restart', frames, (n) => n > before + 30, 15000);
      const second = await lab.launchChromium();
      await second.page.goto(link);
      await poll('the busy notice', () => second.page.textContent('body'), (text) => /busy/i.test(text), 30000);
      await poll('frames still', frames, (n) => n > before + 60, 15000);
      await second.close();
      await page.click('#disconnect');
      await agent.waitLine(/remote-helper exited with code 0/, 30000);
    });

    // The Windows product: the release folder's programs alone in a folder.
    test('the Windows release folder under Wine: the same session through the support server',
      { skip: (udpBlocked || !fs.existsSync(WIN_RELEASE)) && 'once, with the Windows build' }, async (t) => {
        const folder = fs.mkdtempSync(path.join(lab.dir, 'release-'));
        for (const program of WIN_PROGRAMS) fs.copyFileSync(path.join(WIN_RELEASE, program), path.join(folder, program));
        const { agent, page } = await session(t, ['wine', path.join(folder, 'remote-agent.exe'), '--server',
          server.origin, '--server-ca', `Z:${server.ca.replaceAll('/', '\\')}`], { wine: true, limitMs: 60000 });
        await page.click('#disconnect');
        await agent.waitLine(/remote-helper exited with code 0/, 30000);
      });
  });
}

// The support server's script rejects what would make a broken or unsafe configuration before it touches anything.
test('support-server.sh refuses bad arguments', () => {
  for (const args of [[], ['--public-name', 'a b'], ['--public-name', 'x', '--cert', '/etc/hostname'],
    ['--public-name', 'x', '--https-port', '70000'], ['--public-name', 'x', '--relay-ports', '5000-4000']]) {
    const run = () => execFileSync(path.join(REPO, 'scripts/support-server.sh'),
      [...args, '--state', '/nonexistent/x', '--prepare-only'], { stdio: 'pipe', timeout: 30000 });
    assert.throws(run, (e) => e.status > 0 && !fs.existsSync('/nonexistent'), args.join(' '));
  }
});
