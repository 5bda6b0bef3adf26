// A connection to the companion program over its WebSocket: turns calls into
// requests and the replies back into answers to the calls that caused them.
// It speaks protocol 2 where the companion does, and the original protocol
// to companions built before it. Runs in browsers and in Node (with a
// WebSocket class passed in).
import { BlockWriter, decodeBlock2 } from './corvel-blocks.js';
import { openConnection } from './corvel-handshake.js';
import { renderOffline } from './corvel-render.js';
import { STOPPED, withFields } from './corvel-transport.js';
import {
  checkBlockSize, checkChannels, checkSampleRate, CorvelError, decodeBlock, DEFAULT_URL, encodeBlock,
  encodeRequest, encodeRequest2, readMessage2, ReplyReader,
} from './corvel-wire.js';

/** @typedef {import('./corvel-wire.js').MidiEvent} MidiEvent */
/** @typedef {import('./corvel-wire.js').ParameterChange} ParameterChange */
/** @typedef {import('./corvel-wire.js').Request} Request */
/** @typedef {import('./corvel-blocks.js').ProcessedBlock} ProcessedBlock */
/** @typedef {import('./corvel-transport.js').Transport} Transport */
/** @typedef {import('./corvel-render.js').RenderOptions} RenderOptions */
/** @typedef {import('./corvel-render.js').Rendered} Rendered */

const DEFAULT_BLOCK_SIZE = 1024;
const DEFAULT_SAMPLE_RATE = 44100;

/** Fired once when the connection has ended, whoever ended it. */
export class CorvelCloseEvent extends Event {
  /**
   * @param {number} code WebSocket close code (1006: ended without a close frame)
   * @param {string} reason
   */
  constructor(code, reason) {
    super('close');
    this.code = code;
    this.reason = reason;
  }
}

/** Fired for every plug-in that finished loading, also one whose load() gave up waiting. */
export class CorvelLoadedEvent extends Event {
  /** @param {number} latency the plug-in's latency in samples */
  constructor(latency) {
    super('loaded');
    this.latency = latency;
  }
}

/**
 * Fired when the plug-in crashed or stopped answering. The companion starts
 * it again and sends "ready" and its latency (a `loaded` event) unless it gave up.
 */
export class CorvelCrashedEvent extends Event {
  /** @param {string} reason for example "signal 11" or "gave up after 3 crashes" */
  constructor(reason) {
    super('crashed');
    this.reason = reason;
  }
}

/**
 * Fired when the plug-in changed a parameter of its own accord (its editor,
 * its own automation), or the user touched or let go of one of its
 * controls (`gesture`). Of several changes the plug-in makes to one
 * parameter within one block, only the last is told.
 */
export class CorvelParameterEvent extends Event {
  /** @param {{index: number, value: number, display: string, gesture?: 'begin'|'end'}} fields */
  constructor({ index, value, display, gesture }) {
    super('parameter');
    this.index = index;
    /** 0 to 1 */
    this.value = value;
    /** The text the plug-in shows for the value. */
    this.display = display;
    /** @type {'begin'|'end'|null} a touch of the control, or null for a change of value */
    this.gesture = gesture ?? null;
  }
}

/**
 * Fired when the plug-in changed its channels or its latency while
 * loaded; the session's blocks keep the channels it chose.
 */
export class CorvelIoChangedEvent extends Event {
  /** @param {{inputs: number, outputs: number, latency: number}} fields the plug-in's own, now */
  constructor({ inputs, outputs, latency }) {
    super('ioChanged');
    this.inputs = inputs;
    this.outputs = outputs;
    this.latency = latency;
  }
}

/**
 * The loaded plug-in's channels as it tells them, and their names: each
 * pin `{label, stereo}`, `stereo` marking the first of a pair; no pins when
 * the plug-in names none.
 * @typedef {{name: string, inputs: number, outputs: number,
 *   inputPins: Array<{label: string, stereo: boolean}>, outputPins: Array<{label: string, stereo: boolean}>}} PluginIo
 */

/**
 * One of the plug-in's parameters, as it describes it.
 * @typedef {{index: number, name: string, label: string, display: string, value: number,
 *   automatable: boolean, steps: number, switch: boolean, integer: boolean, min?: number,
 *   max?: number, category: string}} Parameter
 */

/**
 * The plug-in's programs: their names, and the index of the current one.
 * @typedef {{names: string[], current: number}} Programs
 */

/**
 * One entry of the companion's catalogue: a plug-in, or a module that could
 * not be read (`status` other than "ok", with its `reason`).
 * @typedef {{path: string, uniqueId: number, name: string, vendor: string, product: string,
 *   version: number, category: string, inputs: number, outputs: number, midiIn: boolean,
 *   midiOut: boolean, hasEditor: boolean, parameters: number, programs: number, latency: number,
 *   status: 'ok'|'crashed'|'hung'|'not-a-plugin', reason?: string}} CatalogueEntry
 */

/** Fired for a message the client cannot place; it is otherwise ignored. */
export class CorvelUnexpectedEvent extends Event {
  /** @param {string|ArrayBuffer} data */
  constructor(data) {
    super('unexpected');
    this.data = data;
  }
}

/**
 * @typedef {object} ConnectOptions
 * @property {typeof WebSocket} [WebSocket] the WebSocket class (default: the global one;
 *   in Node pass the `ws` package's)
 * @property {number} [timeoutMs=10000] how long to wait for the greeting
 * @property {number} [attempts=3] connection attempts, for a companion that may
 *   still be starting
 * @property {number} [retryDelayMs=300]
 * @property {number} [blockSize=1024] frames per block, sent on connect
 * @property {number} [sampleRate=44100] sent on connect
 * @property {1|2} [protocol=2] the newest protocol to offer; 1 speaks the
 *   original one even to a companion that knows protocol 2
 */

/**
 * A connection to the companion. Create it with {@link CorvelClient.connect}.
 *
 * Every command returns a promise. Over protocol 2 every command resolves
 * with the companion's answer, and a refused one rejects with the
 * companion's code and message. Over the original protocol, commands that
 * the companion answers resolve with the answer; the others resolve once
 * the command is sent. Calls may overlap freely, with one exception: one
 * load() at a time.
 *
 * Events: `close` ({@link CorvelCloseEvent}), `loaded` ({@link CorvelLoadedEvent}),
 * `ready` (a plain Event before each `loaded`, and over the original
 * protocol for each "ready" the companion sends),
 * `crashed` ({@link CorvelCrashedEvent}),
 * `unexpected` ({@link CorvelUnexpectedEvent}); over protocol 2 also
 * `parameter` ({@link CorvelParameterEvent}), `parametersChanged` (a plain
 * Event: the parameters changed as a whole, after a program change or a
 * restored state; ask {@link parameters} again) and `ioChanged`
 * ({@link CorvelIoChangedEvent}).
 */
export class CorvelClient extends EventTarget {
  /** @type {WebSocket} */ #socket;
  #version = '';
  /** @type {1|2} */ #protocol = 1;
  #limits = {};
  #blockSize = DEFAULT_BLOCK_SIZE;
  #sampleRate = DEFAULT_SAMPLE_RATE;
  // The channels every block carries each way, as the session chose them.
  #inputs = 2;
  #outputs = 2;
  #offline = false;
  /** @type {PluginIo|null} */ #plugin = null;
  #rendering = false;
  #open = true;
  // Without a plug-in wrapper the host answers neither audio nor getState.
  // Its GUI thread has one from the moment it handles a load (even a failed
  // one) until an unload; the thread that answers audio can rely on one
  // only once a load has been confirmed, as reloads swap wrappers in place.
  #loadSent = false;
  #wrapperCertain = false;
  /** @type {number|null} */ #latency = null;
  /** @type {{resolve: (latency: number) => void, reject: (e: Error) => void, timer: any}|null} */
  #pendingLoad = null;
  /** @type {Array<{resolve: (v: ProcessedBlock|null) => void, reject: (e: Error) => void, frames: number, channels: number}>} */
  #pendingBlocks = [];
  /** @type {Array<{resolve: (v: boolean) => void, reject: (e: Error) => void}>} */
  #pendingBypass = [];
  /** @type {Array<{resolve: (v: string[]) => void, reject: (e: Error) => void}>} */
  #pendingScans = [];
  /** @type {Array<{resolve: (v: Uint8Array|null) => void, reject: (e: Error) => void}>} */
  #pendingStates = [];
  #replies = new ReplyReader();
  // Protocol 2: requests waiting for their reply by id, and the getState
  // whose state is the next binary message.
  #nextId = 1;
  /** @type {Map<number, {resolve: (v: any) => void, reject: (e: Error) => void,
   *   onEvent: ((fields: object) => void)|null, bytesFollow: boolean}>} */
  #requests = new Map();
  /** @type {{resolve: (v: Uint8Array) => void, reject: (e: Error) => void}|null} */
  #stateFollows = null;
  #blockWriter = new BlockWriter();
  /** @type {Promise<CorvelCloseEvent>} */ #closed;
  /** @type {(event: CorvelCloseEvent) => void} */ #closedResolve = () => {};

  /**
   * Opens a connection and waits for the companion's greeting.
   * @param {string} [url] default `ws://127.0.0.1:9001/`
   * @param {ConnectOptions} [options]
   * @returns {Promise<CorvelClient>}
   */
  static async connect(url = DEFAULT_URL, options = {}) {
    checkBlockSize(options.blockSize ?? DEFAULT_BLOCK_SIZE);
    checkSampleRate(options.sampleRate ?? DEFAULT_SAMPLE_RATE);
    const { socket, greeting } = await openConnection(url, options, false);
    return new CorvelClient(socket, greeting, options);
  }

  /**
   * Connects from a click on a page outside the loopback address: the
   * socket opens before anything is awaited, on the page's main thread,
   * which lets the browser ask the user for its loopback permission. Once
   * granted, later connections of the page and of its workers (an audio
   * node's) go through without asking. Rejects as {@link connect} does;
   * `blocked-by-browser` when the user or the site's settings said no.
   * @param {string} [url]
   * @param {ConnectOptions} [options] attempts default to 1
   * @returns {Promise<CorvelClient>}
   */
  static async requestAccess(url = DEFAULT_URL, options = {}) {
    checkBlockSize(options.blockSize ?? DEFAULT_BLOCK_SIZE);
    checkSampleRate(options.sampleRate ?? DEFAULT_SAMPLE_RATE);
    const { socket, greeting } = await openConnection(url, { attempts: 1, ...options }, true);
    return new CorvelClient(socket, greeting, options);
  }

  /**
   * Use {@link CorvelClient.connect}.
   * @param {WebSocket} socket an open socket whose greeting was read
   * @param {{version: string, protocol: 1|2, limits: object}} greeting
   * @param {ConnectOptions} options
   */
  constructor(socket, greeting, options) {
    super();
    this.#socket = socket;
    this.#version = greeting.version;
    this.#protocol = greeting.protocol;
    this.#limits = greeting.limits;
    this.#closed = new Promise((resolve) => { this.#closedResolve = resolve; });
    socket.onmessage = (event) => this.#receive(event.data);
    socket.onclose = (event) => this.#ended(event.code, event.reason);
    socket.onerror = () => {};
    // Both settings outlive connections on the host: start from known ones.
    // A failure shows in the calls after them, which the connection's end fails too.
    this.#setBlockSize(options.blockSize ?? DEFAULT_BLOCK_SIZE)?.catch(() => {});
    this.#setSampleRate(options.sampleRate ?? DEFAULT_SAMPLE_RATE)?.catch(() => {});
  }

  /** The companion's version, from its greeting. */
  get version() { return this.#version; }
  /** 2 when the connection speaks protocol 2, 1 for the original protocol. */
  get protocol() { return this.#protocol; }
  /** Protocol 2's limits from the greeting (maxBlockFrames, maxMidiEvents, ...); empty for protocol 1. */
  get limits() { return this.#limits; }
  /** Frames per channel in every block that {@link process} takes and gives. */
  get blockSize() { return this.#blockSize; }
  get sampleRate() { return this.#sampleRate; }
  /**
   * The channels every block carries: `inputs` to the plug-in, `outputs`
   * back. They map to the plug-in's channels in order: its inputs past
   * these hear silence, outputs past its own come back silent.
   * @type {{inputs: number, outputs: number}}
   */
  get layout() { return { inputs: this.#inputs, outputs: this.#outputs }; }
  /** True while the plug-in is told it renders offline ({@link configure}). */
  get offline() { return this.#offline; }
  /** The loaded plug-in's channels and their names; null without one, and over the original protocol. */
  get plugin() { return this.#plugin; }
  /** True until the connection has ended. */
  get connected() { return this.#open; }
  /** True while a plug-in whose load was confirmed is in place. */
  get loaded() { return this.#latency !== null; }
  /** The loaded plug-in's latency in samples, or null. */
  get latency() { return this.#latency; }
  /** Resolves when the connection has ended. */
  get closed() { return this.#closed; }

  /**
   * Lists the plug-in files in the companion's plug-in folders and, if given, in `folder`.
   * @param {string} [folder]
   * @returns {Promise<string[]>}
   */
  scan(folder = '') {
    if (this.#protocol === 2) return this.#request({ type: 'scan', folder }).then((reply) => reply.paths);
    return this.#ask(this.#pendingScans, { type: 'scan', folder });
  }

  /**
   * The companion's catalogue: one entry per plug-in in its plug-in folders,
   * with the modules it could not read among them (by `status`). Its first
   * scan reads every module and may take minutes; later ones read only
   * new and changed files. Needs protocol 2 and a companion that keeps a
   * catalogue: otherwise rejects with `unsupported`.
   * @param {{onProgress?: (progress: {done: number, total: number, path: string}) => void,
   *   rescan?: boolean, folder?: string}} [options] `rescan` reads every
   *   module again; `folder` is read besides the plug-in folders
   * @returns {Promise<CatalogueEntry[]>}
   */
  catalogue(options = {}) {
    if (this.#protocol !== 2) {
      return Promise.reject(new CorvelError('unsupported', 'this companion is too old to keep a catalogue: use scan()'));
    }
    const onEvent = (event) => {
      if (event.event === 'catalogueProgress') options.onProgress?.({ done: event.done, total: event.total, path: event.path });
    };
    return this.#request({ type: 'catalogue', rescan: Boolean(options.rescan), folder: options.folder }, onEvent).then(
      (reply) => reply.plugins,
      (error) => {
        // A companion that speaks protocol 2 but predates the catalogue.
        if (error.code === 'bad-request' && /no operation/i.test(error.message)) {
          throw new CorvelError('unsupported', 'this companion is too old to keep a catalogue: use scan()');
        }
        throw error;
      });
  }

  /**
   * Loads a plug-in, replacing the current one, and resolves to its latency in
   * samples. Over protocol 2 a failed load rejects with the companion's
   * reason (`not-found`, `not-a-plugin`, `wrong-architecture`, `refused`,
   * `crashed`, `timeout`). Over the original protocol a failed load sends
   * no answer, so failure shows as a timeout.
   * A plug-in that finishes loading after its load() gave up is reported by a
   * `loaded` event; over the original protocol a load started in the meantime
   * cannot tell that answer from its own, so give slow plug-ins a longer
   * timeout instead.
   * @param {string|{path: string, uniqueId?: number}} plugin a path as
   *   {@link scan} lists it, or a {@link catalogue} entry: over protocol 2 its
   *   `uniqueId` picks the plug-in of a module that holds several
   * @param {{timeoutMs?: number, inputs?: number, outputs?: number}} [options]
   *   `timeoutMs` default 10000; `inputs` and `outputs`: the channels the
   *   session's blocks carry from this load on, as {@link configure} takes
   *   them (protocol 2)
   * @returns {Promise<number>}
   */
  load(plugin, options = {}) {
    if (!this.#open) return Promise.reject(closedError());
    const path = typeof plugin === 'string' ? plugin : plugin?.path;
    const uniqueId = typeof plugin === 'string' ? undefined : plugin?.uniqueId;
    const { inputs, outputs } = options;
    let messages;
    try {
      messages = encodeRequest({ type: 'load', path });
      if (inputs !== undefined) checkChannels(inputs, 'inputs');
      if (outputs !== undefined) checkChannels(outputs, 'outputs');
      if (this.#protocol !== 2 && [inputs, outputs].some((count) => (count ?? 2) !== 2)) throw tooOld('channels other than two each way');
    } catch (error) {
      return Promise.reject(error);
    }
    if (this.#pendingLoad) {
      return Promise.reject(new CorvelError('busy', 'another load is still under way'));
    }
    const timeoutMs = options.timeoutMs ?? 10000;
    if (this.#protocol === 2) return this.#load2({ type: 'load', path, uniqueId, inputs, outputs }, timeoutMs);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.#pendingLoad = null;
        reject(new CorvelError('timeout', `no answer to loading ${path} within ${timeoutMs} ms: ` +
          'the file is missing, is not a plug-in this companion can load, or takes longer to start'));
      }, timeoutMs);
      this.#pendingLoad = { resolve, reject, timer };
      this.#write(messages);
      this.#loadSent = true;
      this.#latency = null;
    });
  }

  /** Unloads the plug-in and closes its editor. */
  unload() {
    if (this.#protocol === 2) {
      this.#latency = null;
      this.#plugin = null;
      return this.#request({ type: 'unload' }).then(() => {});
    }
    return this.#tell(() => {
      this.#send({ type: 'unload' });
      this.#loadSent = false;
      this.#wrapperCertain = false;
      this.#latency = null;
    });
  }

  /**
   * Sends one block through the plug-in. Resolves to the processed block, or
   * to null when the block was not processed (no plug-in, plug-in off or
   * still loading). Two forms:
   *
   * - `process(channels, {events, changes, transport})`: `channels` holds
   *   `layout.inputs` Float32Arrays of `blockSize` samples; the block that
   *   comes back holds `layout.outputs`, and the MIDI the plug-in sent
   *   (`midi`, with its frames);
   * - `process(left, right, events, changes)`, for a session of two inputs.
   *
   * `events`: MIDI events for this block, each at its offset in it (over
   * protocol 2 they travel inside the block). `changes`: parameter changes
   * for this block, each on its frame (protocol 2 only); the companion
   * processes the block in pieces of at least 32 frames, so a change within
   * 32 frames of a piece's start or of the block's end moves to the nearer
   * edge. `transport`: the transport at the block's first frame (protocol 2
   * only), fields left out as {@link STOPPED} has them; a block without one
   * continues the last.
   * @param {Float32Array[]|Float32Array} channels
   * @param {{events?: MidiEvent[]|null, changes?: ParameterChange[]|null, transport?: Partial<Transport>|null}|Float32Array} [extras]
   * @returns {Promise<ProcessedBlock|null>}
   */
  process(channels, extras = {}, ...stereo) {
    if (!this.#open) return Promise.reject(closedError());
    if (this.#rendering) return Promise.reject(new CorvelError('busy', 'a render() has the session\'s blocks until it ends'));
    if (Array.isArray(channels)) return this.#process(channels, extras ?? {});
    const [events = null, changes = null] = stereo;
    return this.#process([channels, extras], { events, changes });
  }

  /**
   * Offline rendering of a whole buffer: the plug-in is told it renders
   * offline, blocks go out several at a time, as fast as it answers, and the
   * session is back to real time and its block size afterwards. The output
   * lines up with the input: the plug-in's latency is rendered past the
   * end and cut from the start. Other blocks wait until it ends (`busy`).
   * Protocol 2 only (`unsupported` otherwise).
   * @param {Float32Array[]} inputs planar, of one length; fewer than
   *   `layout.inputs` leaves the rest silent (none, for an instrument: give `frames`)
   * @param {RenderOptions} [options]
   * @returns {Promise<Rendered>} `layout.outputs` channels as long as the
   *   input, and the MIDI the plug-in sent with frames from the start
   * @throws {CorvelError} `no-plugin`; `failed` when a block came back
   *   unprocessed (the plug-in crashed or was switched off); `argument`
   */
  render(inputs, options = {}) {
    if (!this.#open) return Promise.reject(closedError());
    if (this.#protocol !== 2) return Promise.reject(tooOld('render()'));
    if (this.#rendering) return Promise.reject(new CorvelError('busy', 'another render() is under way'));
    this.#rendering = true;
    return renderOffline(this, (channels, extras) => this.#process(channels, extras), inputs, options)
      .finally(() => { this.#rendering = false; });
  }

  /**
   * @param {Float32Array[]} channels
   * @param {{events?: MidiEvent[]|null, changes?: ParameterChange[]|null, transport?: Partial<Transport>|null}} extras
   * @returns {Promise<ProcessedBlock|null>}
   */
  #process(channels, { events = null, changes = null, transport = null }) {
    const frames = this.#blockSize;
    const inputs = this.#inputs;
    if (channels.length !== inputs || !channels.every((channel) => channel instanceof Float32Array && channel.length === frames)) {
      return Promise.reject(new CorvelError('argument',
        `process takes ${inputs} Float32Arrays of ${frames} samples (the session's inputs and block size)`));
    }
    let message;
    try {
      // Protocol 2 answers every block; the original drops one sent where
      // the host might have no wrapper, unanswered.
      if (this.#protocol === 2) {
        const record = transport && withFields(STOPPED, transport, this.#sampleRate);
        message = this.#blockWriter.write(channels, events, changes, record);
      } else if (changes?.length) return Promise.reject(tooOld('parameter changes'));
      else if (transport) return Promise.reject(tooOld('the transport'));
      else if (!this.#wrapperCertain) return Promise.resolve(null);
      else {
        if (events?.length) this.#send({ type: 'midi', events });
        message = encodeBlock(channels[0], channels[1]);
      }
    } catch (error) {
      return Promise.reject(error);
    }
    return new Promise((resolve, reject) => {
      this.#pendingBlocks.push({ resolve, reject, frames, channels: this.#outputs });
      this.#socket.send(message);
    });
  }

  /**
   * Queues MIDI events for the next processed block.
   * @param {MidiEvent[]} events
   */
  midi(events) {
    if (this.#protocol === 2) return this.#request({ type: 'midi', events }).then(() => {});
    return this.#tell(() => this.#send({ type: 'midi', events }));
  }

  /**
   * Switches the plug-in off: blocks come back unprocessed (null).
   * @returns {Promise<boolean>} true, the bypass state the companion confirmed
   */
  suspend() { return this.#bypass('suspend'); }

  /**
   * Switches the plug-in on again.
   * @returns {Promise<boolean>} false, the bypass state the companion confirmed
   */
  resume() { return this.#bypass('resume'); }

  #bypass(type) {
    if (this.#protocol === 2) return this.#request({ type }).then((reply) => reply.bypassed);
    return this.#ask(this.#pendingBypass, { type });
  }

  /** @param {number} hz a whole number above 0; reaches the plug-in at once and at every load */
  setSampleRate(hz) {
    if (this.#protocol === 2) return this.#asked(() => this.#setSampleRate(hz));
    return this.#tell(() => this.#setSampleRate(hz));
  }

  /** @param {number} frames 1 to 16384; every later {@link process} call uses this size */
  setBlockSize(frames) {
    if (this.#protocol === 2) return this.#asked(() => this.#setBlockSize(frames));
    return this.#tell(() => this.#setBlockSize(frames));
  }

  /**
   * Changes the session's settings at once; those left out stay as they are.
   * Over the original protocol only `sampleRate` and `blockSize` exist
   * (the others reject with `unsupported`).
   * @param {{sampleRate?: number, blockSize?: number, inputs?: number, outputs?: number, offline?: boolean}} settings
   *   `inputs`, `outputs`: the channels every later block carries each way,
   *   1 to 128 ({@link layout}); `offline`: the plug-in is told it renders
   *   offline, where some use their best quality, and blocks may come as
   *   fast as it answers them
   * @returns {Promise<{sampleRate: number, blockSize: number, inputs: number, outputs: number, offline: boolean}>}
   *   the session's settings now
   */
  configure(settings) {
    if (!this.#open) return Promise.reject(closedError());
    const { sampleRate, blockSize, inputs, outputs, offline } = settings ?? {};
    try {
      if (sampleRate !== undefined) checkSampleRate(sampleRate);
      if (blockSize !== undefined) checkBlockSize(blockSize);
      if (inputs !== undefined) checkChannels(inputs, 'inputs');
      if (outputs !== undefined) checkChannels(outputs, 'outputs');
      if (offline !== undefined && typeof offline !== 'boolean') throw new CorvelError('argument', 'offline is true or false');
      if (this.#protocol !== 2 && (inputs ?? outputs ?? offline) !== undefined) throw tooOld('channels and offline rendering');
    } catch (error) {
      return Promise.reject(error);
    }
    if (this.#protocol !== 2) {
      if (sampleRate !== undefined) this.#setSampleRate(sampleRate);
      if (blockSize !== undefined) this.#setBlockSize(blockSize);
      return Promise.resolve({ sampleRate: this.#sampleRate, blockSize: this.#blockSize, inputs: 2, outputs: 2, offline: false });
    }
    const reply = this.#request({ type: 'configure', sampleRate, blockSize, inputs, outputs, offline });
    // Later calls already see the new settings, as the companion will when it reaches them.
    this.#sampleRate = sampleRate ?? this.#sampleRate;
    this.#blockSize = blockSize ?? this.#blockSize;
    this.#inputs = inputs ?? this.#inputs;
    this.#outputs = outputs ?? this.#outputs;
    this.#offline = offline ?? this.#offline;
    return reply.then((fields) => ({ sampleRate: fields.sampleRate, blockSize: fields.blockSize, inputs: fields.inputs,
      outputs: fields.outputs, offline: fields.offline }));
  }

  /**
   * Reads the plug-in's state.
   * @returns {Promise<Uint8Array|null>} the bytes, or null without a plug-in or
   *   when the plug-in keeps no state. Over protocol 2 a plug-in without a
   *   chunk of its own is kept by its program and parameter values (a state
   *   that begins with `CVPARAM1`), which {@link setState} takes as well.
   */
  getState() {
    if (this.#protocol === 2) {
      return this.#request({ type: 'getState' }, null, true).then(
        (bytes) => bytes,
        (error) => {
          if (error.code === 'no-plugin' || error.code === 'failed') return null;
          throw error;
        });
    }
    if (this.#open && !this.#loadSent) return Promise.resolve(null);
    return this.#ask(this.#pendingStates, { type: 'getState' });
  }

  /**
   * Restores a state read with {@link getState}. The plug-in stays off
   * afterwards until {@link resume}.
   * @param {Uint8Array|ArrayBuffer} bytes
   */
  setState(bytes) {
    if (this.#protocol === 2) return this.#request({ type: 'setState', bytes }).then(() => {});
    return this.#tell(() => this.#send({ type: 'setState', bytes }));
  }

  /**
   * The plug-in's parameters, with their current values. Protocol 2 only,
   * as are the other parameter and program calls: otherwise they reject
   * with `unsupported`; without a plug-in, with `no-plugin`.
   * @returns {Promise<Parameter[]>}
   */
  parameters() {
    return this.#request2({ type: 'parameters' }).then((reply) => reply.parameters);
  }

  /**
   * The text the plug-in shows for `value` of a parameter, without changing
   * it: the plug-in goes on with, and sounds as, its current value.
   * @param {number} index
   * @param {number} value 0 to 1
   * @returns {Promise<string>}
   */
  parameterDisplay(index, value) {
    return this.#request2({ type: 'parameterDisplay', index, value }).then((reply) => reply.display);
  }

  /**
   * Sets a parameter before the next block. To place a change on a frame,
   * give it to {@link process} instead.
   * @param {number} index
   * @param {number} value 0 to 1
   */
  setParameter(index, value) {
    return this.#request2({ type: 'setParameter', index, value }).then(() => {});
  }

  /**
   * The plug-in's programs, read without switching.
   * @returns {Promise<Programs>}
   */
  programs() {
    return this.#request2({ type: 'programs' }).then((reply) => ({ names: reply.programs, current: reply.current }));
  }

  /**
   * Switches the plug-in to one of its programs; a `parametersChanged`
   * event follows.
   * @param {number} index
   */
  setProgram(index) {
    return this.#request2({ type: 'setProgram', index }).then(() => {});
  }

  /** @param {string} name the current program's new name */
  setProgramName(name) {
    return this.#request2({ type: 'setProgramName', name }).then(() => {});
  }

  /** Shows the plug-in's editor window on the companion's screen. */
  showGui() {
    if (this.#protocol === 2) return this.#request({ type: 'showGui' }).then(() => {});
    return this.#tell(() => this.#send({ type: 'showGui' }));
  }

  /**
   * Ends the companion program.
   * @returns {Promise<CorvelCloseEvent>} resolves when the connection has ended
   */
  quit() {
    if (!this.#open) return Promise.reject(closedError());
    if (this.#protocol === 2) this.#request({ type: 'quit' }).catch(() => {});
    else this.#send({ type: 'quit' });
    return this.#closed;
  }

  /**
   * Closes the connection; the companion unloads the plug-in.
   * @returns {Promise<CorvelCloseEvent>}
   */
  close() {
    if (this.#open) this.#socket.close(1000);
    return this.#closed;
  }

  // --- sending --------------------------------------------------------------

  /**
   * @param {Request} request
   * @throws {CorvelError} `argument`, with nothing sent
   */
  #send(request) {
    this.#write(encodeRequest(request));
  }

  /** @param {Array<string|Uint8Array>} messages a request's, from encodeRequest */
  #write(messages) {
    for (const message of messages) this.#socket.send(message);
  }

  /** Runs a command that gets no answer. */
  #tell(action) {
    if (!this.#open) return Promise.reject(closedError());
    try {
      action();
    } catch (error) {
      return Promise.reject(error);
    }
    return Promise.resolve();
  }

  /**
   * Sends a command whose answer comes in order among those of its kind.
   * @param {Request} request
   */
  #ask(queue, request) {
    if (!this.#open) return Promise.reject(closedError());
    return new Promise((resolve, reject) => {
      const messages = encodeRequest(request);
      queue.push({ resolve, reject });
      this.#write(messages);
    });
  }

  /**
   * Sends a protocol 2 request.
   * @param {object} request as encodeRequest2 takes it
   * @param {((fields: object) => void)|null} [onEvent] for events that carry its id
   * @param {boolean} [bytesFollow] the reply announces a binary message,
   *   which it resolves to instead (getState's state)
   * @returns {Promise<object>} the reply's fields; rejects with the
   *   companion's code and message, or `argument` with nothing sent
   */
  #request(request, onEvent = null, bytesFollow = false) {
    if (!this.#open) return Promise.reject(closedError());
    const id = this.#nextId++;
    let messages;
    try {
      messages = encodeRequest2(id, request);
    } catch (error) {
      return Promise.reject(error);
    }
    return new Promise((resolve, reject) => {
      this.#requests.set(id, { resolve, reject, onEvent, bytesFollow });
      this.#write(messages);
    });
  }

  /**
   * Sends a request that only protocol 2 has.
   * @returns {Promise<object>} the reply's fields; rejects with
   *   `unsupported` where the companion does not know it
   */
  #request2(request) {
    if (this.#protocol !== 2) return Promise.reject(tooOld(`${request.type}()`));
    return this.#request(request).catch((error) => {
      // A companion that speaks protocol 2 but predates the request.
      if (error.code === 'bad-request' && /no operation/i.test(error.message)) throw tooOld(`${request.type}()`);
      throw error;
    });
  }

  /** Runs a protocol 2 setter that may throw before sending. */
  #asked(action) {
    if (!this.#open) return Promise.reject(closedError());
    try {
      return action().then(() => {});
    } catch (error) {
      return Promise.reject(error);
    }
  }

  /** @returns {Promise<object>|undefined} the reply over protocol 2 */
  #setBlockSize(frames) {
    checkBlockSize(frames);
    // Protocol 1: a "ready" comes back only while a plug-in is in place, so none is awaited.
    const request = { type: 'blockSize', frames };
    const reply = this.#protocol === 2 ? this.#request(request) : this.#send(request);
    this.#blockSize = frames;
    return reply;
  }

  /** @returns {Promise<object>|undefined} the reply over protocol 2 */
  #setSampleRate(hz) {
    checkSampleRate(hz);
    const request = { type: 'sampleRate', hz };
    const reply = this.#protocol === 2 ? this.#request(request) : this.#send(request);
    this.#sampleRate = hz;
    return reply;
  }

  #load2(request, timeoutMs) {
    const { path } = request;
    this.#loadSent = true;
    this.#latency = null;
    this.#plugin = null;
    this.#inputs = request.inputs ?? this.#inputs;
    this.#outputs = request.outputs ?? this.#outputs;
    const reply = this.#request(request);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.#pendingLoad = null;
        reject(new CorvelError('timeout', `no answer to loading ${path} within ${timeoutMs} ms`));
      }, timeoutMs);
      this.#pendingLoad = { resolve, reject, timer };
      // Is this load still waiting, or has it timed out (maybe with another under way)?
      const waiting = () => {
        if (this.#pendingLoad?.timer !== timer) return false;
        clearTimeout(timer);
        this.#pendingLoad = null;
        return true;
      };
      // A reply after the timeout still counts: it fires `loaded`.
      reply.then((fields) => {
        const { name, inputs, outputs, inputPins, outputPins } = fields;
        this.#plugin = { name, inputs, outputs, inputPins: inputPins ?? [], outputPins: outputPins ?? [] };
        if (waiting()) resolve(fields.latency);
        // As the original protocol tells it: "ready", then the latency.
        this.dispatchEvent(new Event('ready'));
        this.#loaded(fields.latency, false);
      }, (error) => {
        if (waiting()) reject(error);
      });
    });
  }

  // --- receiving ------------------------------------------------------------

  /** @param {string|ArrayBuffer} message */
  #receive(message) {
    if (this.#protocol === 2) return this.#receive2(message);
    const reply = this.#replies.read(message);
    if (reply === null) return;  // its rest follows
    switch (reply.type) {
      // Sent after a load and after a block-size change; the load's answer
      // that counts is the latency right after it.
      case 'ready': return this.dispatchEvent(new Event('ready'));
      case 'loaded': return this.#loaded(reply.latency);
      case 'crashed': return this.#crashed(reply.reason);
      case 'bypass': return this.#settle(this.#pendingBypass, message, reply.on);
      case 'state': return this.#settle(this.#pendingStates, message, reply.bytes);
      case 'plugins':
        if (reply.paths) return this.#settle(this.#pendingScans, message, reply.paths);
        return this.#fail(this.#pendingScans, message, new CorvelError('protocol', `unreadable plug-in list: ${message}`));
      case 'block': return this.#block(reply.data);
      default: return this.dispatchEvent(new CorvelUnexpectedEvent(message));
    }
  }

  /** @param {string|ArrayBuffer} message */
  #receive2(message) {
    if (typeof message !== 'string') {
      const state = this.#stateFollows;
      this.#stateFollows = null;
      if (state) return state.resolve(new Uint8Array(message));
      return this.#block(message);
    }
    const read = readMessage2(message);
    if (read.type === 'reply') {
      const request = this.#requests.get(read.id);
      if (!request) return this.dispatchEvent(new CorvelUnexpectedEvent(message));
      this.#requests.delete(read.id);
      // The state comes as the very next message, before any promise callback could run.
      if (read.ok && request.bytesFollow) this.#stateFollows = request;
      else if (read.ok) request.resolve(read.fields);
      else request.reject(new CorvelError(read.error.code, read.error.message));
      return;
    }
    if (read.type !== 'event') return this.dispatchEvent(new CorvelUnexpectedEvent(message));
    const event = read.fields;
    switch (read.name) {
      case 'crashed': return this.#crashed(String(event.reason));
      case 'gaveUp': return this.#crashed(`gave up after ${event.crashes} crashes`);
      case 'parameter': return this.dispatchEvent(new CorvelParameterEvent(event));
      case 'parametersChanged': return this.dispatchEvent(new Event('parametersChanged'));
      case 'ioChanged':
        if (this.#plugin) this.#plugin = { ...this.#plugin, inputs: event.inputs, outputs: event.outputs };
        if (this.#latency !== null) this.#latency = event.latency;
        return this.dispatchEvent(new CorvelIoChangedEvent(event));
      case 'relaunched':
        // As the original protocol tells it: "ready", then the latency.
        this.dispatchEvent(new Event('ready'));
        return this.#loaded(event.latency, false);
      default: {
        const request = this.#requests.get(event.id);
        if (request?.onEvent) return request.onEvent(event);
        return this.dispatchEvent(new CorvelUnexpectedEvent(message));
      }
    }
  }

  /** @param {ArrayBuffer} data */
  #block(data) {
    const waiter = this.#pendingBlocks.shift();
    if (!waiter) {
      this.dispatchEvent(new CorvelUnexpectedEvent(data));
      return;
    }
    let block;
    try {
      block = this.#protocol === 2 ? decodeBlock2(data, waiter.frames, waiter.channels).block : stereo(decodeBlock(data, waiter.frames));
    } catch (error) {
      waiter.reject(error);
      return;
    }
    waiter.resolve(block);
  }

  /** Answers the oldest caller waiting in `queue`, if any. */
  #settle(queue, message, value) {
    const waiter = queue.shift();
    if (waiter) waiter.resolve(value);
    else this.dispatchEvent(new CorvelUnexpectedEvent(message));
  }

  /** Fails the oldest caller waiting in `queue`, if any. */
  #fail(queue, message, error) {
    const waiter = queue.shift();
    if (waiter) waiter.reject(error);
    else this.dispatchEvent(new CorvelUnexpectedEvent(message));
  }

  /** @param {boolean} [answersLoad] false for a relaunch, which answers no load() */
  #loaded(latency, answersLoad = true) {
    this.#wrapperCertain = true;
    this.#latency = latency;
    const pending = answersLoad ? this.#pendingLoad : null;
    if (pending) this.#pendingLoad = null;
    if (pending) {
      clearTimeout(pending.timer);
      pending.resolve(latency);
    }
    this.dispatchEvent(new CorvelLoadedEvent(latency));
  }

  #crashed(reason) {
    // Until the relaunched plug-in is confirmed, blocks are not sent: one
    // that gave up keeps none, and could leave a block unanswered.
    this.#wrapperCertain = false;
    this.#latency = null;
    this.dispatchEvent(new CorvelCrashedEvent(reason));
  }

  #ended(code, reason) {
    if (!this.#open) return;
    this.#open = false;
    this.#wrapperCertain = false;
    this.#latency = null;
    const error = closedError();
    if (this.#pendingLoad) {
      clearTimeout(this.#pendingLoad.timer);
      this.#pendingLoad.reject(error);
      this.#pendingLoad = null;
    }
    for (const queue of [this.#pendingBlocks, this.#pendingBypass, this.#pendingScans, this.#pendingStates]) {
      for (const waiter of queue.splice(0)) waiter.reject(error);
    }
    for (const request of this.#requests.values()) request.reject(error);
    this.#requests.clear();
    this.#stateFollows?.reject(error);
    this.#stateFollows = null;
    const event = new CorvelCloseEvent(code, reason);
    this.#closedResolve(event);
    this.dispatchEvent(event);
  }
}

// --- helpers ------------------------------------------------------------------

/** A block of the original protocol as protocol 2's are read. */
function stereo(block) {
  return block && { channels: [block.left, block.right], left: block.left, right: block.right, midi: [] };
}

/** @param {string} what the call or feature the companion lacks */
function tooOld(what) {
  return new CorvelError('unsupported', `this companion is too old for ${what}: that needs one that speaks protocol 2 and knows it`);
}

function closedError() {
  return new CorvelError('closed', 'the connection to the companion has ended');
}
