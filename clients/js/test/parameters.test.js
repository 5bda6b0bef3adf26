// The client's parameter and program calls against the real program and
// the test_parameters plug-in, whose output is its input times its "Gain"
// (parameter 0), and which moves Gain itself on a note-on of key 100.
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
  const client = await CorvelClient.connect(program.url, { WebSocket, attempts: 50, retryDelayMs: 50, blockSize: 256, ...options });
  try {
    await body(client);
  } finally {
    await client.close();
  }
}

const ones = () => new Float32Array(256).fill(1);
const refusedWith = (code) => (error) => error instanceof CorvelError && error.code === code;
/** The gain each frame of a block of ones came out with, as runs: [[gain, frames], ...]. */
function runs(block) {
  const found = [];
  for (const x of block.left) {
    if (found.at(-1)?.[0] === x) found.at(-1)[1]++;
    else found.push([x, 1]);
  }
  assert.deepEqual(block.right, block.left);
  return found;
}

test('parameters are listed as the plug-in describes them; a display probe changes nothing; programs switch, are renamed and announce new values; the original protocol refuses all of it', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_parameters'));
    const listed = await client.parameters();
    assert.deepEqual(listed.map(({ index, name, label, display, value, automatable, steps }) =>
      [index, name, label, display, value, automatable, steps]), [
      [0, 'Gain', '%', '100.0', 1, true, 0],
      [1, 'Mode', '', 'Off', 0, true, 2],
      [2, 'Steps', '', '0', 0, true, 5],
      [3, 'Drive', '', '0.00', 0, false, 0],
    ]);
    assert.deepEqual([listed[1].switch, listed[2].integer, listed[2].min, listed[2].max, listed[2].category], [true, true, 0, 4, 'Shape']);

    assert.equal(await client.parameterDisplay(0, 0.25), '25.0');
    assert.deepEqual([(await client.parameters())[0].display, runs(await client.process(ones(), ones()))], ['100.0', [[1, 256]]]);

    let changed = 0;
    client.addEventListener('parametersChanged', () => changed++);
    assert.deepEqual(await client.programs(), { names: ['Unity', 'Half', 'Quiet'], current: 0 });
    await client.setProgram(1);
    await client.setProgramName('Mine');
    assert.deepEqual(await client.programs(), { names: ['Unity', 'Mine', 'Quiet'], current: 1 });
    assert.deepEqual([(await client.parameters())[0].display, runs(await client.process(ones(), ones()))], ['50.0', [[0.5, 256]]]);
    assert.ok(changed >= 1, 'a program change announces new values');

    for (const call of [client.setParameter(-1, 0), client.setParameter(0, 1.5), client.parameterDisplay(0, NaN),
      client.setProgram(0.5), client.process(ones(), ones(), null, [[0, 2, 0]])]) {
      await assert.rejects(call, refusedWith('argument'));
    }
    await assert.rejects(client.setParameter(4, 0), refusedWith('bad-request'));
    await client.unload();
    await assert.rejects(client.parameters(), refusedWith('no-plugin'));
  });
  await session(async (client) => {
    await client.load(testPlugin('test_parameters'));
    for (const call of [client.parameters(), client.setParameter(0, 0), client.programs(), client.process(ones(), ones(), null, [[0, 0]])]) {
      await assert.rejects(call, (error) => refusedWith('unsupported')(error) && /protocol 2/.test(error.message));
    }
  }, { protocol: 1 });
});

test('changes inside a block land on their frames, setParameter on the next block; the plug-in\'s own moves come back as events, with its touches', async () => {
  await session(async (client) => {
    await client.load(testPlugin('test_parameters'));
    const block = await client.process(ones(), ones(), null, [[0, 0.5, 100], { index: 0, value: 0.25, offset: 200 }]);
    assert.deepEqual(runs(block), [[1, 100], [0.5, 100], [0.25, 56]]);
    await client.setParameter(0, 0.75);
    assert.deepEqual(runs(await client.process(ones(), ones())), [[0.75, 256]]);

    const events = [];
    client.addEventListener('parameter', ({ index, value, display, gesture }) => events.push({ index, value, display, gesture }));
    await client.process(ones(), ones(), [[0x90, 100, 127, 0]]);
    await until(() => events.some((event) => event.gesture === 'end'), () => JSON.stringify(events));
    // Its three moves within one block come as one, the last; the touches around it all come.
    const moves = events.filter((event) => event.gesture === null);
    assert.deepEqual(events.map((event) => [event.index, event.gesture]), [[0, 'begin'], [0, null], [0, 'end']]);
    assert.deepEqual([Math.fround(moves[0].value), moves[0].display], [Math.fround(0.6), '60.0']);
    assert.equal((await client.parameters())[0].display, '60.0');
  });
});
