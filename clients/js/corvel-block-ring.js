// Blocks between the audio node's worklet and its worker. Each block travels
// as one record: a header of numbers, then its channels one after another,
// the inputs on the way out and the outputs on the way back.
// Records are Float64Arrays so that frame counts stay exact for days.

/** Where each header number sits in a record. */
export const Field = Object.freeze({
  /** The block's number since the node started, 0, 1, 2, ... */
  SEQUENCE: 0,
  /** On the way back: 1 when the record holds audio to play, 0 when the plug-in gave none. */
  AUDIO: 1,
  /** The AudioContext frame at which block 0 began. */
  START_FRAME: 2,
  // The worklet's counters as of this block, for the node's stats.
  BLOCKS: 3,
  UNDERRUNS: 4,
  LATE: 5,
  LATENCY_BLOCKS: 6,
});
export const HEADER_LENGTH = 8;

/** Numbers in one record of `frames` frames of up to `channels` channels. */
export function recordLength(frames, channels) {
  return HEADER_LENGTH + channels * frames;
}

const WRITTEN = 0;
const READ = 1;

// The indices count on past 2^31 (months at 128 frames) by wrapping; as
// unsigned numbers they stay in step with a capacity that divides 2^32.
function slotOf(index, capacity) {
  return (index >>> 0) % capacity;
}

/**
 * A single-producer, single-consumer queue of records in shared memory.
 * Neither side allocates or blocks: a full ring refuses the record and an
 * empty one has nothing to read. The consumer may wait for records with
 * Atomics (not on an audio thread).
 */
export class BlockRing {
  /** @param {{indices: SharedArrayBuffer, records: SharedArrayBuffer, capacity: number}} memory */
  constructor(memory) {
    this.memory = memory;
    this.indices = new Int32Array(memory.indices);
    const records = new Float64Array(memory.records);
    const length = records.length / memory.capacity;
    this.slots = Array.from({ length: memory.capacity }, (_, i) => records.subarray(i * length, (i + 1) * length));
  }

  /** Shared memory for a ring of `capacity` (a power of two) records of `frames` frames of `channels` channels. */
  static allocate(capacity, frames, channels) {
    return {
      indices: new SharedArrayBuffer(2 * Int32Array.BYTES_PER_ELEMENT),
      records: new SharedArrayBuffer(capacity * recordLength(frames, channels) * Float64Array.BYTES_PER_ELEMENT),
      capacity,
    };
  }

  /** The record to fill next, or null while the ring is full. */
  writable() {
    const written = Atomics.load(this.indices, WRITTEN);
    if (((written - Atomics.load(this.indices, READ)) | 0) >= this.slots.length) return null;
    return this.slots[slotOf(written, this.slots.length)];
  }

  /** Hands the record from writable() to the consumer and wakes it. */
  commitWrite() {
    Atomics.add(this.indices, WRITTEN, 1);
    Atomics.notify(this.indices, WRITTEN);
  }

  /** The oldest unread record, or null. */
  readable() {
    const read = Atomics.load(this.indices, READ);
    if (read === Atomics.load(this.indices, WRITTEN)) return null;
    return this.slots[slotOf(read, this.slots.length)];
  }

  /** Gives the record from readable() back to the producer. */
  commitRead() {
    Atomics.add(this.indices, READ, 1);
  }

  /** Resolves once there is something to read (or after `timeoutMs`). */
  async waitForRecords(timeoutMs) {
    const written = Atomics.load(this.indices, WRITTEN);
    if (written !== Atomics.load(this.indices, READ)) return;
    await Atomics.waitAsync(this.indices, WRITTEN, written, timeoutMs).value;
  }
}
