// The browser benchmark: the gain plug-in played in headless Chromium at
// 48 kHz in 128-frame blocks, with the page's main thread held for 50 ms
// every second, three ways: the test page's former path through the main
// thread, and the audio node through a MessagePort and through shared memory.
// Usage: node bench/browser/run.mjs [--build-dir DIR] [--seconds N]
//   [--stall page|process|none] [--ways page,port,shared]
//   [--floor [--delays 3,4,6] [--way shared|port]]
// --stall process holds a core for 50 ms every second from a process of its
// own instead of the page's main thread: the same load, without the page.
// --floor plays the node and its floor (the same node to a bare echo server,
// echo-server.mjs) side by side in one page, at each fixed delay of
// --delays in blocks, growth off, for N seconds each.
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { loadavg, tmpdir } from 'node:os';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const { values } = parseArgs({ options: { 'build-dir': { type: 'string' }, seconds: { type: 'string', default: '60' },
  stall: { type: 'string', default: 'page' }, ways: { type: 'string', default: 'page,port,shared' },
  floor: { type: 'boolean', default: false }, delays: { type: 'string', default: '3,4,6' }, way: { type: 'string', default: 'shared' } } });
if (values['build-dir']) process.env.CORVEL_BUILD_DIR = path.resolve(values['build-dir']);
const seconds = Number(values.seconds);
const stall = values.stall;
const wayPages = { page: ['page', '/'], port: ['node', '/'], shared: ['node', '/isolated'] };
const ways = values.ways.split(',').map((name) => wayPages[name]);
const delays = values.delays.split(',').map(Number);
if (!ways.every(Boolean) || !wayPages[values.way] || values.way === 'page' || !delays.every((d) => Number.isInteger(d) && d >= 1)) {
  throw new Error('--ways takes page, port and shared; --way shared or port; --delays whole numbers of blocks');
}

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
const floor = values.floor ? await startEchoServer() : null;
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
const holder = stall === 'process'
  ? spawn(process.execPath, ['-e', `setInterval(() => { const until = Date.now() + 50; while (Date.now() < until); }, 1000);`], { stdio: 'ignore' })
  : null;
/** Opens `page` in a new tab, runs `run` in it with `options`, closes it. */
async function inTab(page, run, options) {
  const tab = await browser.newPage();
  try {
    await tab.goto(`http://127.0.0.1:${server.address().port}${page}`);
    await tab.waitForFunction((name) => window[name], run);
    return await tab.evaluate(([name, args]) => window[name](args), [run, options]);
  } finally {
    await tab.close();
  }
}
// Others' work on the machine shows in every figure; the run says how much there was.
const loadAtStart = loadavg()[0];
const common = { url: program.url, plugin: testPlugin('test_gain'), seconds, stall: stall === 'page' };
const results = [];
try {
  if (floor) {
    for (const [i, latencyBlocks] of delays.entries()) {
      results.push(await inTab(wayPages[values.way][1], 'runFloor',
        { ...common, floorUrl: floor.url, latencyBlocks, sharedMemory: values.way === 'shared', floorFirst: i % 2 === 1 }));
    }
  } else {
    for (const [way, page] of ways) results.push(await inTab(page, 'runBench', { ...common, way }));
  }
} finally {
  holder?.kill();
  floor?.stop();
  await browser.close();
  server.close();
  await program.stop();
  rmSync(config, { recursive: true, force: true });
}

/** The floor's echo server, in a process of its own as the program is. */
async function startEchoServer() {
  const child = spawn(process.execPath, [path.join(here, 'echo-server.mjs')], { stdio: ['pipe', 'pipe', 'inherit'] });
  const [line] = await once(child.stdout, 'data');
  return { url: `ws://127.0.0.1:${Number(String(line))}/`, stop: () => child.stdin.end() };
}

const ms = (value) => (value === null || value === undefined ? '–' : value.toFixed(2));
const stallText = { page: 'main thread held 50 ms every second', process: 'a core held 50 ms every second by another process', none: 'no stall' };
if (floor) reportFloor();
else reportWays();

function reportWays() {
  console.log(`${seconds} s each, 128-frame blocks at 48 kHz, ${stallText[stall]}\n`);
  console.log('| way | silent blocks | underruns | late | delays heard (frames: blocks) | round trip p50 / p90 / p99 / p99.9 / max (ms) |');
  console.log('|---|---|---|---|---|---|');
  for (const r of results) {
    const { silent = 0, garbled = 0, ...heard } = r.delays;
    const delaysHeard = Object.entries(heard).sort(([a], [b]) => a - b).map(([d, n]) => `${d}: ${n}`).join(', ');
    const t = r.roundTrips;
    console.log(`| ${r.way} | ${silent}${garbled ? ` (+${garbled} garbled)` : ''} | ${r.underruns} | ${r.late ?? '–'} | ${delaysHeard} | ` +
      `${ms(t.p50)} / ${ms(t.p90)} / ${ms(t.p99)} / ${ms(t.p999)} / ${ms(t.max)} |`);
  }
  console.log(`\nbase latency of the context: ${ms(results[0].baseLatencyMs)} ms; ${loadText()}`);
}

/**
 * A chain counts only if what it played is its input through the gain, at
 * exactly its fixed delay: a floor that does not echo, or echoes something
 * else, would otherwise pass for one without late blocks.
 */
function checkChain(chain) {
  const { silent = 0, ...rest } = chain.delays;
  const wrong = Object.entries(rest).filter(([key]) => key !== String(chain.latencySamples));
  if (wrong.length > 0 || !rest[chain.latencySamples]) {
    throw new Error(`the ${chain.name} did not play its input halved at ${chain.latencySamples} frames: ` +
      `heard ${JSON.stringify(chain.delays)}`);
  }
  return silent;
}

function reportFloor() {
  console.log(`${seconds} s at each delay, 128-frame blocks at 48 kHz, ${stallText[stall]}, ` +
    `${values.way === 'shared' ? 'SharedArrayBuffer' : 'MessagePort'}; node and floor side by side, delay fixed\n`);
  console.log('| fixed delay (frames) | | played | late | underruns | silent heard | round trip p50 / p90 / p99 / p99.9 / max (ms) |');
  console.log('|---|---|---:|---:|---:|---:|---|');
  const pooled = { node: [], floor: [] };
  const clean = { node: [], floor: [] };
  for (const run of results) {
    for (const chain of run.chains) {
      const silent = checkChain(chain);
      const t = chain.roundTrips;
      console.log(`| ${chain.latencySamples} | ${chain.name} | ${chain.blocks} | ${chain.late} | ${chain.underruns} | ${silent} | ` +
        `${ms(t.p50)} / ${ms(t.p90)} / ${ms(t.p99)} / ${ms(t.p999)} / ${ms(t.max)} |`);
      pooled[chain.name].push(...chain.trips);
      if (chain.late === 0) clean[chain.name].push(chain.latencySamples);
    }
  }
  const at = (trips, share) => {
    const sorted = Float64Array.from(trips).sort();
    return sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
  };
  const ratio = (a, b) => (b > 0 ? (a / b).toFixed(2) : a > 0 ? '∞' : '1 (both 0)');
  console.log('\nnode against floor:');
  for (const [label, share] of [['p50', 0.5], ['p99', 0.99]]) {
    const node = at(pooled.node, share);
    const base = at(pooled.floor, share);
    console.log(`  round trip ${label}, all delays' trips: ${ms(node)} / ${ms(base)} ms = ${ratio(node, base)} x`);
  }
  const total = { node: 0, floor: 0 };
  for (const run of results) {
    const [node, base] = run.chains;
    total.node += node.late;
    total.floor += base.late;
    console.log(`  late blocks at ${node.latencySamples} frames: ${node.late} / ${base.late} = ${ratio(node.late, base.late)} x`);
  }
  console.log(`  late blocks at all delays together: ${total.node} / ${total.floor} = ${ratio(total.node, total.floor)} x`);
  const smallest = (list) => (list.length ? `${Math.min(...list)} frames` : 'none of those tried');
  console.log(`  smallest fixed delay without a late block in ${seconds} s: node ${smallest(clean.node)}, floor ${smallest(clean.floor)}`);
  console.log(`\nbase latency of the context: ${ms(results[0].baseLatencyMs)} ms; ${loadText()}`);
}

function loadText() {
  return `the machine's load average (1 min): ${loadAtStart.toFixed(1)} at the start, ${loadavg()[0].toFixed(1)} at the end`;
}
