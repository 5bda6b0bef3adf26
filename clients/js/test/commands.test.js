import assert from 'node:assert/strict';
import { mkdtempSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { buildDir, testPlugin } from './support/program.js';
import { session } from './support/session.js';

test('scan lists the plug-in files of the given folder', async () => {
  await session(async (client) => {
    const paths = await client.scan(path.join(buildDir(), 'test-plugins'));
    assert.ok(paths.includes(testPlugin('test_gain')), paths.join('\n'));
    assert.ok(paths.includes(testPlugin('test_synth')));
    assert.ok(paths.every((entry) => typeof entry === 'string'));
  });
});

test('scan returns paths with characters that need escaping as they are', async () => {
  const folder = mkdtempSync(path.join(tmpdir(), 'corvel scan "quoted" é-'));
  try {
    const odd = path.join(folder, 'back\\slash "gain" ü.so');
    symlinkSync(testPlugin('test_gain'), odd);
    await session(async (client) => {
      const paths = await client.scan(folder);
      assert.ok(paths.includes(odd), paths.join('\n'));
      assert.equal(await client.load(odd), 0, 'the listed path loads');
    });
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});

test('load resolves to the latency', async () => {
  await session(async (client) => {
    assert.equal(client.loaded, false);
    assert.equal(await client.load(testPlugin('test_latency64')), 64);
    assert.equal(client.loaded, true);
    assert.equal(client.latency, 64);
    assert.equal(await client.load(testPlugin('test_latency_neg3')), -3);
    assert.equal(await client.load(testPlugin('test_gain')), 0);
  });
});

test('a failed load times out, and one load runs at a time', async () => {
  await session(async (client) => {
    const missing = client.load('/nonexistent/plugin.so', { timeoutMs: 1500 });
    await assert.rejects(client.load(testPlugin('test_gain')), (error) => error.code === 'busy');
    await assert.rejects(missing, (error) => error.code === 'timeout' && /nonexistent/.test(error.message));
    assert.equal(client.loaded, false);
    // The failed plug-in keeps no state: the host says so.
    assert.equal(await client.getState(), null);
    assert.equal(await client.load(testPlugin('test_gain')), 0);
  });
});

test('a loaded event reports every finished load', async () => {
  await session(async (client) => {
    const seen = [];
    client.addEventListener('loaded', (event) => seen.push(event.latency));
    await client.load(testPlugin('test_latency64'));
    assert.deepEqual(seen, [64]);
  });
});

test('suspend and resume resolve to the bypass state', async () => {
  await session(async (client) => {
    assert.equal(await client.suspend(), true);
    assert.equal(await client.resume(), false);
    await client.load(testPlugin('test_gain'));
    const answers = await Promise.all([client.suspend(), client.resume(), client.suspend()]);
    assert.deepEqual(answers, [true, false, true]);
  });
});

test('sample rate and block size reach the host and the plug-in', async () => {
  await session(async (client, program) => {
    await client.load(testPlugin('test_gain'));
    await client.setSampleRate(48000);
    await client.setBlockSize(512);
    assert.equal(client.blockSize, 512);
    // A command with a reply puts both in the program's past.
    await client.resume();
    await program.waitForOutput('setting Host sample rate to 48000\n');
    await program.waitForOutput('setting Host buffer size to 512\n');
    assert.match(program.pluginLog(), /effSetSampleRate 48000\n/);
    assert.match(program.pluginLog(), /effSetBlockSize 512\n/);
  });
});

test('showGui and unload are sent', async () => {
  await session(async (client, program) => {
    await client.load(testPlugin('test_gain'));
    await client.showGui();
    await client.unload();
    assert.equal(client.loaded, false);
    // Once the plug-in has been closed, a state read has nothing to read.
    assert.equal(await client.getState(), null);
    const deadline = Date.now() + 5000;
    while (!program.pluginLog().includes('effClose')) {
      assert.ok(Date.now() < deadline, program.pluginLog());
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  });
});
