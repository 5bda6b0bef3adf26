// A stand-in for the companion that reports a plug-in crash and its
// relaunch when told to, which the real program cannot do yet. It greets, confirms loads
// with the latency it is given and sends every block back unchanged.
import { WebSocketServer } from 'ws';

export class FakeCompanion {
  #server;
  /** @type {Set<import('ws').WebSocket>} */ #sockets = new Set();

  /** @param {number} latency reported after every load */
  static async start(latency = 0) {
    const fake = new FakeCompanion();
    fake.latency = latency;
    fake.#server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
    await new Promise((resolve) => fake.#server.once('listening', resolve));
    fake.#server.on('connection', (socket) => fake.#accept(socket));
    return fake;
  }

  get url() { return `ws://127.0.0.1:${this.#server.address().port}/`; }

  #accept(socket) {
    this.#sockets.add(socket);
    socket.on('close', () => this.#sockets.delete(socket));
    socket.send('corvel studio plugin loader\nversion 0.1.0');
    socket.on('message', (data, binary) => {
      if (binary) socket.send(data);
      else if (String(data).startsWith('load ')) this.#loaded(socket);
    });
  }

  #loaded(socket) {
    socket.send('ready');
    socket.send(`fixedCompensationDelaySamp\n${this.latency}`);
  }

  /** Every connection's plug-in crashes. */
  crash(reason) {
    for (const socket of this.#sockets) socket.send(`crashed\n${reason}`);
  }

  /** Every connection's plug-in is back, now with `latency`. */
  relaunch(latency) {
    this.latency = latency;
    for (const socket of this.#sockets) this.#loaded(socket);
  }

  close() {
    for (const socket of this.#sockets) socket.terminate();
    return new Promise((resolve) => this.#server.close(resolve));
  }
}
