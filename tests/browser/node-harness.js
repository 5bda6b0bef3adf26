// Loaded into the test page: a known signal through a chain of audio nodes
// into a recorder, on an AudioContext of its own. The signal tells which
// input frame each output sample came from; a side-chain signal, a quarter
// of it upside down, may feed the last node's input 1.
import { CorvelAudioNode } from '/corvel-client.js';

const WORKLETS = `
registerProcessor('test-signal', class extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.scale = options.processorOptions?.scale ?? 1;
  }
  process(inputs, outputs) {
    for (const channel of outputs[0]) channel.forEach((_, i) => { channel[i] = this.scale * (((currentFrame + i) % 48000 + 1) / 65536); });
    return true;
  }
});
registerProcessor('test-recorder', class extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.port.onmessage = (event) => {
      this.samples = Array.from({ length: 2 * options.numberOfInputs }, () => new Float32Array(event.data));
      this.filled = 0;
      this.start = -1;
    };
  }
  process(inputs) {
    if (!this.samples || this.filled === this.samples[0].length) return true;
    if (this.start < 0) this.start = currentFrame;
    const take = Math.min(this.samples[0].length - this.filled, 128);
    inputs.forEach((input, n) => input.forEach((channel, c) => this.samples[2 * n + c].set(channel.subarray(0, take), this.filled)));
    this.filled += take;
    if (this.filled === this.samples[0].length) this.port.postMessage({ start: this.start, samples: this.samples });
    return true;
  }
});
`;

class NodeHarness {
  /**
   * One node per plug-in, in a chain, each from the program at `url`
   * (default: the one that served the page); every output of the last one
   * recorded, two channels each.
   */
  async start({ plugins, url = `ws://${location.host}/`, sidechain = false, ...nodeOptions }) {
    this.context = new AudioContext({ sampleRate: 48000 });
    await this.context.audioWorklet.addModule(URL.createObjectURL(new Blob([WORKLETS], { type: 'text/javascript' })));
    this.nodes = [];
    for (const plugin of plugins) this.nodes.push(await CorvelAudioNode.create(this.context, { url, plugin, ...nodeOptions }));
    const outputs = this.nodes.at(-1).numberOfOutputs;
    this.recorder = new AudioWorkletNode(this.context, 'test-recorder', { numberOfInputs: outputs, channelCount: 2, channelCountMode: 'explicit' });
    const signal = (scale) => new AudioWorkletNode(this.context, 'test-signal', { outputChannelCount: [2], processorOptions: { scale } });
    let last = signal(1);
    for (const node of this.nodes) last = last.connect(node);
    if (sidechain) signal(-0.25).connect(last, 0, 1);
    for (let n = 0; n < outputs; n++) last.connect(this.recorder, n, n);
    this.recorder.connect(this.context.destination);
    this.events = [];
    this.midi = [];
    for (const type of ['crashed', 'ready']) {
      this.nodes[0].addEventListener(type, (event) => this.events.push([type, event.reason ?? event.latency ?? null]));
    }
    this.nodes[0].addEventListener('midi', ({ data, time }) => this.midi.push({ data: Array.from(data), time }));
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
    const channels = samples.map((channel) => Array.from(channel));
    return { start, left: channels[0], right: channels[1], channels, ...this.describe() };
  }

  /** Ends the nodes and the context; a second call does nothing. */
  async stop() {
    await Promise.all(this.nodes.splice(0).map((node) => node.dispose()));
    if (this.context.state !== 'closed') await this.context.close();
  }
}

window.nodeHarness = new NodeHarness();
