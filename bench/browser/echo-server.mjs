// The browser benchmark's floor: a bare WebSocket server that answers as
// much of protocol 2 as the audio node needs to open, and answers each
// audio block at once with its channels halved, as the gain plug-in does.
// The node's path through it is the program's path without the program
// and the plug-in process, so what the node costs beyond it is theirs.
// Usage: node bench/browser/echo-server.mjs; prints its port on a line,
// serves until its standard input ends. Single-threaded, as Node is.
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
// The client's own copy of the ws package, as its tests use.
const { WebSocketServer } = createRequire(path.join(here, '../../clients/js/package.json'))('ws');

const HEADER_BYTES = 16;

/** One connection: its settings, and the answers to its requests. */
class EchoSession {
  settings = { sampleRate: 44100, blockSize: 1024, inputs: 2, outputs: 2, offline: false };

  /** @param {import('ws').WebSocket} socket */
  constructor(socket) {
    this.socket = socket;
    socket.on('message', (data, binary) => (binary ? this.#block(data) : this.#request(String(data))));
    socket.send(JSON.stringify({ event: 'hello', version: 'echo', protocol: 2, limits: {} }));
  }

  #request(text) {
    let request;
    try {
      request = JSON.parse(text);
    } catch {
      request = null;
    }
    const id = request?.id ?? null;
    const fields = request ? this.#answer(request) : null;
    this.socket.send(JSON.stringify(fields
      ? { id, ok: true, ...fields }
      : { id, ok: false, error: { code: 'bad-request', message: `the echo server does not take ${text.slice(0, 80)}` } }));
  }

  /** @returns {object|null} the reply's fields, or null for a request it does not take */
  #answer({ op, ...fields }) {
    const pick = (names) => Object.fromEntries(names.filter((name) => fields[name] !== undefined).map((name) => [name, fields[name]]));
    switch (op) {
      case 'configure':
        Object.assign(this.settings, pick(['sampleRate', 'blockSize', 'inputs', 'outputs', 'offline']));
        return { ...this.settings };
      case 'load': {
        Object.assign(this.settings, pick(['inputs', 'outputs']));
        const { inputs, outputs } = this.settings;
        return { latency: 0, name: 'echo', inputs, outputs, inputPins: [], outputPins: [], parameters: 0, programs: 0,
          layout: { inputs, outputs } };
      }
      case 'parameters': return { parameters: [] };
      case 'programs': return { programs: [], current: 0 };
      case 'suspend': case 'resume': return { bypassed: false };
      case 'unload': return {};
      default: return null;
    }
  }

  /**
   * Answers a block with the session's output channels: input channel c
   * halved on output c, silence past the inputs. The block's records are
   * read past and none go back.
   * @param {Buffer} data
   */
  #block(data) {
    const frames = data.readUInt32LE(0);
    const channels = data.readUInt32LE(4);
    const audio = HEADER_BYTES + data.readUInt32LE(8);
    const outputs = this.settings.outputs;
    const reply = Buffer.alloc(HEADER_BYTES + 4 * frames * outputs);
    reply.writeUInt32LE(frames, 0);
    reply.writeUInt32LE(outputs, 4);
    for (let c = 0; c < Math.min(channels, outputs); c++) {
      for (let i = 0; i < frames; i++) {
        reply.writeFloatLE(0.5 * data.readFloatLE(audio + 4 * (c * frames + i)), HEADER_BYTES + 4 * (c * frames + i));
      }
    }
    this.socket.send(reply);
  }
}

const server = new WebSocketServer({ host: '127.0.0.1', port: 0, handleProtocols: (offered) => (offered.has('corvel.2') ? 'corvel.2' : false) });
server.on('connection', (socket) => new EchoSession(socket));
server.on('listening', () => console.log(server.address().port));
// Ends with its parent: the benchmark closes its standard input.
process.stdin.resume();
process.stdin.on('end', () => process.exit(0));
