// The built-in test page: every button is one call of the client module.
// The page's own connection lists the plug-ins (the companion's catalogue
// where it keeps one, else the paths a scan finds); each loaded plug-in
// plays in an audio node, which has a connection of its own.
import { CorvelAudioNode, CorvelClient } from './corvel-client.js';
import { MoveRecorder } from './move-recorder.js';
import { OutputMeters } from './output-meters.js';
import { ParameterPanel } from './parameter-panel.js';
import { RoundTripPlot } from './round-trip-plot.js';

const $ = (id) => document.getElementById(id);

/** What the page is working with; also handy from the browser's console. */
const page = {
  /** @type {CorvelClient|null} */ client: null,
  /** @type {AudioContext|null} */ context: null,
  /** @type {CorvelAudioNode|null} */ node: null,
  /** Measures what the node plays, for the level shown. @type {AnalyserNode|null} */ analyser: null,
  /** @type {ParameterPanel|null} */ panel: null,
  /** @type {OutputMeters|null} */ meters: null,
  /** Whether the transport the plug-in hears plays. */
  playing: false,
  /** The tone in the node's second input, while on. @type {OscillatorNode|null} */ sidechain: null,
  recorder: new MoveRecorder(),
  /** The source playing into the node, while playing. */
  source: null,
  stream: null,
  /** @type {Uint8Array|null} */ savedState: null,
  /**
   * What the last scan found: catalogue entries, or entries made from paths
   * (a name and nothing else known).
   * @type {Array<{path: string, name: string, vendor?: string, category?: string,
   *   inputs?: number, outputs?: number, status?: string, reason?: string}>}
   */
  entries: [],
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
  const loaded = page.node !== null;
  $('scan').disabled = !connected;
  $('load').disabled = !connected || !$('plugins').value;
  $('unload').disabled = !loaded;
  $('editor').disabled = !loaded;
  $('play').disabled = !loaded;
  $('play').textContent = page.source ? 'Stop' : 'Play';
  $('source').disabled = page.source !== null;
  $('bypass').disabled = !loaded;
  $('note').disabled = !loaded;
  $('transport-play').disabled = !loaded;
  $('transport-play').textContent = page.playing ? 'Stop the transport' : 'Start the transport';
  $('rewind').disabled = !loaded;
  $('sidechain').disabled = !loaded || page.node.buses.inputs.length < 2;
  $('save').disabled = !loaded;
  $('restore').disabled = !loaded || !page.savedState;
  const parameters = loaded && page.node.parameters.length > 0;
  $('record').disabled = !parameters;
  $('record').textContent = page.recorder.recording ? 'Stop recording' : 'Record the editor\'s moves';
  $('replay').disabled = !parameters || page.recorder.recording || page.recorder.moves.length === 0;
  $('connect').hidden = connected;
}

/** @param {boolean} fromClick a click may let the browser ask for its permission (pages elsewhere than here need it) */
async function connect(fromClick = false) {
  setStatus($('connection'), 'Connecting…', 'status');
  try {
    // The companion serves the page, so its socket is on the same address.
    // After a reload the previous page's connection may still be closing.
    const url = `ws://${location.host}/`;
    page.client = fromClick
      ? await CorvelClient.requestAccess(url)
      : await CorvelClient.connect(url, { attempts: 10, retryDelayMs: 300 });
  } catch (error) {
    setStatus($('connection'), `Not connected (${error.code}): ${error.message}`, 'status bad');
    log(error.message);
    updateButtons();
    return;
  }
  const client = page.client;
  setStatus($('connection'), `Companion running, version ${client.version}`, 'status ok');
  log(`connected to version ${client.version}, protocol ${client.protocol}`);
  client.addEventListener('close', () => {
    setStatus($('connection'), 'The companion closed the connection', 'status bad');
    setStatus($('plugin'), 'No plug-in loaded', 'dim');
    log('connection ended');
    updateButtons();
  });
  client.addEventListener('unexpected', (event) => log(`unexpected message: ${String(event.data).slice(0, 80)}`));
  updateButtons();
  await scan();
}

async function scan() {
  const folder = $('folder').value.trim();
  $('scanning').hidden = false;
  $('scan-progress').removeAttribute('value');
  $('scan-file').textContent = '';
  try {
    page.entries = await listPlugins(folder);
  } finally {
    $('scanning').hidden = true;
  }
  showPlugins();
  const broken = page.entries.filter(isBroken).length;
  log(`found ${page.entries.length - broken} plug-in${page.entries.length - broken === 1 ? '' : 's'}` +
    (broken ? ` and ${broken} module${broken === 1 ? '' : 's'} that could not be read` : ''));
}

/** The companion's catalogue, where it keeps one; else the paths a scan finds. */
async function listPlugins(folder) {
  const progress = ({ done, total, path }) => {
    $('scan-progress').max = Math.max(total, 1);
    $('scan-progress').value = done;
    $('scan-file').textContent = `${done} of ${total}: ${path}`;
  };
  try {
    return await page.client.catalogue({ folder, onProgress: progress });
  } catch (error) {
    if (error.code !== 'unsupported') throw error;
  }
  const paths = await page.client.scan(folder);
  return paths.map((path) => ({ path, name: path.slice(path.lastIndexOf('/') + 1).replace(/\.(so|dll)$/i, '') }));
}

const isBroken = (entry) => entry.status !== undefined && entry.status !== 'ok';

/** Fills the list with the entries that match the search and the category, and lists the broken ones apart. */
function showPlugins() {
  const working = page.entries.filter((entry) => !isBroken(entry));
  const categories = [...new Set(working.map((entry) => entry.category).filter(Boolean))].sort();
  const chosen = $('category').value;
  $('category').replaceChildren(new Option('All categories', ''), ...categories.map((name) => new Option(name, name)));
  $('category').value = categories.includes(chosen) ? chosen : '';
  $('category').disabled = categories.length === 0;

  const words = $('search').value.toLowerCase().split(/\s+/).filter(Boolean);
  const category = $('category').value;
  const shown = working.filter((entry) => {
    const text = `${entry.name} ${entry.vendor ?? ''} ${entry.path}`.toLowerCase();
    return (!category || entry.category === category) && words.every((word) => text.includes(word));
  });
  const list = $('plugins');
  const previous = list.value;
  list.replaceChildren(...shown.map((entry) => {
    const option = new Option(describe(entry), choiceOf(entry));
    option.title = entry.path;
    return option;
  }));
  if (shown.some((entry) => choiceOf(entry) === previous)) list.value = previous;
  $('shown').textContent = shown.length === working.length ? '' : `${shown.length} of ${working.length}`;

  const broken = page.entries.filter(isBroken);
  $('broken-modules').hidden = broken.length === 0;
  $('broken-count').textContent = broken.length;
  $('broken').replaceChildren(...broken.map((entry) => {
    const item = document.createElement('li');
    item.textContent = `${entry.path}: ${entry.status}${entry.reason ? `, ${entry.reason}` : ''}`;
    return item;
  }));
  updateButtons();
}

/** An entry's value in the list: its path, and for one of a module's several plug-ins its id too. */
function choiceOf(entry) {
  const shared = page.entries.some((other) => other !== entry && other.path === entry.path && !isBroken(other));
  return shared ? `${entry.path}#${entry.uniqueId}` : entry.path;
}

/** A list line: name, vendor, category and channels where the catalogue knows them, the path otherwise. */
function describe(entry) {
  if (entry.status === undefined) return entry.path;
  const parts = [entry.vendor ? `${entry.name} (${entry.vendor})` : entry.name];
  if (entry.category) parts.push(entry.category);
  parts.push(`${entry.inputs} in, ${entry.outputs} out${entry.midiIn ? ', MIDI' : ''}`);
  return parts.join(' · ');
}

async function load() {
  const path = $('plugins').value;
  const entry = page.entries.find((candidate) => choiceOf(candidate) === path);
  await unload();
  setStatus($('plugin'), `Loading ${path}…`, 'dim');
  page.context ??= new AudioContext({ latencyHint: 'interactive' });
  try {
    page.node = await CorvelAudioNode.create(page.context, {
      url: `ws://${location.host}/`,
      // A shell module's plug-ins share its path: its id picks one.
      plugin: entry && choiceOf(entry) !== entry.path ? { path: entry.path, uniqueId: entry.uniqueId } : path,
      latencyBlocks: Number($('latency-blocks').value),
      ...busesFor(entry),
    });
  } catch (error) {
    setStatus($('plugin'), `Could not load ${path}`, 'bad');
    throw error;
  }
  const node = page.node;
  node.connect(page.context.destination);
  page.analyser ??= new AnalyserNode(page.context, { fftSize: 4096 });
  node.connect(page.analyser);
  page.panel.attach(node);
  page.meters.attach(node);
  node.addEventListener('midi', ({ data, time }) => showMidi(data, time));
  node.addEventListener('ioChanged', ({ inputs, outputs, latency }) => log(`the plug-in now has ${inputs} inputs, ` +
    `${outputs} outputs and a latency of ${latency} samples`));
  await tellTransport({});
  node.addEventListener('crashed', (event) => log(`the plug-in crashed: ${event.reason}`));
  node.addEventListener('ready', () => log('the plug-in is back'));
  node.addEventListener('latencychange', () => log(`delay raised to ${node.latencySamples} samples`));
  node.addEventListener('close', () => log('the audio node\'s connection ended'));
  await page.context.resume();
  $('bypass').checked = false;
  setStatus($('plugin'), `Loaded ${path}, latency ${node.latencySamples} samples`, 'ok');
  log(`loaded ${path}`);
}

async function unload() {
  if (!page.node) return;
  stopSource();
  $('sidechain').checked = false;
  toggleSidechain();
  const node = page.node;
  page.node = null;
  page.recorder.stop();
  page.panel.attach(null);
  page.meters.attach(null);
  await node.dispose();
  setStatus($('plugin'), 'No plug-in loaded', 'dim');
  log('unloaded');
}

async function play() {
  if (page.source) {
    stopSource();
    log('audio stopped');
    return;
  }
  const context = page.context;
  if ($('source').value === 'microphone') {
    page.stream = await navigator.mediaDevices.getUserMedia({
      audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
    });
    page.source = context.createMediaStreamSource(page.stream);
  } else {
    const tone = new OscillatorNode(context, { frequency: 440 });
    page.source = tone.connect(new GainNode(context, { gain: 0.2 }));
    tone.start();
  }
  page.source.connect(page.node);
  log(`audio running: ${page.node.blockSize}-frame blocks at ${context.sampleRate} Hz`);
}

/**
 * The node's buses for a plug-in the catalogue describes: a second input
 * for a side-chain where it has four, and its outputs in pairs (the first
 * 16). Unknown: stereo.
 */
function busesFor(entry) {
  const outputs = Math.min(entry?.outputs ?? 2, 16);
  return {
    inputs: (entry?.inputs ?? 2) >= 4 ? [2, 2] : [2],
    outputs: Array.from({ length: Math.ceil(outputs / 2) }, (_, pair) => Math.min(2, outputs - 2 * pair)),
  };
}

/** Tells the plug-in the page's transport, with `fields` changed; a companion without it is only logged. */
async function tellTransport(fields) {
  try {
    await page.node.setTransport({ tempo: Number($('tempo').value) || 120, playing: page.playing, ...fields });
  } catch (error) {
    log(`transport: ${error.message}`);
  }
}

async function playTransport() {
  page.playing = !page.playing;
  await tellTransport({});
  log(page.playing ? 'transport playing' : 'transport stopped');
}

function toggleSidechain() {
  if (!$('sidechain').checked) {
    page.sidechain?.stop();
    page.sidechain = null;
    return;
  }
  page.sidechain = new OscillatorNode(page.context, { frequency: 220 });
  page.sidechain.connect(new GainNode(page.context, { gain: 0.2 })).connect(page.node, 0, 1);
  page.sidechain.start();
}

function showMidi(data, time) {
  const line = document.createElement('li');
  line.textContent = `${time.toFixed(4)} s  ${[...data].map((byte) => byte.toString(16).toUpperCase().padStart(2, '0')).join(' ')}`;
  $('midi-out').prepend(line);
  while ($('midi-out').children.length > 32) $('midi-out').lastChild.remove();
}

function stopSource() {
  page.source?.disconnect();
  page.source = null;
  for (const track of page.stream?.getTracks() ?? []) track.stop();
  page.stream = null;
}

async function bypass() {
  const on = $('bypass').checked;
  await page.node.setBypass(on);
  log(on ? 'bypassed' : 'processing');
}

async function note() {
  const node = page.node;
  const now = page.context.currentTime;
  await node.midi([[0x90, 60, 100]], now);
  await node.midi([[0x80, 60, 0]], now + 0.4);
  log('note on: middle C');
}

async function save() {
  page.savedState = await page.node.getState();
  setStatus($('state'), page.savedState ? `Saved ${page.savedState.length} bytes` : 'The plug-in keeps no state',
    page.savedState ? 'ok' : 'dim');
}

async function restore() {
  await page.node.setState(page.savedState);
  setStatus($('state'), `Restored ${page.savedState.length} bytes`, 'ok');
}

function record() {
  if (page.recorder.recording) {
    page.recorder.stop();
    const { moves, duration } = page.recorder;
    setStatus($('recorded'), `${moves.length} move${moves.length === 1 ? '' : 's'} over ${duration.toFixed(1)} s`, 'ok');
    log(`recorded ${moves.length} moves`);
    return;
  }
  page.recorder.start(page.node);
  setStatus($('recorded'), 'Recording: move the controls in the plug-in\'s editor', 'dim');
}

async function replay() {
  await page.recorder.play(page.node, (index, value) => page.panel.show(index, value));
  log(`playing back ${page.recorder.moves.length} moves`);
}

/** The level of the node's last 4096 samples (a tenth of a second or less), in dB of full scale. */
function outputLevel() {
  const analyser = page.analyser;
  if (!analyser || !page.node) return '–';
  const samples = new Float32Array(analyser.fftSize);
  analyser.getFloatTimeDomainData(samples);
  const power = samples.reduce((sum, x) => sum + x * x, 0) / samples.length;
  return power > 1e-12 ? `${(10 * Math.log10(power)).toFixed(1)} dB` : 'silence';
}

/** Holds the main thread as a busy page would; the audio should not notice. */
function stall() {
  const until = performance.now() + 50;
  while (performance.now() < until);
  log('held the page for 50 ms');
}

action('connect', () => connect(true));
action('scan', scan);
action('load', load);
action('unload', unload);
action('editor', () => page.node.showGui());
action('play', play);
action('note', note);
action('transport-play', playTransport);
action('rewind', () => tellTransport({ position: 0 }));
$('tempo').addEventListener('change', () => page.node && tellTransport({}));
$('sidechain').addEventListener('change', toggleSidechain);
action('record', record);
action('replay', replay);
action('save', save);
action('restore', restore);
$('stall').addEventListener('click', stall);
$('bypass').addEventListener('change', () => bypass().catch((error) => log(error.message)));
$('plugins').addEventListener('change', updateButtons);
$('search').addEventListener('input', showPlugins);
$('category').addEventListener('change', showPlugins);
$('plugins').addEventListener('dblclick', () => !$('load').disabled && $('load').click());
// Leaving the page ends its sessions at once.
window.addEventListener('pagehide', () => {
  page.node?.dispose();
  page.client?.close();
});

page.panel = new ParameterPanel($('parameters'), $('program'), log);
page.meters = new OutputMeters($('outputs'));
const plot = new RoundTripPlot($('round-trips'));
setInterval(() => {
  const node = page.node;
  const stats = node?.stats;
  const ms = (value) => (value === null || value === undefined ? '–' : `${value.toFixed(2)} ms`);
  $('transport').textContent = node ? (node.sharedMemory ? 'shared memory' : 'message port') : '–';
  $('latency').textContent = node
    ? `${node.latencySamples} (${((1000 * node.latencySamples) / page.context.sampleRate).toFixed(1)} ms)` : '–';
  $('blocks').textContent = stats?.blocks ?? 0;
  $('underruns').textContent = stats?.underruns ?? 0;
  $('late').textContent = stats?.late ?? 0;
  $('rtt-p50').textContent = ms(stats?.roundTripMs.p50);
  $('rtt-p99').textContent = ms(stats?.roundTripMs.p99);
  $('level').textContent = outputLevel();
  page.meters.update();
  if (node) plot.draw(node.roundTrips(), (1000 * node.blockSize) / page.context.sampleRate);
}, 250);

page.ready = connect().catch((error) => log(error.message));
