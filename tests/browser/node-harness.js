// Loaded into the test page: a known signal through a chain of audio nodes
// into a recorder, on an AudioContext of its own. The signal's sample at
// frame t is signalAt(t), so the test can tell exactly which input sample
// every output sample came from.
import { CorvelAudioNode } from '/corvel-client.js';

const WORKLETS = `
class Signal extends AudioWorkletProcessor {
  process(inputs, outputs) {
    for (const channel of outputs[0]) {
      for (let i = 0; i < channel.length; i++) channel[i] = ((currentFrame + i) % 48000 + 1) / 65536;
    }
    return true;
  }
}
class Recorder extends AudioWorkletProcessor {
  constructor() {
    super();
    this.wanted = 0;
    this.filled = 0;
    this.port.onmessage = (event) => {
      this.samples = [new Float32Array(event.data), new Float32Array(event.data)];
      this.wanted = event.data;
      this.filled = 0;
      this.start = -1;
    };
  }
  process(inputs) {
    if (this.filled >= this.wanted) return true;
    if (this.start < 0) this.start = currentFrame;
    const take = Math.min(inputs[0][0]?.length ?? 128, this.wanted - this.filled);
    inputs[0].forEach((channel, c) => c < 2 && this.samples[c].set(channel.subarray(0, take), this.filled));
    this.filled += take;
    if (this.filled === this.wanted) this.port.postMessage({ start: this.start, samples: this.samples });
    return true;
  }
}
registerProcessor('test-signal', Signal);
registerProcessor('test-recorder', Recorder);
`;

class NodeHarness {
  /**
   * @param {{plugins: string[], url?: string, latencyBlocks?: number, sharedMemory?: boolean}} options
   *   one node per plug-in, in a chain
   */
  async start({ plugins, ...nodeOptions }) {
    this.context = new AudioContext({ sampleRate: 48000 });
    const module = URL.createObjectURL(new Blob([WORKLETS], { type: 'text/javascript' }));
    await this.context.audioWorklet.addModule(module);
    this.nodes = [];
    for (const plugin of plugins) this.nodes.push(await CorvelAudioNode.create(this.context, { plugin, ...nodeOptions }));
    this.recorder = new AudioWorkletNode(this.context, 'test-recorder', { channelCount: 2, channelCountMode: 'explicit' });
    let last = new AudioWorkletNode(this.context, 'test-signal', { outputChannelCount: [2] });
    for (const node of this.nodes) {
      last.connect(node);
      last = node;
    }
    last.connect(this.recorder).connect(this.context.destination);
    this.events = [];
    for (const type of ['crashed', 'ready', 'latencychange', 'close']) {
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

  /** Waits `seconds`, then records `seconds` of the chain's output. */
  async record(seconds, settleSeconds = 0.3) {
    await new Promise((resolve) => setTimeout(resolve, settleSeconds * 1000));
    const frames = Math.round(seconds * this.context.sampleRate);
    const recorded = new Promise((resolve) => { this.recorder.port.onmessage = (event) => resolve(event.data); });
    this.recorder.port.postMessage(frames);
    const { start, samples } = await recorded;
    // The nodes' delay reaches the page with their stats, a little later.
    await new Promise((resolve) => setTimeout(resolve, 300));
    return { start, left: Array.from(samples[0]), right: Array.from(samples[1]), ...this.describe() };
  }

  async stop() {
    await Promise.all(this.nodes.map((node) => node.dispose()));
    await this.context.close();
  }
}

window.nodeHarness = new NodeHarness();
