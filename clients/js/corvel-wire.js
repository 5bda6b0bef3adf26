// The companion's wire format, in both of its protocols: how each request
// travels on the socket and what each message that comes back means. The
// client and the audio node share it; it holds no connection, and imports
// nothing. docs/protocol.md is the reference.

/** Where the companion listens; it only ever listens on the loopback address. */
export const DEFAULT_URL = 'ws://127.0.0.1:9001/';

/** The most frames per block the companion takes. */
export const MAX_BLOCK_SIZE = 16384;

/** The WebSocket subprotocol that asks for protocol 2. */
export const SUBPROTOCOL_2 = 'corvel.2';

const GREETING_PREFIX = 'corvel studio plugin loader\nversion ';
const LATENCY_PREFIX = 'fixedCompensationDelaySamp\n';
const CRASHED_PREFIX = 'crashed\n';

const LITTLE_ENDIAN = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

/**
 * Why a call failed. The client's own:
 * - `unreachable`: nothing answers at the address: the companion is not running;
 * - `blocked-by-browser`: the browser keeps this page from reaching the
 *   computer's loopback address (its "loopback network" permission);
 * - `refused`: on connecting, the companion refused this page's origin (not
 *   in its allow-list, or denied in its dialog); on loading, the plug-in
 *   refused to open;
 * - `protocol`: the other side did not answer as the companion does;
 * - `closed`: the connection ended before the answer came;
 * - `timeout`: no answer in time;
 * - `busy`: a load is already under way, or the companion serves as many
 *   sessions as it takes;
 * - `unsupported`: the companion is too old for the call;
 * - `argument`: the call's arguments cannot be sent.
 *
 * Over protocol 2 a refused request carries the companion's own code
 * (`not-found`, `not-a-plugin`, `wrong-architecture`, `crashed`,
 * `no-plugin`, `failed`, `bad-request`, ...) and its message.
 * @typedef {string} CorvelErrorCode
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
 * A parameter's new value (0 to 1) and, optionally, the frame within the
 * block at which it takes effect.
 * @typedef {[number, number] | [number, number, number] |
 *   {index: number, value: number, offset?: number}} ParameterChange
 */

/**
 * A processed block: one array per channel, `blockSize` samples each.
 * @typedef {{left: Float32Array, right: Float32Array}} StereoBlock
 */

/**
 * A request to the companion. `midi` queues its events for the next block;
 * `getState`, `suspend`, `resume` and `scan` are answered, in order among
 * requests of their kind. The parameter and program requests
 * ({@link encodeRequest2}) exist only in protocol 2.
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

/**
 * @param {string|ArrayBuffer} message the first message of a connection
 * @returns {{version: string, limits: object}|null} the protocol 2 greeting, or null
 */
export function readHello(message) {
  if (typeof message !== 'string' || !message.startsWith('{')) return null;
  try {
    const hello = JSON.parse(message);
    if (hello?.event !== 'hello' || hello.protocol !== 2 || typeof hello.version !== 'string') return null;
    return { version: hello.version, limits: hello.limits ?? {} };
  } catch {
    return null;
  }
}

/** @throws {CorvelError} `argument` unless the companion takes `frames` as a block size */
export function checkBlockSize(frames) {
  if (!Number.isInteger(frames) || frames < 1 || frames > MAX_BLOCK_SIZE) {
    throw new CorvelError('argument', `block size must be a whole number from 1 to ${MAX_BLOCK_SIZE}`);
  }
}

/** The most channels a block carries each way. */
export const MAX_CHANNELS = 128;

/** @throws {CorvelError} `argument` unless a block may carry `count` channels (`what`: which way) */
export function checkChannels(count, what = 'channels') {
  if (!Number.isInteger(count) || count < 1 || count > MAX_CHANNELS) {
    throw new CorvelError('argument', `${what} must be a whole number from 1 to ${MAX_CHANNELS}`);
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
 * The requests that only protocol 2 has: the catalogue, the session's
 * settings at once, and the plug-in's parameters and programs.
 * @typedef {{type: 'catalogue', rescan?: boolean, folder?: string} |
 *   {type: 'configure', sampleRate?: number, blockSize?: number, inputs?: number, outputs?: number, offline?: boolean} |
 *   {type: 'parameters'|'programs'} | {type: 'parameterDisplay'|'setParameter', index: number, value: number} |
 *   {type: 'setProgram', index: number} | {type: 'setProgramName', name: string}} Request2
 */

/**
 * The messages that carry `request` over protocol 2: one JSON object with
 * `id`, and for `setState` the state right after it. Also takes a load's
 * `uniqueId`, `inputs` and `outputs`. Fields left undefined are left out.
 * @param {number} id
 * @param {Request|Request2} request
 * @returns {Array<string|Uint8Array>}
 * @throws {CorvelError} `argument` when a value cannot be sent
 */
export function encodeRequest2(id, request) {
  const json = (fields) => JSON.stringify({ id, ...fields });
  switch (request.type) {
    case 'parameters':
    case 'programs':
      return [json({ op: request.type })];
    case 'parameterDisplay':
    case 'setParameter':
      checkParameterIndex(request.index);
      checkParameterValue(request.value);
      return [json({ op: request.type, index: request.index, value: request.value })];
    case 'setProgram':
      checkParameterIndex(request.index, 'a program');
      return [json({ op: 'setProgram', index: request.index })];
    case 'setProgramName':
      if (typeof request.name !== 'string') throw new CorvelError('argument', 'a program\'s name is a string');
      return [json({ op: 'setProgramName', name: request.name })];
    case 'midi':
      if (!Array.isArray(request.events)) throw new CorvelError('argument', 'midi takes an array of events');
      return [json({ op: 'midi', events: request.events.map((event) => {
        const [status, data1, data2, offset = 0] = midiNumbers(event);
        return [status, data1, data2, offset];
      }) })];
    case 'blockSize':
      checkBlockSize(request.frames);
      return [json({ op: 'configure', blockSize: request.frames })];
    case 'configure': {
      const { sampleRate, blockSize, inputs, outputs, offline } = request;
      if (sampleRate !== undefined) checkSampleRate(sampleRate);
      if (blockSize !== undefined) checkBlockSize(blockSize);
      if (inputs !== undefined) checkChannels(inputs, 'inputs');
      if (outputs !== undefined) checkChannels(outputs, 'outputs');
      if (offline !== undefined && typeof offline !== 'boolean') throw new CorvelError('argument', 'offline is true or false');
      return [json({ op: 'configure', sampleRate, blockSize, inputs, outputs, offline })];
    }
    case 'sampleRate':
      checkSampleRate(request.hz);
      return [json({ op: 'configure', sampleRate: request.hz })];
    case 'catalogue':
      if (request.folder !== undefined && (typeof request.folder !== 'string' || request.folder.includes('\0'))) {
        throw new CorvelError('argument', 'the folder must be a string without 0 characters');
      }
      return [json({ op: 'catalogue', ...(request.rescan ? { rescan: true } : {}), ...(request.folder ? { folder: request.folder } : {}) })];
    case 'showGui':
      return [json({ op: 'showEditor' })];
    default: {
      // The same checks as the original protocol's, and the same values.
      const original = encodeRequest(request);
      if (request.type === 'scan') return [json({ op: 'scan', ...(request.folder ? { folder: request.folder } : {}) })];
      if (request.type === 'load') {
        if (request.uniqueId !== undefined && !Number.isInteger(request.uniqueId)) {
          throw new CorvelError('argument', 'a uniqueId is a whole number, as the catalogue lists it');
        }
        if (request.inputs !== undefined) checkChannels(request.inputs, 'inputs');
        if (request.outputs !== undefined) checkChannels(request.outputs, 'outputs');
        const { path, uniqueId, inputs, outputs } = request;
        return [json({ op: 'load', path, uniqueId, inputs, outputs })];
      }
      if (request.type === 'setState') return [json({ op: 'setState', bytes: original[1].byteLength }), original[1]];
      return [json({ op: request.type })];
    }
  }
}

/**
 * A protocol 2 text message, read.
 * @param {string} message
 * @returns {{type: 'reply', id: any, ok: boolean, fields: object, error: {code: string, message: string}|null} |
 *   {type: 'event', name: string, fields: object} | {type: 'unexpected'}}
 */
export function readMessage2(message) {
  let object;
  try {
    object = JSON.parse(message);
  } catch {
    return { type: 'unexpected' };
  }
  if (object === null || typeof object !== 'object' || Array.isArray(object)) return { type: 'unexpected' };
  if (typeof object.event === 'string') return { type: 'event', name: object.event, fields: object };
  if (!('id' in object) || typeof object.ok !== 'boolean') return { type: 'unexpected' };
  const error = object.ok ? null : {
    code: typeof object.error?.code === 'string' ? object.error.code : 'protocol',
    message: typeof object.error?.message === 'string' ? object.error.message : 'the companion refused the request',
  };
  return { type: 'reply', id: object.id, ok: object.ok, fields: object, error };
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

/** @throws {CorvelError} `argument` unless `index` can name a parameter (or what `what` says) */
export function checkParameterIndex(index, what = 'a parameter') {
  if (!Number.isInteger(index) || index < 0 || index > 0x7fffffff) {
    throw new CorvelError('argument', `${what} is named by a whole number from 0`);
  }
}

/** @throws {CorvelError} `argument` unless `value` is a parameter's value */
export function checkParameterValue(value) {
  if (typeof value !== 'number' || !(value >= 0 && value <= 1)) {
    throw new CorvelError('argument', `a parameter's value is a number from 0 to 1, not ${value}`);
  }
}

/**
 * @param {ParameterChange} change
 * @returns {number[]} index, value and offset
 * @throws {CorvelError} `argument`
 */
export function changeNumbers(change) {
  const numbers = Array.isArray(change) ? change : [change.index, change.value, change.offset ?? 0];
  const [index, value, offset = 0] = numbers;
  if (numbers.length < 2 || numbers.length > 3) {
    throw new CorvelError('argument', 'a parameter change has an index, a value and an optional offset');
  }
  checkParameterIndex(index);
  checkParameterValue(value);
  if (!Number.isInteger(offset) || offset < 0 || offset > 0x7fffffff) {
    throw new CorvelError('argument', `a parameter change's offset ${offset} is not a whole number from 0`);
  }
  return [index, value, offset];
}

/**
 * @param {MidiEvent} event
 * @returns {number[]} status, data1, data2 and, when given, the offset
 * @throws {CorvelError} `argument`
 */
export function midiNumbers(event) {
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
  return numbers;
}

/** @param {MidiEvent} event */
function formatMidiEvent(event) {
  return midiNumbers(event).join(' ') + '|';
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
