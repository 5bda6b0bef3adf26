// Offline rendering of a whole buffer through a session: the plug-in is
// told it renders offline, the blocks go out several at a time so that the
// plug-in never waits for a round trip, and the replies, which come in the
// order of the blocks, are laid end to end.
import { TransportClock } from './corvel-transport.js';
import { checkBlockSize, CorvelError, midiNumbers } from './corvel-wire.js';

/** @typedef {import('./corvel-blocks.js').MidiOut} MidiOut */
/** @typedef {import('./corvel-blocks.js').ProcessedBlock} ProcessedBlock */
/** @typedef {import('./corvel-transport.js').Transport} Transport */
/** @typedef {import('./corvel-wire.js').MidiEvent} MidiEvent */
/** @typedef {import('./corvel-wire.js').ParameterChange} ParameterChange */

/**
 * @typedef {object} RenderOptions
 * @property {number} [frames] how long the render is; default: the inputs' length
 * @property {number} [blockSize] frames per block while rendering; default the session's
 * @property {Partial<Transport>} [transport] the transport at the first frame, moved on block by block while playing
 * @property {MidiEvent[]} [events] MIDI events, each with its frame from the start (its fourth number)
 * @property {ParameterChange[]} [changes] parameter changes, each with its frame from the start
 * @property {(progress: {done: number, total: number}) => void} [onProgress] after each block, in frames
 * @property {number} [inFlight=8] blocks sent ahead of the replies
 */

/**
 * What a render gives: one array per output channel, and the plug-in's
 * MIDI with frames from the start.
 * @typedef {{channels: Float32Array[], midi: MidiOut[]}} Rendered
 */

/**
 * @param {import('./corvel-connection.js').CorvelClient} session a protocol 2 session that nothing else sends blocks on meanwhile
 * @param {(channels: Float32Array[], extras: object) => Promise<ProcessedBlock|null>} processBlock sends one block
 * @param {Float32Array[]} inputs
 * @param {RenderOptions} options
 * @returns {Promise<Rendered>}
 */
export async function renderOffline(session, processBlock, inputs, options) {
  const { onProgress = null, transport = null } = options;
  const inFlight = options.inFlight ?? 8;
  const blockSize = options.blockSize ?? session.blockSize;
  const frames = options.frames ?? inputs?.[0]?.length;
  const { inputs: inputCount, outputs: outputCount } = session.layout;
  if (!Array.isArray(inputs) || inputs.length > inputCount || !inputs.every((input) => input instanceof Float32Array)) {
    throw new CorvelError('argument', `render takes up to ${inputCount} Float32Arrays (the session's inputs)`);
  }
  if (!Number.isInteger(frames) || frames < 1 || inputs.some((input) => input.length !== frames)) {
    throw new CorvelError('argument', 'render needs inputs of one length, or frames (a whole number above 0) without inputs');
  }
  if (!Number.isInteger(inFlight) || inFlight < 1) throw new CorvelError('argument', 'inFlight is a whole number above 0');
  checkBlockSize(blockSize);
  const clock = transport ? new TransportClock(session.sampleRate) : null;
  clock?.set(transport, 0);
  const events = byFrame(options.events ?? [], midiNumbers, 3);
  const changes = byFrame(options.changes ?? [], (change) => (Array.isArray(change) ? change : [change.index, change.value, change.offset ?? 0]), 2);
  if (!session.loaded) throw new CorvelError('no-plugin', 'render needs a loaded plug-in');

  const latency = Math.max(0, session.latency ?? 0);
  const blocks = Math.ceil((frames + latency) / blockSize);
  const output = { channels: Array.from({ length: outputCount }, () => new Float32Array(frames)), midi: [] };
  // The block writer copies them out at once, so every block reuses them.
  const scratch = Array.from({ length: inputCount }, () => new Float32Array(blockSize));
  /** @type {Array<{start: number, reply: Promise<ProcessedBlock|null>}>} */
  const waiting = [];
  const restore = { blockSize: session.blockSize, offline: session.offline };
  await session.configure({ offline: true, blockSize });
  try {
    for (let k = 0; k < blocks || waiting.length > 0;) {
      if (k < blocks && waiting.length < inFlight) {
        const start = k * blockSize;
        const last = ++k === blocks;
        scratch.forEach((channel, c) => {
          channel.fill(0);
          if (inputs[c] && start < frames) channel.set(inputs[c].subarray(start, Math.min(frames, start + blockSize)));
        });
        const reply = processBlock(scratch, {
          events: events.take(start, blockSize, last), changes: changes.take(start, blockSize, last), transport: clock?.at(start),
        });
        reply.catch(() => {});  // one that fails after an earlier failure is not left unhandled
        waiting.push({ start, reply });
        continue;
      }
      const { start, reply } = waiting.shift();
      const block = await reply;
      if (!block) {
        throw new CorvelError('failed', `the plug-in did not process the block at frame ${start} ` +
          '(it crashed, was switched off or unloaded)');
      }
      place(output, block, start - latency, frames);
      onProgress?.({ done: Math.min(frames, Math.max(0, start + blockSize - latency)), total: frames });
    }
  } finally {
    await session.configure(restore).catch(() => {});
  }
  return output;
}

/** Copies a block that begins at `at` (before 0 while the plug-in's latency passes) into the output. */
function place(output, block, at, frames) {
  const from = Math.max(0, -at);
  const to = Math.min(block.channels[0].length, frames - at);
  if (to > from) output.channels.forEach((channel, c) => channel.set(block.channels[c].subarray(from, to), at + from));
  for (const { frame, data } of block.midi) {
    output.midi.push({ frame: Math.min(frames - 1, Math.max(0, at + frame)), data });
  }
}

/**
 * Events or changes sorted by their frame from the start, handed out block by block.
 * @param {Array} items
 * @param {(item: any) => number[]} numbers reads an item, with its frame at `at`
 * @param {number} at
 */
function byFrame(items, numbers, at) {
  if (!Array.isArray(items)) throw new CorvelError('argument', 'events and changes are arrays');
  const sorted = items.map(numbers).map((values) => {
    const frame = values[at] ?? 0;
    if (!Number.isInteger(frame) || frame < 0) throw new CorvelError('argument', `frame ${frame} is not a whole number from 0`);
    return values;
  }).sort((a, b) => (a[at] ?? 0) - (b[at] ?? 0));
  let next = 0;
  return {
    /** The items of the block at `start`, with frames in it; the last block takes those past the end. */
    take(start, size, last) {
      const taken = [];
      while (next < sorted.length && ((sorted[next][at] ?? 0) < start + size || last)) {
        const values = sorted[next++];
        taken.push([...values.slice(0, at), Math.min(size - 1, (values[at] ?? 0) - start)]);
      }
      return taken.length > 0 ? taken : null;
    },
  };
}
