// Runs in the benchmark's page: a known signal through one way of playing
// the gain plug-in, into an analyser that finds, for every 128-frame block of
// output, how long ago its input was taken (or that it was silence), while
// the page's main thread is held for 50 ms every second. runFloor plays the
// node and its floor side by side in one context, through one signal.
import { CorvelAudioNode, CorvelClient } from '/corvel-client.js';
import { AudioPath } from '/audio-path.js';

const WORKLETS = `
const signalAt = (frame) => ((frame % 48000) + 1) / 65536;
class Signal extends AudioWorkletProcessor {
  process(inputs, outputs) {
    for (const channel of outputs[0]) for (let i = 0; i < channel.length; i++) channel[i] = signalAt(currentFrame + i);
    return true;
  }
}
class DelayAnalyser extends AudioWorkletProcessor {
  constructor() {
    super();
    this.delays = {};
    this.port.onmessage = () => this.port.postMessage(this.delays);
  }
  process(inputs) {
    const samples = inputs[0][0];
    let key = 'silent';
    if (samples && samples.some((x) => x !== 0)) {
      const delay = (currentFrame - (Math.round(samples[0] * 2 * 65536) - 1) + 48000) % 48000;
      const exact = samples.every((x, i) => x === 0.5 * signalAt(currentFrame + i - delay + 48000));
      key = exact ? String(delay) : 'garbled';
    }
    // Counting starts with the first block that comes back.
    if (key === 'silent' && Object.keys(this.delays).length === 0) return true;
    this.delays[key] = (this.delays[key] ?? 0) + 1;
    return true;
  }
}
registerProcessor('bench-signal', Signal);
registerProcessor('bench-analyser', DelayAnalyser);
`;

function percentiles(values) {
  const sorted = Float64Array.from(values).sort();
  const at = (share) => sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
  return { count: sorted.length, p50: at(0.5), p90: at(0.9), p99: at(0.99), p999: at(0.999), max: sorted.at(-1) };
}

/** Holds the main thread for 50 ms every second (when `hold`) for `seconds`. */
async function stallFor(seconds, hold) {
  const stall = setInterval(() => {
    const until = performance.now() + 50;
    while (hold && performance.now() < until);
  }, 1000);
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  clearInterval(stall);
}

/** The delays an analyser heard, by frames (and `silent`, `garbled`), as blocks. */
function heard(analyser) {
  return new Promise((resolve) => {
    analyser.port.onmessage = (event) => resolve(event.data);
    analyser.port.postMessage('report');
  });
}

async function contextWithSignal() {
  // One render quantum per callback: the 128-frame quanta of the measurement.
  const context = new AudioContext({ sampleRate: 48000, latencyHint: 0.001 });
  await context.audioWorklet.addModule(URL.createObjectURL(new Blob([WORKLETS], { type: 'text/javascript' })));
  return { context, signal: new AudioWorkletNode(context, 'bench-signal', { outputChannelCount: [2] }) };
}

function analyserOf(context) {
  const analyser = new AudioWorkletNode(context, 'bench-analyser');
  analyser.connect(context.destination);
  return analyser;
}

/**
 * @param {{way: 'page'|'node', url: string, plugin: string, seconds: number, stall: boolean}} options
 */
window.runBench = async ({ way, url, plugin, seconds, stall }) => {
  const { context, signal } = await contextWithSignal();
  const analyser = analyserOf(context);
  let client = null;
  let path = null;
  let node = null;
  if (way === 'page') {
    client = await CorvelClient.connect(url);
    await client.load(plugin);
    path = new AudioPath(client);
    await path.start(context, signal, analyser, 128);
  } else {
    node = await CorvelAudioNode.create(context, { url, plugin });
    signal.connect(node).connect(analyser);
  }
  await context.resume();
  await stallFor(seconds, stall);
  const result = {
    way: node ? (node.sharedMemory ? 'node, SharedArrayBuffer' : 'node, MessagePort') : 'page path (before)',
    baseLatencyMs: 1000 * context.baseLatency,
    delays: await heard(analyser),
    underruns: node ? node.stats.underruns : path.stats.underruns,
    late: node ? node.stats.late : null,
    latencySamples: node ? node.latencySamples : null,
    roundTrips: percentiles(node ? node.roundTrips() : path.roundTrips),
  };
  if (node) await node.dispose();
  if (client) await client.close();
  await context.close();
  return result;
};

/**
 * The node to the program and its floor, the same node to the echo server,
 * at one fixed delay, from one signal in one context under the same stalls.
 * The one made first may be rendered first in each quantum, and its worker
 * woken first: `floorFirst` lets runs take turns.
 * @param {{url: string, floorUrl: string, plugin: string, seconds: number, stall: boolean,
 *   latencyBlocks: number, sharedMemory: boolean, floorFirst: boolean}} options
 */
window.runFloor = async ({ url, floorUrl, plugin, seconds, stall, latencyBlocks, sharedMemory, floorFirst }) => {
  const { context, signal } = await contextWithSignal();
  const chains = [];
  const order = [['node', url], ['floor', floorUrl]];
  if (floorFirst) order.reverse();
  for (const [name, address] of order) {
    const node = await CorvelAudioNode.create(context, { url: address, plugin, latencyBlocks, fixedLatency: true, sharedMemory });
    const analyser = analyserOf(context);
    signal.connect(node).connect(analyser);
    chains.push({ name, node, analyser });
  }
  await context.resume();
  await stallFor(seconds, stall);
  // Both read at one moment, so neither has run longer.
  const stats = chains.map(({ node }) => node.stats);
  const results = [];
  for (const [i, { name, node, analyser }] of chains.entries()) {
    const { blocks, underruns, late } = stats[i];
    const trips = node.roundTrips();
    results.push({ name, blocks, underruns, late, latencySamples: node.latencySamples, delays: await heard(analyser),
      roundTrips: percentiles(trips), trips: Array.from(trips) });
  }
  for (const { node } of chains) await node.dispose();
  const baseLatencyMs = 1000 * context.baseLatency;
  await context.close();
  return { baseLatencyMs, chains: ['node', 'floor'].map((name) => results.find((chain) => chain.name === name)) };
};
