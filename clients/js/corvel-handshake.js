// Opening a connection to the companion: the socket, the protocol it will
// speak, and attempts while the companion starts or closes a page's earlier
// sessions. Companions built before protocol 2 accept any subprotocol
// offered, so the greeting decides: the banner, or the `hello` event.
import { blockedByBrowser, loopbackPermission, pageIsGated, whyNotOpened } from './corvel-access.js';
import { CorvelError, readGreeting, readHello, SUBPROTOCOL_2 } from './corvel-wire.js';

/**
 * What the companion's first message tells.
 * @typedef {{version: string, protocol: 1|2, limits: object}} Greeting
 */

/**
 * Opens a connection to the companion, with attempts, and reads its greeting.
 * @param {string} url
 * @param {import('./corvel-connection.js').ConnectOptions} options
 * @param {boolean} fromClick open the first socket before anything is
 *   awaited, so that the browser may ask the user for its permission
 * @returns {Promise<{socket: WebSocket, greeting: Greeting}>}
 * @throws {CorvelError} `unreachable`, `refused`, `busy`,
 *   `blocked-by-browser`, `protocol`, `closed` or `timeout`
 */
export async function openConnection(url, options, fromClick) {
  const attempts = Math.max(1, options.attempts ?? 3);
  let opening = fromClick ? openSocket(url, options) : null;
  // A page the browser already keeps out would only fail attempt after attempt.
  if (!opening && pageIsGated() && await loopbackPermission() === 'denied') throw blockedByBrowser(url);
  let lastError = null;
  for (let attempt = 1; attempt <= attempts; attempt++) {
    try {
      return await (opening ?? openSocket(url, options));
    } catch (error) {
      lastError = error;
      // A companion that is starting, or still closing a page's previous
      // sessions, may take the next attempt.
      if (!(error instanceof CorvelError) || !['unreachable', 'refused', 'busy'].includes(error.code)) throw error;
      if (attempt < attempts) await delay(options.retryDelayMs ?? 300);
    }
    opening = null;
  }
  throw lastError;
}

/**
 * Opens a socket, offering protocol 2 unless told not to, and reads the
 * greeting.
 * @param {string} url
 * @param {import('./corvel-connection.js').ConnectOptions} options
 * @returns {Promise<{socket: WebSocket, greeting: Greeting}>}
 */
function openSocket(url, options) {
  const Socket = options.WebSocket ?? globalThis.WebSocket;
  if (!Socket) {
    return Promise.reject(new CorvelError('argument',
      'no WebSocket class here: pass one as options.WebSocket (in Node, the ws package)'));
  }
  let socket;
  try {
    socket = options.protocol === 1 ? new Socket(url) : new Socket(url, [SUBPROTOCOL_2]);
  } catch (error) {
    return Promise.reject(new CorvelError('argument', `cannot open ${url}: ${error.message}`));
  }
  return new Promise((resolve, reject) => {
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
    let failure = '';
    socket.onopen = () => { opened = true; };
    socket.onmessage = (event) => {
      const hello = readHello(event.data);
      const version = hello ? hello.version : readGreeting(event.data);
      if (version === null) {
        fail(new CorvelError('protocol', `${url} is not the Corvel VST/Remote companion`));
        return;
      }
      settled = true;
      clearTimeout(timer);
      socket.onopen = socket.onmessage = socket.onerror = socket.onclose = null;
      resolve({ socket, greeting: hello ? { ...hello, protocol: 2 } : { version, protocol: 1, limits: {} } });
    };
    socket.onclose = () => {
      if (settled) return;
      if (opened) fail(new CorvelError('closed', `${url} closed the connection before greeting`));
      else whyNotOpened(url, failure).then(fail);
    };
    socket.onerror = (event) => { failure = String(event?.message ?? ''); };
  });
}

function delay(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}
