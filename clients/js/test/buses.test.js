// The client's channels, transport, MIDI out and offline rendering against
// the real program and the test plug-ins that report what they heard:
// test_sidechain (out0 = in0 + in2, out1 = in1 + in3, out2 = in2, out3 =
// in3), test_multiout (output c = (c + 1) / 100), test_iochange (a note-on
// of key 100 makes it 4 outputs with a latency of 32), test_transport
// (outputs: tempo / 1000, position / 100, sample position / 1e6, process
// level / 10) and test_arpeggiator (a note-on of key k at frame f sends k,
// k+4, k+7 at f, f+16, f+32, the block's last frame at most, and a SysEx
// F0 7D 01 k F7 at f).
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { WebSocket } from 'ws';

import { CorvelClient, CorvelError } from '../corvel-client.js';
import { ProgramUnderTest, testPlugin, until } from './support/program.js';

const program = new ProgramUnderTest();
before(() => program.start({ XDG_CONFIG_HOME: '/nonexistent' }));
after(async () => {
  const exit = await program.stop();
  assert.deepEqual(exit, { code: 0, signal: null }, `the program did not end cleanly:\n${program.errors}`);
});

async function session(body, options = {}) {
  const client = await CorvelClient.connect(program.url,
    { WebSocket, attempts: 50, retryDelayMs: 50, blockSize: 256, sampleRate: 48000, ...options });
  try {
    await body(client);
  } finally {
    await client.close();
  }
}

const constant = (value, frames = 256) => new Float32Array(frames).fill(value);
const ramp = (frames = 256) => Float32Array.from({ length: frames }, (_, i) => i / frames);
const refusedWith = (code) => (error) => error instanceof CorvelError && error.code === code;
/** Each channel's value, asserted the same on every frame. */
function levels(block) {
  return block.channels.map((channel, c) => {
    assert.ok(channel.every((x) => x === channel[0]), `channel ${c} is not constant`);
    return channel[0];
  });
}

test('channels: the layout chosen at load and by configure is carried each way, mapped to the plug-in\'s in order, with its pins; a plug-in that changes its own keeps the session\'s', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_sidechain'), { inputs: 4, outputs: 4 });
    assert.deepEqual(client.layout, { inputs: 4, outputs: 4 });
    const { inputs, outputs, inputPins, outputPins } = client.plugin;
    assert.deepEqual([inputs, outputs], [4, 4]);
    for (const pins of [inputPins, outputPins]) {
      assert.deepEqual(pins.map(({ label, stereo }) => [label, stereo]),
        [['Main L', true], ['Main R', false], ['Sidechain L', true], ['Sidechain R', false]]);
    }
    const side = ramp();
    let block = await client.process([constant(0.5), constant(0.25), constant(-0.125), side]);
    assert.deepEqual(block.channels, [constant(0.375), side.map((x) => x + 0.25), constant(-0.125), side]);
    assert.deepEqual([block.left, block.right], block.channels.slice(0, 2));
    // Two inputs: the side-chain hears silence; the reply still has four.
    assert.deepEqual(await client.configure({ inputs: 2 }), { sampleRate: 48000, blockSize: 256, inputs: 2, outputs: 4, offline: false });
    block = await client.process(constant(0.5), side);
    assert.deepEqual(block.channels, [constant(0.5), side, constant(0), constant(0)]);
    for (const call of [client.process([constant(0.5)]), client.process([constant(1), constant(1), constant(1)]),
      client.configure({ inputs: 0 }), client.configure({ outputs: 129 }), client.configure({ offline: 1 }),
      client.load(testPlugin('test_gain'), { outputs: 1.5 })]) {
      await assert.rejects(call, refusedWith('argument'));
    }

    // Past its 16 outputs, silence.
    await client.load(testPlugin('test_multiout'), { inputs: 1, outputs: 18 });
    assert.deepEqual([client.layout, client.plugin.inputs, client.plugin.outputs], [{ inputs: 1, outputs: 18 }, 2, 16]);
    assert.deepEqual(levels(await client.process([constant(0)])),
      [...Array.from({ length: 16 }, (_, c) => Math.fround((c + 1) / 100)), 0, 0]);

    await client.load(testPlugin('test_iochange'), { inputs: 2, outputs: 2 });
    const changes = [];
    client.addEventListener('ioChanged', ({ inputs: i, outputs: o, latency }) => changes.push([i, o, latency]));
    await client.process([side, side], { events: [[0x90, 100, 127, 0]] });
    await until(() => changes.length > 0, () => 'no ioChanged');
    assert.deepEqual([changes, client.latency, client.plugin.outputs], [[[2, 4, 32]], 32, 4]);
    assert.deepEqual((await client.process([side, side])).channels, [side, side]);
  });
});

test('the transport record reaches the plug-in whole; the plug-in\'s MIDI and SysEx come back with their frames', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_transport'), { outputs: 4 });
    const heard = async (transport) => levels(await client.process([constant(0), constant(0)], { transport }));
    assert.deepEqual(await heard(null), [0.12, 0, 0, 0.2].map(Math.fround), 'stopped at 120 BPM from 0, until told');
    assert.deepEqual(await heard({ playing: true, tempo: 90, position: 8.5, samplePosition: 123456 }),
      [0.09, 0.085, 0.123456, 0.2].map(Math.fround));
    // A block without one continues it: playing, so its position moves on with its frames.
    assert.deepEqual(await heard(null), [0.09, (8.5 + (256 * 90) / (60 * 48000)) / 100, (123456 + 256) / 1e6, 0.2].map(Math.fround));
    // A position alone: as many frames in as it is at the tempo (120 BPM, 48 kHz).
    assert.deepEqual(await heard({ position: 3 }), [0.12, 0.03, 0.072, 0.2].map(Math.fround));
    await assert.rejects(client.process([constant(0), constant(0)], { transport: { bpm: 100 } }), refusedWith('argument'));
    await assert.rejects(client.process([constant(0), constant(0)], { transport: { tempo: 0 } }), refusedWith('argument'));

    await client.load(testPlugin('test_arpeggiator'), { outputs: 2 });
    const input = ramp();
    const block = await client.process([input, input], { events: [[0x90, 60, 100, 10], [0x90, 62, 90, 240], [0x80, 60, 0, 250]] });
    assert.deepEqual(block.channels, [input, input]);
    const sent = block.midi.map(({ frame, data }) => [frame, ...data]).sort((a, b) => a[0] - b[0] || a[1] - b[1] || a[2] - b[2]);
    assert.deepEqual(sent, [
      [10, 0x90, 60, 100], [10, 0xf0, 0x7d, 1, 60, 0xf7], [26, 0x90, 64, 100], [42, 0x90, 67, 100],
      [240, 0x90, 62, 100], [240, 0xf0, 0x7d, 1, 62, 0xf7], [255, 0x90, 66, 100], [255, 0x90, 69, 100],
    ]);
    assert.ok(block.midi.every(({ data }) => data instanceof Uint8Array));
    assert.deepEqual((await client.process([input, input])).midi, [], 'nothing sent without notes');
  });
});

/** A WebSocket that counts the blocks sent and not yet answered. */
class CountingSocket extends WebSocket {
  static mostInFlight = 0;
  #inFlight = 0;
  constructor(...args) {
    super(...args);
    this.on('message', (_, binary) => { if (binary) this.#inFlight--; });
  }

  send(data, ...rest) {
    if (typeof data !== 'string') CountingSocket.mostInFlight = Math.max(CountingSocket.mostInFlight, ++this.#inFlight);
    return super.send(data, ...rest);
  }
}

test('render: offline and back, several blocks in flight, in order, with progress; the transport moves on block by block; the plug-in\'s latency is cut', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_transport'), { outputs: 4 });
    const frames = 3 * 48000 + 100;
    const progress = [];
    const rendering = client.render([], { frames, blockSize: 512, transport: { playing: true, tempo: 150, position: 4 },
      onProgress: (step) => progress.push(step) });
    await assert.rejects(client.render([], { frames }), refusedWith('busy'));
    await assert.rejects(client.process(constant(0), constant(0)), refusedWith('busy'));
    const { channels } = await rendering;
    assert.deepEqual(channels.map((channel) => channel.length), [frames, frames, frames, frames]);
    const blocks = Math.ceil(frames / 512);
    for (let k = 0; k < blocks; k++) {
      const at = 512 * k;
      const expected = [0.15, (4 + (at * 150) / (60 * 48000)) / 100, (4 * 60 * 48000 / 150 + at) / 1e6, 0.4].map(Math.fround);
      assert.deepEqual(channels.map((channel) => channel[at]), expected, `block ${k}`);
      assert.deepEqual(channels.map((channel) => channel[Math.min(frames, at + 512) - 1]), expected, `block ${k}'s end`);
    }
    assert.equal(progress.length, blocks);
    assert.ok(progress.every(({ done, total }, i) => total === frames && done > (progress[i - 1]?.done ?? 0)), JSON.stringify(progress));
    assert.equal(progress.at(-1).done, frames);
    assert.ok(CountingSocket.mostInFlight > 1 && CountingSocket.mostInFlight <= 8, `${CountingSocket.mostInFlight} blocks in flight`);
    // Real time again, at the session's block size.
    assert.deepEqual([client.offline, client.blockSize], [false, 256]);
    assert.equal(levels(await client.process(constant(0), constant(0)))[3], Math.fround(0.2));

    // The output lines up with the input: test_latency64 declares 64 samples it does not have.
    await client.load(testPlugin('test_latency64'));
    const input = ramp(1000);
    const { channels: [left, right] } = await client.render([input, input], { inFlight: 1 });
    const expected = Float32Array.from({ length: 1000 }, (_, i) => (i < 936 ? input[i + 64] / 2 : 0));
    assert.deepEqual([left, right], [expected, expected]);
    await client.unload();
    await assert.rejects(client.render([input]), refusedWith('no-plugin'));
  }, { WebSocket: CountingSocket });
});
