// The program under test, shared by the tests of one file, and a fresh
// client connection for each test (as successive pages would connect).
import assert from 'node:assert/strict';
import { after } from 'node:test';
import { WebSocket } from 'ws';

import { CorvelClient } from '../../corvel-client.js';
import { ProgramUnderTest } from './program.js';

let shared = null;

async function sharedProgram() {
  if (!shared) {
    shared = new ProgramUnderTest();
    await shared.start();
  }
  return shared;
}

after(async () => {
  if (!shared) return;
  const exit = await shared.stop();
  assert.deepEqual(exit, { code: 0, signal: null }, `the program did not end cleanly:\n${shared.errors}`);
});

/**
 * Runs `body(client, program)` with a newly connected client; the client is
 * closed afterwards, which unloads its plug-in.
 */
export async function session(body, options = {}) {
  const program = await sharedProgram();
  program.mark();
  // The previous test's connection may still be closing on the program's side.
  const client = await CorvelClient.connect(program.url, { WebSocket, attempts: 50, retryDelayMs: 50, ...options });
  try {
    await body(client, program);
  } finally {
    if (client.connected) await client.close();
  }
}

/** A block of `frames` samples: start, start + step, ... */
export function ramp(frames, start, step) {
  return Float32Array.from({ length: frames }, (_, i) => start + i * step);
}

export function constant(frames, value) {
  return new Float32Array(frames).fill(value);
}
