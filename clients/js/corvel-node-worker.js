// The audio node's worker: owns the node's connection to the companion, so
// that no block ever waits for the page's main thread. Blocks come from the
// worklet through shared memory or a MessagePort and go back the same way.
// Over protocol 2 each block carries its MIDI events and parameter changes
// on their frames and the transport at its first frame, and brings back
// the MIDI the plug-in sent.
import { MAX_BLOCK_CHANGES, MAX_BLOCK_EVENTS } from './corvel-blocks.js';
import { BlockRing, Field, HEADER_LENGTH } from './corvel-block-ring.js';
import { CorvelClient } from './corvel-connection.js';
import { TransportClock } from './corvel-transport.js';

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

/**
 * MIDI events or parameter changes (arrays of numbers) waiting for the
 * block they belong to.
 */
class FrameSchedule {
  /** @param {number} limit the most a block takes; the rest wait for the next */
  constructor(frames, limit) {
    this.frames = frames;
    this.limit = limit;
    /** @type {Array<{frame: number, item: number[]}>} */
    this.pending = [];
  }

  /** @param {number|null} frame the AudioContext frame, or null for the next block */
  add(items, frame) {
    for (const item of items) this.pending.push({ frame: frame ?? -Infinity, item });
  }

  /**
   * Takes the items due in block `sequence`, each with its offset in the
   * block appended, in the order of their offsets (and of their adding, on
   * one offset): plug-ins take events in time order.
   */
  take(sequence, startFrame) {
    if (this.pending.length === 0) return null;
    const blockStart = startFrame + sequence * this.frames;
    const due = [];
    this.pending = this.pending.filter(({ frame, item }) => {
      if (frame >= blockStart + this.frames) return true;
      // One that is already past goes at the start of this block.
      due.push([...item, Math.max(0, frame - blockStart)]);
      return false;
    });
    due.sort((a, b) => a[a.length - 1] - b[b.length - 1]);
    const over = due.splice(this.limit);
    this.pending.unshift(...over.map((item) => ({ frame: -Infinity, item: item.slice(0, -1) })));
    return due;
  }
}

class NodeWorker {
  /** @type {CorvelClient|null} */ client = null;
  blocks = null;
  bypassed = false;
  /** @type {FrameSchedule|null} */ midi = null;
  /** @type {FrameSchedule|null} */ changes = null;
  // Values the node's own changes gave parameters since the last stats, by
  // index; a report of the plug-in's own about one since then supersedes it.
  applied = new Map();
  /** @type {TransportClock|null} */ clock = null;
  latest = new Float64Array(HEADER_LENGTH);
  // The block on its way to the companion, as the client takes it: the
  // node's input channels, or one silent channel for a node without inputs.
  /** @type {Float32Array[]} */ inputs = [];
  inputChannels = 0;
  sampleRate = 0;
  pluginLatency = 0;
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
      case 'setParameter': return this.changes.add([[args.index, args.value]], args.frame);
      case 'transport': return this.clock.set(args.fields, args.frame);
      case 'parameterDisplay': return this.client.parameterDisplay(args.index, args.value);
      case 'setProgram':
        await this.client.setProgram(args.index);
        // The node holds the new values before its call resolves.
        return this.#describe();
      case 'setProgramName':
        await this.client.setProgramName(args.name);
        return this.#describe();
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

  async #open({ url, plugin, blockSize, sampleRate, rings, port, inputs, outputs }) {
    this.client = await CorvelClient.connect(url, { blockSize, sampleRate });
    const sum = (widths) => widths.reduce((total, width) => total + width, 0);
    this.inputChannels = sum(inputs);
    const outputChannels = sum(outputs);
    const stereo = this.inputChannels === 2 && outputChannels === 2;
    let latency;
    let described;
    try {
      // A companion that predates protocol 2 takes the stereo node still.
      latency = await this.client.load(plugin, stereo ? {} : { inputs: Math.max(1, this.inputChannels), outputs: outputChannels });
      described = await this.#readParameters();
    } catch (error) {
      await this.client.close();
      throw error;
    }
    this.sampleRate = sampleRate;
    this.pluginLatency = latency;
    this.midi = new FrameSchedule(blockSize, MAX_BLOCK_EVENTS);
    this.changes = new FrameSchedule(blockSize, MAX_BLOCK_CHANGES);
    this.clock = new TransportClock(sampleRate);
    this.inputs = Array.from({ length: Math.max(1, this.inputChannels) }, () => new Float32Array(blockSize));
    this.client.addEventListener('crashed', (event) => {
      this.relaunching = true;
      this.scope.postMessage({ type: 'crashed', reason: event.reason });
    });
    this.client.addEventListener('loaded', (event) => {
      if (!this.relaunching) return;
      this.relaunching = false;
      this.pluginLatency = event.latency;
      this.scope.postMessage({ type: 'ready', latency: event.latency });
    });
    this.client.addEventListener('ioChanged', ({ inputs: pluginInputs, outputs: pluginOutputs, latency: changed }) => {
      this.pluginLatency = changed;
      this.scope.postMessage({ type: 'ioChanged', inputs: pluginInputs, outputs: pluginOutputs, latency: changed });
    });
    this.client.addEventListener('close', () => this.scope.postMessage({ type: 'closed' }));
    this.client.addEventListener('parameter', ({ index, value, display, gesture }) => {
      this.applied.delete(index);
      this.scope.postMessage({ type: 'parameter', index, value, display, gesture });
    });
    this.client.addEventListener('parametersChanged', () => this.#describe().catch(() => {}));
    const onBlock = (record) => this.#block(record);
    this.blocks = rings ? new SharedBlocks(rings, onBlock) : new PortBlocks(port, onBlock);
    this.statsTimer = setInterval(() => this.#reportStats(), STATS_INTERVAL_MS);
    return { latency, protocol: this.client.protocol, plugin: this.client.plugin, ...described };
  }

  /**
   * The plug-in's parameters and programs; none from a companion too old
   * to tell them.
   */
  async #readParameters() {
    try {
      const [parameters, programs] = await Promise.all([this.client.parameters(), this.client.programs()]);
      return { parameters, programs };
    } catch (error) {
      if (error.code !== 'unsupported') throw error;
      return { parameters: [], programs: { names: [], current: 0 } };
    }
  }

  /** Reads the parameters and programs again and hands them to the node. */
  async #describe() {
    const described = await this.#readParameters();
    this.applied.clear();
    this.scope.postMessage({ type: 'parameters', ...described });
  }

  /** @param {Float64Array} record a block from the worklet; goes back holding its output */
  #block(record) {
    const received = performance.now();
    this.latest.set(record.subarray(0, HEADER_LENGTH));
    const frames = this.inputs[0].length;
    // The client sends them at once, so the next block may reuse them.
    for (let c = 0; c < this.inputChannels; c++) {
      this.inputs[c].set(record.subarray(HEADER_LENGTH + c * frames, HEADER_LENGTH + (c + 1) * frames));
    }
    const sequence = record[Field.SEQUENCE];
    const start = record[Field.START_FRAME] + sequence * frames;
    const events = this.midi.take(sequence, record[Field.START_FRAME]);
    const changes = this.changes.take(sequence, record[Field.START_FRAME]);
    if (changes) for (const [index, value] of changes) this.applied.set(index, value);
    const transport = this.clock.at(start);
    const bypassed = this.bypassed;
    const done = (block) => {
      this.roundTrips.push(performance.now() - received);
      record[Field.AUDIO] = block || bypassed ? 1 : 0;
      if (block) {
        block.channels.forEach((channel, c) => record.set(channel, HEADER_LENGTH + c * frames));
        if (block.midi.length > 0) this.#sendMidi(block.midi, start);
      } else {
        // Bypassed blocks come back unprocessed and play as they went: the
        // inputs on the outputs of their numbers, silence on the others.
        record.fill(0, HEADER_LENGTH + this.inputChannels * frames);
      }
      this.blocks.reply(record);
    };
    this.client.process(this.inputs, { events, changes, transport }).then(done, () => done(null));
  }

  /**
   * Hands the plug-in's MIDI to the node, each message at its place on the
   * input's timeline: the input frame whose output it goes with, which is
   * its frame in the block less the plug-in's own latency.
   */
  #sendMidi(midi, start) {
    const events = midi.map(({ frame, data }) => ({ data, time: (start + frame - this.pluginLatency) / this.sampleRate }));
    this.scope.postMessage({ type: 'midi', events });
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
      applied: [...this.applied],
    });
    this.roundTrips = [];
    this.applied.clear();
  }

  async #dispose() {
    clearInterval(this.statsTimer);
    this.blocks?.close();
    if (this.client?.connected) await this.client.close();
    this.#reportStats();
  }
}

new NodeWorker(self);
