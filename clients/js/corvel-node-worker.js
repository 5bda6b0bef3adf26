// The audio node's worker: owns the node's connection to the companion, so
// that no block ever waits for the page's main thread. Blocks come from the
// worklet through shared memory or a MessagePort and go back the same way.
// Over protocol 2 each block carries its MIDI events on their frames.
import { BlockRing, Field, HEADER_LENGTH } from './corvel-block-ring.js';
import { CorvelClient } from './corvel-connection.js';

const STATS_INTERVAL_MS = 100;

/** Blocks to and from the worklet through shared memory. */
class SharedBlocks {
  constructor(rings, onBlock) {
    this.fromWorklet = new BlockRing(rings.input);
    this.toWorklet = new BlockRing(rings.output);
    this.onBlock = onBlock;
    this.open = true;
    this.#drain();
  }

  async #drain() {
    while (this.open) {
      for (let record = this.fromWorklet.readable(); record; record = this.fromWorklet.readable()) {
        this.onBlock(record.slice());
        this.fromWorklet.commitRead();
      }
      await this.fromWorklet.waitForRecords(1000);
    }
  }

  /** Hands a processed record to the worklet; a worklet that stopped reading drops it. */
  reply(record) {
    const slot = this.toWorklet.writable();
    if (!slot) return;
    slot.set(record);
    this.toWorklet.commitWrite();
  }

  close() { this.open = false; }
}

/** Blocks to and from the worklet through a MessagePort. */
class PortBlocks {
  constructor(port, onBlock) {
    this.port = port;
    port.onmessage = (event) => onBlock(event.data);
  }

  reply(record) { this.port.postMessage(record, [record.buffer]); }
  close() { this.port.close(); }
}

/** MIDI events waiting for the block they belong to. */
class MidiSchedule {
  constructor(frames) {
    this.frames = frames;
    /** @type {Array<{frame: number, event: number[]}>} */
    this.pending = [];
  }

  /** @param {number|null} frame the AudioContext frame, or null for the next block */
  add(events, frame) {
    for (const event of events) this.pending.push({ frame: frame ?? -Infinity, event });
  }

  /** Takes the events due in block `sequence`, with their offsets in it. */
  take(sequence, startFrame) {
    if (this.pending.length === 0) return null;
    const blockStart = startFrame + sequence * this.frames;
    const due = [];
    this.pending = this.pending.filter(({ frame, event }) => {
      if (frame >= blockStart + this.frames) return true;
      // One that is already past goes at the start of this block.
      due.push([...event.slice(0, 3), Math.max(0, frame - blockStart)]);
      return false;
    });
    return due;
  }
}

class NodeWorker {
  /** @type {CorvelClient|null} */ client = null;
  blocks = null;
  bypassed = false;
  midi = null;
  latest = new Float64Array(HEADER_LENGTH);
  // The block on its way to the companion, as the client takes it.
  left = new Float32Array(0);
  right = new Float32Array(0);
  roundTrips = [];
  relaunching = false;

  constructor(scope) {
    this.scope = scope;
    scope.onmessage = (event) => this.#command(event.data);
  }

  async #command({ id, type, ...args }) {
    try {
      this.scope.postMessage({ id, result: await this.#run(type, args) });
    } catch (error) {
      this.scope.postMessage({ id, error: { code: error.code ?? 'protocol', message: error.message } });
    }
  }

  async #run(type, args) {
    switch (type) {
      case 'open': return this.#open(args);
      case 'midi': return this.midi.add(args.events, args.frame);
      case 'bypass':
        this.bypassed = args.on;
        return args.on ? this.client.suspend() : this.client.resume();
      case 'getState': return this.client.getState();
      case 'setState':
        await this.client.setState(args.bytes);
        // A restored plug-in is off until told otherwise.
        return this.bypassed ? undefined : this.client.resume();
      case 'showGui': return this.client.showGui();
      case 'dispose': return this.#dispose();
      default: throw new Error(`unknown command ${type}`);
    }
  }

  async #open({ url, plugin, blockSize, sampleRate, rings, port }) {
    this.client = await CorvelClient.connect(url, { blockSize, sampleRate });
    let latency;
    try {
      latency = await this.client.load(plugin);
    } catch (error) {
      await this.client.close();
      throw error;
    }
    this.midi = new MidiSchedule(blockSize);
    this.left = new Float32Array(blockSize);
    this.right = new Float32Array(blockSize);
    this.client.addEventListener('crashed', (event) => {
      this.relaunching = true;
      this.scope.postMessage({ type: 'crashed', reason: event.reason });
    });
    this.client.addEventListener('loaded', (event) => {
      if (!this.relaunching) return;
      this.relaunching = false;
      this.scope.postMessage({ type: 'ready', latency: event.latency });
    });
    this.client.addEventListener('close', () => this.scope.postMessage({ type: 'closed' }));
    const onBlock = (record) => this.#block(record);
    this.blocks = rings ? new SharedBlocks(rings, onBlock) : new PortBlocks(port, onBlock);
    this.statsTimer = setInterval(() => this.#reportStats(), STATS_INTERVAL_MS);
    return latency;
  }

  /** @param {Float64Array} record a block from the worklet; goes back holding its output */
  #block(record) {
    const received = performance.now();
    this.latest.set(record.subarray(0, HEADER_LENGTH));
    const frames = (record.length - HEADER_LENGTH) / 2;
    // The client sends them at once, so the next block may reuse them.
    this.left.set(record.subarray(HEADER_LENGTH, HEADER_LENGTH + frames));
    this.right.set(record.subarray(HEADER_LENGTH + frames));
    const events = this.midi.take(record[Field.SEQUENCE], record[Field.START_FRAME]);
    const bypassed = this.bypassed;
    const done = (block) => {
      this.roundTrips.push(performance.now() - received);
      record[Field.AUDIO] = block || bypassed ? 1 : 0;
      // Bypassed blocks come back unprocessed and play as they went.
      if (block) {
        record.set(block.left, HEADER_LENGTH);
        record.set(block.right, HEADER_LENGTH + frames);
      }
      this.blocks.reply(record);
    };
    this.client.process(this.left, this.right, events).then(done, () => done(null));
  }

  #reportStats() {
    const latest = this.latest;
    this.scope.postMessage({
      type: 'stats',
      blocks: latest[Field.BLOCKS],
      underruns: latest[Field.UNDERRUNS],
      late: latest[Field.LATE],
      latencyBlocks: latest[Field.LATENCY_BLOCKS],
      roundTrips: Float32Array.from(this.roundTrips),
    });
    this.roundTrips = [];
  }

  async #dispose() {
    clearInterval(this.statsTimer);
    this.blocks?.close();
    if (this.client?.connected) await this.client.close();
    this.#reportStats();
  }
}

new NodeWorker(self);
