// The companion's wire format: how each request travels on the socket and
// what each message that comes back means. The client and the audio node
// share it; it holds no connection, and imports nothing.

/** Where the companion listens; it only ever listens on the loopback address. */
export const DEFAULT_URL = 'ws://127.0.0.1:9001/';

/** The most frames per block the companion takes. */
export const MAX_BLOCK_SIZE = 16384;

const GREETING_PREFIX = 'corvel studio plugin loader\nversion ';
const LATENCY_PREFIX = 'fixedCompensationDelaySamp\n';
const CRASHED_PREFIX = 'crashed\n';

const LITTLE_ENDIAN = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

/**
 * Why a call failed.
 * - `unreachable`: no connection could be opened;
 * - `protocol`: the other side did not answer as the companion does;
 * - `closed`: the connection ended before the answer came;
 * - `timeout`: no answer in time (a failed load sends none);
 * - `busy`: a load is already under way;
 * - `argument`: the call's arguments cannot be sent.
 * @typedef {'unreachable'|'protocol'|'closed'|'timeout'|'busy'|'argument'} CorvelErrorCode
 */

/** An error of this client, with a machine-readable `code`. */
export class CorvelError extends Error {
  /**
   * @param {CorvelErrorCode} code
   * @param {string} message
   */
  constructor(code, message) {
    super(message);
    this.name = 'CorvelError';
    /** @type {CorvelErrorCode} */
    this.code = code;
  }
}

/**
 * One MIDI event: status, two data bytes and, optionally, the frame within
 * the next processed block at which it happens.
 * @typedef {[number, number, number] | [number, number, number, number] |
 *   {status: number, data1: number, data2: number, offset?: number}} MidiEvent
 */

/**
 * A processed block: one array per channel, `blockSize` samples each.
 * @typedef {{left: Float32Array, right: Float32Array}} StereoBlock
 */

/**
 * A request to the companion. `midi` queues its events for the next block;
 * `getState`, `suspend`, `resume` and `scan` are answered, in order among
 * requests of their kind.
 * @typedef {{type: 'scan', folder: string} | {type: 'load', path: string} |
 *   {type: 'midi', events: MidiEvent[]} | {type: 'blockSize', frames: number} |
 *   {type: 'sampleRate', hz: number} | {type: 'setState', bytes: Uint8Array|ArrayBuffer} |
 *   {type: 'unload'|'suspend'|'resume'|'getState'|'showGui'|'quit'}} Request
 */

/**
 * A message from the companion, read.
 * - `ready`: after a load and after a block-size change;
 * - `loaded`: a plug-in is in place, with its latency in samples;
 * - `crashed`: the plug-in crashed or was given up on;
 * - `bypass`: the answer to suspend or resume;
 * - `state`: the answer to getState, null for a plug-in without one;
 * - `plugins`: the answer to scan, null when unreadable;
 * - `block`: a block on its way back, to be read by {@link decodeBlock};
 * - `unexpected`: none of these.
 * @typedef {{type: 'ready'} | {type: 'loaded', latency: number} | {type: 'crashed', reason: string} |
 *   {type: 'bypass', on: boolean} | {type: 'state', bytes: Uint8Array|null} |
 *   {type: 'plugins', paths: string[]|null} | {type: 'block', data: ArrayBuffer} |
 *   {type: 'unexpected'}} Reply
 */

/**
 * @param {string|ArrayBuffer} message the first message of a connection
 * @returns {string|null} the companion's version, or null when this is not its greeting
 */
export function readGreeting(message) {
  if (typeof message !== 'string' || !message.startsWith(GREETING_PREFIX)) return null;
  return message.slice(GREETING_PREFIX.length);
}

/** @throws {CorvelError} `argument` unless the companion takes `frames` as a block size */
export function checkBlockSize(frames) {
  if (!Number.isInteger(frames) || frames < 1 || frames > MAX_BLOCK_SIZE) {
    throw new CorvelError('argument', `block size must be a whole number from 1 to ${MAX_BLOCK_SIZE}`);
  }
}

/** @throws {CorvelError} `argument` unless the companion takes `hz` as a sample rate */
export function checkSampleRate(hz) {
  if (!Number.isInteger(hz) || hz < 1 || hz > 0x7fffffff) {
    throw new CorvelError('argument', 'sample rate must be a whole number of hertz above 0');
  }
}

/**
 * The messages that carry `request`, to be sent back to back: the companion
 * takes the binary message after "setState" as the state.
 * @param {Request} request
 * @returns {Array<string|Uint8Array>} none for a `midi` request without events
 * @throws {CorvelError} `argument` when a value cannot be sent; a text
 *   command the companion cannot parse would end the connection
 */
export function encodeRequest(request) {
  switch (request.type) {
    case 'scan':
      if (typeof request.folder !== 'string' || request.folder.includes('\0')) {
        throw new CorvelError('argument', 'the folder must be a string without 0 characters');
      }
      return [request.folder ? `scanVSTs ${request.folder}` : 'scanVSTs'];
    case 'load':
      if (typeof request.path !== 'string' || !request.path || request.path.includes('\0')) {
        throw new CorvelError('argument', 'load needs a plug-in path');
      }
      return [`load ${request.path}`];
    case 'midi':
      if (!Array.isArray(request.events)) throw new CorvelError('argument', 'midi takes an array of events');
      return request.events.length ? ['midi ' + request.events.map(formatMidiEvent).join('')] : [];
    case 'blockSize':
      checkBlockSize(request.frames);
      return [`bufsize ${request.frames}`];
    case 'sampleRate':
      checkSampleRate(request.hz);
      return [`sampleRate ${request.hz}`];
    case 'setState': {
      const bytes = request.bytes instanceof ArrayBuffer ? new Uint8Array(request.bytes) : request.bytes;
      if (!(bytes instanceof Uint8Array)) {
        throw new CorvelError('argument', 'setState takes a Uint8Array or an ArrayBuffer');
      }
      return ['setState', bytes];
    }
    case 'unload':
    case 'suspend':
    case 'resume':
    case 'getState':
    case 'showGui':
    case 'quit':
      return [request.type];
    default:
      throw new CorvelError('argument', `no request is called ${request.type}`);
  }
}

/**
 * Reads a connection's messages into replies. A state comes as two
 * messages, so each connection needs a reader of its own.
 */
export class ReplyReader {
  #stateFollows = false;

  /**
   * @param {string|ArrayBuffer} message
   * @returns {Reply|null} null for the first message of a reply that the next one completes
   */
  read(message) {
    if (typeof message !== 'string') {
      if (!this.#stateFollows) return { type: 'block', data: message };
      this.#stateFollows = false;
      return { type: 'state', bytes: new Uint8Array(message) };
    }
    if (message === 'ready') return { type: 'ready' };
    if (message.startsWith(LATENCY_PREFIX)) {
      return { type: 'loaded', latency: Number.parseInt(message.slice(LATENCY_PREFIX.length), 10) };
    }
    if (message.startsWith(CRASHED_PREFIX)) return { type: 'crashed', reason: message.slice(CRASHED_PREFIX.length) };
    if (message === 'bypass\ntrue' || message === 'bypass\nfalse') return { type: 'bypass', on: message === 'bypass\ntrue' };
    if (message === 'state') {
      this.#stateFollows = true;
      return null;
    }
    if (message === 'state failed') return { type: 'state', bytes: null };
    if (message.startsWith('[')) {
      try {
        return { type: 'plugins', paths: JSON.parse(message) };
      } catch {
        return { type: 'plugins', paths: null };
      }
    }
    return { type: 'unexpected' };
  }
}

/** @param {MidiEvent} event */
function formatMidiEvent(event) {
  const numbers = Array.isArray(event)
    ? event
    : [event.status, event.data1, event.data2, ...(event.offset === undefined ? [] : [event.offset])];
  if (numbers.length !== 3 && numbers.length !== 4) {
    throw new CorvelError('argument', 'a MIDI event has a status, two data bytes and an optional offset');
  }
  numbers.forEach((value, index) => {
    const limit = index < 3 ? 255 : 0x7fffffff;
    if (!Number.isInteger(value) || value < 0 || value > limit) {
      throw new CorvelError('argument', `MIDI event value ${value} is not a whole number from 0 to ${limit}`);
    }
  });
  return numbers.join(' ') + '|';
}

/**
 * A block as it travels: two planar little-endian channels in one message.
 * @param {Float32Array} left
 * @param {Float32Array} right as long as `left`
 * @returns {ArrayBuffer}
 */
export function encodeBlock(left, right) {
  const frames = left.length;
  if (LITTLE_ENDIAN) {
    const samples = new Float32Array(2 * frames);
    samples.set(left);
    samples.set(right, frames);
    return samples.buffer;
  }
  const view = new DataView(new ArrayBuffer(8 * frames));
  for (let i = 0; i < frames; i++) {
    view.setFloat32(4 * i, left[i], true);
    view.setFloat32(4 * (frames + i), right[i], true);
  }
  return view.buffer;
}

/**
 * @param {ArrayBuffer} data a `block` reply
 * @param {number} frames the size of the block it answers
 * @returns {StereoBlock|null} null for a block the plug-in did not process
 *   (none loaded, off or still loading); on little-endian machines the
 *   channels are views of `data`
 * @throws {CorvelError} `protocol` when the reply is not that size
 */
export function decodeBlock(data, frames) {
  if (data.byteLength === 0) return null;
  if (data.byteLength !== 8 * frames) {
    throw new CorvelError('protocol', `a block of ${frames} frames came back with ${data.byteLength} bytes`);
  }
  if (LITTLE_ENDIAN) {
    return { left: new Float32Array(data, 0, frames), right: new Float32Array(data, 4 * frames, frames) };
  }
  const view = new DataView(data);
  const left = new Float32Array(frames);
  const right = new Float32Array(frames);
  for (let i = 0; i < frames; i++) {
    left[i] = view.getFloat32(4 * i, true);
    right[i] = view.getFloat32(4 * (frames + i), true);
  }
  return { left, right };
}
