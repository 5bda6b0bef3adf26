// Protocol 2's audio blocks (docs/protocol.md, "Audio blocks"): a header of
// four little-endian words (frames, channels, bytes of records, flags),
// typed records, then planar float32 channels. Writing costs no allocation
// once the size is set; reading allocates only for what the plug-in sent.
import { changeNumbers, CorvelError, midiNumbers } from './corvel-wire.js';

/** @typedef {import('./corvel-wire.js').MidiEvent} MidiEvent */
/** @typedef {import('./corvel-wire.js').ParameterChange} ParameterChange */
/** @typedef {import('./corvel-transport.js').Transport} Transport */

const LITTLE_ENDIAN = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;
const HEADER_BYTES = 16;
const RECORD = Object.freeze({ MIDI: 1, PARAMETER: 2, TRANSPORT: 3, MIDI_OUT: 4, STATUS: 5, SYSEX_OUT: 6 });
const MIDI_RECORD_BYTES = 12;
const PARAMETER_RECORD_BYTES = 16;
const TRANSPORT_RECORD_BYTES = 4 + 64;
const TRANSPORT_FLAGS = Object.freeze({ playing: 1, recording: 2, cycle: 4 });

/** Why a block came back unprocessed, by the status record's number. */
export const BLOCK_STATUS = Object.freeze({ 1: 'no-plugin', 2: 'bypassed', 3: 'loading', 4: 'crashed', 5: 'malformed' });
/** The most MIDI events the companion takes with one block. */
export const MAX_BLOCK_EVENTS = 512;
/** The most parameter changes the companion takes with one block; it ignores the rest. */
export const MAX_BLOCK_CHANGES = 512;

/**
 * One message the plug-in sent during a block: its bytes as a Web MIDI
 * output takes them (a channel message of its length, or a whole SysEx
 * from F0 to F7), and the frame of the block it goes with.
 * @typedef {{frame: number, data: Uint8Array}} MidiOut
 */

/**
 * A processed block: one array per output channel, `left` and `right` the
 * first two of them, and what the plug-in sent, in the order it sent it.
 * @typedef {{channels: Float32Array[], left: Float32Array, right: Float32Array, midi: MidiOut[]}} ProcessedBlock
 */

/**
 * Writes blocks into one buffer it keeps: the socket copies a message as
 * it sends it, and the next block may reuse the room.
 */
export class BlockWriter {
  #frames = -1;
  #channels = -1;
  /** @type {ArrayBuffer} */ #buffer = new ArrayBuffer(0);
  /** @type {DataView} */ #view = new DataView(this.#buffer);
  #bytes = new Uint8Array(0);

  /**
   * @param {Float32Array[]} channels planar, all of one length: the block's frames
   * @param {MidiEvent[]|null} [events] each with the frame in this block at
   *   which it happens (its fourth number, 0 when left out)
   * @param {ParameterChange[]|null} [changes] each with the frame in this
   *   block at which it takes effect (0 when left out); on one frame, in order
   * @param {Transport|null} [transport] the transport at the block's first frame, complete
   * @returns {Uint8Array} the message, valid until the next call
   * @throws {CorvelError} `argument` for an event or change that cannot be
   *   sent, or more than 512 of either
   */
  write(channels, events = null, changes = null, transport = null) {
    const frames = channels[0].length;
    const count = events?.length ?? 0;
    const changeCount = changes?.length ?? 0;
    if (count > MAX_BLOCK_EVENTS) throw new CorvelError('argument', `at most ${MAX_BLOCK_EVENTS} MIDI events go with a block`);
    if (changeCount > MAX_BLOCK_CHANGES) {
      throw new CorvelError('argument', `at most ${MAX_BLOCK_CHANGES} parameter changes go with a block`);
    }
    if (frames !== this.#frames || channels.length !== this.#channels) {
      this.#frames = frames;
      this.#channels = channels.length;
      this.#buffer = new ArrayBuffer(HEADER_BYTES + MAX_BLOCK_EVENTS * MIDI_RECORD_BYTES +
        MAX_BLOCK_CHANGES * PARAMETER_RECORD_BYTES + TRANSPORT_RECORD_BYTES + 4 * frames * channels.length);
      this.#view = new DataView(this.#buffer);
      this.#bytes = new Uint8Array(this.#buffer);
    }
    const view = this.#view;
    let at = HEADER_BYTES;
    if (transport) at = writeTransport(view, at, transport);
    for (let i = 0; i < count; i++) {
      const [status, data1, data2, offset = 0] = midiNumbers(events[i]);
      view.setUint16(at, RECORD.MIDI, true);
      view.setUint16(at + 2, 8, true);
      view.setUint32(at + 4, offset, true);
      view.setUint32(at + 8, status | (data1 << 8) | (data2 << 16), true);
      at += MIDI_RECORD_BYTES;
    }
    for (let i = 0; i < changeCount; i++) {
      const [index, value, offset] = changeNumbers(changes[i]);
      view.setUint16(at, RECORD.PARAMETER, true);
      view.setUint16(at + 2, 12, true);
      view.setUint32(at + 4, offset, true);
      view.setUint32(at + 8, index, true);
      view.setFloat32(at + 12, value, true);
      at += PARAMETER_RECORD_BYTES;
    }
    view.setUint32(0, frames, true);
    view.setUint32(4, channels.length, true);
    view.setUint32(8, at - HEADER_BYTES, true);
    view.setUint32(12, 0, true);
    for (let c = 0; c < channels.length; c++, at += 4 * frames) {
      if (LITTLE_ENDIAN) {
        new Float32Array(this.#buffer, at, frames).set(channels[c]);
      } else {
        for (let i = 0; i < frames; i++) view.setFloat32(at + 4 * i, channels[c][i], true);
      }
    }
    return this.#bytes.subarray(0, at);
  }
}

/** @returns {number} where the next record goes */
function writeTransport(view, at, transport) {
  let flags = 0;
  for (const [name, bit] of Object.entries(TRANSPORT_FLAGS)) if (transport[name]) flags |= bit;
  view.setUint16(at, RECORD.TRANSPORT, true);
  view.setUint16(at + 2, 64, true);
  view.setUint32(at + 4, flags, true);
  view.setUint32(at + 8, transport.numerator, true);
  view.setUint32(at + 12, transport.denominator, true);
  view.setUint32(at + 16, 0, true);
  const numbers = [transport.tempo, transport.position, transport.barStart, transport.cycleStart,
    transport.cycleEnd, transport.samplePosition];
  numbers.forEach((value, i) => view.setFloat64(at + 20 + 8 * i, value, true));
  return at + TRANSPORT_RECORD_BYTES;
}

/**
 * @param {ArrayBuffer} data a block from the companion
 * @param {number} frames the size of the block it answers
 * @param {number} channels the output channels the session chose
 * @returns {{block: ProcessedBlock|null, status: string|null}} the processed
 *   block, or null and why not (a name from {@link BLOCK_STATUS}); on
 *   little-endian machines the channels are views of `data`
 * @throws {CorvelError} `protocol` when the reply cannot be read, or the
 *   companion could not read the block it answers
 */
export function decodeBlock2(data, frames, channels) {
  const view = data.byteLength >= HEADER_BYTES ? new DataView(data) : null;
  const recordBytes = view?.getUint32(8, true) ?? 0;
  const sent = view?.getUint32(4, true) ?? 0;
  const audio = HEADER_BYTES + recordBytes;
  if (!view || recordBytes % 4 !== 0 || audio > data.byteLength) {
    throw new CorvelError('protocol', `a block came back with an unreadable header (${data.byteLength} bytes)`);
  }
  let status = null;
  /** @type {MidiOut[]} */
  const midi = [];
  for (let at = HEADER_BYTES; at + 4 <= audio;) {
    const type = view.getUint16(at, true);
    const length = view.getUint16(at + 2, true);
    const body = at + 4;
    if (body + length > audio) break;
    if (type === RECORD.STATUS && length >= 4) status = BLOCK_STATUS[view.getUint32(body, true)] ?? 'unknown';
    else if (type === RECORD.MIDI_OUT && length >= 8) {
      const bytes = new Uint8Array(data, body + 4, messageLength(view.getUint8(body + 4)));
      midi.push({ frame: view.getUint32(body, true), data: bytes.slice() });
    } else if (type === RECORD.SYSEX_OUT && length > 4) {
      midi.push({ frame: view.getUint32(body, true), data: new Uint8Array(data.slice(body + 4, body + length)) });
    }
    at = body + ((length + 3) & ~3);  // records of other types are skipped
  }
  if (sent === 0) {
    if (status === 'malformed') throw new CorvelError('protocol', 'the companion could not read a block this client sent');
    return { block: null, status: status ?? 'unknown' };
  }
  if (view.getUint32(0, true) !== frames || sent !== channels || data.byteLength !== audio + 4 * frames * channels) {
    throw new CorvelError('protocol', `a block of ${frames} frames and ${channels} channels came back as ` +
      `${view.getUint32(0, true)} frames of ${sent} channels in ${data.byteLength} bytes`);
  }
  const planes = Array.from({ length: channels }, (_, c) => {
    if (LITTLE_ENDIAN) return new Float32Array(data, audio + 4 * frames * c, frames);
    return Float32Array.from({ length: frames }, (__, i) => view.getFloat32(audio + 4 * (frames * c + i), true));
  });
  return { block: { channels: planes, left: planes[0], right: planes[1] ?? planes[0], midi }, status: null };
}

/** The bytes of a MIDI message that starts with `status`, as the MIDI standard counts them. */
function messageLength(status) {
  if (status < 0xf0) return (status & 0xe0) === 0xc0 ? 2 : 3;  // program change and channel pressure: one data byte
  if (status === 0xf1 || status === 0xf3) return 2;
  if (status === 0xf2) return 3;
  return 1;
}
