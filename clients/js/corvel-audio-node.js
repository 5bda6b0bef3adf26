// A Web Audio node that plays a plug-in loaded in the companion. Its blocks
// never pass through the page's main thread: the worklet hands them to a
// worker of its own, which holds the node's connection.
import { BlockRing } from './corvel-block-ring.js';
import { STOPPED, withFields } from './corvel-transport.js';
import {
  checkBlockSize, checkParameterIndex, checkParameterValue, CorvelError, DEFAULT_URL, MAX_CHANNELS,
} from './corvel-wire.js';

/** @typedef {import('./corvel-connection.js').Parameter} Parameter */
/** @typedef {import('./corvel-connection.js').PluginIo} PluginIo */
/** @typedef {import('./corvel-connection.js').Programs} Programs */
/** @typedef {import('./corvel-transport.js').Transport} Transport */

const PROCESSOR = 'corvel-audio-node';
const RING_CAPACITY = 16;
const HISTORY = 32768;
// The channels one input or output of an AudioNode may have, as every browser takes them.
const MAX_BUS_CHANNELS = 32;

// Node.js imports this module through corvel-client.js, where there is no Web Audio.
const AudioWorkletNodeBase = globalThis.AudioWorkletNode ?? class {};

/**
 * @typedef {object} AudioNodeOptions
 * @property {string|{path: string, uniqueId?: number}} plugin the plug-in's path, as
 *   {@link CorvelClient#scan} lists it, or its {@link CorvelClient#catalogue} entry
 * @property {string} [url] default `ws://127.0.0.1:9001/`
 * @property {number} [blockSize=128] frames per block sent to the companion
 * @property {number} [latencyBlocks=2] blocks of delay to start with; at least one
 *   more than a burst of the context's rendering (its `baseLatency`) lasts
 * @property {boolean} [fixedLatency=false] keep that delay for good: a block
 *   that comes back late is not played and raises nothing. For measuring
 *   what a delay holds; a player wants the default
 * @property {boolean} [sharedMemory] blocks through SharedArrayBuffer; default:
 *   when the page is cross-origin isolated, else through a MessagePort
 * @property {number[]} [inputs=[2]] the node's inputs (its buses) and the
 *   channels of each, 1 to 32; they map to the plug-in's inputs in order,
 *   so `[2, 2]` feeds a side-chain from input 1. `[]` for an instrument
 * @property {number[]} [outputs=[2]] the node's outputs and their channels,
 *   mapped to the plug-in's outputs in order (`[2, 2, 2]`: an
 *   instrument's first three pairs); at least one
 */

/**
 * Plays a plug-in inside a Web Audio graph, stereo in and out unless its
 * buses say otherwise. Create it with {@link CorvelAudioNode.create}; each
 * node has its own connection and plug-in.
 *
 * Its output is its input through the plug-in, delayed by exactly
 * {@link latencySamples}. A block that is not back in time plays as silence.
 * Each input takes what is connected to it as that many channels (Web
 * Audio's "speakers" mixing, to the widest input's count: a narrower
 * input takes the first of them).
 *
 * Events: `crashed` (`reason`), `ready` (`latency`) once the companion has
 * relaunched a crashed plug-in, `latencychange` when the delay was raised,
 * `close` when the connection ended; `parameter` (`index`, `value`,
 * `display`, `gesture`: as {@link CorvelParameterEvent}) when the plug-in
 * changed a parameter itself or the user touched one of its controls, once
 * {@link parameters} holds the change; `parametersChanged` once
 * {@link parameters} and {@link programs} were read again after a program
 * change or a restored state; `midi` (`data`, `time`) for each message the
 * plug-in sends (see {@link CorvelAudioNode#setTransport} for the
 * transport it hears); `ioChanged` (`inputs`, `outputs`, `latency`) when
 * the plug-in changed its channels or latency, once {@link latencySamples}
 * holds the latency.
 */
export class CorvelAudioNode extends AudioWorkletNodeBase {
  #worker;
  #calls = new Map();
  #nextCall = 1;
  #frames;
  #latencyBlocks;
  #pluginLatency;
  #sharedMemory;
  #protocol;
  /** @type {{inputs: number[], outputs: number[]}} */ #buses;
  /** @type {PluginIo|null} */ #plugin;
  /** @type {Parameter[]} */ #parameters;
  /** @type {Programs} */ #programs;
  #counts = { blocks: 0, underruns: 0, late: 0 };
  #history = new Float32Array(HISTORY);
  #historyLength = 0;
  #disposed = null;

  /**
   * Connects, loads the plug-in and resolves to a node ready to be connected.
   * @param {BaseAudioContext} context
   * @param {AudioNodeOptions} options
   * @returns {Promise<CorvelAudioNode>}
   */
  static async create(context, options) {
    const frames = options.blockSize ?? 128;
    const asked = options.latencyBlocks ?? 2;
    const buses = { inputs: options.inputs ?? [2], outputs: options.outputs ?? [2] };
    checkBlockSize(frames);
    checkBuses(buses.inputs, 'inputs', 0);
    checkBuses(buses.outputs, 'outputs', 1);
    const channels = Math.max(sum(buses.inputs), sum(buses.outputs));
    if (!Number.isInteger(asked) || asked < 1 || asked > 28) {
      throw new CorvelError('argument', 'latencyBlocks must be a whole number from 1 to 28');
    }
    // The context renders its quanta in bursts as long as its base latency,
    // so a block taken early in a burst can be due before the burst ends.
    const burst = Math.ceil(((context.baseLatency || 0) * context.sampleRate) / frames - 0.01);
    const latencyBlocks = Math.min(28, Math.max(asked, burst + 1));
    const fixedLatency = options.fixedLatency === true;
    const isolated = globalThis.crossOriginIsolated === true;
    const sharedMemory = options.sharedMemory ?? isolated;
    if (sharedMemory && !isolated) {
      throw new CorvelError('argument', 'sharedMemory needs a cross-origin isolated page (see the README)');
    }
    await context.audioWorklet.addModule(new URL('./corvel-node-worklet.js', import.meta.url));
    const worker = new Worker(new URL('./corvel-node-worker.js', import.meta.url), { type: 'module' });
    const rings = sharedMemory
      ? { input: BlockRing.allocate(RING_CAPACITY, frames, channels), output: BlockRing.allocate(RING_CAPACITY, frames, channels) }
      : null;
    const channel = sharedMemory ? null : new MessageChannel();
    let opened;
    try {
      opened = await firstAnswer(worker, {
        id: 0,
        type: 'open',
        url: options.url ?? DEFAULT_URL,
        plugin: options.plugin,
        blockSize: frames,
        sampleRate: Math.round(context.sampleRate),
        rings,
        port: channel?.port1,
        ...buses,
      }, channel ? [channel.port1] : []);
    } catch (error) {
      worker.terminate();
      throw error;
    }
    const node = new CorvelAudioNode(context, { worker, frames, latencyBlocks, fixedLatency, rings, sharedMemory, buses, ...opened });
    if (channel) node.port.postMessage(channel.port2, [channel.port2]);
    return node;
  }

  /** Use {@link CorvelAudioNode.create}. */
  constructor(context, {
    worker, frames, latencyBlocks, fixedLatency, rings, sharedMemory, buses, latency, protocol, plugin, parameters, programs,
  }) {
    super(context, PROCESSOR, {
      numberOfInputs: buses.inputs.length,
      numberOfOutputs: buses.outputs.length,
      outputChannelCount: buses.outputs,
      channelCount: Math.max(1, ...buses.inputs),
      channelCountMode: 'explicit',
      channelInterpretation: 'speakers',
      processorOptions: { blockSize: frames, latencyBlocks, fixedLatency, rings, ...buses },
    });
    this.#buses = buses;
    this.#plugin = plugin;
    this.#worker = worker;
    this.#frames = frames;
    this.#latencyBlocks = latencyBlocks;
    this.#pluginLatency = latency;
    this.#sharedMemory = sharedMemory;
    this.#protocol = protocol;
    this.#parameters = parameters;
    this.#programs = programs;
    worker.onmessage = (event) => this.#message(event.data);
  }

  /** The delay from input to output in samples: the node's blocks and the plug-in's own latency. */
  get latencySamples() { return this.#latencyBlocks * this.#frames + this.#pluginLatency; }
  get blockSize() { return this.#frames; }
  /** True when blocks travel through SharedArrayBuffer rings, false for a MessagePort. */
  get sharedMemory() { return this.#sharedMemory; }
  /** The node's inputs and outputs, each a count of channels, as created. */
  get buses() { return { inputs: [...this.#buses.inputs], outputs: [...this.#buses.outputs] }; }
  /** The plug-in's own channels and their names; null from a companion too old to tell them. @type {PluginIo|null} */
  get plugin() { return this.#plugin; }

  /**
   * The plug-in's parameters, read on loading and again on each
   * `parametersChanged`. Each `value` and `display` follows the plug-in's
   * own changes (`parameter` events); `value` also follows this node's
   * {@link setParameter} calls, within a tenth of a second of their taking
   * effect. Empty from a companion too old to tell them.
   * @type {Parameter[]}
   */
  get parameters() { return this.#parameters; }

  /** The plug-in's programs and the current one, read when the parameters are. @type {Programs} */
  get programs() { return this.#programs; }

  /**
   * Blocks played, underruns (turns that played silence because no processed
   * block was there), late blocks (came back after their turn; never played)
   * and the round trips from the worker to the companion and back.
   */
  get stats() {
    const trips = this.roundTrips().sort();
    const at = (share) => (trips.length ? trips[Math.min(trips.length - 1, Math.floor(share * trips.length))] : null);
    return { ...this.#counts, roundTripMs: { p50: at(0.5), p99: at(0.99) } };
  }

  /** The most recent round trips in milliseconds, oldest first (up to 32768). */
  roundTrips() {
    const count = Math.min(this.#historyLength, HISTORY);
    const end = this.#historyLength % HISTORY;
    const trips = new Float32Array(count);
    if (count < HISTORY) trips.set(this.#history.subarray(0, count));
    else trips.set([...this.#history.subarray(end), ...this.#history.subarray(0, end)]);
    return trips;
  }

  /**
   * Sends MIDI events to the plug-in.
   * @param {Array<[number, number, number]>} events status and two data bytes each
   * @param {number} [when] an AudioContext time: the events apply from the
   *   input sample at that time, so they are heard `latencySamples` later, as
   *   that input is. Omitted or past: with the next block.
   */
  midi(events, when) {
    if (!Array.isArray(events) || events.some((event) => !Array.isArray(event) || event.length !== 3)) {
      return Promise.reject(new CorvelError('argument', 'midi takes an array of [status, data1, data2] events'));
    }
    const frame = when === undefined ? null : Math.round(when * this.context.sampleRate);
    return this.#call('midi', { events, frame });
  }

  /**
   * Sets a parameter of the plug-in.
   * @param {number} index
   * @param {number} value 0 to 1
   * @param {number} [when] an AudioContext time: the change applies from the
   *   input sample at that time (heard `latencySamples` later, as that input
   *   is), or up to 31 samples off it where that sample is within 32 of
   *   the edge of one of the node's blocks: the companion processes blocks
   *   in pieces no shorter than that. Omitted or past: with the next block.
   */
  setParameter(index, value, when) {
    if (this.#protocol !== 2) return Promise.reject(new CorvelError('unsupported', 'this companion is too old for parameters'));
    try {
      checkParameterIndex(index);
      checkParameterValue(value);
    } catch (error) {
      return Promise.reject(error);
    }
    const frame = when === undefined ? null : Math.round(when * this.context.sampleRate);
    return this.#call('setParameter', { index, value, frame });
  }

  /**
   * Sets the transport the plug-in hears (protocol 2): tempo, time
   * signature, playing, position, cycle. Fields left out go on as they
   * were; while playing, the node moves the position and the sample
   * position on by the frames since, so a workstation calls this only on
   * play, stop, a jump, a loop or a new tempo. A new `position` without a
   * `barStart` lies in bars counted from 0, and without a `samplePosition`
   * is as many frames in as it is at the tempo. The node does not loop at
   * the cycle's end: the workstation tells the jump back.
   *
   * Each block carries the transport at its first input sample, as the
   * plug-in's MIDI and parameter changes are placed: a plug-in's output is
   * heard `latencySamples` after the input it goes with. Likewise each
   * `midi` event's `time` is the input's time it goes with.
   * @param {Partial<Transport>} fields
   * @param {number} [when] an AudioContext time: the blocks that begin at
   *   or after it hear the change, as if it happened at `when`. Omitted:
   *   from the next block.
   */
  setTransport(fields, when) {
    if (this.#protocol !== 2) return Promise.reject(new CorvelError('unsupported', 'this companion is too old for the transport'));
    try {
      withFields(STOPPED, fields, this.context.sampleRate);
    } catch (error) {
      return Promise.reject(error);
    }
    const frame = when === undefined ? null : Math.round(when * this.context.sampleRate);
    return this.#call('transport', { fields, frame });
  }

  /**
   * The text the plug-in shows for `value` of a parameter; the plug-in goes
   * on as it was.
   * @returns {Promise<string>}
   */
  parameterDisplay(index, value) { return this.#call('parameterDisplay', { index, value }); }

  /**
   * Switches the plug-in to one of its programs; resolves once
   * {@link parameters} and {@link programs} hold its values.
   */
  setProgram(index) { return this.#call('setProgram', { index }); }

  /** Renames the current program; resolves once {@link programs} holds the name. */
  setProgramName(name) { return this.#call('setProgramName', { name }); }

  /** Passes the input through unprocessed (still delayed by latencySamples) while on. */
  setBypass(on) { return this.#call('bypass', { on: Boolean(on) }); }
  /** @returns {Promise<Uint8Array|null>} */
  getState() { return this.#call('getState'); }
  /** @param {Uint8Array} bytes a state from {@link getState}; the plug-in keeps playing */
  setState(bytes) { return this.#call('setState', { bytes }); }
  /** Opens the plug-in's editor on the companion's screen. */
  showGui() { return this.#call('showGui'); }

  /** Stops the node and ends its session; the companion unloads its plug-in. */
  dispose() {
    this.#disposed ??= (async () => {
      this.disconnect();
      this.port.postMessage('stop');
      try {
        await this.#call('dispose');
      } finally {
        this.#worker.terminate();
      }
    })();
    return this.#disposed;
  }

  #call(type, args = {}, transfer = []) {
    return new Promise((resolve, reject) => {
      const id = this.#nextCall++;
      this.#calls.set(id, { resolve, reject });
      this.#worker.postMessage({ id, type, ...args }, transfer);
    });
  }

  #message(data) {
    if (data.id !== undefined) {
      const call = this.#calls.get(data.id);
      this.#calls.delete(data.id);
      if (data.error) call?.reject(new CorvelError(data.error.code, data.error.message));
      else call?.resolve(data.result);
      return;
    }
    switch (data.type) {
      case 'stats': return this.#stats(data);
      case 'crashed': return this.dispatchEvent(Object.assign(new Event('crashed'), { reason: data.reason }));
      case 'ready':
        this.#pluginLatency = data.latency;
        return this.dispatchEvent(Object.assign(new Event('ready'), { latency: data.latency }));
      case 'closed': return this.dispatchEvent(new Event('close'));
      case 'midi':
        for (const { data: bytes, time } of data.events) this.dispatchEvent(Object.assign(new Event('midi'), { data: bytes, time }));
        return undefined;
      case 'ioChanged': {
        const { inputs, outputs, latency } = data;
        this.#pluginLatency = latency;
        if (this.#plugin) this.#plugin = { ...this.#plugin, inputs, outputs };
        return this.dispatchEvent(Object.assign(new Event('ioChanged'), { inputs, outputs, latency }));
      }
      case 'parameter': {
        const { index, value, display, gesture } = data;
        const parameter = this.#parameters[index];
        if (parameter) Object.assign(parameter, { value, display });
        return this.dispatchEvent(Object.assign(new Event('parameter'), { index, value, display, gesture: gesture ?? null }));
      }
      case 'parameters':
        this.#parameters = data.parameters;
        this.#programs = data.programs;
        return this.dispatchEvent(new Event('parametersChanged'));
    }
  }

  #stats({ blocks, underruns, late, latencyBlocks, roundTrips, applied }) {
    this.#counts = { blocks, underruns, late };
    for (const [index, value] of applied) {
      if (this.#parameters[index]) this.#parameters[index].value = value;
    }
    for (const trip of roundTrips) this.#history[this.#historyLength++ % HISTORY] = trip;
    if (latencyBlocks > this.#latencyBlocks) {
      this.#latencyBlocks = latencyBlocks;
      this.dispatchEvent(new Event('latencychange'));
    }
  }
}

function sum(widths) {
  return widths.reduce((total, width) => total + width, 0);
}

/** @throws {CorvelError} `argument` unless `widths` can be a node's buses, at least `least` of them */
function checkBuses(widths, what, least) {
  if (!Array.isArray(widths) || widths.length < least ||
      !widths.every((width) => Number.isInteger(width) && width >= 1 && width <= MAX_BUS_CHANNELS) ||
      sum(widths) > MAX_CHANNELS) {
    throw new CorvelError('argument', `${what} is an array of${least ? ' at least one' : ''} channel counts, ` +
      `1 to ${MAX_BUS_CHANNELS} each and ${MAX_CHANNELS} in all`);
  }
}

/** Sends the worker its first message and waits for the answer. */
function firstAnswer(worker, message, transfer) {
  return new Promise((resolve, reject) => {
    worker.onmessage = ({ data }) => {
      if (data.id !== message.id) return;
      if (data.error) reject(new CorvelError(data.error.code, data.error.message));
      else resolve(data.result);
    };
    worker.onerror = (event) => reject(new CorvelError('protocol', event.message
      ? `the node's worker failed: ${event.message}`
      : 'the node\'s worker did not start: on a cross-origin isolated page, its scripts must be ' +
        'sent with "Cross-Origin-Embedder-Policy: require-corp" too'));
    worker.postMessage(message, transfer);
  });
}
