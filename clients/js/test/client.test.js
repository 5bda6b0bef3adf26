// The client module against the real program: what the module itself does
// with its arguments, the replies and the connection.
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { WebSocket, WebSocketServer } from 'ws';

import { CorvelClient, CorvelError } from '../corvel-client.js';
import { FakeCompanion } from './support/fake-companion.js';
import { freePort, ProgramUnderTest, testPlugin } from './support/program.js';
import { constant, ramp, session } from './support/session.js';

const refusedWith = (code) => (error) => error instanceof CorvelError && error.code === code;

test('connect reads the version and starts the host from the chosen settings', async () => {
  await session(async (client, program) => {
    assert.equal(client.version, '0.1.0');
    assert.equal(client.blockSize, 256);
    assert.equal(client.sampleRate, 48000);
    await program.waitForOutput('setting Host buffer size to 256\n');
    await program.waitForOutput('setting Host sample rate to 48000\n');
  }, { blockSize: 256, sampleRate: 48000 });
});

test('connect tells apart nothing listening, a foreign server and a refused page', async () => {
  const nothing = `ws://127.0.0.1:${await freePort()}/`;
  await assert.rejects(CorvelClient.connect(nothing, { WebSocket, attempts: 2, retryDelayMs: 50 }),
    (error) => refusedWith('unreachable')(error) && /not running/.test(error.message));

  const server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((resolve) => server.once('listening', resolve));
  server.on('connection', (socket) => socket.send('hello from elsewhere'));
  await assert.rejects(CorvelClient.connect(`ws://127.0.0.1:${server.address().port}/`, { WebSocket }),
    refusedWith('protocol'));
  for (const socket of server.clients) socket.terminate();
  await new Promise((resolve) => server.close(resolve));

  const program = new ProgramUnderTest({ XDG_CONFIG_HOME: '/nonexistent' });
  await program.start();
  const page = 'https://daw.example';
  class PageSocket extends WebSocket {
    constructor(url) { super(url, { origin: page }); }
  }
  globalThis.location = new URL(page + '/studio');
  try {
    await assert.rejects(CorvelClient.connect(program.url, { WebSocket: PageSocket, attempts: 1 }),
      (error) => refusedWith('unreachable')(error) && /"Corvel VST\/Remote" dialog/.test(error.message) &&
        /allowed-origins/.test(error.message) && error.message.includes(page));
  } finally {
    delete globalThis.location;
    await program.stop();
  }
});

test('arguments that cannot be sent are refused without sending', async () => {
  await session(async (client) => {
    const bad = [client.setBlockSize(0), client.setBlockSize(16385), client.setBlockSize(1.5),
      client.setSampleRate(-1), client.midi([[144, 60]]), client.midi([[144, 60, 256]]),
      client.midi([[144, 60, 100, -1]]), client.load(''), client.scan('a\0b'),
      client.process(new Float32Array(512), new Float32Array(512)), client.setState('text')];
    for (const call of bad) await assert.rejects(call, refusedWith('argument'));
    assert.equal(client.blockSize, 1024);
    // A malformed command would have closed the connection.
    assert.equal(await client.suspend(), true);
  });
});

test('blocks go out planar and come back in order, null where nothing processes them', async () => {
  await session(async (client) => {
    const silence = constant(1024, 0);
    assert.equal(await client.process(silence, silence), null);
    assert.equal(await client.load(testPlugin('test_gain')), 0);
    const left = ramp(1024, -1, 2 / 1024);
    const block = await client.process(left, constant(1024, 0.25));
    assert.deepEqual(Array.from(block.left), Array.from(left, (x) => x / 2));
    assert.deepEqual(Array.from(block.right), Array.from(constant(1024, 0.125)));

    const first = client.process(constant(1024, 1), constant(1024, 1));
    await client.setBlockSize(64);
    const sent = Array.from({ length: 100 }, (_, n) => client.process(constant(64, n), constant(64, -n)));
    assert.equal((await first).left.length, 1024);
    (await Promise.all(sent)).forEach((each, n) => assert.deepEqual([each.left.length, each.left[0], each.right[63]], [64, n / 2, -n / 2]));

    await client.suspend();
    assert.equal(await client.process(constant(64, 0), constant(64, 0)), null);
    await client.resume();
    await client.unload();
    assert.equal(await client.process(constant(64, 0), constant(64, 0)), null);
  });
});

test('answers of every kind interleave without mixing up', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_chunks'));
    await client.setBlockSize(32);
    const calls = [];
    const expected = [];
    for (let n = 0; n < 20; n++) {
      calls.push(client.process(constant(32, n), constant(32, n)).then((block) => ['block', block && block.left[0]]));
      expected.push(['block', n >= 10 && n <= 14 ? null : n / 2]);  // suspended from 9 to 14
      if (n % 5 === 0) calls.push(client.getState().then((state) => ['state', state && state.length]));
      if (n % 5 === 0) expected.push(['state', 1000]);
      if (n % 7 === 0) calls.push(client.scan('/nonexistent').then((paths) => ['scan', Array.isArray(paths)]));
      if (n % 7 === 0) expected.push(['scan', true]);
      if (n === 9 || n === 14) calls.push((n === 9 ? client.suspend() : client.resume()).then((bypass) => ['bypass', bypass]));
      if (n === 9 || n === 14) expected.push(['bypass', n === 9]);
    }
    assert.deepEqual(await Promise.all(calls), expected);
  });
});

test('load resolves to the latency, one at a time, and a failed one times out', async () => {
  await session(async (client) => {
    const seen = [];
    client.addEventListener('loaded', (event) => seen.push(event.latency));
    assert.equal(await client.load(testPlugin('test_latency64')), 64);
    assert.equal(client.latency, 64);
    assert.equal(await client.load(testPlugin('test_latency_neg3')), -3);
    assert.deepEqual(seen, [64, -3]);
    const missing = client.load('/nonexistent/plugin.so', { timeoutMs: 1500 });
    await assert.rejects(client.load(testPlugin('test_gain')), refusedWith('busy'));
    await assert.rejects(missing, (error) => error.code === 'timeout' && /nonexistent/.test(error.message));
    assert.equal(client.loaded, false);
    assert.equal(await client.getState(), null);
  });
});

test('MIDI events are sent as arrays or objects, with their offsets', async () => {
  await session(async (client, program) => {
    await client.load(testPlugin('test_synth'));
    await client.midi([[0x90, 64, 127, 100], { status: 0x80, data1: 64, data2: 0, offset: 10 }, { status: 0xb0, data1: 7, data2: 99 }]);
    await client.process(constant(1024, 0), constant(1024, 0));
    assert.match(program.pluginLog(), /event status=144 data1=64 data2=127 delta=100 .*\nevent status=128 data1=64 data2=0 delta=10 .*\nevent status=176 data1=7 data2=99 delta=0 /);
  });
});

test('states travel as bytes either way, and null where there is none', async () => {
  await session(async (client) => {
    assert.equal(await client.getState(), null);
    await client.load(testPlugin('test_chunks'));
    const initial = await client.getState();
    assert.ok(initial instanceof Uint8Array && initial.length === 1000);
    const saved = Uint8Array.from({ length: 333 }, (_, i) => (i * 7) & 0xff);
    await client.setState(saved);
    assert.deepEqual(await client.getState(), saved);
    await client.setState(initial.slice().buffer);
    assert.deepEqual(await client.getState(), initial);
    await client.load(testPlugin('test_gain'));
    assert.equal(await client.getState(), null);
  });
});

test('scan returns paths that needed escaping as they are', async () => {
  const folder = mkdtempSync(path.join(tmpdir(), 'corvel scan "quoted" é-'));
  try {
    const odd = path.join(folder, 'back\\slash "gain" ü.so');
    symlinkSync(testPlugin('test_gain'), odd);
    await session(async (client) => {
      assert.ok((await client.scan(folder)).includes(odd));
      assert.equal(await client.load(odd), 0);
    });
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});

test('close and quit end the connection, and calls after it are refused', async () => {
  await session(async (client) => {
    const closing = client.close();
    const waiting = client.scan().catch((error) => error);
    assert.equal(typeof (await closing).code, 'number');
    assert.equal(client.connected, false);
    const outcome = await waiting;  // it may have been answered before the close
    assert.ok(Array.isArray(outcome) || outcome.code === 'closed', String(outcome));
    await assert.rejects(client.resume(), refusedWith('closed'));
    await assert.rejects(client.process(new Float32Array(1024), new Float32Array(1024)), refusedWith('closed'));
  });
  const program = new ProgramUnderTest();
  await program.start();
  try {
    const client = await CorvelClient.connect(program.url, { WebSocket });
    const pending = client.suspend();
    assert.equal(typeof (await client.quit()).code, 'number');
    assert.equal(await pending, true, 'a reply sent before quitting still arrives');
    assert.deepEqual(await program.waitExit(), { code: 0, signal: null });
  } finally {
    await program.stop();
  }
});

test('a crash report fires crashed, holds blocks back until the relaunch, then fires loaded', async () => {
  const fake = await FakeCompanion.start(0);
  const client = await CorvelClient.connect(fake.url, { WebSocket, blockSize: 4 });
  try {
    await client.load('/plug-in.so');
    const events = [];
    for (const type of ['crashed', 'ready', 'loaded']) {
      client.addEventListener(type, (event) => events.push([type, event.reason ?? event.latency ?? null]));
    }
    const next = (type) => new Promise((resolve) => client.addEventListener(type, resolve, { once: true }));
    const block = new Float32Array([1, 2, 3, 4]);
    fake.crash('signal 11');
    await next('crashed');
    assert.equal(client.loaded, false);
    assert.equal(await client.process(block, block), null, 'no block is sent while the plug-in is away');
    fake.relaunch(7);
    await next('loaded');
    assert.deepEqual(events, [['crashed', 'signal 11'], ['ready', null], ['loaded', 7]]);
    assert.equal(client.latency, 7);
    assert.deepEqual(Array.from((await client.process(block, block)).left), [1, 2, 3, 4]);
  } finally {
    await client.close();
    await fake.close();
  }
});
