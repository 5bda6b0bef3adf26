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
 * The requests that only protocol 2 has: the catalogue, and the plug-in's
 * parameters and programs.
 * @typedef {{type: 'catalogue', rescan?: boolean, folder?: string} |
 *   {type: 'parameters'|'programs'} | {type: 'parameterDisplay'|'setParameter', index: number, value: number} |
 *   {type: 'setProgram', index: number} | {type: 'setProgramName', name: string}} Request2
 */

/**
 * The messages that carry `request` over protocol 2: one JSON object with
 * `id`, and for `setState` the state right after it. Also takes a load's
 * `uniqueId`.
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
        return [json({ op: 'load', path: request.path, ...(request.uniqueId !== undefined ? { uniqueId: request.uniqueId } : {}) })];
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
function changeNumbers(change) {
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
function midiNumbers(event) {
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

// Protocol 2's blocks (docs/protocol.md): a header of four little-endian
// words (frames, channels, bytes of records, flags), typed records, then
// planar float32 channels.
const BLOCK_HEADER_BYTES = 16;
const MIDI_RECORD = 1;
const MIDI_RECORD_BYTES = 12;
const PARAMETER_RECORD = 2;
const PARAMETER_RECORD_BYTES = 16;
const STATUS_RECORD = 5;
/** Why a block came back unprocessed, by the status record's number. */
export const BLOCK_STATUS = Object.freeze({ 1: 'no-plugin', 2: 'bypassed', 3: 'loading', 4: 'crashed', 5: 'malformed' });
/** The most MIDI events the companion takes with one block. */
export const MAX_BLOCK_EVENTS = 512;
/** The most parameter changes the companion takes with one block; it ignores the rest. */
export const MAX_BLOCK_CHANGES = 512;

/**
 * Writes protocol 2 blocks into one buffer it keeps, so that a block costs
 * no allocation once the size is set: the socket copies a message as it
 * sends it, and the next block may reuse the room.
 */
export class BlockWriter {
  #frames = -1;
  /** @type {ArrayBuffer} */ #buffer = new ArrayBuffer(0);
  /** @type {DataView} */ #view = new DataView(this.#buffer);
  #bytes = new Uint8Array(0);

  /**
   * @param {Float32Array} left
   * @param {Float32Array} right as long as `left`
   * @param {MidiEvent[]|null} [events] each with the frame in this block at
   *   which it happens (its fourth number, 0 when left out)
   * @param {ParameterChange[]|null} [changes] each with the frame in this
   *   block at which it takes effect (0 when left out); on one frame, in order
   * @returns {Uint8Array} the message, valid until the next call
   * @throws {CorvelError} `argument` for an event or change that cannot be
   *   sent, or more than 512 of either
   */
  write(left, right, events = null, changes = null) {
    const frames = left.length;
    const count = events?.length ?? 0;
    const changeCount = changes?.length ?? 0;
    if (count > MAX_BLOCK_EVENTS) throw new CorvelError('argument', `at most ${MAX_BLOCK_EVENTS} MIDI events go with a block`);
    if (changeCount > MAX_BLOCK_CHANGES) {
      throw new CorvelError('argument', `at most ${MAX_BLOCK_CHANGES} parameter changes go with a block`);
    }
    if (frames !== this.#frames) {
      this.#frames = frames;
      this.#buffer = new ArrayBuffer(BLOCK_HEADER_BYTES + MAX_BLOCK_EVENTS * MIDI_RECORD_BYTES +
        MAX_BLOCK_CHANGES * PARAMETER_RECORD_BYTES + 8 * frames);
      this.#view = new DataView(this.#buffer);
      this.#bytes = new Uint8Array(this.#buffer);
    }
    const view = this.#view;
    for (let i = 0; i < count; i++) {
      const [status, data1, data2, offset = 0] = midiNumbers(events[i]);
      const at = BLOCK_HEADER_BYTES + i * MIDI_RECORD_BYTES;
      view.setUint16(at, MIDI_RECORD, true);
      view.setUint16(at + 2, 8, true);
      view.setUint32(at + 4, offset, true);
      view.setUint32(at + 8, status | (data1 << 8) | (data2 << 16), true);
    }
    for (let i = 0; i < changeCount; i++) {
      const [index, value, offset] = changeNumbers(changes[i]);
      const at = BLOCK_HEADER_BYTES + count * MIDI_RECORD_BYTES + i * PARAMETER_RECORD_BYTES;
      view.setUint16(at, PARAMETER_RECORD, true);
      view.setUint16(at + 2, 12, true);
      view.setUint32(at + 4, offset, true);
      view.setUint32(at + 8, index, true);
      view.setFloat32(at + 12, value, true);
    }
    const recordBytes = count * MIDI_RECORD_BYTES + changeCount * PARAMETER_RECORD_BYTES;
    view.setUint32(0, frames, true);
    view.setUint32(4, 2, true);
    view.setUint32(8, recordBytes, true);
    view.setUint32(12, 0, true);
    const audio = BLOCK_HEADER_BYTES + recordBytes;
    if (LITTLE_ENDIAN) {
      const samples = new Float32Array(this.#buffer, audio, 2 * frames);
      samples.set(left);
      samples.set(right, frames);
    } else {
      for (let i = 0; i < frames; i++) {
        view.setFloat32(audio + 4 * i, left[i], true);
        view.setFloat32(audio + 4 * (frames + i), right[i], true);
      }
    }
    return this.#bytes.subarray(0, audio + 8 * frames);
  }
}

/**
 * @param {ArrayBuffer} data a protocol 2 block from the companion
 * @param {number} frames the size of the block it answers
 * @returns {{block: StereoBlock|null, status: string|null}} the processed
 *   block, or null and why not (a name from {@link BLOCK_STATUS}); on
 *   little-endian machines the channels are views of `data`
 * @throws {CorvelError} `protocol` when the reply cannot be read, or the
 *   companion could not read the block it answers
 */
export function decodeBlock2(data, frames) {
  const view = data.byteLength >= BLOCK_HEADER_BYTES ? new DataView(data) : null;
  const recordBytes = view?.getUint32(8, true) ?? 0;
  const channels = view?.getUint32(4, true) ?? 0;
  const audio = BLOCK_HEADER_BYTES + recordBytes;
  if (!view || recordBytes % 4 !== 0 || audio > data.byteLength) {
    throw new CorvelError('protocol', `a block came back with an unreadable header (${data.byteLength} bytes)`);
  }
  let status = null;
  for (let at = BLOCK_HEADER_BYTES; at + 4 <= audio;) {
    const length = view.getUint16(at + 2, true);
    if (view.getUint16(at, true) === STATUS_RECORD && length >= 4 && at + 8 <= audio) {
      status = BLOCK_STATUS[view.getUint32(at + 4, true)] ?? 'unknown';
    }
    at += 4 + ((length + 3) & ~3);  // records of other types are skipped
  }
  if (channels === 0) {
    if (status === 'malformed') throw new CorvelError('protocol', 'the companion could not read a block this client sent');
    return { block: null, status: status ?? 'unknown' };
  }
  if (view.getUint32(0, true) !== frames || channels !== 2 || data.byteLength !== audio + 8 * frames) {
    throw new CorvelError('protocol', `a block of ${frames} frames came back as ${view.getUint32(0, true)} frames ` +
      `of ${channels} channels in ${data.byteLength} bytes`);
  }
  if (LITTLE_ENDIAN) {
    return { block: { left: new Float32Array(data, audio, frames), right: new Float32Array(data, audio + 4 * frames, frames) }, status: null };
  }
  const left = new Float32Array(frames);
  const right = new Float32Array(frames);
  for (let i = 0; i < frames; i++) {
    left[i] = view.getFloat32(audio + 4 * i, true);
    right[i] = view.getFloat32(audio + 4 * (frames + i), true);
  }
  return { block: { left, right }, status: null };
}
