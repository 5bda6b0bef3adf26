// Loaded into the test page: a known signal through a chain of audio nodes
// into a recorder, on an AudioContext of its own. The signal tells which
// input frame each output sample came from.
import { CorvelAudioNode } from '/corvel-client.js';

const WORKLETS = `
registerProcessor('test-signal', class extends AudioWorkletProcessor {
  process(inputs, outputs) {
    for (const channel of outputs[0]) channel.forEach((_, i) => { channel[i] = ((currentFrame + i) % 48000 + 1) / 65536; });
    return true;
  }
});
registerProcessor('test-recorder', class extends AudioWorkletProcessor {
  constructor() {
    super();
    this.port.onmessage = (event) => {
      this.samples = [new Float32Array(event.data), new Float32Array(event.data)];
      this.filled = 0;
      this.start = -1;
    };
  }
  process(inputs) {
    if (!this.samples || this.filled === this.samples[0].length) return true;
    if (this.start < 0) this.start = currentFrame;
    const take = Math.min(inputs[0][0]?.length ?? 128, this.samples[0].length - this.filled);
    inputs[0].forEach((channel, c) => this.samples[c].set(channel.subarray(0, take), this.filled));
    this.filled += take;
    if (this.filled === this.samples[0].length) this.port.postMessage({ start: this.start, samples: this.samples });
    return true;
  }
});
`;

class NodeHarness {
  /** One node per plug-in, in a chain, each from the program at `url` (default: the one that served the page). */
  async start({ plugins, url = `ws://${location.host}/`, ...nodeOptions }) {
    this.context = new AudioContext({ sampleRate: 48000 });
    await this.context.audioWorklet.addModule(URL.createObjectURL(new Blob([WORKLETS], { type: 'text/javascript' })));
    this.nodes = [];
    for (const plugin of plugins) this.nodes.push(await CorvelAudioNode.create(this.context, { url, plugin, ...nodeOptions }));
    this.recorder = new AudioWorkletNode(this.context, 'test-recorder', { channelCount: 2, channelCountMode: 'explicit' });
    let last = new AudioWorkletNode(this.context, 'test-signal', { outputChannelCount: [2] });
    for (const node of this.nodes) last = last.connect(node);
    last.connect(this.recorder).connect(this.context.destination);
    this.events = [];
    for (const type of ['crashed', 'ready']) {
      this.nodes[0].addEventListener(type, (event) => this.events.push([type, event.reason ?? event.latency ?? null]));
    }
    await this.context.resume();
    return this.describe();
  }

  describe() {
    return {
      latencies: this.nodes.map((node) => node.latencySamples),
      stats: this.nodes.map((node) => node.stats),
      sharedMemory: this.nodes.map((node) => node.sharedMemory),
      events: this.events,
    };
  }

  /** Waits `settleSeconds`, then records `seconds` of the chain's output. */
  async record(seconds, settleSeconds = 0.3) {
    await new Promise((resolve) => setTimeout(resolve, settleSeconds * 1000));
    const recorded = new Promise((resolve) => { this.recorder.port.onmessage = (event) => resolve(event.data); });
    this.recorder.port.postMessage(Math.round(seconds * this.context.sampleRate));
    const { start, samples } = await recorded;
    // The nodes' delay reaches the page with their stats, a little later.
    await new Promise((resolve) => setTimeout(resolve, 300));
    return { start, left: Array.from(samples[0]), right: Array.from(samples[1]), ...this.describe() };
  }

  /** Ends the nodes and the context; a second call does nothing. */
  async stop() {
    await Promise.all(this.nodes.splice(0).map((node) => node.dispose()));
    if (this.context.state !== 'closed') await this.context.close();
  }
}

window.nodeHarness = new NodeHarness();
