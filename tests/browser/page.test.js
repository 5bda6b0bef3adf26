// The built-in test page in Debian's Chromium, against the real program:
// through the page's buttons, and the audio node it uses on an AudioContext
// of the test's own (see node-harness.js). Then the client on a public https
// page, behind the browser's loopback permission.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, renameSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:https';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, afterEach, before, describe, it } from 'node:test';
import { chromium } from 'playwright-core';

import { buildDir, freePort, ProgramUnderTest, testPlugin } from '../../clients/js/test/support/program.js';

// The program's own plug-in folder holds one plug-in under a name that is
// not ASCII, so the first scan shows whether such paths survive the trip.
const scratch = mkdtempSync(path.join(tmpdir(), 'corvel-browser-'));
const unicodeGain = path.join(scratch, 'Gain – é ü 音.so');
// test_parameters moves its controls as a user would, while its editor is
// open, to the values written here ("index value" lines).
const editorMoves = path.join(scratch, 'editor-moves');

const program = new ProgramUnderTest();
let browser;
let page;
const consoleErrors = [];
/** A site on the public internet, as far as the browser knows: https, under a name of its own, on 127.0.0.2. */
const site = { server: null, origin: '' };

before(async () => {
  symlinkSync(testPlugin('test_gain'), unicodeGain);
  await startPublicSite();
  // The program lets the public site in; under an X server it opens real editor windows.
  const config = path.join(scratch, 'config');
  mkdirSync(path.join(config, 'corvel-vst-remote'), { recursive: true });
  writeFileSync(path.join(config, 'corvel-vst-remote', 'allowed-origins'), `${site.origin}\n`);
  await program.start({ LXVST_PATH: scratch, XDG_CONFIG_HOME: config, CORVEL_TEST_EDITOR_MOVES: editorMoves,
    ...(process.env.DISPLAY && { DISPLAY: process.env.DISPLAY }) });
  browser = await chromium.launch({
    executablePath: process.env.CORVEL_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required',
      '--ignore-certificate-errors', '--host-resolver-rules=MAP daw.test 127.0.0.2',
      `--ip-address-space-overrides=127.0.0.2:${site.server.address().port}=public`],
  });
  page = await browser.newPage();
  page.on('console', (message) => {
    // A page that reconnects while its predecessor's connection is still
    // being closed is refused once or twice; the client retries.
    if (message.type() === 'error' && !/WebSocket connection to .* failed/.test(message.text())) consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => consoleErrors.push(String(error)));
  await page.goto(program.httpUrl);
});

after(async () => {
  await browser?.close();
  site.server?.close();
  const exit = await program.stop();
  rmSync(scratch, { recursive: true, force: true });
  assert.deepEqual(exit, { code: 0, signal: null }, `the program did not end cleanly:\n${program.errors}`);
});

async function showsTheCompanion() {
  await page.locator('#connection', { hasText: 'Companion running, version 0.1.0' }).waitFor({ timeout: 20000 });
  assert.equal(await page.evaluate(() => crossOriginIsolated), true, 'the page can share memory with its workers');
  // The page's copy of the module is the one in the repository, byte for byte.
  const served = await page.evaluate(() => fetch('/corvel-client.js').then((response) => response.text()));
  assert.equal(served, readFileSync(new URL('../../clients/js/corvel-client.js', import.meta.url), 'utf8'));
  // Nothing but the page's own files is there.
  for (const missing of ['missing.js', 'corvel-client.js/x']) assert.equal((await fetch(program.httpUrl + missing)).status, 404, missing);
}

async function loadsFromTheList(pluginPath) {
  await page.selectOption('#plugins', pluginPath);
  await page.click('#load');
  await page.locator('#plugin', { hasText: new RegExp(`^Loaded ${pluginPath}, latency \\d+ samples$`) }).waitFor();
}

describe('the test page', () => {
  it('shows that the companion runs, its version, is cross-origin isolated, lists the plug-ins with their paths as on disk, and finds them by words of their names', async () => {
    await showsTheCompanion();
    // The first scan runs on connecting: the program's own folder only.
    await page.locator('#plugins option').first().waitFor();
    assert.deepEqual(await page.$$eval('#plugins option', (options) => options.map((option) => option.value)), [unicodeGain]);
    await page.fill('#folder', path.join(buildDir, 'test-plugins'));
    await page.click('#scan');
    // The next tests pick their plug-ins from this list, the program's own among them.
    await page.waitForFunction(() => document.querySelectorAll('#plugins option').length > 1);
    assert.equal(await page.isHidden('#scanning'), true, 'the progress bar goes once the scan is done');
    // The search keeps the plug-ins whose name, vendor or file has every word.
    const listed = () => page.$$eval('#plugins option', (options) => options.map((option) => option.value));
    const all = await listed();
    await page.fill('#search', 'SYNTH inputs');
    assert.deepEqual(await listed(), all.filter((file) => /synth[^/]*inputs[^/]*$/.test(file)));
    assert.match(await page.textContent('#shown'), /^1 of \d+$/);
    await page.fill('#search', '');
    assert.deepEqual(await listed(), all);
    // A program that keeps a catalogue names them, and lists the modules it could not read apart.
    const broken = await page.$$eval('#broken li', (items) => items.map((item) => item.textContent));
    if (await page.evaluate(() => window.corvelTestPage.entries.some((entry) => entry.status))) {
      assert.ok(broken.some((line) => /test_hang_in_open\.so: hung, \S/.test(line)), broken.join('\n'));
      assert.ok(!all.includes(testPlugin('test_hang_in_open')), 'a broken module is not offered for loading');
      assert.match(await page.$eval(`#plugins option[value="${testPlugin('test_gain')}"]`, (option) => option.textContent), /· 2 in, 2 out$/);
      await page.selectOption('#category', 'instrument');
      const instruments = await page.$$eval('#plugins option', (options) => options.map((option) => option.textContent));
      assert.ok(instruments.length > 0 && instruments.every((text) => text.includes(' · instrument · ')), instruments.join('\n'));
      await page.selectOption('#category', '');
    } else {
      assert.deepEqual([broken, await page.isHidden('#broken-modules')], [[], true]);
    }
  });

  it('plays the test tone through an audio node, with its counters, plot, stall button and bypass', async () => {
    await loadsFromTheList(unicodeGain);
    await page.click('#play');
    await page.waitForFunction(() => Number(document.getElementById('blocks').textContent) >= 100, null, { timeout: 20000 });
    assert.equal(await page.textContent('#transport'), 'shared memory');
    assert.match(await page.textContent('#latency'), /^\d+ \(\d+\.\d ms\)$/);
    assert.match(await page.textContent('#rtt-p99'), /^\d+\.\d\d ms$/);
    // The counters show the node's own figures, read as the page writes them.
    const [shown, stats] = await page.evaluate(() => new Promise((resolve) => new MutationObserver((_, observer) => {
      observer.disconnect();
      resolve([['blocks', 'underruns', 'late'].map((id) => Number(document.getElementById(id).textContent)), window.corvelTestPage.node.stats]);
    }).observe(document.getElementById('late'), { childList: true })));
    assert.deepEqual(shown, [stats.blocks, stats.underruns, stats.late]);
    await page.click('#stall');
    await page.locator('#log', { hasText: 'held the page for 50 ms' }).waitFor();
    await page.check('#bypass');
    await page.locator('#log', { hasText: 'bypassed' }).waitFor();
    await page.uncheck('#bypass');
    await page.locator('#log', { hasText: 'processing' }).waitFor();
    // The plot shows the round trips: dots of the plot's colour on the canvas.
    const dots = await page.evaluate(() => {
      const { data } = document.getElementById('round-trips').getContext('2d').getImageData(0, 0, 640, 140);
      return data.filter((_, i) => i % 4 === 0 && data[i] === 0x2a && data[i + 1] === 0x5d && data[i + 2] === 0xb0).length;
    });
    assert.ok(dots >= 20, `${dots} pixels of round trips`);
  });

  it('tells the plug-in its transport, which test_transport shows it heard; feeds a side-chain tone into a second input; lists MIDI out as it comes', async () => {
    await loadsFromTheList(testPlugin('test_transport'));
    const cell = (channel, kind) => `#outputs tr[data-channel="${channel}"] td.${kind}`;
    const sample = async (channel) => Number(await page.textContent(cell(channel, 'sample')));
    assert.equal(await page.locator('#outputs tr').count(), 4, 'one row per output channel');
    await page.locator(cell(0, 'sample'), { hasText: '0.120000' }).waitFor();
    await page.fill('#tempo', '150');
    await page.dispatchEvent('#tempo', 'change');
    await page.locator(cell(0, 'sample'), { hasText: '0.150000' }).waitFor();
    assert.deepEqual([await sample(1), await sample(3), await page.isDisabled('#sidechain')], [0, 0.2, true]);
    await page.click('#transport-play');
    await page.waitForFunction((selector) => Number(document.querySelector(selector).textContent) > 0.004, cell(1, 'sample'));
    await page.click('#transport-play');

    await loadsFromTheList(testPlugin('test_sidechain'));
    await page.check('#sidechain');
    // Its outputs 3 and 4 are its side-chain: the tone at 0.2, 17 dB down.
    const levelOf = (selector, target) => page.waitForFunction(([where, db]) => {
      const shown = document.querySelector(where).textContent;
      return db === null ? shown === 'silence' : Math.abs(parseFloat(shown) - db) < 1;
    }, [selector, target], { timeout: 10000 });
    await levelOf(cell(2, 'level'), -17);
    await page.uncheck('#sidechain');
    await levelOf(cell(2, 'level'), null);

    await loadsFromTheList(testPlugin('test_arpeggiator'));
    await page.click('#note');
    await page.waitForFunction(() => document.querySelectorAll('#midi-out li').length >= 4);
    const lines = await page.$$eval('#midi-out li', (items) => items.map((item) => item.textContent.replace(/^\d+\.\d{4} s {2}/, '')));
    assert.deepEqual(lines.sort(), ['90 3C 64', '90 40 64', '90 43 64', 'F0 7D 01 3C F7']);
  });

  it('sends a note; its panel drives the parameters, follows the editor, records its moves and plays them back; saves and restores the state, opens the editor, and ends its sessions when reloaded', async () => {
    await loadsFromTheList(testPlugin('test_synth'));
    program.markLog();
    await page.click('#note');
    await program.waitForLog(/event status=144 data1=60 data2=100 delta=\d+[^]*event status=128 data1=60 data2=0 delta=\d+/);

    await panelDrivesTheParameters();

    await loadsFromTheList(testPlugin('test_chunks'));
    await page.click('#save');
    await page.locator('#state', { hasText: 'Saved 1000 bytes' }).waitFor();
    // The plug-in gets back its own state: the hash it gave it with.
    const hash = program.pluginLog().match(/effGetChunk index=1 size=1000 (hash=\w+)/)?.[1];
    assert.ok(hash, program.pluginLog());
    await page.click('#restore');
    await page.locator('#state', { hasText: 'Restored 1000 bytes' }).waitFor();
    await program.waitForLog(new RegExp(`effSetChunk index=1 size=1000 ${hash}`));

    await page.click('#editor');
    if (process.env.DISPLAY) await program.waitForLog(/effEditIdle/);

    program.markLog();
    await page.reload();
    await showsTheCompanion();
    await program.waitForLog(/effClose/);
  });
});

/** Moves the plug-in's controls from its editor, as its user would, and waits for the panel's Gain to show the last move. */
async function moveInTheEditor(...moves) {
  writeFileSync(`${editorMoves}.new`, moves.map(([index, value]) => `${index} ${value}\n`).join(''));
  renameSync(`${editorMoves}.new`, editorMoves);  // whole, as the plug-in takes it
  const [index, value] = moves.at(-1);
  await page.locator(`#parameters tr[data-index="${index}"] td.value`, { hasText: (100 * value).toFixed(1) }).waitFor();
  assert.equal(Math.fround(await page.$eval(`#parameters tr[data-index="${index}"] input`, (slider) => Number(slider.value))), Math.fround(value));
}

/** The page's output level once two readings 0.3 s apart agree: the meter rises from silence at first, slower on a loaded machine. */
async function steadyLevel() {
  let last = NaN;
  for (let tries = 0; tries < 40; ++tries) {
    await new Promise((resolve) => setTimeout(resolve, 300));
    const now = parseFloat(await page.textContent('#level'));
    if (Math.abs(now - last) < 0.5) return now;
    last = now;
  }
  return last;
}

/** Waits for the page's output level to come within 1 dB of `db`. */
async function levelNear(db) {
  await page.waitForFunction((target) => Math.abs(parseFloat(document.getElementById('level').textContent) - target) < 1, db, { timeout: 10000 });
}

async function panelDrivesTheParameters() {
  await loadsFromTheList(testPlugin('test_parameters'));
  const rows = () => page.$$eval('#parameters tr', (trs) => trs.map((tr) => [...tr.cells].slice(0, 4).map((td) => td.textContent).join('|')));
  assert.deepEqual(await rows(), ['Gain||100.0|%', 'Mode||Off|', 'Steps||0|', 'Drive||0.00|']);
  assert.deepEqual(await page.$$eval('#program option', (options) => options.map((option) => option.textContent)), ['1: Unity', '2: Half', '3: Quiet']);
  await page.click('#play');
  await page.waitForFunction(() => /dB$/.test(document.getElementById('level').textContent), null, { timeout: 20000 });
  const unity = await steadyLevel();
  // Gain to a tenth: 20 dB down, and the plug-in's text for it.
  await page.$eval('#parameters tr[data-index="0"] input', (slider) => {
    slider.value = '0.1';
    slider.dispatchEvent(new Event('input'));
  });
  await page.locator('#parameters tr[data-index="0"] td.value', { hasText: '10.0' }).waitFor();
  await levelNear(unity - 20);
  // A program puts the panel back to its values.
  await page.selectOption('#program', '1');
  await page.locator('#parameters tr[data-index="0"] td.value', { hasText: '50.0' }).waitFor();
  await levelNear(unity - 6);

  await page.click('#editor');
  if (!process.env.DISPLAY) return;  // without a display there is no editor to move
  await moveInTheEditor([2, 0.75], [0, 0.25]);
  assert.equal(await page.textContent('#parameters tr[data-index="2"] td.value'), '3');
  await levelNear(unity - 12);
  // The editor's moves, recorded with their times, are heard again when played back.
  await page.click('#record');
  await moveInTheEditor([0, 1]);
  // Long enough for the level shown to catch it on the way back.
  await new Promise((resolve) => setTimeout(resolve, 800));
  await moveInTheEditor([0, 0.5]);
  await page.click('#record');
  const recorded = /^2 moves over (\d+\.\d) s$/.exec(await page.textContent('#recorded'));
  assert.ok(recorded && Number(recorded[1]) >= 0.8, await page.textContent('#recorded'));
  await moveInTheEditor([0, 0.1]);
  await levelNear(unity - 20);
  await page.click('#replay');
  await levelNear(unity);
  await page.locator('#parameters tr[data-index="0"] td.value', { hasText: '50.0' }).waitFor();
  await levelNear(unity - 6);
  await page.click('#play');
}

/** Output `n` of a recording, as assertPlayedOnTime takes one. */
const bus = ({ start, channels }, n) => ({ start, left: channels[2 * n], right: channels[2 * n + 1] });

const harness = (method, ...args) => page.evaluate(([name, values]) => window.nodeHarness[name](...values), [method, args]);

/** The harness's signal: exact in 32-bit floats, and different at every frame of a second. */
const signalAt = (frame) => ((((frame % 48000) + 48000) % 48000) + 1) / 65536;

/**
 * Each 128-frame block must be silence or exactly expected(input frame, channel) at one delay from `low` to
 * `high`, and the delay never shrinks (as a block played late would make it). Returns the delays, 0 for silence.
 */
function assertPlayedOnTime({ start, left, right }, expected, low, high) {
  const delays = [];
  for (let at = 0; at + 128 <= left.length; at += 128) {
    const block = [left.slice(at, at + 128), right.slice(at, at + 128)];
    const exactAt = (delay) => block.every((channel, c) => channel.every((x, i) => x === expected(start + at + i - delay, c)));
    let delay = low;
    while (delay <= high && !exactAt(delay)) delay += 128;
    delays.push(block.every((channel) => channel.every((x) => x === 0)) ? 0 : delay <= high ? delay : NaN);
  }
  assert.ok(!delays.some(Number.isNaN), `blocks that are no copy of the input at delays ${low}..${high}: ${delays}`);
  // How much arrives in time depends on the machine's load; what does arrive must be exact.
  const played = delays.filter((delay) => delay > 0);
  assert.ok(played.length >= 20, `hardly anything played: ${delays}`);
  assert.ok(played.every((delay, i) => i === 0 || delay >= played[i - 1]), `the delay shrank: ${delays}`);
  return delays;
}

async function returnsExactSamplesAfterLatencySamples(sharedMemory) {
  const { latencies, sharedMemory: used } = await harness('start', {
    plugins: [testPlugin('test_gain')], sharedMemory, latencyBlocks: 8 });
  assert.deepEqual(used, [sharedMemory]);
  let recording = await harness('record', 1.5);
  assertPlayedOnTime(recording, (t) => 0.5 * signalAt(t), latencies[0], recording.latencies[0]);
  assert.ok(recording.stats[0].blocks > 0 && recording.stats[0].roundTripMs.p50 > 0);
  // Bypassed, the input passes through as it is; then the plug-in again,
  // and once more after its process was killed and the program relaunched it.
  for (const step of ['bypass', 'resume', 'kill']) {
    if (step === 'kill') {
      for (const pid of program.pluginPids()) process.kill(pid, 'SIGKILL');
      await page.waitForFunction(() => window.nodeHarness.events.some(([type]) => type === 'ready'));
    } else {
      await page.evaluate((on) => window.nodeHarness.nodes[0].setBypass(on), step === 'bypass');
    }
    const before = recording.latencies[0];
    recording = await harness('record', 0.5);
    assertPlayedOnTime(recording, (t) => (step === 'bypass' ? 1 : 0.5) * signalAt(t), before, recording.latencies[0]);
  }
  assert.deepEqual(recording.events, [['crashed', 'signal 9'], ['ready', 0]]);
}

describe('CorvelAudioNode', () => {
  before(async () => {
    await page.addScriptTag({ type: 'module', path: fileURLToPath(new URL('node-harness.js', import.meta.url)) });
    await page.waitForFunction(() => window.nodeHarness);
  });
  afterEach(() => harness('stop'));
  it('returns exact samples after exactly latencySamples, and the input while bypassed, through shared memory; survives a crash', () => returnsExactSamplesAfterLatencySamples(true));
  it('the same through a message port', () => returnsExactSamplesAfterLatencySamples(false));
  it('lands MIDI on the sample that `when` names', async () => {
    // The instrument adds its notes to its input: the signal, plus 64 / 128 from this note.
    const { latencies } = await harness('start', { plugins: [testPlugin('test_synth_with_inputs')], latencyBlocks: 8 });
    // Off the block grid, so that the note needs an offset within its block.
    const frame = await page.evaluate(async () => {
      const { context, nodes } = window.nodeHarness;
      const at = Math.round((context.currentTime + 0.5) * context.sampleRate) + 37;
      await nodes[0].midi([[0x90, 64, 127]], at / context.sampleRate);
      return at;
    });
    const recording = await harness('record', 1, 0);
    const delays = assertPlayedOnTime(recording, (t) => signalAt(t) + (t >= frame ? 0.5 : 0), latencies[0], recording.latencies[0]);
    const inputs = delays.flatMap((delay, k) => (delay ? [recording.start + 128 * k - delay] : []));
    assert.ok(inputs.some((t) => t + 128 <= frame) && inputs.some((t) => t >= frame), `no blocks from both sides of the note at ${frame}: ${inputs}`);
  });
  it('lands a parameter change on the sample that `when` names; follows the plug-in\'s own moves and its programs', async () => {
    // Its output is its input times its Gain.
    const { latencies } = await harness('start', { plugins: [testPlugin('test_parameters')], latencyBlocks: 8 });
    const frame = await page.evaluate(async () => {
      const { context, nodes } = window.nodeHarness;
      // Off the block grid, and more than 32 frames from its block's edges.
      const at = Math.round((context.currentTime + 0.5) * context.sampleRate / 128) * 128 + 37;
      await nodes[0].setParameter(0, 0.5, at / context.sampleRate);
      return at;
    });
    const recording = await harness('record', 1, 0);
    const delays = assertPlayedOnTime(recording, (t) => signalAt(t) * (t >= frame ? 0.5 : 1), latencies[0], recording.latencies[0]);
    const inputs = delays.flatMap((delay, k) => (delay ? [recording.start + 128 * k - delay] : []));
    assert.ok(inputs.some((t) => t < frame && t + 128 > frame), `no block across the change at ${frame}: ${inputs}`);

    const followed = await page.evaluate(async () => {
      const node = window.nodeHarness.nodes[0];
      const events = [];
      node.addEventListener('parameter', (event) => events.push([event.index, event.gesture]));
      const applied = node.parameters[0].value;
      await node.midi([[0x90, 100, 127]]);  // it moves its Gain to 0.6, touching it
      await new Promise((resolve) => { node.addEventListener('parameter', (event) => event.gesture === 'end' && resolve()); });
      const moved = node.parameters[0].display;
      await node.setProgram(2);
      return { applied, events, moved, programs: node.programs, gain: node.parameters[0].display };
    });
    assert.deepEqual(followed, { applied: 0.5, events: [[0, 'begin'], [0, null], [0, 'end']], moved: '60.0',
      programs: { names: ['Unity', 'Half', 'Quiet'], current: 2 }, gain: '10.0' });
  });
  it('feeds a side-chain from its second input: heard exactly, in outputs 3 and 4 as in the mix of 1 and 2', async () => {
    // test_sidechain: out0 = in0 + in2, out1 = in1 + in3, out2 = in2, out3 = in3; the side-chain is -signal / 4.
    const { latencies } = await harness('start', { plugins: [testPlugin('test_sidechain')], inputs: [2, 2], outputs: [2, 2],
      sidechain: true, latencyBlocks: 8 });
    const recording = await harness('record', 1);
    const mix = assertPlayedOnTime(recording, (t) => 0.75 * signalAt(t), latencies[0], recording.latencies[0]);
    const side = assertPlayedOnTime(bus(recording, 1), (t) => -0.25 * signalAt(t), latencies[0], recording.latencies[0]);
    assert.deepEqual(side, mix, 'both outputs of each block played together');
  });
  it('follows setTransport: each block hears the transport at its first input sample, moved on while playing', async () => {
    // test_transport's outputs: tempo / 1000, position / 100, sample position / 1e6, process level / 10.
    const { latencies } = await harness('start', { plugins: [testPlugin('test_transport')], outputs: [2, 2], latencyBlocks: 8 });
    const from = await page.evaluate(async () => {
      const { context, nodes } = window.nodeHarness;
      await nodes[0].setTransport({ tempo: 120 });
      const at = Math.round((context.currentTime + 0.5) * context.sampleRate) + 37;
      await nodes[0].setTransport({ playing: true, tempo: 150, position: 4 }, at / context.sampleRate);
      return at;
    });
    const recording = await harness('record', 1, 0.2);
    // The node's blocks begin on multiples of 128 frames.
    const heard = (t) => {
      const block = t - (t % 128);
      if (block < from) return [0.12, 0, 0, 0.2];
      return [0.15, (4 + ((block - from) * 150) / (60 * 48000)) / 100, (4 * 60 * 48000 / 150 + block - from) / 1e6, 0.2];
    };
    const delays = assertPlayedOnTime(recording, (t, c) => Math.fround(heard(t)[c]), latencies[0], recording.latencies[0]);
    assert.deepEqual(assertPlayedOnTime(bus(recording, 1), (t, c) => Math.fround(heard(t)[2 + c]), latencies[0], recording.latencies[0]), delays);
    const inputs = delays.flatMap((delay, k) => (delay ? [recording.start + 128 * k - delay] : []));
    assert.ok(inputs.some((t) => t < from) && inputs.some((t) => t > from + 12000), `no blocks from both sides of ${from}: ${inputs}`);
  });
  it('hands out the plug-in\'s MIDI and SysEx as events, each at the input time it goes with', async () => {
    // test_arpeggiator answers a note-on of key k at frame f with k, k+4, k+7 at f, f+16, f+32, and F0 7D 01 k F7 at f.
    await harness('start', { plugins: [testPlugin('test_arpeggiator')], latencyBlocks: 8 });
    const { at, midi } = await page.evaluate(async () => {
      const { context, nodes } = window.nodeHarness;
      // Off the block grid, with room for the last note in the same block.
      const frame = Math.round((context.currentTime + 0.2) * context.sampleRate / 128) * 128 + 37;
      await nodes[0].midi([[0x90, 60, 100]], frame / context.sampleRate);
      const deadline = performance.now() + 5000;
      while (window.nodeHarness.midi.length < 4 && performance.now() < deadline) await new Promise((resolve) => setTimeout(resolve, 20));
      return { at: frame, midi: window.nodeHarness.midi };
    });
    const byTime = (a, b) => a[0] - b[0] || a[1] - b[1];
    assert.deepEqual(midi.map(({ time, data }) => [time, ...data]).sort(byTime), [
      [at / 48000, 0x90, 60, 100], [at / 48000, 0xf0, 0x7d, 1, 60, 0xf7], [(at + 16) / 48000, 0x90, 64, 100], [(at + 32) / 48000, 0x90, 67, 100],
    ]);
  });
  it('runs two nodes at once; counts a late block and plays silence in its place, never the late block; ends the sessions on dispose()', async () => {
    // Two gains in a row: a quarter of the signal, after both delays.
    const { latencies } = await harness('start', { plugins: [testPlugin('test_gain'), testPlugin('test_gain')], latencyBlocks: 4 });
    const recording = harness('record', 1.5, 0.2);
    // The program stops for 200 ms: every block in flight comes back late.
    await new Promise((resolve) => setTimeout(resolve, 600));
    process.kill(program.pid, 'SIGSTOP');
    await new Promise((resolve) => setTimeout(resolve, 200));
    process.kill(program.pid, 'SIGCONT');
    const heard = await recording;
    const delays = assertPlayedOnTime(heard, (t) => 0.25 * signalAt(t), latencies[0] + latencies[1], heard.latencies[0] + heard.latencies[1]);
    assert.ok(delays.includes(0), `no silence: ${delays}`);
    for (const { late, underruns } of heard.stats) assert.ok(late > 0 && underruns >= late, JSON.stringify(heard.stats));
    // dispose() ends both sessions.
    program.markLog();
    await harness('stop');
    await program.waitForLog(/effClose[^]*effClose/);
  });
  it('logs no errors in the page', () => assert.deepEqual(consoleErrors, []));
});

/**
 * Serves the client's modules and the node harness over https with a
 * certificate made for the occasion, from 127.0.0.2 (which the browser maps
 * daw.test to, and counts as public).
 */
async function startPublicSite() {
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1', '-subj', '/CN=daw.test',
    '-addext', 'subjectAltName=DNS:daw.test', '-keyout', path.join(scratch, 'key.pem'), '-out', path.join(scratch, 'cert.pem')],
  { stdio: 'ignore' });
  const client = new URL('../../clients/js/', import.meta.url);
  const files = new Map(JSON.parse(readFileSync(new URL('package.json', client), 'utf8')).files
    .map((name) => [`/${name}`, new URL(name, client)]));
  files.set('/node-harness.js', new URL('node-harness.js', import.meta.url));
  site.server = createServer({ key: readFileSync(path.join(scratch, 'key.pem')), cert: readFileSync(path.join(scratch, 'cert.pem')) },
    (request, response) => {
      const file = files.get(request.url);
      if (request.url === '/') response.writeHead(200, { 'Content-Type': 'text/html' }).end('<!doctype html><title>A workstation</title>');
      else if (file) response.writeHead(200, { 'Content-Type': 'text/javascript' }).end(readFileSync(file));
      else response.writeHead(404).end();
    });
  await new Promise((resolve) => site.server.listen(0, '127.0.0.2', resolve));
  site.origin = `https://daw.test:${site.server.address().port}`;
}

describe('a public https page', () => {
  const refusing = new ProgramUnderTest();
  let publicPage;
  let grant;
  /** Connects from the public page; resolves to what it got, or the error's code and message. */
  const connectFrom = (url) => publicPage.evaluate(async (address) => {
    const { CorvelClient } = await import('/corvel-client.js');
    try {
      const client = await CorvelClient.connect(address, { attempts: 1 });
      await client.close();
      return { protocol: client.protocol, version: client.version };
    } catch (error) {
      return { code: error.code, message: error.message };
    }
  }, url);

  before(async () => {
    // A program whose allow-list is empty, and which has no display to ask on.
    await refusing.start({ XDG_CONFIG_HOME: path.join(scratch, 'nothing') });
    const context = await browser.newContext();
    publicPage = await context.newPage();
    await publicPage.goto(`${site.origin}/`);
    const { targetInfo } = await (await context.newCDPSession(publicPage)).send('Target.getTargetInfo');
    const cdp = await browser.newBrowserCDPSession();
    grant = () => cdp.send('Browser.setPermission', { permission: { name: 'loopback-network' }, setting: 'granted',
      origin: site.origin, browserContextId: targetInfo.browserContextId });
  });
  after(() => refusing.stop());

  it('without the loopback permission, reports blocked-by-browser; requestAccess opens its socket before awaiting anything', async () => {
    const outcome = await connectFrom(program.url);
    assert.equal(outcome.code, 'blocked-by-browser', JSON.stringify(outcome));
    assert.match(outcome.message, /Site settings.*Loopback network/);
    // Within a click's activation the browser may ask the user; connect() first asks the Permissions API.
    const opened = await publicPage.evaluate(async (url) => {
      const { CorvelClient } = await import('/corvel-client.js');
      let sockets = 0;
      const WebSocket = class extends window.WebSocket {
        constructor(...args) { super(...args); sockets++; }
      };
      const access = CorvelClient.requestAccess(url, { WebSocket }).catch((error) => error.code);
      const byRequestAccess = sockets;
      const connecting = CorvelClient.connect(url, { WebSocket, attempts: 1 }).catch((error) => error.code);
      return [byRequestAccess, sockets - byRequestAccess, await access, await connecting];
    }, program.url);
    assert.deepEqual(opened, [1, 0, 'blocked-by-browser', 'blocked-by-browser']);
  });

  it('with it, speaks protocol 2 to the program, tells a refusing program from none, and the audio node plays', async () => {
    await grant();
    assert.deepEqual(await connectFrom(program.url), { protocol: 2, version: '0.1.0' });
    const refused = await connectFrom(refusing.url);
    assert.equal(refused.code, 'refused', JSON.stringify(refused));
    assert.match(refused.message, /"Corvel VST\/Remote" dialog.*allowed-origins/);
    const nobody = await connectFrom(`ws://127.0.0.1:${await freePort()}/`);
    assert.equal(nobody.code, 'unreachable', JSON.stringify(nobody));

    await publicPage.addScriptTag({ type: 'module', url: '/node-harness.js' });
    await publicPage.waitForFunction(() => window.nodeHarness);
    const publicHarness = (method, ...args) => publicPage.evaluate(([name, values]) => window.nodeHarness[name](...values), [method, args]);
    try {
      const { latencies, sharedMemory } = await publicHarness('start', { url: program.url, plugins: [testPlugin('test_gain')], latencyBlocks: 8 });
      assert.deepEqual(sharedMemory, [false], 'the page is not cross-origin isolated');
      const recording = await publicHarness('record', 1);
      assertPlayedOnTime(recording, (t) => 0.5 * signalAt(t), latencies[0], recording.latencies[0]);
    } finally {
      await publicHarness('stop');
    }
  });
});
