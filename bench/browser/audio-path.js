// The benchmark's baseline: how the test page used to play a plug-in. A
// worklet gathers blocks, the page's main thread sends them to the companion
// with the client, and the processed blocks go back to the worklet to be played.

const HISTORY = 1 << 16;

export class AudioPath {
  /** @param {import('./corvel-client.js').CorvelClient} client */
  constructor(client) {
    this.client = client;
    this.context = null;
    this.nodes = [];
    this.roundTrips = [];
    this.stats = { last: null, processed: 0, dry: 0, underruns: 0 };
  }

  get running() { return this.context !== null; }

  /**
   * @param {AudioContext} context
   * @param {AudioNode} input
   * @param {AudioNode} output
   * @param {number} blockSize
   */
  async start(context, input, output, blockSize) {
    await context.audioWorklet.addModule('/block-worklet.js');
    const worklet = new AudioWorkletNode(context, 'corvel-block', {
      numberOfInputs: 1,
      numberOfOutputs: 1,
      outputChannelCount: [2],
      channelCount: 2,
      channelCountMode: 'explicit',
      channelInterpretation: 'speakers',
      processorOptions: { blockSize },
    });
    input.connect(worklet).connect(output);
    this.nodes = [worklet];
    await this.client.setSampleRate(Math.round(context.sampleRate));
    await this.client.setBlockSize(blockSize);
    worklet.port.onmessage = (event) => this.#block(worklet.port, event.data);
    this.context = context;
  }

  async stop() {
    if (this.context) this.#release(this.context);
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
    this.context = null;
  }
}
