// The audio node's rendering side, on the audio thread. It cuts the input
// into blocks for the worker and plays each processed block exactly
// `latencyBlocks` blocks after it was taken, or silence when it is not back
// by then. Nothing here allocates once running (a MessagePort's own
// messages aside, when there is no shared memory), and nothing waits.
import { BlockRing, Field, HEADER_LENGTH, recordLength } from './corvel-block-ring.js';

// Blocks kept for playing; also the most that can be in flight.
const SLOTS = 32;
const MAX_LATENCY_BLOCKS = SLOTS - 4;

/** Blocks through two rings in shared memory. */
class SharedTransport {
  constructor(rings) {
    this.toWorker = new BlockRing(rings.input);
    this.fromWorker = new BlockRing(rings.output);
    this.ready = true;
  }

  /** @returns {Float64Array|null} */
  take() { return this.toWorker.writable(); }
  send() { this.toWorker.commitWrite(); }

  poll(receive) {
    for (let record = this.fromWorker.readable(); record; record = this.fromWorker.readable()) {
      receive(record);
      this.fromWorker.commitRead();
    }
  }
}

/** Blocks through a MessagePort to the worker, in records that go round and come back. */
class PortTransport {
  constructor(length, receive) {
    this.pool = Array.from({ length: SLOTS }, () => new Float64Array(length));
    this.record = null;
    this.transfer = [null];
    this.port = null;
    this.ready = false;
    this.receive = receive;
  }

  connect(port) {
    this.port = port;
    this.ready = true;
    port.onmessage = (event) => {
      this.receive(event.data);
      this.pool.push(event.data);
    };
  }

  take() {
    this.record = this.pool.pop() ?? null;
    return this.record;
  }

  send() {
    this.transfer[0] = this.record.buffer;
    this.port.postMessage(this.record, this.transfer);
    this.record = null;
  }

  poll() {}
}

class CorvelNodeProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { blockSize, latencyBlocks, fixedLatency, rings, inputs, outputs } = options.processorOptions;
    this.frames = blockSize;
    // Each bus's first channel in a record: input buses on the way out, output buses back.
    this.inputBuses = firstChannels(inputs);
    this.outputBuses = firstChannels(outputs);
    const length = recordLength(blockSize, Math.max(this.inputBuses.channels, this.outputBuses.channels));
    this.latencyBlocks = Math.min(latencyBlocks, MAX_LATENCY_BLOCKS);
    this.fixedLatency = fixedLatency === true;
    this.receiveBound = (record) => this.receive(record);
    this.transport = rings ? new SharedTransport(rings) : new PortTransport(length, this.receiveBound);
    this.running = true;
    this.port.onmessage = (event) => {
      if (event.data === 'stop') this.running = false;
      else this.transport.connect(event.data);
    };

    this.startFrame = -1;
    this.counts = { blocks: 0, underruns: 0, late: 0 };
    // Gathering: the block being filled, or a scratch record when none can be sent.
    this.scratch = new Float64Array(length);
    this.gathering = null;
    this.gathered = 0;
    this.sequence = 0;
    // Playing: processed blocks by sequence number, and where playback is.
    this.waiting = Array.from({ length: SLOTS }, () => new Float64Array(length));
    this.waitingSequence = new Float64Array(SLOTS).fill(-1);
    this.outputBlock = 0;     // blocks of output so far, counting the delay
    this.outputFrame = 0;     // frames into the current output block
    this.playing = null;      // the record being played, or null for silence
    this.nextToPlay = 0;      // blocks below this number had their turn
    this.nextRaise = 0;
  }

  process(inputs, outputs) {
    if (!this.running) return false;
    // Time starts with the first block that can be sent.
    if (!this.transport.ready) return true;
    if (this.startFrame < 0) this.startFrame = currentFrame;
    this.transport.poll(this.receiveBound);
    const quantum = outputs[0][0].length;
    this.gather(inputs, quantum);
    this.play(outputs, quantum);
    return true;
  }

  /** A processed block came back from the worker. */
  receive(record) {
    const sequence = record[Field.SEQUENCE];
    if (record[Field.AUDIO] !== 1) return;  // not played; its turn counts as an underrun
    if (sequence < this.nextToPlay) {
      // Its turn has passed: it was played as silence and stays unplayed.
      this.counts.late++;
      this.raiseLatency();
      return;
    }
    const slot = sequence % SLOTS;
    this.waiting[slot].set(record);
    this.waitingSequence[slot] = sequence;
  }

  /**
   * Late blocks mean the round trips need a longer delay: one block more,
   * at most once a second, so that one stall of the machine does not
   * pile up delay. Not with a fixed delay, which a benchmark holds still to
   * count what it lets through.
   */
  raiseLatency() {
    if (this.fixedLatency || this.latencyBlocks >= MAX_LATENCY_BLOCKS || this.outputBlock < this.nextRaise) return;
    this.latencyBlocks++;
    this.nextRaise = this.outputBlock + Math.ceil(sampleRate / this.frames);
  }

  gather(inputs, quantum) {
    const frames = this.frames;
    const { first, widths } = this.inputBuses;
    for (let offset = 0; offset < quantum;) {
      if (this.gathered === 0) this.gathering = this.transport.take() ?? this.scratch;
      const record = this.gathering;
      const take = Math.min(quantum - offset, frames - this.gathered);
      for (let bus = 0; bus < widths.length; bus++) {
        // An input with nothing connected has no channels: it is silence.
        const input = inputs[bus];
        for (let c = 0; c < widths[bus]; c++) {
          const source = input[c];
          const at = HEADER_LENGTH + (first[bus] + c) * frames + this.gathered;
          if (source) for (let i = 0; i < take; i++) record[at + i] = source[offset + i];
          else record.fill(0, at, at + take);
        }
      }
      this.gathered += take;
      offset += take;
      if (this.gathered === frames) {
        this.gathered = 0;
        if (record !== this.scratch) {
          record[Field.SEQUENCE] = this.sequence;
          record[Field.START_FRAME] = this.startFrame;
          record[Field.BLOCKS] = this.counts.blocks;
          record[Field.UNDERRUNS] = this.counts.underruns;
          record[Field.LATE] = this.counts.late;
          record[Field.LATENCY_BLOCKS] = this.latencyBlocks;
          this.transport.send();
        }
        // A block that could not be sent simply never comes back.
        this.sequence++;
      }
    }
  }

  play(outputs, quantum) {
    const frames = this.frames;
    const { first, widths } = this.outputBuses;
    for (let offset = 0; offset < quantum;) {
      if (this.outputFrame === 0) this.startOutputBlock();
      const take = Math.min(quantum - offset, frames - this.outputFrame);
      for (let bus = 0; bus < widths.length; bus++) {
        const output = outputs[bus];
        for (let c = 0; c < output.length; c++) {
          const target = output[c];
          if (!this.playing || c >= widths[bus]) {
            target.fill(0, offset, offset + take);
            continue;
          }
          const from = HEADER_LENGTH + (first[bus] + c) * frames + this.outputFrame;
          for (let i = 0; i < take; i++) target[offset + i] = this.playing[from + i];
        }
      }
      this.outputFrame += take;
      offset += take;
      if (this.outputFrame === frames) {
        this.outputFrame = 0;
        this.outputBlock++;
      }
    }
  }

  /** Picks what the next `frames` frames of output play. */
  startOutputBlock() {
    this.playing = null;
    const sequence = this.outputBlock - this.latencyBlocks;
    // Before the first block, and once after each raise of the delay, nothing is due.
    if (sequence < this.nextToPlay) return;
    this.nextToPlay = sequence + 1;
    const slot = sequence % SLOTS;
    if (this.waitingSequence[slot] === sequence) {
      this.playing = this.waiting[slot];
      this.counts.blocks++;
    } else {
      this.counts.underruns++;
    }
  }
}

/** Where each bus's channels begin among a record's, and how many it has. */
function firstChannels(widths) {
  const first = [];
  let channels = 0;
  for (const width of widths) {
    first.push(channels);
    channels += width;
  }
  return { first, widths, channels };
}

registerProcessor('corvel-audio-node', CorvelNodeProcessor);
