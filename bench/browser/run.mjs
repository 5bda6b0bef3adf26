// The browser benchmark: the gain plug-in played in headless Chromium at
// 48 kHz in 128-frame blocks, with the page's main thread held for 50 ms
// every second, three ways: the test page's former path through the main
// thread, and the audio node through a MessagePort and through shared memory.
// Usage: node bench/browser/run.mjs [--build-dir DIR] [--seconds N]
//   [--stall page|process|none] [--ways page,port,shared]
// --stall process holds a core for 50 ms every second from a process of its
// own instead of the page's main thread: the same load, without the page.
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { spawn } from 'node:child_process';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const { values } = parseArgs({ options: { 'build-dir': { type: 'string' }, seconds: { type: 'string', default: '60' },
  stall: { type: 'string', default: 'page' }, ways: { type: 'string', default: 'page,port,shared' } } });
if (values['build-dir']) process.env.CORVEL_BUILD_DIR = path.resolve(values['build-dir']);
const seconds = Number(values.seconds);
const stall = values.stall;
const wayPages = { page: ['page', '/'], port: ['node', '/'], shared: ['node', '/isolated'] };
const ways = values.ways.split(',').map((name) => wayPages[name]);

// The browser test's copy of the browser driver, and its program runner.
const { chromium } = createRequire(path.join(root, 'tests/browser/package.json'))('playwright-core');
const { ProgramUnderTest, testPlugin } = await import('../../clients/js/test/support/program.js');

const files = {
  '/audio-path.js': path.join(here, 'audio-path.js'),
  '/block-worklet.js': path.join(here, 'block-worklet.js'),
  '/bench-page.js': path.join(here, 'bench-page.js'),
};
// The client's modules, as its package ships them.
for (const name of JSON.parse(readFileSync(path.join(root, 'clients/js/package.json'), 'utf8')).files) {
  files[`/${name}`] = path.join(root, 'clients/js', name);
}

/** Serves the page; `/isolated` is sent cross-origin isolated, `/` is not. */
function serve() {
  const server = createServer((request, response) => {
    const url = new URL(request.url, 'http://localhost');
    const headers = { 'Cache-Control': 'no-store' };
    if (url.pathname === '/' || url.pathname === '/isolated') {
      if (url.pathname === '/isolated') {
        headers['Cross-Origin-Opener-Policy'] = 'same-origin';
        headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
      }
      response.writeHead(200, { ...headers, 'Content-Type': 'text/html' });
      response.end('<!doctype html><script type="module" src="/bench-page.js"></script>');
    } else if (files[url.pathname]) {
      // An isolated page starts only workers whose scripts say they may be embedded so.
      headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
      response.writeHead(200, { ...headers, 'Content-Type': 'text/javascript' });
      response.end(readFileSync(files[url.pathname]));
    } else {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

const server = await serve();
// The bench page comes from an origin of its own, which the program lets in
// only from its allow-list.
const config = mkdtempSync(path.join(tmpdir(), 'corvel-bench-'));
mkdirSync(path.join(config, 'corvel-vst-remote'));
writeFileSync(path.join(config, 'corvel-vst-remote/allowed-origins'), `http://127.0.0.1:${server.address().port}\n`);
const program = new ProgramUnderTest();
await program.start({ XDG_CONFIG_HOME: config });
const browser = await chromium.launch({
  executablePath: process.env.CORVEL_CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'],
});
const results = [];
const holder = stall === 'process'
  ? spawn(process.execPath, ['-e', `setInterval(() => { const until = Date.now() + 50; while (Date.now() < until); }, 1000);`], { stdio: 'ignore' })
  : null;
try {
  for (const [way, page] of ways) {
    const tab = await browser.newPage();
    await tab.goto(`http://127.0.0.1:${server.address().port}${page}`);
    await tab.waitForFunction(() => window.runBench);
    results.push(await tab.evaluate((options) => window.runBench(options),
      { way, url: program.url, plugin: testPlugin('test_gain'), seconds, stall: stall === 'page' }));
    await tab.close();
  }
} finally {
  holder?.kill();
  await browser.close();
  server.close();
  await program.stop();
  rmSync(config, { recursive: true, force: true });
}

const ms = (value) => (value === null || value === undefined ? '–' : value.toFixed(2));
const stallText = { page: 'main thread held 50 ms every second', process: 'a core held 50 ms every second by another process', none: 'no stall' };
console.log(`${seconds} s each, 128-frame blocks at 48 kHz, ${stallText[stall]}\n`);
console.log('| way | silent blocks | underruns | late | delays heard (frames: blocks) | round trip p50 / p90 / p99 / p99.9 / max (ms) |');
console.log('|---|---|---|---|---|---|');
for (const r of results) {
  const { silent = 0, garbled = 0, ...heard } = r.delays;
  const delays = Object.entries(heard).sort(([a], [b]) => a - b).map(([d, n]) => `${d}: ${n}`).join(', ');
  const t = r.roundTrips;
  console.log(`| ${r.way} | ${silent}${garbled ? ` (+${garbled} garbled)` : ''} | ${r.underruns} | ${r.late ?? '–'} | ${delays} | ` +
    `${ms(t.p50)} / ${ms(t.p90)} / ${ms(t.p99)} / ${ms(t.p999)} / ${ms(t.max)} |`);
}
console.log(`\nbase latency of the context: ${ms(results[0].baseLatencyMs)} ms`);
