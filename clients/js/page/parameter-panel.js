// The test page's panel for the loaded plug-in: one slider per parameter
// with its name, the plug-in's text for its value and its unit, and a menu
// of its programs. It follows the plug-in (moves made in its editor, a
// program change) through the audio node's events, and moving a slider
// sets the parameter, which the plug-in's editor shows in turn.
// Runs on the page's main thread.

/** @typedef {import('../corvel-client.js').CorvelAudioNode} CorvelAudioNode */

export class ParameterPanel {
  /** @type {CorvelAudioNode|null} */ #node = null;
  #table;
  #programs;
  #onError;
  /** @type {Array<{slider: HTMLInputElement, display: HTMLElement, row: HTMLElement}>} */
  #rows = [];
  // Each slider's latest display request, so that a slow answer never
  // overwrites a newer one.
  #asked = [];

  /**
   * @param {HTMLTableElement} table where the sliders go
   * @param {HTMLSelectElement} programs the program menu
   * @param {(message: string) => void} onError
   */
  constructor(table, programs, onError) {
    this.#table = table;
    this.#programs = programs;
    this.#onError = onError;
    programs.addEventListener('change', () => {
      this.#node?.setProgram(Number(programs.value)).catch((error) => onError(error.message));
    });
  }

  /** Shows `node`'s plug-in, or nothing (null). */
  attach(node) {
    this.#node = node;
    this.#build();
    if (!node) return;
    node.addEventListener('parametersChanged', () => { if (this.#node === node) this.#build(); });
    node.addEventListener('parameter', (event) => {
      if (this.#node !== node) return;
      const row = this.#rows[event.index];
      if (!row) return;
      if (event.gesture) {
        row.row.classList.toggle('touched', event.gesture === 'begin');
        return;
      }
      this.#asked[event.index] = null;
      row.slider.value = String(event.value);
      row.display.textContent = event.display;
    });
  }

  /**
   * Shows a value the page set itself (as automation plays), with the
   * plug-in's text for it.
   */
  show(index, value) {
    const row = this.#rows[index];
    if (!row) return;
    row.slider.value = String(value);
    this.#describe(index, value);
  }

  #build() {
    const node = this.#node;
    const parameters = node?.parameters ?? [];
    const { names, current } = node?.programs ?? { names: [], current: 0 };
    this.#programs.replaceChildren(...names.map((name, index) => new Option(`${index + 1}: ${name}`, String(index))));
    this.#programs.value = String(current);
    this.#programs.disabled = names.length === 0;
    this.#asked = [];
    this.#rows = parameters.map((parameter) => this.#row(parameter));
    this.#table.replaceChildren(...this.#rows.map(({ row }) => row));
  }

  /** @param {import('../corvel-connection.js').Parameter} parameter */
  #row(parameter) {
    const row = document.createElement('tr');
    row.dataset.index = String(parameter.index);
    const cell = (text, className = '') => {
      const td = document.createElement('td');
      td.textContent = text;
      td.className = className;
      row.append(td);
      return td;
    };
    cell(parameter.name, 'name');
    const slider = document.createElement('input');
    slider.type = 'range';
    slider.min = '0';
    slider.max = '1';
    // A switch or a whole number moves in its steps, as the plug-in counts them.
    slider.step = parameter.steps >= 2 ? String(1 / (parameter.steps - 1)) : 'any';
    slider.value = String(parameter.value);
    slider.setAttribute('aria-label', parameter.name);
    cell('').append(slider);
    const display = cell(parameter.display, 'value');
    cell(parameter.label, 'dim');
    if (!parameter.automatable) cell('not automatable', 'dim');
    slider.addEventListener('input', () => {
      const value = Number(slider.value);
      this.#node?.setParameter(parameter.index, value).catch((error) => this.#onError(error.message));
      this.#describe(parameter.index, value);
    });
    return { slider, display, row };
  }

  async #describe(index, value) {
    const asked = { value };
    this.#asked[index] = asked;
    try {
      const text = await this.#node.parameterDisplay(index, value);
      if (this.#asked[index] === asked) this.#rows[index].display.textContent = text;
    } catch (error) {
      this.#onError(error.message);
    }
  }
}
