import assert from 'node:assert/strict';
import { test } from 'node:test';

import { isStateBlob, stateBlob } from './support/blob.js';
import { testPlugin } from './support/program.js';
import { constant, session } from './support/session.js';

test('getState resolves to the plug-in state, and setState restores one', async () => {
  await session(async (client, program) => {
    await client.load(testPlugin('test_chunks'));
    const initial = await client.getState();
    assert.ok(initial instanceof Uint8Array);
    assert.equal(initial.length, 1000);
    assert.ok(isStateBlob(initial));

    const saved = stateBlob(new TextEncoder().encode('a state written by the client test'));
    await client.setState(saved);
    // The plug-in stays off after a restore until it is resumed.
    const silence = constant(1024, 0);
    assert.equal(await client.process(silence, silence), null);
    assert.equal(await client.resume(), false);
    assert.notEqual(await client.process(silence, silence), null);
    assert.deepEqual(await client.getState(), saved);
    assert.match(program.pluginLog(), new RegExp(`effSetChunk index=1 size=${saved.length} hash=[0-9a-f]{8} valid=1`));
  });
});

test('setState accepts an ArrayBuffer', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_chunks'));
    const saved = stateBlob(new Uint8Array([1, 2, 3, 4, 5]));
    await client.setState(saved.slice().buffer);
    assert.deepEqual(await client.getState(), saved);
  });
});

test('getState resolves to null for a plug-in without state and without a plug-in', async () => {
  await session(async (client) => {
    assert.equal(await client.getState(), null);
    await client.load(testPlugin('test_gain'));
    assert.equal(await client.getState(), null);
    await client.unload();
    assert.equal(await client.getState(), null);
  });
});
