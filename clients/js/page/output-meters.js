// The test page's table of an audio node's output channels, every output
// of it: each channel's last sample, which is how test plug-ins report what
// they heard (test_transport's tempo and position), and its level.

export class OutputMeters {
  /** @type {AnalyserNode[]} */ #analysers = [];
  #samples = new Float32Array(2048);

  /** @param {HTMLTableElement} table */
  constructor(table) {
    this.table = table;
  }

  /**
   * Measures every output channel of `node`, named by the plug-in's pins where it names them.
   * @param {import('../corvel-client.js').CorvelAudioNode|null} node
   */
  attach(node) {
    this.#analysers = [];
    this.table.replaceChildren();
    if (!node) return;
    const pins = node.plugin?.outputPins ?? [];
    node.buses.outputs.forEach((channels, output) => {
      const splitter = new ChannelSplitterNode(node.context, { numberOfOutputs: channels });
      node.connect(splitter, output);
      for (let c = 0; c < channels; c++) {
        const analyser = new AnalyserNode(node.context, { fftSize: this.#samples.length });
        splitter.connect(analyser, c);
        const channel = this.#analysers.push(analyser) - 1;
        const row = this.table.insertRow();
        row.dataset.channel = String(channel);
        row.insertCell().textContent = `Output ${output + 1}, channel ${c + 1}${pins[channel]?.label ? ` (${pins[channel].label})` : ''}`;
        row.insertCell().className = 'value sample';
        row.insertCell().className = 'value level';
      }
    });
  }

  /** Shows what each channel played last. */
  update() {
    this.#analysers.forEach((analyser, channel) => {
      analyser.getFloatTimeDomainData(this.#samples);
      const power = this.#samples.reduce((sum, x) => sum + x * x, 0) / this.#samples.length;
      const [, sample, level] = this.table.rows[channel].cells;
      sample.textContent = this.#samples.at(-1).toFixed(6);
      level.textContent = power > 1e-12 ? `${(10 * Math.log10(power)).toFixed(1)} dB` : 'silence';
    });
  }
}
