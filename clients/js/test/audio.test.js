import assert from 'node:assert/strict';
import { test } from 'node:test';

import { testPlugin } from './support/program.js';
import { constant, ramp, session } from './support/session.js';

test('process returns the block through the gain plug-in', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_gain'));
    const left = ramp(1024, -1, 2 / 1024);
    const right = constant(1024, 0.25);
    const block = await client.process(left, right);
    assert.ok(block);
    assert.ok(block.left instanceof Float32Array && block.right instanceof Float32Array);
    assert.equal(block.left.length, 1024);
    assert.equal(block.right.length, 1024);
    assert.deepEqual(Array.from(block.left), Array.from(left, (x) => x / 2));
    assert.deepEqual(Array.from(block.right), Array.from(right, (x) => x / 2));
  });
});

test('blocks sent without waiting come back in order', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_gain'));
    await client.setBlockSize(64);
    const sent = Array.from({ length: 200 }, (_, n) => ramp(64, n, 1 / 64));
    const blocks = await Promise.all(sent.map((left) => client.process(left, constant(64, -n(left)))));
    blocks.forEach((block, index) => {
      assert.equal(block.left[0], index / 2);
      assert.equal(block.right[0], -index / 2);
    });
  });
  function n(left) { return left[0]; }
});

test('process resolves to null without a plug-in, while suspended and after unload', async () => {
  await session(async (client) => {
    const silence = constant(1024, 0);
    assert.equal(await client.process(silence, silence), null);
    await client.load(testPlugin('test_gain'));
    assert.notEqual(await client.process(silence, silence), null);
    await client.suspend();
    assert.equal(await client.process(silence, silence), null);
    await client.resume();
    assert.notEqual(await client.process(silence, silence), null);
    await client.unload();
    assert.equal(await client.process(silence, silence), null);
  });
});

test('a block-size change applies to the next block', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_gain'));
    const first = client.process(constant(1024, 1), constant(1024, 1));
    await client.setBlockSize(256);
    const second = client.process(constant(256, 2), constant(256, 2));
    assert.equal((await first).left.length, 1024);
    const block = await second;
    assert.equal(block.left.length, 256);
    assert.equal(block.right[255], 1);
  });
});

test('MIDI reaches the instrument at its offset within the next block', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_synth'));
    await client.setBlockSize(256);
    const input = constant(256, 0.125);
    // Note 64 at full velocity sounds at (64/128) * (127/127) = 0.5.
    await client.midi([[0x90, 64, 127, 100]]);
    const on = await client.process(input, input);
    for (let i = 0; i < 256; i++) {
      const expected = i < 100 ? 0.125 : 0.625;
      assert.equal(on.left[i], expected, `frame ${i}`);
      assert.equal(on.right[i], expected, `frame ${i}`);
    }
    await client.midi([{ status: 0x80, data1: 64, data2: 0, offset: 10 }, { status: 0x90, data1: 32, data2: 127 }]);
    const next = await client.process(input, input);
    assert.equal(next.left[0], 0.125 + 0.25 + 0.5);
    assert.equal(next.left[9], 0.125 + 0.25 + 0.5);
    assert.equal(next.left[10], 0.125 + 0.25);
  });
});

test('answers of every kind interleave without mixing up', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_chunks'));
    await client.setBlockSize(32);
    const calls = [];
    for (let n = 0; n < 20; n++) {
      calls.push(client.process(constant(32, n), constant(32, n)).then((block) => ['block', block && block.left[0]]));
      if (n % 5 === 0) calls.push(client.getState().then((state) => ['state', state && state.length]));
      if (n % 7 === 0) calls.push(client.scan('/nonexistent').then((paths) => ['scan', Array.isArray(paths)]));
      if (n === 9) calls.push(client.suspend().then((bypass) => ['bypass', bypass]));
      if (n === 14) calls.push(client.resume().then((bypass) => ['bypass', bypass]));
    }
    const results = await Promise.all(calls);
    const expected = [];
    for (let n = 0; n < 20; n++) {
      // The chunks plug-in halves like the gain one; suspended blocks come back unprocessed.
      expected.push(['block', n >= 10 && n <= 14 ? null : n / 2]);
      if (n % 5 === 0) expected.push(['state', 1000]);
      if (n % 7 === 0) expected.push(['scan', true]);
      if (n === 9) expected.push(['bypass', true]);
      if (n === 14) expected.push(['bypass', false]);
    }
    assert.deepEqual(results, expected);
  });
});
