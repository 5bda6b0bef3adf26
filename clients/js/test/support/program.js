// Starts the real companion program on a free loopback port for a test.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

/** The CMake build folder: CORVEL_BUILD_DIR, or build/ at the top of the repository. */
export const buildDir = path.resolve(process.env.CORVEL_BUILD_DIR ?? fileURLToPath(new URL('../../../../build', import.meta.url)));

/** A test plug-in built with the program, by name (for example "test_gain"). */
export function testPlugin(name) {
  return path.join(buildDir, 'test-plugins', `${name}.so`);
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer().once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

/** Polls `done()` every 20 ms; fails with `explain()` after the timeout. */
export async function until(done, explain, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  while (!done()) {
    if (Date.now() > deadline) throw new Error(explain());
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

export class ProgramUnderTest {
  #child = null;
  #stdout = '';
  #stderr = '';
  #exit = null;
  #logMark = 0;
  #logPath = path.join(mkdtempSync(path.join(tmpdir(), 'corvel-js-test-')), 'plugin.log');
  port = 0;

  /** Starts the program with `environment` added to the test's own, headless unless that names a DISPLAY. */
  async start(environment = {}) {
    this.port = await freePort();
    const { DISPLAY, ...inherited } = process.env;
    const env = { ...inherited, CORVEL_TEST_PORT: String(this.port), CORVEL_TEST_PLUGIN_LOG: this.#logPath, ...environment };
    this.#child = spawn(path.join(buildDir, 'corvel-vst-remote'), [], { env, stdio: ['ignore', 'pipe', 'pipe'] });
    this.#child.stdout.setEncoding('utf8').on('data', (text) => { this.#stdout += text; });
    this.#child.stderr.setEncoding('utf8').on('data', (text) => { this.#stderr += text; });
    this.#exit = new Promise((resolve) => {
      this.#child.once('error', (error) => resolve({ code: null, signal: String(error) }));
      this.#child.once('exit', (code, signal) => resolve({ code, signal }));
    });
    // The program prints its block size once its channel is up.
    const listening = () => this.#stdout.includes('setting Host buffer size to 1024\n');
    const failure = () => `the program did not start:\n${this.#stdout}\n${this.#stderr}`;
    await until(() => listening() || this.#child.exitCode !== null, failure, 20000);
    if (!listening()) throw new Error(failure());
  }

  get url() { return `ws://127.0.0.1:${this.port}/`; }
  get httpUrl() { return `http://127.0.0.1:${this.port}/`; }
  get pid() { return this.#child?.pid; }
  get output() { return this.#stdout; }
  get errors() { return this.#stderr; }

  /** The plug-in processes the program started (each thread lists its own children). */
  pluginPids() {
    return readdirSync(`/proc/${this.pid}/task`).flatMap((task) =>
      readFileSync(`/proc/${this.pid}/task/${task}/children`, 'utf8').split(' ').filter(Boolean).map(Number));
  }

  /** Lets pluginLog() start afresh. */
  markLog() {
    this.#logMark = this.#readLog().length;
  }

  /** What the test plug-ins logged since the last markLog(). */
  pluginLog() {
    return this.#readLog().slice(this.#logMark);
  }

  waitForLog(pattern, timeoutMs = 5000) {
    return until(() => pattern.test(this.pluginLog()), () => `no ${pattern} in the plug-in log:\n${this.pluginLog()}`, timeoutMs);
  }

  #readLog() {
    return existsSync(this.#logPath) ? readFileSync(this.#logPath, 'latin1') : '';
  }

  /** Resolves to the exit { code, signal }, or null if it still runs after the timeout. */
  waitExit(timeoutMs = 10000) {
    return Promise.race([this.#exit, new Promise((resolve) => setTimeout(resolve, timeoutMs, null).unref())]);
  }

  /** Ends the program as its user would (SIGTERM) and returns how it ended. */
  async stop() {
    if (!this.#child) return null;
    if (this.#child.exitCode === null && this.#child.signalCode === null) this.#child.kill('SIGTERM');
    const result = await this.waitExit();
    if (!result) this.#child.kill('SIGKILL');
    await this.#exit;
    rmSync(path.dirname(this.#logPath), { recursive: true, force: true });
    return result;
  }
}
