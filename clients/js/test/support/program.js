// Starts the real companion program on a free loopback port for a test.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));

/** The CMake build folder: CORVEL_BUILD_DIR, or build/ at the top of the repository. */
export function buildDir() {
  return path.resolve(process.env.CORVEL_BUILD_DIR ?? path.join(here, '../../../../build'));
}

/** A test plug-in built with the program, by name (for example "test_gain"). */
export function testPlugin(name) {
  return path.join(buildDir(), 'test-plugins', `${name}.so`);
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export class ProgramUnderTest {
  #child = null;
  #stdout = '';
  #stderr = '';
  #exit = null;
  #outputMark = 0;
  #logMark = 0;
  #logFolder = mkdtempSync(path.join(tmpdir(), 'corvel-js-test-'));

  port = 0;
  logPath = path.join(this.#logFolder, 'plugin.log');
  #environment;

  /** @param {Record<string, string>} [environment] added to the test's own */
  constructor(environment = {}) {
    this.#environment = environment;
  }

  /** Starts the program and waits until it listens. */
  async start() {
    this.port = await freePort();
    const env = { ...process.env, CORVEL_TEST_PORT: String(this.port), CORVEL_TEST_PLUGIN_LOG: this.logPath };
    delete env.DISPLAY;  // headless: no editor windows
    Object.assign(env, this.#environment);
    this.#child = spawn(path.join(buildDir(), 'corvel-vst-remote'), [], { env, stdio: ['ignore', 'pipe', 'pipe'] });
    this.#child.stdout.setEncoding('utf8').on('data', (text) => { this.#stdout += text; });
    this.#child.stderr.setEncoding('utf8').on('data', (text) => { this.#stderr += text; });
    this.#exit = new Promise((resolve) => {
      this.#child.once('error', (error) => resolve({ code: null, signal: String(error) }));
      this.#child.once('exit', (code, signal) => resolve({ code, signal }));
    });
    // The program prints its block size once its channel is up.
    const deadline = Date.now() + 20000;
    while (!this.#stdout.includes('setting Host buffer size to 1024\n')) {
      if (this.#child.exitCode !== null || Date.now() > deadline) {
        throw new Error(`the program did not start:\n${this.#stdout}\n${this.#stderr}`);
      }
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  get url() { return `ws://127.0.0.1:${this.port}/`; }
  get pid() { return this.#child?.pid; }
  get httpUrl() { return `http://127.0.0.1:${this.port}/`; }
  /** Standard output since the last mark(). */
  get output() { return this.#stdout.slice(this.#outputMark); }
  get errors() { return this.#stderr; }

  /** Lets output and pluginLog() start afresh, for the next test on the same program. */
  mark() {
    this.#outputMark = this.#stdout.length;
    this.#logMark = this.#readLog().length;
  }

  /** Waits until standard output since the last mark holds `text`. */
  async waitForOutput(text, timeoutMs = 5000) {
    const deadline = Date.now() + timeoutMs;
    while (!this.output.includes(text)) {
      if (Date.now() > deadline) throw new Error(`no "${text}" in the output:\n${this.output}`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  /** What the test plug-ins logged since the last mark. */
  pluginLog() {
    return this.#readLog().slice(this.#logMark);
  }

  #readLog() {
    try {
      return readFileSync(this.logPath, 'latin1');
    } catch {
      return '';
    }
  }

  /** Resolves to the exit { code, signal }, or null if it still runs after the timeout. */
  async waitExit(timeoutMs = 10000) {
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(() => resolve(null), timeoutMs); });
    try {
      return await Promise.race([this.#exit, late]);
    } finally {
      clearTimeout(timer);
    }
  }

  /** Ends the program as its user would (SIGTERM) and returns how it ended. */
  async stop() {
    if (!this.#child) return null;
    let result = null;
    if (this.#child.exitCode === null && this.#child.signalCode === null) {
      this.#child.kill('SIGTERM');
      result = await this.waitExit();
      if (!result) {
        this.#child.kill('SIGKILL');
        await this.#exit;
      }
    } else {
      result = await this.#exit;
    }
    rmSync(this.#logFolder, { recursive: true, force: true });
    return result;
  }
}
