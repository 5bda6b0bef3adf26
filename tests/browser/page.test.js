// The built-in test page in Debian's Chromium, against the real program:
// through the page's buttons and through the client module it loads.
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, it } from 'node:test';
import { chromium } from 'playwright-core';

import { isStateBlob, stateBlob } from '../../clients/js/test/support/blob.js';
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

// --- steps -----------------------------------------------------------------

async function showsTheCompanion() {
  await page.locator('#connection', { hasText: 'Companion running, version 0.1.0' }).waitFor({ timeout: 20000 });
  assert.equal(await page.title(), 'Corvel VST/Remote test page');
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

async function loadsFromTheList(pluginPath, latency = 0) {
  await page.selectOption('#plugins', pluginPath);
  await page.click('#load');
  await page.locator('#plugin', { hasText: `Loaded ${pluginPath}, latency ${latency} samples` }).waitFor();
}

async function processesBlocksThroughTheGain() {
  await loadsFromTheList(unicodeGain);
  const result = await page.evaluate(async () => {
    const { client } = window.corvelTestPage;
    await client.setBlockSize(256);
    const left = Float32Array.from({ length: 256 }, (_, i) => (i - 128) / 64);
    const right = new Float32Array(256).fill(0.75);
    const blocks = await Promise.all([client.process(left, right), client.process(right, left)]);
    return { left: Array.from(left), right: Array.from(right), blocks: blocks.map((b) => [Array.from(b.left), Array.from(b.right)]) };
  });
  const half = (samples) => samples.map((x) => x / 2);
  assert.deepEqual(result.blocks[0], [half(result.left), half(result.right)]);
  assert.deepEqual(result.blocks[1], [half(result.right), half(result.left)]);
}

async function counter(id) {
  return Number(await page.textContent(`#${id}`));
}

async function waitForCounter(id, atLeast) {
  await page.waitForFunction(([element, value]) => Number(document.getElementById(element).textContent) >= value,
    [id, atLeast], { timeout: 20000 });
}

async function playsThroughThePlugin(source) {
  await page.selectOption('#source', source);
  await page.selectOption('#block-size', '512');
  const processed = await counter('blocks-processed');
  await page.click('#play');
  await page.locator('#play', { hasText: 'Stop' }).waitFor();
  await waitForCounter('blocks-processed', processed + 20);
  assert.match(await page.textContent('#rtt-mean'), /^\d+\.\d\d ms$/);
  assert.match(await page.textContent('#rtt-max'), /^\d+\.\d\d ms$/);

  // Bypassed blocks come back unprocessed and the page plays its input.
  const dry = await counter('blocks-dry');
  await page.check('#bypass');
  await waitForCounter('blocks-dry', dry + 10);
  await page.uncheck('#bypass');
  const after = await counter('blocks-processed');
  await waitForCounter('blocks-processed', after + 10);

  await page.click('#play');
  await page.locator('#play', { hasText: 'Play' }).waitFor();
}

async function sendsMidiToTheInstrument() {
  await loadsFromTheList(testPlugin('test_synth'));
  program.mark();
  const levels = await page.evaluate(async () => {
    const { client } = window.corvelTestPage;
    await client.setBlockSize(128);
    const input = new Float32Array(128).fill(0.125);
    await client.midi([[0x90, 64, 127, 50]]);
    const block = await client.process(input, input);
    return [Array.from(block.left), Array.from(block.right)];
  });
  // Note 64 at full velocity adds (64 / 128) * (127 / 127) from frame 50 on.
  const expected = Array.from({ length: 128 }, (_, i) => (i < 50 ? 0.125 : 0.625));
  assert.deepEqual(levels, [expected, expected]);

  // The page's own note button: middle C, velocity 100.
  await page.click('#note');
  await page.locator('#log', { hasText: 'note on: middle C' }).waitFor();
  await page.evaluate(async () => {
    const { client } = window.corvelTestPage;
    await client.process(new Float32Array(128), new Float32Array(128));
  });
  assert.match(program.pluginLog(), /event status=144 data1=60 data2=100 delta=0/);
}

async function savesAndRestoresTheState() {
  await loadsFromTheList(testPlugin('test_chunks'));
  await page.click('#save');
  await page.locator('#state', { hasText: 'Saved 1000 bytes' }).waitFor();
  const original = await page.evaluate(() => Array.from(window.corvelTestPage.savedState));
  assert.ok(isStateBlob(Uint8Array.from(original)));

  // Another state through the module, then the saved one through the button.
  const other = Array.from(stateBlob(new TextEncoder().encode('set from the browser test')));
  const readBack = await page.evaluate(async (bytes) => {
    const { client } = window.corvelTestPage;
    await client.setState(Uint8Array.from(bytes));
    await client.resume();
    return Array.from(await client.getState());
  }, other);
  assert.deepEqual(readBack, other);

  await page.click('#restore');
  await page.locator('#state', { hasText: 'Restored 1000 bytes' }).waitFor();
  const restored = await page.evaluate(async () => {
    const { client } = window.corvelTestPage;
    const state = await client.getState();
    const block = await client.process(new Float32Array(client.blockSize), new Float32Array(client.blockSize));
    return { state: Array.from(state), processing: block !== null };
  });
  assert.deepEqual(restored.state, original);
  assert.equal(restored.processing, true, 'the restore button switches the plug-in on again');
}

async function opensTheEditor() {
  program.mark();
  await page.click('#editor');
  // A state read is handled on the program's GUI thread after the editor request.
  await page.evaluate(() => window.corvelTestPage.client.getState());
  if (process.env.DISPLAY) {
    // The editor stays open (raised, not opened twice) and is idled.
    await waitForPluginLog(/effEditIdle/);
    assert.doesNotMatch(program.pluginLog(), /effEditClose/);
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

async function tellsAPageElsewhereToAllowLocalNetworkAccess() {
  const elsewhere = await context.newPage();
  const blocked = [];
  elsewhere.on('console', (message) => blocked.push(message.text()));
  try {
    await elsewhere.goto('about:blank');
    const source = readFileSync(path.join(here, '../../clients/js/corvel-client.js'), 'utf8');
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

// --- the rounds ----------------------------------------------------------------

for (const round of ['first visit', 'after a reload']) {
  describe(`the test page, ${round}`, () => {
    if (round === 'after a reload') {
      before(async () => {
        program.mark();
        await page.reload();
      });
      it('hands the companion from the old page to the new one', async () => {
        await showsTheCompanion();
        await program.waitForOutput('WS closed\n');
        await program.waitForOutput('WS ready\n');
        assert.match(program.pluginLog(), /effClose/, 'the old page\'s plug-in was unloaded');
      });
    }
    it('shows that the companion runs and its version', showsTheCompanion);
    it('lists the scanned plug-ins, with their paths as they are on disk', listsThePlugins);
    it('loads the gain plug-in and sends blocks through it', processesBlocksThroughTheGain);
    it('plays the test tone through the plug-in with Web Audio, with bypass', () => playsThroughThePlugin('tone'));
    it('plays the microphone through the plug-in', () => playsThroughThePlugin('microphone'));
    it('sends MIDI to the instrument', sendsMidiToTheInstrument);
    it('saves and restores the state', savesAndRestoresTheState);
    it('opens the editor', opensTheEditor);
    it('logs no errors in the page', () => assert.deepEqual(consoleErrors, []));
  });
}

describe('a page that is not on the loopback address', () => {
  it('is told to allow local network access', tellsAPageElsewhereToAllowLocalNetworkAccess);
});
