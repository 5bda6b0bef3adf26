// The two gates between a web page and the companion, and telling which one
// is closed when a connection fails: the browser's (its "loopback network"
// permission, which a public page needs since Chrome 147) and the
// companion's (its allow-list of origins and its dialog). A browser shows
// a page neither why a WebSocket failed nor the companion's 403, so this
// asks the Permissions API and whether anything answers HTTP at the address.
import { CorvelError } from './corvel-wire.js';

// The permission's name, and its name in the builds before Chrome 147.
const PERMISSION_NAMES = ['loopback-network', 'local-network-access'];
const PROBE_TIMEOUT_MS = 3000;

/** True when the page (or worker) runs outside the loopback address, so the browser's gate applies. */
export function pageIsGated() {
  const page = globalThis.location;
  return Boolean(page && page.hostname !== undefined && !isLoopback(page.hostname));
}

/**
 * The state of the browser's loopback permission for this page.
 * @returns {Promise<'granted'|'denied'|'prompt'|null>} null where the
 *   Permissions API does not know it (Firefox, Safari, Node)
 */
export async function loopbackPermission() {
  const permissions = globalThis.navigator?.permissions;
  if (typeof permissions?.query !== 'function') return null;
  for (const name of PERMISSION_NAMES) {
    try {
      return (await permissions.query({ name })).state;
    } catch {
      // Not a name this browser knows: try the older one.
    }
  }
  return null;
}

/** The error for a page whose browser keeps it from the loopback address. */
export function blockedByBrowser(url) {
  return new CorvelError('blocked-by-browser', `this browser does not let this page (${globalThis.location?.origin}) ` +
    `reach ${url} on your computer: allow it in the site's settings (Chrome: the icon at the left of the address ` +
    'bar, "Site settings", then "Loopback network" or, in older versions, "Local network access": "Allow"), ' +
    'then reload the page. The page can ask for it from a click (CorvelClient.requestAccess()).');
}

/**
 * Finds out why a socket to the companion closed before it opened.
 * @param {string} url the companion's WebSocket address
 * @param {string} failure the socket's error message, where it gives one
 *   (Node's `ws` gives the HTTP status; browsers give nothing)
 * @returns {Promise<CorvelError>} `refused`, `busy`, `blocked-by-browser` or `unreachable`
 */
export async function whyNotOpened(url, failure) {
  const status = /Unexpected server response: (\d+)/.exec(failure)?.[1];
  if (status === '403') return refusedByCompanion(url);
  if (status === '503') return tooManySessions(url);
  const gated = pageIsGated();
  const permission = gated ? await loopbackPermission() : null;
  if (gated && permission !== null && permission !== 'granted') return blockedByBrowser(url);
  // Something answering HTTP there is the companion turning this page away.
  if (globalThis.location && await answersHttp(url)) return refusedByCompanion(url);
  let text = `cannot connect to ${url}: the companion is not running (start Corvel VST/Remote on this computer)`;
  if (gated && permission === null) {
    text += ', or this browser does not let pages from the web reach your computer (Safari never does ' +
      'from https pages; see the README)';
  }
  return new CorvelError('unreachable', text);
}

function refusedByCompanion(url) {
  const origin = globalThis.location?.origin;
  return new CorvelError('refused', `the companion at ${url} refused this page${origin ? ` (${origin})` : ''}: ` +
    'answer "Allow" in the "Corvel VST/Remote" dialog on that computer, or add the origin as a line of ' +
    '~/.config/corvel-vst-remote/allowed-origins (Linux) or %APPDATA%\\Corvel VST Remote\\allowed-origins.txt ' +
    '(Windows); or it serves as many sessions as it takes (64)');
}

function tooManySessions(url) {
  return new CorvelError('busy', `the companion at ${url} serves as many sessions as it takes (64): close another page`);
}

/**
 * True when an HTTP request to the companion's port gets any answer. An
 * opaque (no-cors) request reads nothing, and needs no CORS headers.
 */
async function answersHttp(url) {
  if (typeof globalThis.fetch !== 'function') return false;
  const address = new URL(url);
  address.protocol = address.protocol === 'wss:' ? 'https:' : 'http:';
  try {
    await fetch(address, { mode: 'no-cors', cache: 'no-store', signal: AbortSignal.timeout(PROBE_TIMEOUT_MS) });
    return true;
  } catch {
    return false;
  }
}

function isLoopback(hostname) {
  return hostname === 'localhost' || hostname === '[::1]' || hostname.startsWith('127.');
}
