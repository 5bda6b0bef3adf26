import assert from 'node:assert/strict';
import { test } from 'node:test';
import { WebSocket, WebSocketServer } from 'ws';

import { CorvelClient, CorvelError } from '../corvel-client.js';
import { FakeCompanion } from './support/fake-companion.js';
import { freePort, ProgramUnderTest } from './support/program.js';
import { session } from './support/session.js';

test('connect resolves on the greeting and reports the version', async () => {
  await session(async (client, program) => {
    assert.equal(client.version, '0.1.0');
    assert.equal(client.connected, true);
    assert.equal(client.blockSize, 1024);
    assert.equal(client.sampleRate, 44100);
    // A new connection starts from the program's start-up settings.
    await program.waitForOutput('setting Host sample rate to 44100\n');
  });
});

test('connect sends the chosen block size and sample rate', async () => {
  await session(async (client, program) => {
    assert.equal(client.blockSize, 256);
    assert.equal(client.sampleRate, 48000);
    await program.waitForOutput('setting Host buffer size to 256\n');
    await program.waitForOutput('setting Host sample rate to 48000\n');
  }, { blockSize: 256, sampleRate: 48000 });
});

test('connect rejects when nothing listens', async () => {
  const port = await freePort();
  await assert.rejects(
    CorvelClient.connect(`ws://127.0.0.1:${port}/`, { WebSocket, attempts: 2, retryDelayMs: 50 }),
    (error) => error instanceof CorvelError && error.code === 'unreachable' && /not running/.test(error.message));
});

test('a page the companion refuses learns of the dialog and the allow-list file', async () => {
  const program = new ProgramUnderTest({ XDG_CONFIG_HOME: '/nonexistent' });
  await program.start();
  const page = 'https://daw.example';
  class PageSocket extends WebSocket {
    constructor(url) { super(url, { origin: page }); }
  }
  globalThis.location = new URL(page + '/studio');
  try {
    await assert.rejects(
      CorvelClient.connect(program.url, { WebSocket: PageSocket, attempts: 1 }),
      (error) => error.code === 'unreachable' && /"Corvel VST\/Remote" dialog/.test(error.message) &&
        /allowed-origins/.test(error.message) && error.message.includes(page));
    await program.waitForOutput(`WS refused origin ${page}\n`);
  } finally {
    delete globalThis.location;
    await program.stop();
  }
});

test('connect rejects a server that greets with anything else', async () => {
  const server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((resolve) => server.once('listening', resolve));
  server.on('connection', (socket) => socket.send('hello from elsewhere'));
  try {
    await assert.rejects(
      CorvelClient.connect(`ws://127.0.0.1:${server.address().port}/`, { WebSocket }),
      (error) => error instanceof CorvelError && error.code === 'protocol');
  } finally {
    for (const socket of server.clients) socket.terminate();
    await new Promise((resolve) => server.close(resolve));
  }
});

test('a second client connects beside the first, each a session of its own', async () => {
  await session(async (first, program) => {
    const second = await CorvelClient.connect(program.url, { WebSocket });
    assert.equal(second.version, '0.1.0');
    assert.equal(await second.suspend(), true);
    assert.equal(await first.resume(), false);
    await second.close();
  });
});

test('close fires a close event, rejects waiting calls and later ones', async () => {
  await session(async (client) => {
    const events = [];
    client.addEventListener('close', (event) => events.push(event));
    const closing = client.close();
    // The scan may still be answered before the close completes.
    const waiting = client.scan().catch((error) => error);
    const event = await closing;
    // The program ends the connection without a close frame of its own.
    assert.equal(typeof event.code, 'number');
    assert.equal(events.length, 1);
    assert.equal(client.connected, false);
    const outcome = await waiting;
    assert.ok(Array.isArray(outcome) || outcome.code === 'closed', String(outcome));
    await assert.rejects(client.resume(), (error) => error.code === 'closed');
    await assert.rejects(client.process(new Float32Array(1024), new Float32Array(1024)),
      (error) => error.code === 'closed');
  });
});

test('quit ends the program and resolves with the close', async () => {
  const program = new ProgramUnderTest();
  await program.start();
  try {
    const client = await CorvelClient.connect(program.url, { WebSocket });
    const pending = client.suspend();
    const event = await client.quit();
    assert.equal(typeof event.code, 'number');
    assert.equal(await pending, true, 'a reply sent before quitting still arrives');
    assert.equal(client.connected, false);
    assert.deepEqual(await program.waitExit(), { code: 0, signal: null });
  } finally {
    await program.stop();
  }
});

test('arguments that cannot be sent are refused without sending', async () => {
  await session(async (client) => {
    await assert.rejects(client.setBlockSize(0), (error) => error.code === 'argument');
    await assert.rejects(client.setBlockSize(16385), (error) => error.code === 'argument');
    await assert.rejects(client.setBlockSize(1.5), (error) => error.code === 'argument');
    await assert.rejects(client.setSampleRate(-1), (error) => error.code === 'argument');
    await assert.rejects(client.midi([[144, 60]]), (error) => error.code === 'argument');
    await assert.rejects(client.midi([[144, 60, 256]]), (error) => error.code === 'argument');
    await assert.rejects(client.midi([[144, 60, 100, -1]]), (error) => error.code === 'argument');
    await assert.rejects(client.load(''), (error) => error.code === 'argument');
    await assert.rejects(client.scan('a\0b'), (error) => error.code === 'argument');
    await assert.rejects(client.process(new Float32Array(512), new Float32Array(512)),
      (error) => error.code === 'argument');
    await assert.rejects(client.setState('text'), (error) => error.code === 'argument');
    assert.equal(client.blockSize, 1024);
    // Nothing above reached the program: a malformed command would have closed it.
    assert.equal(await client.suspend(), true);
    assert.equal(client.connected, true);
  });
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
    const block = new Float32Array([1, 2, 3, 4]);
    fake.crash('signal 11');
    await new Promise((resolve) => client.addEventListener('crashed', resolve, { once: true }));
    assert.equal(client.loaded, false);
    assert.equal(await client.process(block, block), null, 'no block is sent while the plug-in is away');
    fake.relaunch(7);
    await new Promise((resolve) => client.addEventListener('loaded', resolve, { once: true }));
    assert.deepEqual(events, [['crashed', 'signal 11'], ['ready', null], ['loaded', 7]]);
    assert.equal(client.latency, 7);
    assert.deepEqual(Array.from((await client.process(block, block)).left), [1, 2, 3, 4]);

    fake.crash('gave up after 3 crashes');
    await new Promise((resolve) => client.addEventListener('crashed', resolve, { once: true }));
    assert.equal(await client.process(block, block), null);
    assert.deepEqual(events.at(-1), ['crashed', 'gave up after 3 crashes']);
  } finally {
    await client.close();
    await fake.close();
  }
});
