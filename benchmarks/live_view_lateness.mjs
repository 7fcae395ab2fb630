#!/usr/bin/env node
// How late the live view is: a timed series from the virtual bench's filling CO2 cell with its band
// tracked, watched by event-stream viewers and by a page in headless Chromium. For each file, from
// the bench's "done" (the co-add finished, before the host asks for it) to
//   - the driver holding its data (the bench's "data sent": the last packet acknowledged), the
//     retrieval;
//   - the host's "saved" line;
//   - its "row" event at each event-stream viewer;
//   - its point on the page's trend (#chart-trend's data-trend-rows reaching the file's row).
// Prints the median and the worst of each, what each adds beyond the retrieval, and the margin
// against the goal: the retrieval plus 100 ms. Every time is CLOCK_MONOTONIC, which the bench's
// steady clock and Node's process.hrtime share.
//
// With --paging N each round runs twice, without and then with a page that pages through N of the
// run's older files (those the host no longer holds, read back from the disk): once there are N, it
// asks for files 1 to N, one after the other on one connection, each once the last has come and at
// most one every --page-every ms (17: a frame, as a page that draws each file it is shown; 0: as fast
// as they come), and again from 1 until the series ends; with N above the 16 the host holds, every one is read from the disk. In both
// runs only files done once there are N older files are measured (--files at least N + 16 + 10), and the round ends with what the
// paging added to the "row" event's lateness (goal: at most 20 ms more, median and worst), and how
// long the event took after the host's "saved" line in each (the server's thread alone).
//
//   node benchmarks/live_view_lateness.mjs [--host build/dorvane] [--bench build/dorvane-benchsim]
//       [--files 20] [--every 2] [--points 4096] [--scans 16] [--per-scan 20] [--baud 115200]
//       [--fill-time 20] [--streams 5] [--pages 1] [--rounds 2] [--paging 0] [--page-every 17] [--work FOLDER]
//
// Each round works in a new folder under --work (the system's temporary folder by default; the
// host commits every file to the disk before it shows it, so the disk's speed counts).
// The page is driven through playwright-core from tests/host/live_view/node_modules (npm ci
// --prefix tests/host/live_view) and Debian's /usr/bin/chromium; --pages 0 measures the streams alone.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const CHROMIUM = '/usr/bin/chromium';
const GOAL_BEYOND_RETRIEVAL_MS = 100;
const GOAL_PAGING_MS = 20;
// The files whose page data the host holds in memory: the newest ones (kHeldFiles in live_run.cpp).
const HELD_FILES = 16;
const TRACK = 'CO2=2250:2450';
const URL_LINE = /^(http:\/\/127\.0\.0\.1:(\d+)\/)$/;
const BLOCK_LINE = /^dorvane-benchsim: block (\d+) of \d+ points (done|failed|data asked for|data sent) at ([\d.]+) ms$/;
// A bound for a broken program only; a run never comes near it.
const PATIENCE_MS = 120000;

function options() {
  const o = {
    host: 'build/dorvane', bench: 'build/dorvane-benchsim', files: 20, every: 2, points: 4096, scans: 16,
    'per-scan': 20, baud: 115200, 'fill-time': 20, streams: 5, pages: 1, rounds: 2, paging: 0, 'page-every': 17,
    work: os.tmpdir(),
  };
  const args = process.argv.slice(2);
  for (let i = 0; i < args.length; i += 2) {
    const name = args[i].replace(/^--/, '');
    if (!(name in o) || i + 1 >= args.length) {
      console.error(`usage: node benchmarks/live_view_lateness.mjs [--${Object.keys(o).join(' V] [--')} V]`);
      process.exit(2);
    }
    o[name] = typeof o[name] === 'number' ? Number(args[i + 1]) : args[i + 1];
  }
  o.work = path.resolve(o.work);
  o.host = path.resolve(o.host);
  o.bench = path.resolve(o.bench);
  return o;
}

const nowMs = () => Number(process.hrtime.bigint()) / 1e6;

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}
const worst = (values) => Math.max(...values);

// The programs still running, for a failed round to end them.
const children = new Set();

// A program whose stdout and stderr lines go to handlers as they come.
function start(program, args, { env = {}, onLine = () => {}, onError = () => {}, cwd } = {}) {
  const child = spawn(program, args, { cwd, env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
  children.add(child);
  child.on('exit', () => children.delete(child));
  readline.createInterface({ input: child.stdout }).on('line', onLine);
  readline.createInterface({ input: child.stderr }).on('line', onError);
  child.ended = new Promise((resolve) => child.on('exit', (code, signal) => resolve(code ?? 128 + (os.constants.signals[signal] ?? 0))));
  return child;
}

function waitFor(what, condition) {
  return new Promise((resolve, reject) => {
    const began = Date.now();
    const look = () => {
      const value = condition();
      if (value) return resolve(value);
      if (Date.now() - began > PATIENCE_MS) return reject(new Error(`no ${what} within ${PATIENCE_MS / 1000} s`));
      setTimeout(look, 5);
    };
    look();
  });
}

// The bench with its block lines kept: stamp -> {done, asked, sent} in ms, and the order of "done".
function startBench(o, folder, sample) {
  const blocks = new Map();
  const doneOrder = [];
  const args = ['--seed', '1', '--baud', String(o.baud), '--per-scan', String(o['per-scan']), '--link',
    path.join(folder, 'bench'), '--report-blocks', ...sample];
  let device = null;
  const bench = start(o.bench, args, {
    onLine: (line) => { device ??= line; },
    onError: (line) => {
      const m = BLOCK_LINE.exec(line);
      if (!m) return;
      const block = blocks.get(m[1]) ?? {};
      blocks.set(m[1], block);
      const at = Number(m[3]);
      if (m[2] === 'done' || m[2] === 'failed') {
        block.done = at;
        block.failed = m[2] === 'failed';
        doneOrder.push(m[1]);
      } else if (m[2] === 'data asked for') {
        block.asked ??= at;
      } else {
        block.sent ??= at;
      }
    },
  });
  bench.blocks = blocks;
  bench.doneOrder = doneOrder;
  bench.device = () => device;
  return bench;
}

async function stop(child) {
  if (child.exitCode === null && child.signalCode === null) child.kill('SIGINT');
  return child.ended;
}

// An event-stream viewer: the arrival time of each "row" event, by the row's file number.
function streamViewer(port) {
  const viewer = { rows: new Map(), connected: false };
  const request = http.get({ host: '127.0.0.1', port, path: '/events', agent: false }, (response) => {
    viewer.connected = true;
    let buffer = '';
    response.setEncoding('utf8');
    response.on('data', (chunk) => {
      const at = nowMs();
      buffer += chunk;
      let end;
      while ((end = buffer.indexOf('\n\n')) >= 0) {
        const event = buffer.slice(0, end);
        buffer = buffer.slice(end + 2);
        if (!/^event: row$/m.test(event)) continue;
        const data = /^data: (.*)$/m.exec(event);
        const number = data ? JSON.parse(data[1]).number : null;
        if (Number.isInteger(number) && !viewer.rows.has(number)) viewer.rows.set(number, at);
      }
    });
  });
  request.on('error', () => {});
  viewer.close = () => request.destroy();
  return viewer;
}

// A page that follows the run: the time each row first shows on its trend, seen by a predicate
// polled on every animation frame.
async function pageViewer(browser, url, files) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  await page.goto(url, { waitUntil: 'load', timeout: PATIENCE_MS });
  const viewer = { rows: new Map(), problem: null, readyAt: nowMs() };
  viewer.following = (async () => {
    for (let row = 1; row <= files; ++row) {
      try {
        await page.waitForFunction((n) => Number(document.getElementById('chart-trend')?.dataset.trendRows ?? 0) >= n,
          row, { polling: 'raf', timeout: PATIENCE_MS });
      } catch (error) {
        viewer.problem = `row ${row} never showed on the trend (${error.message.split('\n')[0]})`;
        return;
      }
      viewer.rows.set(row, nowMs());
    }
  })();
  viewer.close = () => context.close().catch(() => {});
  return viewer;
}

// A page that pages through the older files as fast as the host answers: once `most` files are older
// than the newest HELD_FILES, files 1 to `most` in order, again and again until `over`.
function pager(port, most, everyMs, savedCount) {
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const fetchFile = (number) => new Promise((resolve) => {
    const request = http.get({ host: '127.0.0.1', port, path: `/files/${number}.json`, agent }, (response) => {
      response.resume();
      response.on('end', () => resolve(response.statusCode === 200));
    });
    request.on('error', () => resolve(false));
  });
  const p = { requests: 0, failed: 0, sweeps: 0, startedAt: null, over: false };
  p.done = (async () => {
    while (!p.over) {
      if (savedCount() - HELD_FILES < most) {
        await new Promise((resolve) => setTimeout(resolve, 5));
        continue;
      }
      p.startedAt ??= nowMs();
      for (let number = 1; number <= most && !p.over; ++number) {
        const next = nowMs() + everyMs;
        if (!(await fetchFile(number))) ++p.failed;
        const early = next - nowMs();
        if (early > 0) await new Promise((resolve) => setTimeout(resolve, early));
        ++p.requests;
      }
      ++p.sweeps;
    }
  })();
  p.close = async () => {
    p.over = true;
    await p.done;
    agent.destroy();
  };
  return p;
}

const quote = (s) => (s.includes(' ') ? `"${s}"` : s);

async function run(o, round, browser, paging) {
  const folder = fs.mkdtempSync(path.join(o.work, 'dorvane-lateness-'));
  const ini = path.join(folder, 'dorvane.ini');
  fs.writeFileSync(ini, `[Settings]\nport=49\nbaud=${o.baud}\npoints=${o.points}\n`);
  const env = { DORVANE_COM49: path.join(folder, 'bench') };
  const load = [os.loadavg()[0]];
  const runHost = async (args, onLine) => {
    const child = start(o.host, args, { env, onLine, cwd: folder });
    const code = await child.ended;
    if (code !== 0) throw new Error(`dorvane ${args.map(quote).join(' ')} ended with ${code}`);
  };

  // The open beam first, with the shuttle out: the cell fills from the first scan through it.
  const bench = startBench(o, folder, ['--sample', 'co2-cell', '--fill-time', String(o['fill-time'])]);
  await waitFor('pty line from the bench', bench.device);
  await runHost(['exec', '--ini', ini, 'shuttle 0'], () => {});
  const common = ['--ini', ini, '--out', path.join(folder, 'files'), '--scans', String(o.scans), '--no-plot'];
  await runHost(['acquire', ...common, '--prefix', 'background', '--files', '1'], () => {});
  await runHost(['exec', '--ini', ini, 'shuttle 1'], () => {});
  const seriesFrom = bench.doneOrder.length;

  const saved = [];
  const viewers = [];
  let paged = null;
  let olderFrom = Infinity;  // --paging N: there are N older files, the paging begins
  let ready = null;
  let over = false;
  const host = start(o.host, ['acquire', ...common, '--prefix', 'cell', '--files', String(o.files), '--every',
    String(o.every), '--track', TRACK, '--background', path.join(folder, 'files', 'background-001.jdx'), '--live=0'], {
    env, cwd: folder,
    onLine: (line) => {
      const m = URL_LINE.exec(line.trim());
      if (m && !ready) {
        const port = Number(m[2]);
        for (let i = 0; i < o.streams; ++i) viewers.push(streamViewer(port));
        if (paging) paged = pager(port, paging, o['page-every'], () => saved.length);
        ready = (async () => {
          const pages = [];
          for (let i = 0; i < o.pages; ++i) pages.push(await pageViewer(browser, m[1], o.files));
          await waitFor('event-stream viewers connected', () => viewers.every((v) => v.connected));
          return pages;
        })();
      } else if (line.startsWith('saved ')) {
        saved.push(nowMs());
        if (saved.length === HELD_FILES + o.paging) olderFrom = nowMs();
      } else if (line.startsWith('the run is over')) {
        over = true;
      }
    },
  });
  await waitFor('live view address', () => ready);
  const pages = await ready;
  let readyAt = nowMs();
  await waitFor('the end of the series', () => over || host.exitCode !== null);
  await Promise.all(pages.map((p) => Promise.race([p.following, new Promise((r) => setTimeout(r, 5000))])));
  for (const p of pages) if (!p.problem && p.rows.size < o.files) p.problem = `the trend showed ${p.rows.size} of ${o.files} rows`;
  await paged?.close();
  await stop(host);
  await stop(bench);
  load.push(os.loadavg()[0]);
  for (const v of [...viewers, ...pages]) v.close();
  if (!over) throw new Error(`the host ended with ${host.exitCode} before the series was over`);

  // File k of the series is the k-th block done after the background's.
  const stamps = bench.doneOrder.slice(seriesFrom);
  // With --paging both runs measure the same files: those done once the paging can begin.
  if (o.paging) readyAt = Math.max(readyAt, olderFrom);
  const files = [];
  stamps.forEach((stamp, index) => {
    const block = bench.blocks.get(stamp);
    const number = index + 1;
    // A file whose co-add finished before every viewer was in place would measure the catching up.
    if (block.failed || block.sent === undefined || block.done < readyAt) return;
    files.push({
      number, done: block.done, retrieval: block.sent - block.done, asked: block.asked - block.done,
      saved: saved[index] - block.done,
      streams: viewers.map((v) => v.rows.get(number) - block.done).filter(Number.isFinite),
      pages: pages.map((p) => p.rows.get(number) - block.done).filter(Number.isFinite),
    });
  });
  fs.rmSync(folder, { recursive: true, force: true });
  return report(o, round, { stamps, files, load, pages, paged });
}

// The round's figures: each path's median and worst from "done", and beyond the retrieval against
// the goal. True when every file was measured on every path.
function report(o, round, { stamps, files, load, pages, paged }) {
  const ms = (v) => `${v.toFixed(0)} ms`;
  const signed = (v) => `${v >= 0 ? '+' : ''}${v.toFixed(0)} ms`;
  const line = (label, values) => (values.length
    ? `  ${label} (${values.length}): median ${ms(median(values))}, worst ${ms(worst(values))}` : `  ${label}: none measured`);
  const paging = paged ? `; a page paging through older files (up to ${o.paging}): ${paged.requests} asked in `
    + `${paged.sweeps} sweeps, ${paged.failed} failed` : '';
  console.log(`round ${round}${paged ? ' with paging' : ''}: ${stamps.length} files of ${o.points} points and ${o.scans} scans at ${o.baud} baud, one every ${o.every} s; `
    + `${o.streams} event-stream viewers and ${o.pages} page(s); ${files.length} files measured (done after every viewer was in place); `
    + `load ${load.map((l) => l.toFixed(1)).join(' -> ')}${paging}`);
  const pick = (key) => files.flatMap((f) => [].concat(f[key]));
  const beyond = (key) => files.flatMap((f) => [].concat(f[key]).map((v) => v - f.retrieval));
  console.log(line('retrieval, done -> data sent', pick('retrieval')) + `; of it done -> data asked for: median ${ms(median(pick('asked')))}`);
  for (const [label, key] of [['host\'s "saved" line', 'saved'], ['"row" event at a viewer', 'streams'], ['point on the page\'s trend', 'pages']]) {
    const late = beyond(key);
    if (!late.length) {
      console.log(`  ${label}: none measured`);
      continue;
    }
    console.log(`${line(`done -> ${label}`, pick(key))}; beyond the retrieval median ${signed(median(late))}, worst ${signed(worst(late))}; `
      + `margin to the goal (retrieval + ${GOAL_BEYOND_RETRIEVAL_MS} ms) ${signed(GOAL_BEYOND_RETRIEVAL_MS - worst(late))}`
      + (worst(late) <= GOAL_BEYOND_RETRIEVAL_MS ? ', met' : ', MISSED'));
  }
  for (const p of pages) if (p.problem) console.log(`  page: ${p.problem}`);
  const rowsMissed = o.streams * files.length - pick('streams').length;
  if (rowsMissed) console.log(`  ${rowsMissed} row events never reached their viewer`);
  return {
    good: files.length > 0 && !rowsMissed && pages.every((p) => !p.problem) && !(paged && (paged.failed || !paged.requests)),
    rowsBeyond: beyond('streams'),
    rowsAfterSaved: files.flatMap((f) => f.streams.map((v) => v - f.saved)),
  };
}

// What the paging added to the "row" event's lateness beyond the retrieval.
function compare(round, quietRun, pagingRun) {
  const ms = (v) => `${v >= 0 ? '+' : ''}${v.toFixed(0)} ms`;
  const quiet = quietRun.rowsBeyond, paging = pagingRun.rowsBeyond;
  const median_ = median(paging) - median(quiet);
  const worst_ = worst(paging) - worst(quiet);
  console.log(`round ${round}: paging adds to the "row" event beyond the retrieval: median ${ms(median_)}, worst ${ms(worst_)} `
    + `(goal at most ${GOAL_PAGING_MS} ms: ${median_ <= GOAL_PAGING_MS && worst_ <= GOAL_PAGING_MS ? 'met' : 'MISSED'}); `
    + `from the "saved" line to the event: median ${ms(median(quietRun.rowsAfterSaved))} and worst `
    + `${ms(worst(quietRun.rowsAfterSaved))} without, ${ms(median(pagingRun.rowsAfterSaved))} and `
    + `${ms(worst(pagingRun.rowsAfterSaved))} with`);
}

const o = options();
let browser = null;
if (o.pages > 0) {
  if (!fs.existsSync(CHROMIUM)) {
    console.error(`no ${CHROMIUM}: install Debian's chromium, or measure the streams alone with --pages 0`);
    process.exit(2);
  }
  const require = createRequire(new URL('../tests/host/live_view/package.json', import.meta.url));
  let chromium;
  try {
    ({ chromium } = require('playwright-core'));
  } catch {
    console.error('playwright-core is not installed: npm ci --prefix tests/host/live_view (or --pages 0)');
    process.exit(2);
  }
  browser = await chromium.launch({
    executablePath: CHROMIUM,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
    timeout: PATIENCE_MS,
  });
}
let good = true;
try {
  for (let round = 1; round <= o.rounds; ++round) {
    const quiet = await run(o, round, browser, 0);
    good = quiet.good && good;
    if (!o.paging) continue;
    const paging = await run(o, round, browser, o.paging);
    good = paging.good && good;
    if (quiet.rowsBeyond.length && paging.rowsBeyond.length) compare(round, quiet, paging);
  }
} catch (error) {
  console.error(`live_view_lateness: ${error.message}`);
  good = false;
} finally {
  for (const child of children) child.kill('SIGINT');
  await browser?.close();
}
process.exit(good ? 0 : 1);
