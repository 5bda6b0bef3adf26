// The built-in test page in Debian's Chromium, against the real program:
// through the page's buttons, and the audio node it uses on an AudioContext
// of the test's own (see node-harness.js).
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, it } from 'node:test';
import { chromium } from 'playwright-core';

import { FakeCompanion } from '../../clients/js/test/support/fake-companion.js';
import { buildDir, ProgramUnderTest, testPlugin } from '../../clients/js/test/support/program.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const chromiumPath = process.env.CORVEL_CHROMIUM ?? '/usr/bin/chromium';
const pluginFolder = path.join(buildDir(), 'test-plugins');

// The program's own plug-in folder holds one plug-in under a name that is
// not ASCII, so the first scan shows whether such paths survive the trip.
const scratch = mkdtempSync(path.join(tmpdir(), 'corvel-browser-'));
const ownFolder = path.join(scratch, 'plug-ins');
const unicodeGain = path.join(ownFolder, 'Gain – é ü 音.so');

let program;
let context;
let page;
const consoleErrors = [];
const refusedAttempts = [];

before(async () => {
  mkdirSync(ownFolder);
  symlinkSync(testPlugin('test_gain'), unicodeGain);
  // Under an X server the program opens real editor windows; without one it
  // runs headless, and the editor button must then do no harm.
  const display = process.env.DISPLAY ? { DISPLAY: process.env.DISPLAY } : {};
  program = new ProgramUnderTest({ LXVST_PATH: ownFolder, ...display });
  await program.start();
  context = await chromium.launchPersistentContext(path.join(scratch, 'profile'), {
    executablePath: chromiumPath,
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--autoplay-policy=no-user-gesture-required',
      // A generated microphone signal, and no permission prompt for it.
      '--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream',
    ],
  });
  page = context.pages()[0] ?? await context.newPage();
  page.on('console', (message) => {
    if (message.type() !== 'error') return;
    // A page that reconnects while its predecessor's connection is still
    // being closed is refused once or twice; the client retries.
    if (/WebSocket connection to .* failed/.test(message.text())) refusedAttempts.push(message.text());
    else consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => consoleErrors.push(String(error)));
  await page.goto(program.httpUrl);
});

after(async () => {
  await context?.close();
  const exit = await program?.stop();
  rmSync(scratch, { recursive: true, force: true });
  assert.deepEqual(exit, { code: 0, signal: null }, `the program did not end cleanly:\n${program?.errors}`);
  if (refusedAttempts.length) console.log(`# refused connection attempts: ${refusedAttempts.length}`);
});

// --- the page ---------------------------------------------------------------

async function showsTheCompanion() {
  await page.locator('#connection', { hasText: 'Companion running, version 0.1.0' }).waitFor({ timeout: 20000 });
  assert.equal(await page.title(), 'Corvel VST/Remote test page');
  assert.equal(await page.evaluate(() => crossOriginIsolated), true, 'the page can share memory with its workers');
  // The page's copy of the module is the one in the repository, byte for byte.
  const served = await page.evaluate(() => fetch('/corvel-client.js').then((response) => response.text()));
  assert.equal(served, readFileSync(path.join(here, '../../clients/js/corvel-client.js'), 'utf8'));
}

async function listsThePlugins() {
  // The first scan runs on connecting: the program's own folder only.
  await page.locator('#plugins option').first().waitFor();
  assert.deepEqual(await optionValues(), [unicodeGain]);
  await page.fill('#folder', pluginFolder);
  await page.click('#scan');
  await page.waitForFunction((count) => document.querySelectorAll('#plugins option').length > count, 1);
  const listed = await optionValues();
  for (const name of ['test_gain', 'test_synth', 'test_chunks']) assert.ok(listed.includes(testPlugin(name)), name);
  assert.ok(listed.includes(unicodeGain));
}

async function loadsFromTheList(pluginPath) {
  await page.selectOption('#plugins', pluginPath);
  await page.click('#load');
  await page.locator('#plugin', { hasText: new RegExp(`^Loaded ${pluginPath}, latency \\d+ samples$`) }).waitFor();
}

async function waitForCounter(id, atLeast) {
  await page.waitForFunction(([element, value]) => Number(document.getElementById(element).textContent) >= value,
    [id, atLeast], { timeout: 20000 });
}

async function playsThroughAnAudioNode() {
  await loadsFromTheList(unicodeGain);
  await page.click('#play');
  await page.locator('#play', { hasText: 'Stop' }).waitFor();
  await waitForCounter('blocks', 100);
  assert.equal(await page.textContent('#transport'), 'shared memory');
  const delay = await page.textContent('#latency');
  assert.match(delay, /^\d+ \(\d+\.\d ms\)$/);
  assert.equal(Number.parseInt(delay, 10) % 128, 0, 'whole blocks of a plug-in without latency');
  assert.match(await page.textContent('#rtt-p99'), /^\d+\.\d\d ms$/);
  await page.click('#stall');
  await page.locator('#log', { hasText: 'held the page for 50 ms' }).waitFor();
  await page.check('#bypass');
  await page.locator('#log', { hasText: 'bypassed' }).waitFor();
  await page.uncheck('#bypass');
  await page.locator('#log', { hasText: 'processing' }).waitFor();
  // The plot shows the round trips: dots of the plot's colour on the canvas.
  const dots = await page.evaluate(() => {
    const { data } = document.getElementById('round-trips').getContext('2d').getImageData(0, 0, 640, 140);
    let count = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i] === 0x2a && data[i + 1] === 0x5d && data[i + 2] === 0xb0) count++;
    return count;
  });
  assert.ok(dots >= 20, `${dots} pixels of round trips`);
  await page.click('#play');
  await page.locator('#play', { hasText: 'Play' }).waitFor();
}

async function sendsANoteAndKeepsTheState() {
  await loadsFromTheList(testPlugin('test_synth'));
  program.mark();
  await page.click('#note');
  await waitForPluginLog(/event status=144 data1=60 data2=100 delta=\d+/);
  await waitForPluginLog(/event status=128 data1=60 data2=0 delta=\d+/);

  await loadsFromTheList(testPlugin('test_chunks'));
  await page.click('#save');
  await page.locator('#state', { hasText: 'Saved 1000 bytes' }).waitFor();
  // The plug-in gets back its own state: the hash it gave it with.
  const hash = program.pluginLog().match(/effGetChunk index=1 size=1000 (hash=\w+)/)?.[1];
  assert.ok(hash, program.pluginLog());
  program.mark();
  await page.click('#restore');
  await page.locator('#state', { hasText: 'Restored 1000 bytes' }).waitFor();
  await waitForPluginLog(new RegExp(`effSetChunk index=1 size=1000 ${hash}`));
}

async function opensTheEditor() {
  program.mark();
  await page.click('#editor');
  // A state read is handled on the program's GUI thread after the editor request.
  await page.evaluate(() => window.corvelTestPage.node.getState());
  if (process.env.DISPLAY) {
    await waitForPluginLog(/effEditIdle/);
  } else {
    assert.doesNotMatch(program.pluginLog(), /effEdit/, 'headless, the plug-in is never asked for its editor');
  }
}

async function waitForPluginLog(pattern, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  while (!pattern.test(program.pluginLog())) {
    if (Date.now() > deadline) assert.fail(`no ${pattern} in the plug-in log:\n${program.pluginLog()}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

async function optionValues() {
  return page.$$eval('#plugins option', (options) => options.map((option) => option.value));
}

// --- the audio node ----------------------------------------------------------

const harness = {
  start: (options) => page.evaluate((o) => window.nodeHarness.start(o), { url: program.url, ...options }),
  record: (seconds, settle) => page.evaluate(([s, t]) => window.nodeHarness.record(s, t), [seconds, settle]),
  describe: () => page.evaluate(() => window.nodeHarness.describe()),
  stop: () => page.evaluate(() => window.nodeHarness.stop()),
};

/** The harness's signal: exact in 32-bit floats, and different at every frame of a second. */
function signalAt(frame) {
  return ((((frame % 48000) + 48000) % 48000) + 1) / 65536;
}

/**
 * For each 128-frame block of a recording: the delay its samples came with
 * (all of them exactly `gain` times the signal that long ago), 0 for a
 * silent block, NaN for anything else.
 */
function blockDelays(recording, gain) {
  const delays = [];
  for (let at = 0; at + 128 <= recording.left.length; at += 128) {
    const frame = recording.start + at;
    const block = [recording.left.slice(at, at + 128), recording.right.slice(at, at + 128)];
    if (block.every((channel) => channel.every((x) => x === 0))) {
      delays.push(0);
      continue;
    }
    const delay = (((frame - (Math.round(block[0][0] / gain * 65536) - 1)) % 48000) + 48000) % 48000;
    const exact = block.every((channel) => channel.every((x, i) => x === gain * signalAt(frame + i - delay)));
    delays.push(exact ? delay : NaN);
  }
  return delays;
}

/**
 * Every block is an exact copy or silence, some are copies, and the delay
 * never shrinks (a block played late would show as a longer delay followed
 * by a shorter one). Without a raise of the delay, it is `latency` throughout.
 */
function assertPlayedOnTime(delays, before, after) {
  assert.ok(!delays.some(Number.isNaN), `blocks that are no copy of the input: ${delays}`);
  // How much arrives in time depends on the machine's load; what does arrive must be exact.
  const played = delays.filter((delay) => delay > 0);
  assert.ok(played.length >= 20, `hardly anything played: ${delays}`);
  played.forEach((delay, i) => assert.ok(i === 0 || delay >= played[i - 1], `the delay shrank: ${delays}`));
  assert.ok(played[0] >= before && played.at(-1) <= after, `delays ${played[0]}..${played.at(-1)}, latencySamples ${before}..${after}`);
  if (before === after) assert.deepEqual(new Set(played), new Set([before]));
}

async function returnsExactSamplesAfterLatencySamples(sharedMemory) {
  const { latencies, sharedMemory: used } = await harness.start({
    plugins: [testPlugin('test_gain')], sharedMemory, latencyBlocks: 8 });
  try {
    assert.deepEqual(used, [sharedMemory]);
    let recording = await harness.record(1.5);
    assertPlayedOnTime(blockDelays(recording, 0.5), latencies[0], recording.latencies[0]);
    assert.ok(recording.stats[0].blocks > 0 && recording.stats[0].roundTripMs.p50 > 0);
    // Bypassed, the input passes through as it is; then the plug-in again.
    for (const [bypass, gain] of [[true, 1], [false, 0.5]]) {
      await page.evaluate((on) => window.nodeHarness.nodes[0].setBypass(on), bypass);
      const before = recording.latencies[0];
      recording = await harness.record(0.5);
      assertPlayedOnTime(blockDelays(recording, gain), before, recording.latencies[0]);
    }
  } finally {
    await harness.stop();
  }
}

async function landsMidiOnItsSample() {
  // The instrument adds its notes to its input: the signal, plus 64 / 128 from the note on.
  await harness.start({ plugins: [testPlugin('test_synth_with_inputs')], latencyBlocks: 8 });
  try {
    const { frame, before } = await page.evaluate(async () => {
      const { context, nodes } = window.nodeHarness;
      const at = Math.round((context.currentTime + 0.5) * context.sampleRate);
      await nodes[0].midi([[0x90, 64, 127]], at / context.sampleRate);
      return { frame: at, before: nodes[0].latencySamples };
    });
    const recording = await harness.record(1, 0);
    const after = recording.latencies[0];
    // Every block that played is the signal from one delay ago, with the
    // note in it exactly from the input sample at `when` on.
    const heard = { before: 0, after: 0 };
    for (let at = 0; at + 128 <= recording.left.length; at += 128) {
      const block = recording.left.slice(at, at + 128);
      if (block.every((x) => x === 0)) continue;
      const expected = (delay, i) => {
        const input = recording.start + at + i - delay;
        return signalAt(input) + (input >= frame ? 0.5 : 0);
      };
      let delay = before;
      while (delay <= after && !block.every((x, i) => x === expected(delay, i))) delay += 128;
      assert.ok(delay <= after, `block at frame ${recording.start + at} is no copy of the input with the note at ${frame}`);
      heard[recording.start + at - delay >= frame ? 'after' : 'before']++;
    }
    assert.ok(heard.before > 0 && heard.after > 0, JSON.stringify(heard));
  } finally {
    await harness.stop();
  }
}

async function playsALateBlockAsSilence() {
  const { latencies } = await harness.start({ plugins: [testPlugin('test_gain')] });
  try {
    const recording = harness.record(1.5, 0.2);
    // The program stops for 200 ms: every block in flight comes back late.
    await new Promise((resolve) => setTimeout(resolve, 600));
    process.kill(program.pid, 'SIGSTOP');
    await new Promise((resolve) => setTimeout(resolve, 200));
    process.kill(program.pid, 'SIGCONT');
    const delays = blockDelays(await recording, 0.5);
    const { stats, latencies: after } = await harness.describe();
    assert.ok(stats[0].late > 0, JSON.stringify(stats));
    assert.ok(stats[0].underruns >= stats[0].late, JSON.stringify(stats));
    assert.ok(delays.includes(0), `no silence: ${delays}`);
    assertPlayedOnTime(delays, latencies[0], after[0]);
  } finally {
    process.kill(program.pid, 'SIGCONT');
    await harness.stop();
  }
}

async function runsTwoNodesAtOnce() {
  // Two gains in a row: a quarter of the signal, after both delays.
  const { latencies } = await harness.start({ plugins: [testPlugin('test_gain'), testPlugin('test_gain')], latencyBlocks: 4 });
  try {
    const recording = await harness.record(1);
    const after = recording.latencies;
    assertPlayedOnTime(blockDelays(recording, 0.25), latencies[0] + latencies[1], after[0] + after[1]);
  } finally {
    program.mark();
    await harness.stop();
  }
  // dispose() ends both sessions.
  await waitForPluginLog(/effClose[^]*effClose/);
}

async function reportsACrashAndTheRelaunch() {
  const fake = await FakeCompanion.start(0);
  try {
    const { latencies } = await harness.start({ plugins: ['/plug-in.so'], url: fake.url });
    fake.crash('signal 11');
    await page.waitForFunction(() => window.nodeHarness.events.some(([type]) => type === 'crashed'));
    fake.relaunch(64);
    await page.waitForFunction(() => window.nodeHarness.events.some(([type]) => type === 'ready'));
    const { events, latencies: after } = await harness.describe();
    assert.deepEqual(events.filter(([type]) => type !== 'latencychange'), [['crashed', 'signal 11'], ['ready', 64]]);
    assert.equal(after[0] % 128, 64, `the plug-in's new latency counts: ${latencies} then ${after}`);
  } finally {
    await harness.stop();
    await fake.close();
  }
}

async function tellsAPageElsewhereToAllowLocalNetworkAccess() {
  const elsewhere = await context.newPage();
  const blocked = [];
  elsewhere.on('console', (message) => blocked.push(message.text()));
  try {
    await elsewhere.goto('about:blank');
    // The client alone, as one module from nowhere: without the audio node it re-exports.
    const source = readFileSync(path.join(here, '../../clients/js/corvel-client.js'), 'utf8')
      .replace(/^export \{ CorvelAudioNode \} from .*$/m, '');
    const failure = await elsewhere.evaluate(async ({ source, url }) => {
      const moduleUrl = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
      const { CorvelClient } = await import(moduleUrl);
      return CorvelClient.connect(url, { attempts: 1 }).then(() => null, (error) => ({ code: error.code, message: error.message }));
    }, { source, url: program.url });
    assert.ok(blocked.some((text) => text.includes('ERR_BLOCKED_BY_LOCAL_NETWORK_ACCESS_CHECKS')), blocked.join('\n'));
    assert.equal(failure?.code, 'unreachable');
    assert.match(failure.message, /allow "local network access" for this site/);
  } finally {
    await elsewhere.close();
  }
}

// --- the tests ----------------------------------------------------------------

describe('the test page', () => {
  it('shows that the companion runs, its version, and is cross-origin isolated', showsTheCompanion);
  it('lists the scanned plug-ins, with their paths as they are on disk', listsThePlugins);
  it('plays the test tone through an audio node, with its counters, plot, stall button and bypass', playsThroughAnAudioNode);
  it('sends a note, saves and restores the state', sendsANoteAndKeepsTheState);
  it('opens the editor', opensTheEditor);
  it('ends its sessions when reloaded', async () => {
    program.mark();
    await page.reload();
    await showsTheCompanion();
    await waitForPluginLog(/effClose/);
  });
  it('logs no errors in the page', () => assert.deepEqual(consoleErrors, []));
});

describe('CorvelAudioNode', () => {
  before(async () => {
    await page.addScriptTag({ type: 'module', content: readFileSync(path.join(here, 'node-harness.js'), 'utf8') });
    await page.waitForFunction(() => window.nodeHarness);
  });
  it('returns exact samples after exactly latencySamples, and the input while bypassed, through shared memory', () => returnsExactSamplesAfterLatencySamples(true));
  it('the same through a message port', () => returnsExactSamplesAfterLatencySamples(false));
  it('lands MIDI on the sample that `when` names', landsMidiOnItsSample);
  it('counts a late block and plays silence in its place, never the late block', playsALateBlockAsSilence);
  it('runs two nodes at once, and ends their sessions on dispose()', runsTwoNodesAtOnce);
  it('reports a crash of its plug-in and the relaunch', reportsACrashAndTheRelaunch);
  it('logs no errors in the page', () => assert.deepEqual(consoleErrors, []));
});

describe('a page that is not on the loopback address', () => {
  it('is told to allow local network access', tellsAPageElsewhereToAllowLocalNetworkAccess);
});
