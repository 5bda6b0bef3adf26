// The built-in test page: every button is one call of the client module.
import { CorvelClient } from './corvel-client.js';
import { AudioPath } from './audio-path.js';

const $ = (id) => document.getElementById(id);

/** What the page is working with; also handy from the browser's console. */
const page = {
  /** @type {CorvelClient|null} */ client: null,
  /** @type {AudioPath|null} */ audio: null,
  /** @type {Uint8Array|null} */ savedState: null,
  /** Resolves once the first connection attempt has settled. */
  ready: null,
};
window.corvelTestPage = page;

function log(text) {
  const line = `${new Date().toLocaleTimeString()}  ${text}\n`;
  $('log').append(line);
  $('log').scrollTop = $('log').scrollHeight;
}

function setStatus(element, text, kind = '') {
  element.textContent = text;
  element.className = kind;
}

/** Runs a button's action, reporting failures instead of throwing them. */
function action(button, run) {
  $(button).addEventListener('click', async () => {
    $(button).disabled = true;
    try {
      await run();
    } catch (error) {
      log(`${button}: ${error.message}`);
    } finally {
      updateButtons();
    }
  });
}

function updateButtons() {
  const connected = page.client?.connected ?? false;
  const loaded = connected && page.client.loaded;
  $('scan').disabled = !connected;
  $('load').disabled = !connected || !$('plugins').value;
  $('unload').disabled = !loaded;
  $('editor').disabled = !loaded;
  $('play').disabled = !connected;
  $('play').textContent = page.audio?.running ? 'Stop' : 'Play';
  $('block-size').disabled = page.audio?.running ?? false;
  $('source').disabled = page.audio?.running ?? false;
  $('bypass').disabled = !loaded;
  $('note').disabled = !loaded;
  $('save').disabled = !loaded;
  $('restore').disabled = !loaded || !page.savedState;
  $('connect').hidden = connected;
}

async function connect() {
  setStatus($('connection'), 'Connecting…', 'status');
  try {
    // The companion serves the page, so its socket is on the same address.
    // After a reload the previous page's connection may still be closing.
    page.client = await CorvelClient.connect(`ws://${location.host}/`, { attempts: 10, retryDelayMs: 300 });
  } catch (error) {
    setStatus($('connection'), `Not connected: ${error.message}`, 'status bad');
    log(error.message);
    updateButtons();
    return;
  }
  const client = page.client;
  setStatus($('connection'), `Companion running, version ${client.version}`, 'status ok');
  log(`connected to version ${client.version}`);
  client.addEventListener('close', () => {
    setStatus($('connection'), 'The companion closed the connection', 'status bad');
    setStatus($('plugin'), 'No plug-in loaded', 'dim');
    log('connection ended');
    page.audio?.stop();
    updateButtons();
  });
  client.addEventListener('unexpected', (event) => log(`unexpected message: ${String(event.data).slice(0, 80)}`));
  page.audio = new AudioPath(client);
  $('bypass').checked = false;
  updateButtons();
  await scan();
}

async function scan() {
  const paths = await page.client.scan($('folder').value.trim());
  const list = $('plugins');
  const previous = list.value;
  list.replaceChildren(...paths.map((path) => new Option(path, path)));
  if (paths.includes(previous)) list.value = previous;
  log(`found ${paths.length} plug-in${paths.length === 1 ? '' : 's'}`);
  updateButtons();
}

async function load() {
  const path = $('plugins').value;
  setStatus($('plugin'), `Loading ${path}…`, 'dim');
  try {
    const latency = await page.client.load(path);
    setStatus($('plugin'), `Loaded ${path}, latency ${latency} samples`, 'ok');
    $('bypass').checked = false;
    log(`loaded ${path}`);
  } catch (error) {
    setStatus($('plugin'), `Could not load ${path}`, 'bad');
    throw error;
  }
}

async function unload() {
  await page.client.unload();
  setStatus($('plugin'), 'No plug-in loaded', 'dim');
  log('unloaded');
}

async function play() {
  if (page.audio.running) {
    await page.audio.stop();
    log('audio stopped');
    return;
  }
  const blockSize = Number($('block-size').value);
  await page.audio.start($('source').value, blockSize);
  log(`audio running: ${blockSize}-frame blocks at ${page.client.sampleRate} Hz`);
}

async function bypass() {
  const bypassed = $('bypass').checked ? await page.client.suspend() : await page.client.resume();
  $('bypass').checked = bypassed;
  log(bypassed ? 'bypassed' : 'processing');
}

async function note() {
  await page.client.midi([[0x90, 60, 100]]);
  log('note on: middle C');
  setTimeout(() => page.client?.connected && page.client.midi([[0x80, 60, 0]]), 400);
}

async function save() {
  page.savedState = await page.client.getState();
  setStatus($('state'), page.savedState ? `Saved ${page.savedState.length} bytes` : 'The plug-in keeps no state',
    page.savedState ? 'ok' : 'dim');
}

async function restore() {
  await page.client.setState(page.savedState);
  // A restore leaves the plug-in off; it goes on again unless bypassed.
  if (!$('bypass').checked) await page.client.resume();
  setStatus($('state'), `Restored ${page.savedState.length} bytes`, 'ok');
}

action('connect', connect);
action('scan', scan);
action('load', load);
action('unload', unload);
action('editor', () => page.client.showGui());
action('play', play);
action('note', note);
action('save', save);
action('restore', restore);
$('bypass').addEventListener('change', () => bypass().catch((error) => log(error.message)));
$('plugins').addEventListener('change', updateButtons);
$('plugins').addEventListener('dblclick', () => !$('load').disabled && $('load').click());
// Leaving the page hands the companion over to the next one at once.
window.addEventListener('pagehide', () => page.client?.close());

setInterval(() => {
  const summary = page.audio?.roundTripSummary();
  const ms = (value) => `${value.toFixed(2)} ms`;
  $('rtt-last').textContent = summary ? ms(summary.last) : '–';
  $('rtt-mean').textContent = summary ? ms(summary.mean) : '–';
  $('rtt-max').textContent = summary ? ms(summary.max) : '–';
  $('blocks-processed').textContent = page.audio?.stats.processed ?? 0;
  $('blocks-dry').textContent = page.audio?.stats.dry ?? 0;
  $('underruns').textContent = page.audio?.stats.underruns ?? 0;
}, 250);

page.ready = connect().catch((error) => log(error.message));
