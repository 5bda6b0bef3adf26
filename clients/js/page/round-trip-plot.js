// Draws the last seconds' round trips as dots over time, with the time one
// block lasts as a line: dots above it would have been too late at one block.

const SECONDS = 5;
const CEILING_MS = 4;

export class RoundTripPlot {
  /** @param {HTMLCanvasElement} canvas */
  constructor(canvas) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d');
  }

  /**
   * @param {Float32Array} roundTrips in milliseconds, oldest first
   * @param {number} blockMs how long one block lasts
   */
  draw(roundTrips, blockMs) {
    const { width, height } = this.canvas;
    const g = this.context;
    const count = Math.min(roundTrips.length, Math.ceil((SECONDS * 1000) / blockMs));
    const recent = roundTrips.subarray(roundTrips.length - count);
    const ceiling = Math.max(CEILING_MS, 1.25 * blockMs, ...recent);
    const y = (ms) => height - 14 - (ms / ceiling) * (height - 24);
    g.clearRect(0, 0, width, height);
    g.fillStyle = '#f5f6f8';
    g.fillRect(0, 0, width, height);

    g.strokeStyle = '#c98a1a';
    g.beginPath();
    g.moveTo(0, y(blockMs));
    g.lineTo(width, y(blockMs));
    g.stroke();

    const slots = Math.ceil((SECONDS * 1000) / blockMs);
    g.fillStyle = '#2a5db0';
    recent.forEach((ms, i) => {
      const x = width - ((count - i) / slots) * width;
      g.fillRect(x, y(ms) - 1, 2, 2);
    });

    g.fillStyle = '#5b6475';
    g.font = '11px system-ui, sans-serif';
    g.fillText(`${ceiling.toFixed(1)} ms`, 4, 12);
    g.fillText(`one block: ${blockMs.toFixed(2)} ms`, 4, y(blockMs) - 3);
    g.fillText(`last ${SECONDS} s`, width - 48, height - 2);
  }
}
