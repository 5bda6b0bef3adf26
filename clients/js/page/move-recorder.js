// Keeps the moves the user makes in the plug-in's editor, with their times,
// and plays them back as automation: each move becomes a parameter change
// placed on its sample, so the same moves are heard again. Runs on the
// page's main thread; times are the AudioContext's.

/** @typedef {import('../corvel-client.js').CorvelAudioNode} CorvelAudioNode */

// Room for the changes to reach the node's worker before their time.
const PLAY_AHEAD_SECONDS = 0.1;

export class MoveRecorder {
  /** @type {Array<{time: number, index: number, value: number}>} seconds from the start of recording */
  moves = [];
  #recording = null;

  get recording() { return this.#recording !== null; }

  /** How long the recorded moves last, in seconds. */
  get duration() { return this.moves.at(-1)?.time ?? 0; }

  /** Starts keeping the moves the plug-in reports from `node`, forgetting earlier ones. */
  start(node) {
    this.stop();
    this.moves = [];
    const context = node.context;
    const started = context.currentTime;
    const keep = (event) => {
      // Touches mark no value of their own.
      if (!event.gesture) this.moves.push({ time: context.currentTime - started, index: event.index, value: event.value });
    };
    node.addEventListener('parameter', keep);
    this.#recording = () => node.removeEventListener('parameter', keep);
  }

  stop() {
    this.#recording?.();
    this.#recording = null;
  }

  /**
   * Plays the moves back through `node` from a moment from now.
   * @param {CorvelAudioNode} node
   * @param {(index: number, value: number) => void} [onMove] called as each
   *   move is heard, for the page to show it
   * @returns {Promise<void>} resolves once every change is scheduled
   */
  async play(node, onMove) {
    const context = node.context;
    const start = context.currentTime + PLAY_AHEAD_SECONDS;
    const heardAfter = node.latencySamples / context.sampleRate;
    await Promise.all(this.moves.map(({ time, index, value }) => {
      if (onMove) setTimeout(() => onMove(index, value), 1000 * (start + time + heardAfter - context.currentTime));
      return node.setParameter(index, value, start + time);
    }));
  }
}
