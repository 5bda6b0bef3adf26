// The client module against the real program: what the module itself does
// with its arguments, the replies and the connection, over protocol 2 and
// over the original protocol. One program serves the whole file; each test
// connects afresh, as successive pages would.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { mkdtempSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { WebSocket, WebSocketServer } from 'ws';

import { CorvelClient, CorvelError } from '../corvel-client.js';
import { buildDir, freePort, ProgramUnderTest, testPlugin, until } from './support/program.js';

const program = new ProgramUnderTest();
// No allowed-origins file of the user's lets a page in, and the catalogue's cache is the test's own.
const cache = mkdtempSync(path.join(tmpdir(), 'corvel-cache-'));
before(() => program.start({ XDG_CONFIG_HOME: '/nonexistent', XDG_CACHE_HOME: cache }));
after(async () => {
  const exit = await program.stop();
  rmSync(cache, { recursive: true, force: true });
  assert.deepEqual(exit, { code: 0, signal: null }, `the program did not end cleanly:\n${program.errors}`);
});

/** Runs `body(client)` with a newly connected client, closed afterwards (which unloads its plug-in). */
async function session(body, options = {}) {
  program.markLog();
  // The previous test's connection may still be closing on the program's side.
  const client = await CorvelClient.connect(program.url, { WebSocket, attempts: 50, retryDelayMs: 50, ...options });
  try {
    await body(client);
  } finally {
    await client.close();
  }
}

const constant = (frames, value) => new Float32Array(frames).fill(value);
const refusedWith = (code) => (error) => error instanceof CorvelError && error.code === code;

test('connect sends the chosen settings; bad arguments are refused unsent; MIDI goes out with its offsets', async () => {
  await session(async (client) => {
    assert.deepEqual([client.version, client.protocol, client.limits.maxBlockFrames, client.blockSize, client.sampleRate],
      ['0.1.0', 2, 16384, 256, 48000]);
    await until(() => /buffer size to 256\n[^]*sample rate to 48000\n/.test(program.output), () => program.output);
    const bad = [client.setBlockSize(0), client.setBlockSize(16385), client.setBlockSize(1.5),
      client.setSampleRate(-1), client.midi([[144, 60]]), client.midi([[144, 60, 256]]),
      client.midi([[144, 60, 100, -1]]), client.load(''), client.scan('a\0b'),
      client.process(new Float32Array(512), new Float32Array(512)), client.setState('text')];
    for (const call of bad) await assert.rejects(call, refusedWith('argument'));
    // A malformed command would have closed the connection before this load.
    await client.load(testPlugin('test_synth'));
    await client.midi([[0x90, 64, 127, 100], { status: 0x80, data1: 64, data2: 0, offset: 10 }, { status: 0xb0, data1: 7, data2: 99 }]);
    await client.process(constant(256, 0), constant(256, 0));
    assert.match(program.pluginLog(), /event status=144 data1=64 data2=127 delta=100 .*\nevent status=128 data1=64 data2=0 delta=10 .*\nevent status=176 data1=7 data2=99 delta=0 /);
    // Inside the block, on their frames.
    program.markLog();
    await client.process(constant(256, 0), constant(256, 0), [[0x90, 61, 1, 255], [0x80, 62, 2]]);
    assert.match(program.pluginLog(), /event status=144 data1=61 data2=1 delta=255 .*\nevent status=128 data1=62 data2=2 delta=0 /);
    await assert.rejects(client.process(constant(256, 0), constant(256, 0), [[0x90, 61]]), refusedWith('argument'));
    // The program's own code and message.
    await client.unload();
    await assert.rejects(client.showGui(), (error) => refusedWith('no-plugin')(error) && /Load a plug-in first/.test(error.message));
  }, { blockSize: 256, sampleRate: 48000 });
});

test('connect tells apart nothing listening, a foreign server, a refused page and a companion that predates protocol 2', async () => {
  const nothing = `ws://127.0.0.1:${await freePort()}/`;
  await assert.rejects(CorvelClient.connect(nothing, { WebSocket, attempts: 2, retryDelayMs: 50 }),
    (error) => refusedWith('unreachable')(error) && /not running/.test(error.message));

  const server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  server.on('connection', (socket) => socket.send('hello from elsewhere'));
  await once(server, 'listening');
  await assert.rejects(CorvelClient.connect(`ws://127.0.0.1:${server.address().port}/`, { WebSocket }), refusedWith('protocol'));
  server.close();

  // It accepts any subprotocol offered, as programs before protocol 2 did, and greets with the banner.
  const older = new WebSocketServer({ host: '127.0.0.1', port: 0, handleProtocols: (offered) => [...offered][0] });
  const received = [];
  older.on('connection', (socket) => {
    socket.on('message', (data) => {
      received.push(String(data));
      if (String(data) === 'scanVSTs') socket.send('["/older/gain.so"]');
    });
    socket.send('corvel studio plugin loader\nversion 0.0.9');
  });
  await once(older, 'listening');
  const client = await CorvelClient.connect(`ws://127.0.0.1:${older.address().port}/`, { WebSocket });
  try {
    assert.deepEqual([client.version, client.protocol], ['0.0.9', 1]);
    assert.deepEqual(await client.scan(), ['/older/gain.so']);
    await assert.rejects(client.catalogue(), refusedWith('unsupported'));
    assert.deepEqual(received, ['bufsize 1024', 'sampleRate 44100', 'scanVSTs']);
  } finally {
    await client.close();
    older.close();
  }

  const page = 'https://daw.example';
  class PageSocket extends WebSocket {
    constructor(url, protocols) { super(url, protocols, { origin: page }); }
  }
  globalThis.location = new URL(page + '/studio');
  try {
    const advice = /refused this page \(https:\/\/daw\.example\).*"Corvel VST\/Remote" dialog.*allowed-origins/;
    await assert.rejects(CorvelClient.connect(program.url, { WebSocket: PageSocket, attempts: 1 }),
      (error) => refusedWith('refused')(error) && advice.test(error.message));
  } finally {
    delete globalThis.location;
  }
});

for (const protocol of [2, 1]) test(`protocol ${protocol}: blocks go out planar and come back in order among every other answer, null where nothing processes them; close refuses later calls`, async () => {
  await session(async (client) => {
    assert.equal(client.protocol, protocol);
    assert.equal(await client.process(constant(1024, 0), constant(1024, 0)), null);
    await client.load(testPlugin('test_chunks'));  // halves its input, keeps a 1000-byte state
    const left = Float32Array.from({ length: 1024 }, (_, i) => i / 1024 - 1);
    const block = await client.process(left, constant(1024, 0.25));
    assert.deepEqual([block.left, block.right, block.channels, block.midi],
      [left.map((x) => x / 2), constant(1024, 0.125), [block.left, block.right], []]);

    const first = client.process(constant(1024, 1), constant(1024, 1));
    await client.setBlockSize(32);
    const calls = [];
    const expected = [];
    const ask = (call, expect) => { calls.push(call); expected.push(expect); };
    for (let n = 0; n < 50; n++) {
      ask(client.process(constant(32, n), constant(32, -n)).then((b) => b && [b.left.length, b.left[0], b.right[31]]),
        n >= 10 && n <= 14 ? null : [32, n / 2, -n / 2]);  // suspended from 9 to 14
      if (n % 5 === 0) ask(client.getState().then((state) => state.length), 1000);
      if (n % 7 === 0) ask(client.scan('/nonexistent').then(Array.isArray), true);
      if (n === 9) ask(client.suspend(), true);
      if (n === 14) ask(client.resume(), false);
    }
    assert.equal((await first).left.length, 1024);
    assert.deepEqual(await Promise.all(calls), expected);
    await client.unload();
    assert.equal(await client.process(constant(32, 0), constant(32, 0)), null);
    const closing = client.close();
    const waiting = client.scan().catch((error) => error);
    assert.equal(typeof (await closing).code, 'number');
    const outcome = await waiting;  // it may have been answered before the close
    assert.ok(Array.isArray(outcome) || outcome.code === 'closed', String(outcome));
    await assert.rejects(client.resume(), refusedWith('closed'));
    await assert.rejects(client.process(constant(32, 0), constant(32, 0)), refusedWith('closed'));
  }, { protocol });
});

for (const protocol of [2, 1]) test(`protocol ${protocol}: load resolves to the latency, one at a time, and a failed one says why (protocol 2) or times out; states and odd paths travel as they are`, async () => {
  const folder = mkdtempSync(path.join(tmpdir(), 'corvel scan "quoted" é-'));
  const odd = path.join(folder, 'back\\slash "gain" ü.so');
  symlinkSync(testPlugin('test_gain'), odd);
  try {
    await session(async (client) => {
      assert.equal(await client.getState(), null);
      const seen = [];
      client.addEventListener('loaded', (event) => seen.push(event.latency));
      assert.equal(await client.load(testPlugin('test_latency64')), 64);
      assert.equal(client.latency, 64);
      assert.equal(await client.load(testPlugin('test_latency_neg3')), -3);
      assert.deepEqual(seen, [64, -3]);
      const missing = client.load('/nonexistent/plugin.so', { timeoutMs: 1500 });
      await assert.rejects(client.load(testPlugin('test_gain')), refusedWith('busy'));
      await assert.rejects(missing, (error) => error.code === (protocol === 2 ? 'not-found' : 'timeout') &&
        /nonexistent/.test(error.message));
      assert.equal(client.loaded, false);
      if (protocol === 2) {
        await assert.rejects(client.load(path.join(buildDir, 'CMakeCache.txt')), refusedWith('not-a-plugin'));
      }

      await client.load(testPlugin('test_chunks'));
      // As an ArrayBuffer; the browser test's page restores a Uint8Array.
      const saved = Uint8Array.from({ length: 333 }, (_, i) => (i * 7) & 0xff);
      await client.setState(saved.buffer);
      assert.deepEqual(await client.getState(), saved);

      assert.ok((await client.scan(folder)).includes(odd));
      assert.equal(await client.load(odd), 0);
      // Over protocol 2 a plug-in without a chunk of its own is kept by its parameters' values.
      const kept = await client.getState();
      if (protocol === 2) assert.equal(new TextDecoder().decode(kept.subarray(0, 8)), 'CVPARAM1');
      else assert.equal(kept, null, 'a plug-in without a state');
    }, { protocol });
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});

for (const protocol of [2, 1]) test(`protocol ${protocol}: a crash fires crashed, then ready and loaded once relaunched; once given up on, blocks come back null`, async () => {
  await session(async (client) => {
    const events = [];
    for (const type of ['crashed', 'ready', 'loaded']) {
      client.addEventListener(type, (event) => events.push([type, event.reason ?? event.latency ?? null]));
    }
    const eventCount = (count) => until(() => events.length >= count, () => JSON.stringify(events), 10000);
    await client.load(testPlugin('test_exit_in_process'));  // exits on a block that starts with -999
    assert.equal(await client.process(constant(1024, -999), constant(1024, 0)), null, 'the block in flight');
    await eventCount(5);
    assert.equal((await client.process(constant(1024, 1), constant(1024, 1)))?.left.length, 1024, 'blocks flow again');
    // One that crashes on opening is given up on: a block sent then would never be answered.
    client.load(testPlugin('test_exit_in_open')).catch(() => {});
    await eventCount(9);
    const unanswered = new Promise((resolve) => setTimeout(resolve, 2000, 'unanswered'));
    assert.equal(await Promise.race([client.process(constant(1024, 1), constant(1024, 1)), unanswered]), null);
    assert.deepEqual(events, [['ready', null], ['loaded', 0], ['crashed', 'exit 3'], ['ready', null], ['loaded', 0],
      ['crashed', 'exit 3'], ['crashed', 'exit 3'], ['crashed', 'exit 3'], ['crashed', 'gave up after 3 crashes']]);
  }, { protocol });
});

test('the catalogue names the plug-ins with their channels, lists a broken module apart with its reason, reports its progress, and its entries load', async (t) => {
  const folder = mkdtempSync(path.join(tmpdir(), 'corvel-catalogue-'));
  symlinkSync(testPlugin('test_gain'), path.join(folder, 'gain.so'));
  symlinkSync(testPlugin('test_synth'), path.join(folder, 'synth.so'));
  writeFileSync(path.join(folder, 'broken.so'), 'not a library');
  try {
    await session(async (client) => {
      const progress = [];
      const entries = await client.catalogue({ folder, onProgress: (step) => progress.push(step) }).catch((error) => {
        if (error.code !== 'unsupported') throw error;
        return null;
      });
      if (!entries) return t.skip('this program keeps no catalogue');
      const byFile = new Map(entries.filter((entry) => entry.path.startsWith(folder)).map((entry) => [path.basename(entry.path), entry]));
      const { gain, synth, broken } = Object.fromEntries([...byFile].map(([file, entry]) => [file.replace('.so', ''), entry]));
      assert.deepEqual([gain?.status, gain?.inputs, gain?.outputs, typeof gain?.name], ['ok', 2, 2, 'string'], JSON.stringify(entries));
      assert.deepEqual([synth?.status, synth?.category, synth?.midiIn], ['ok', 'instrument', true], JSON.stringify(synth));
      assert.ok(broken && broken.status !== 'ok' && broken.reason, JSON.stringify(broken));
      const last = progress.at(-1);
      assert.ok(last && last.done === last.total && last.total >= 3, JSON.stringify(progress));
      assert.equal(await client.load(gain), 0);
    });
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});

test('quit ends the program; a reply sent before it still arrives', async () => {
  // Last: this ends the file's program, which after() then finds ended cleanly.
  await session(async (client) => {
    const pending = client.suspend();
    assert.equal(typeof (await client.quit()).code, 'number');
    assert.equal(await pending, true, 'a reply sent before quitting still arrives');
    assert.deepEqual(await program.waitExit(), { code: 0, signal: null });
  });
});
