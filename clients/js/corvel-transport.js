// The workstation's transport as the blocks carry it: each block's record
// is the transport at the block's first frame. A clock keeps what the
// workstation set, from the frame it named, and moves it on while playing,
// so that the workstation tells only its changes (play, stop, a new tempo,
// a jump), not every block.
import { CorvelError } from './corvel-wire.js';

/**
 * The transport at a block's first frame. `position`, `barStart`,
 * `cycleStart` and `cycleEnd` count quarter notes; `samplePosition` frames;
 * `tempo` beats per minute; `numerator`/`denominator` the time signature.
 * @typedef {{playing: boolean, recording: boolean, cycle: boolean, tempo: number, numerator: number,
 *   denominator: number, position: number, barStart: number, cycleStart: number, cycleEnd: number,
 *   samplePosition: number}} Transport
 */

/** Where a session starts, as the companion assumes until told: stopped at 120 BPM in 4/4 from 0. */
export const STOPPED = Object.freeze({
  playing: false, recording: false, cycle: false, tempo: 120, numerator: 4, denominator: 4,
  position: 0, barStart: 0, cycleStart: 0, cycleEnd: 0, samplePosition: 0,
});

const FLAGS = ['playing', 'recording', 'cycle'];
const SIGNATURE = ['numerator', 'denominator'];
const NUMBERS = ['tempo', 'position', 'barStart', 'cycleStart', 'cycleEnd', 'samplePosition'];

/**
 * `base` with `fields` laid over it. A new `position` without a `barStart`
 * lies in bars counted from 0, and without a `samplePosition` is as many
 * frames in as it is at the (new) tempo.
 * @param {Transport} base
 * @param {Partial<Transport>} fields
 * @param {number} sampleRate
 * @returns {Transport}
 * @throws {CorvelError} `argument` for a field this record has not, or a value it cannot carry
 */
export function withFields(base, fields, sampleRate) {
  if (fields === null || typeof fields !== 'object') throw new CorvelError('argument', 'a transport is an object of fields');
  for (const [name, value] of Object.entries(fields)) {
    const fits = FLAGS.includes(name) ? typeof value === 'boolean'
      : SIGNATURE.includes(name) ? Number.isInteger(value) && value >= 1 && value <= 0xffff
        : NUMBERS.includes(name) ? Number.isFinite(value) && (name !== 'tempo' || value > 0) : null;
    if (fits === null) throw new CorvelError('argument', `the transport has no field ${name}`);
    if (!fits) throw new CorvelError('argument', `the transport's ${name} cannot be ${value}`);
  }
  const next = { ...base, ...fields };
  if ('position' in fields) {
    const bar = barLength(next);
    if (!('barStart' in fields)) next.barStart = Math.floor(next.position / bar) * bar;
    if (!('samplePosition' in fields)) next.samplePosition = Math.round((next.position * 60 * sampleRate) / next.tempo);
  }
  return next;
}

/**
 * The transport of one session's blocks. Not shared: one clock per sequence of blocks.
 */
export class TransportClock {
  #sampleRate;
  /** @type {Transport|null} */ #state = null;
  #anchor = 0;
  /** @type {Array<{frame: number|null, fields: Partial<Transport>}>} */ #pending = [];

  /** @param {number} sampleRate of the frames the clock counts */
  constructor(sampleRate) {
    this.#sampleRate = sampleRate;
  }

  /**
   * Changes the transport from `frame` on; fields left out go on as they were.
   * @param {Partial<Transport>} fields
   * @param {number|null} [frame] the frame it holds from; null: the next block's first
   * @throws {CorvelError} `argument`, with nothing changed
   */
  set(fields, frame = null) {
    withFields(STOPPED, fields, this.#sampleRate);
    this.#pending.push({ frame, fields });
  }

  /**
   * The transport at `start`, for the block that begins there; null until
   * one was set. Blocks come in order: what is due by `start` is taken.
   * A change reaches the first block that starts at or after its frame;
   * one set for a frame already past runs on from that frame.
   * @param {number} start the block's first frame
   * @returns {Transport|null}
   */
  at(start) {
    if (this.#pending.length > 0) {
      const due = this.#pending.filter(({ frame }) => frame === null || frame <= start);
      this.#pending = this.#pending.filter((change) => !due.includes(change));
      due.sort((a, b) => (a.frame ?? start) - (b.frame ?? start));
      for (const { frame, fields } of due) {
        const from = frame ?? start;
        const base = this.#state ? advance(this.#state, from - this.#anchor, this.#sampleRate) : STOPPED;
        this.#state = withFields(base, fields, this.#sampleRate);
        this.#anchor = from;
      }
    }
    return this.#state && advance(this.#state, start - this.#anchor, this.#sampleRate);
  }
}

/** Quarter notes in a bar. */
function barLength({ numerator, denominator }) {
  return (4 * numerator) / denominator;
}

/** `state` `frames` later: moved on while playing, as it was while stopped. */
function advance(state, frames, sampleRate) {
  if (!state.playing || frames === 0) return state;
  const position = state.position + (frames * state.tempo) / (60 * sampleRate);
  const bar = barLength(state);
  const bars = Math.floor((position - state.barStart) / bar);
  return { ...state, position, barStart: state.barStart + Math.max(0, bars) * bar, samplePosition: state.samplePosition + frames };
}
