// Routes a test tone or the microphone through the loaded plug-in with Web
// Audio: a worklet gathers blocks, the client sends them to the companion,
// and the processed blocks go back to the worklet to be played.

const HISTORY = 100;

export class AudioPath {
  /** @param {import('./corvel-client.js').CorvelClient} client */
  constructor(client) {
    this.client = client;
    this.context = null;
    this.nodes = [];
    this.stream = null;
    this.roundTrips = [];
    this.stats = { last: null, processed: 0, dry: 0, underruns: 0 };
  }

  get running() { return this.context !== null; }

  /** Mean and longest of the recent round trips, in milliseconds. */
  roundTripSummary() {
    if (this.roundTrips.length === 0) return null;
    const sum = this.roundTrips.reduce((a, b) => a + b, 0);
    return { last: this.stats.last, mean: sum / this.roundTrips.length, max: Math.max(...this.roundTrips) };
  }

  /**
   * @param {'tone'|'microphone'} source
   * @param {number} blockSize
   */
  async start(source, blockSize) {
    const context = new AudioContext();
    try {
      await context.audioWorklet.addModule('/block-worklet.js');
      const input = await this.#source(context, source);
      const worklet = new AudioWorkletNode(context, 'corvel-block', {
        numberOfInputs: 1,
        numberOfOutputs: 1,
        outputChannelCount: [2],
        channelCount: 2,
        channelCountMode: 'explicit',
        channelInterpretation: 'speakers',
        processorOptions: { blockSize },
      });
      input.connect(worklet).connect(context.destination);
      this.nodes = [input, worklet];
      await this.client.setSampleRate(Math.round(context.sampleRate));
      await this.client.setBlockSize(blockSize);
      worklet.port.onmessage = (event) => this.#block(worklet.port, event.data);
      await context.resume();
      this.context = context;
    } catch (error) {
      this.#release(context);
      throw error;
    }
  }

  async stop() {
    if (this.context) this.#release(this.context);
  }

  async #source(context, kind) {
    if (kind === 'microphone') {
      this.stream = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
      });
      return context.createMediaStreamSource(this.stream);
    }
    const tone = new OscillatorNode(context, { frequency: 440 });
    const level = new GainNode(context, { gain: 0.2 });
    tone.connect(level);
    tone.start();
    return level;
  }

  #block(port, message) {
    if (message.underruns !== undefined) {
      this.stats.underruns = message.underruns;
      return;
    }
    const { left, right } = message;
    const sent = performance.now();
    // Blocks are answered in the order they were sent, so they queue up in order too.
    this.client.process(left, right).then((block) => {
      this.stats.last = performance.now() - sent;
      this.roundTrips.push(this.stats.last);
      if (this.roundTrips.length > HISTORY) this.roundTrips.shift();
      if (block) {
        this.stats.processed++;
        port.postMessage(block, [block.left.buffer]);
      } else {
        // Bypassed, or no plug-in: the input passes through unchanged.
        this.stats.dry++;
        port.postMessage({ left, right }, [left.buffer, right.buffer]);
      }
    }, () => this.stop());
  }

  #release(context) {
    for (const node of this.nodes) node.disconnect();
    this.nodes = [];
    if (this.stream) for (const track of this.stream.getTracks()) track.stop();
    this.stream = null;
    context.close();
    this.context = null;
  }
}
