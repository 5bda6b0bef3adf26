// A connection to the companion program over its WebSocket: turns calls into
// requests and the replies back into answers to the calls that caused them.
// Runs in browsers and in Node (with a WebSocket class passed in).
import {
  checkBlockSize, checkSampleRate, CorvelError, decodeBlock, DEFAULT_URL, encodeBlock, encodeRequest,
  readGreeting, ReplyReader,
} from './corvel-wire.js';

/** @typedef {import('./corvel-wire.js').MidiEvent} MidiEvent */
/** @typedef {import('./corvel-wire.js').Request} Request */
/** @typedef {import('./corvel-wire.js').StereoBlock} StereoBlock */

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
 */

/**
 * A connection to the companion. Create it with {@link CorvelClient.connect}.
 *
 * Every command returns a promise. Commands that the companion answers
 * resolve with the answer; the others resolve once the command is sent.
 * Answers are matched to calls by the client, so calls may overlap freely,
 * with one exception: one load() at a time.
 *
 * Events: `close` ({@link CorvelCloseEvent}), `loaded` ({@link CorvelLoadedEvent}),
 * `ready` (a plain Event for each "ready" the companion sends),
 * `crashed` ({@link CorvelCrashedEvent}),
 * `unexpected` ({@link CorvelUnexpectedEvent}).
 */
export class CorvelClient extends EventTarget {
  /** @type {WebSocket} */ #socket;
  #version = '';
  #blockSize = DEFAULT_BLOCK_SIZE;
  #sampleRate = DEFAULT_SAMPLE_RATE;
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
  /** @type {Array<{resolve: (v: StereoBlock|null) => void, reject: (e: Error) => void, frames: number}>} */
  #pendingBlocks = [];
  /** @type {Array<{resolve: (v: boolean) => void, reject: (e: Error) => void}>} */
  #pendingBypass = [];
  /** @type {Array<{resolve: (v: string[]) => void, reject: (e: Error) => void}>} */
  #pendingScans = [];
  /** @type {Array<{resolve: (v: Uint8Array|null) => void, reject: (e: Error) => void}>} */
  #pendingStates = [];
  #replies = new ReplyReader();
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
    const attempts = Math.max(1, options.attempts ?? 3);
    let lastError = null;
    for (let attempt = 1; attempt <= attempts; attempt++) {
      try {
        const { socket, version } = await openSocket(url, options);
        return new CorvelClient(socket, version, options);
      } catch (error) {
        lastError = error;
        if (!(error instanceof CorvelError) || error.code !== 'unreachable') throw error;
        if (attempt < attempts) await delay(options.retryDelayMs ?? 300);
      }
    }
    throw lastError;
  }

  /**
   * Use {@link CorvelClient.connect}.
   * @param {WebSocket} socket an open socket whose greeting was read
   * @param {string} version the companion's, from its greeting
   * @param {ConnectOptions} options
   */
  constructor(socket, version, options) {
    super();
    this.#socket = socket;
    this.#version = version;
    this.#closed = new Promise((resolve) => { this.#closedResolve = resolve; });
    socket.onmessage = (event) => this.#receive(event.data);
    socket.onclose = (event) => this.#ended(event.code, event.reason);
    socket.onerror = () => {};
    // Both settings outlive connections on the host: start from known ones.
    this.#setBlockSize(options.blockSize ?? DEFAULT_BLOCK_SIZE);
    this.#setSampleRate(options.sampleRate ?? DEFAULT_SAMPLE_RATE);
  }

  /** The companion's version, from its greeting. */
  get version() { return this.#version; }
  /** Frames per channel in every block that {@link process} takes and gives. */
  get blockSize() { return this.#blockSize; }
  get sampleRate() { return this.#sampleRate; }
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
    return this.#ask(this.#pendingScans, { type: 'scan', folder });
  }

  /**
   * Loads a plug-in, replacing the current one, and resolves to its latency in
   * samples. A failed load sends no answer, so failure shows as a timeout.
   * A plug-in that finishes loading after its load() gave up is reported by a
   * `loaded` event; a load started in the meantime cannot tell that answer
   * from its own, so give slow plug-ins a longer timeout instead.
   * @param {string} path a path as {@link scan} lists it
   * @param {{timeoutMs?: number}} [options] default 10000
   * @returns {Promise<number>}
   */
  load(path, options = {}) {
    if (!this.#open) return Promise.reject(closedError());
    let messages;
    try {
      messages = encodeRequest({ type: 'load', path });
    } catch (error) {
      return Promise.reject(error);
    }
    if (this.#pendingLoad) {
      return Promise.reject(new CorvelError('busy', 'another load is still under way'));
    }
    const timeoutMs = options.timeoutMs ?? 10000;
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
    return this.#tell(() => {
      this.#send({ type: 'unload' });
      this.#loadSent = false;
      this.#wrapperCertain = false;
      this.#latency = null;
    });
  }

  /**
   * Sends one block through the plug-in. Resolves to the processed block, or
   * to null when the block was not processed (no plug-in, plug-in off or still loading).
   * @param {Float32Array} left `blockSize` samples
   * @param {Float32Array} right `blockSize` samples
   * @returns {Promise<StereoBlock|null>}
   */
  process(left, right) {
    if (!this.#open) return Promise.reject(closedError());
    const frames = this.#blockSize;
    if (!(left instanceof Float32Array) || !(right instanceof Float32Array) ||
        left.length !== frames || right.length !== frames) {
      return Promise.reject(new CorvelError('argument',
        `process takes two Float32Arrays of ${frames} samples (the block size)`));
    }
    // Where the host might have no wrapper it would drop the block unanswered.
    if (!this.#wrapperCertain) return Promise.resolve(null);
    return new Promise((resolve, reject) => {
      this.#pendingBlocks.push({ resolve, reject, frames });
      this.#socket.send(encodeBlock(left, right));
    });
  }

  /**
   * Queues MIDI events for the next processed block.
   * @param {MidiEvent[]} events
   */
  midi(events) {
    return this.#tell(() => this.#send({ type: 'midi', events }));
  }

  /**
   * Switches the plug-in off: blocks come back unprocessed (null).
   * @returns {Promise<boolean>} true, the bypass state the companion confirmed
   */
  suspend() { return this.#ask(this.#pendingBypass, { type: 'suspend' }); }

  /**
   * Switches the plug-in on again.
   * @returns {Promise<boolean>} false, the bypass state the companion confirmed
   */
  resume() { return this.#ask(this.#pendingBypass, { type: 'resume' }); }

  /** @param {number} hz a whole number above 0; reaches the plug-in at once and at every load */
  setSampleRate(hz) {
    return this.#tell(() => this.#setSampleRate(hz));
  }

  /** @param {number} frames 1 to 16384; every later {@link process} call uses this size */
  setBlockSize(frames) {
    return this.#tell(() => this.#setBlockSize(frames));
  }

  /**
   * Reads the plug-in's state.
   * @returns {Promise<Uint8Array|null>} the bytes, or null without a plug-in or
   *   when the plug-in keeps no state
   */
  getState() {
    if (this.#open && !this.#loadSent) return Promise.resolve(null);
    return this.#ask(this.#pendingStates, { type: 'getState' });
  }

  /**
   * Restores a state read with {@link getState}. The plug-in stays off
   * afterwards until {@link resume}.
   * @param {Uint8Array|ArrayBuffer} bytes
   */
  setState(bytes) {
    return this.#tell(() => this.#send({ type: 'setState', bytes }));
  }

  /** Shows the plug-in's editor window on the companion's screen. */
  showGui() {
    return this.#tell(() => this.#send({ type: 'showGui' }));
  }

  /**
   * Ends the companion program.
   * @returns {Promise<CorvelCloseEvent>} resolves when the connection has ended
   */
  quit() {
    if (!this.#open) return Promise.reject(closedError());
    this.#send({ type: 'quit' });
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

  #setBlockSize(frames) {
    // A "ready" comes back only while a plug-in is in place, so none is awaited.
    this.#send({ type: 'blockSize', frames });
    this.#blockSize = frames;
  }

  #setSampleRate(hz) {
    this.#send({ type: 'sampleRate', hz });
    this.#sampleRate = hz;
  }

  // --- receiving ------------------------------------------------------------

  /** @param {string|ArrayBuffer} message */
  #receive(message) {
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

  /** @param {ArrayBuffer} data */
  #block(data) {
    const waiter = this.#pendingBlocks.shift();
    if (!waiter) {
      this.dispatchEvent(new CorvelUnexpectedEvent(data));
      return;
    }
    let block;
    try {
      block = decodeBlock(data, waiter.frames);
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

  #loaded(latency) {
    this.#wrapperCertain = true;
    this.#latency = latency;
    const pending = this.#pendingLoad;
    this.#pendingLoad = null;
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
    const event = new CorvelCloseEvent(code, reason);
    this.#closedResolve(event);
    this.dispatchEvent(event);
  }
}

// --- helpers ------------------------------------------------------------------

/**
 * Opens a socket and reads the greeting.
 * @param {string} url
 * @param {ConnectOptions} options
 * @returns {Promise<{socket: WebSocket, version: string}>}
 */
function openSocket(url, options) {
  const Socket = options.WebSocket ?? globalThis.WebSocket;
  if (!Socket) {
    return Promise.reject(new CorvelError('argument',
      'no WebSocket class here: pass one as options.WebSocket (in Node, the ws package)'));
  }
  return new Promise((resolve, reject) => {
    let socket;
    try {
      socket = new Socket(url);
    } catch (error) {
      reject(new CorvelError('argument', `cannot open ${url}: ${error.message}`));
      return;
    }
    socket.binaryType = 'arraybuffer';
    let settled = false;
    const fail = (error) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      socket.onopen = socket.onmessage = socket.onerror = socket.onclose = null;
      if (socket.readyState <= 1) socket.close();
      reject(error);
    };
    const timer = setTimeout(() => fail(new CorvelError('timeout',
      `${url} did not greet within ${options.timeoutMs ?? 10000} ms`)), options.timeoutMs ?? 10000);
    let opened = false;
    socket.onopen = () => { opened = true; };
    socket.onmessage = (event) => {
      const version = readGreeting(event.data);
      if (version === null) {
        fail(new CorvelError('protocol', `${url} is not the Corvel VST/Remote companion`));
        return;
      }
      settled = true;
      clearTimeout(timer);
      socket.onopen = socket.onmessage = socket.onerror = socket.onclose = null;
      resolve({ socket, version });
    };
    socket.onclose = () => fail(opened
      ? new CorvelError('closed', `${url} closed the connection before greeting`)
      : new CorvelError('unreachable', unreachableMessage(url)));
    socket.onerror = () => {};
  });
}

function unreachableMessage(url) {
  let text = `cannot connect to ${url}: the companion is not running, or it already ` +
    'serves as many sessions as it takes (64)';
  // Only pages not on the loopback address need the browser's permission.
  const page = globalThis.location;
  if (page && !isLoopback(page.hostname)) {
    text += ', or the browser keeps this site from reaching your computer: ' +
      'allow "local network access" for this site in the browser\'s site settings';
  }
  // A browser hides the companion's 403, so a refused page is named here.
  if (page && page.origin && !isCompanionsOwnPage(page, url)) {
    text += `, or the companion refused this page (${page.origin}): answer "Allow" in the ` +
      '"Corvel VST/Remote" dialog on that computer, or add the origin as a line of ' +
      '~/.config/corvel-vst-remote/allowed-origins (Linux) or ' +
      '%APPDATA%\\Corvel VST Remote\\allowed-origins.txt (Windows)';
  }
  return text;
}

function isCompanionsOwnPage(page, url) {
  const port = new URL(url).port || '80';
  return page.protocol === 'http:' && (page.port || '80') === port &&
    (page.hostname === '127.0.0.1' || page.hostname === 'localhost');
}

function isLoopback(hostname) {
  return hostname === 'localhost' || hostname === '[::1]' || hostname.startsWith('127.');
}

function closedError() {
  return new CorvelError('closed', 'the connection to the companion has ended');
}

function delay(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}
