// The live view in a real browser (Debian's Chromium, driven by playwright-core): the host acquires
// from the virtual bench with --live=0 and the page must follow the run as it happens.
//
//   node live_view_test.mjs HOST BENCHSIM OUTPUT_FOLDER
//
// Two runs: four files taken whole (the page draws each one, catches up after a reload, says
// finished, and says so when the host ends), and a bench killed after the first file (the page shows
// the host's error). Prints one line per failure; exit 0 when all is well, 1 on a failure, 77 (a
// skip) when there is no Chromium. Writes live-view.png (two files in, 1280×900) and bench-killed.png
// (the error shown) to OUTPUT_FOLDER.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

const CHROMIUM = '/usr/bin/chromium';
const SKIP = 77;
const URL_LINE = /^http:\/\/127\.0\.0\.1:\d+\/$/;

const [hostArg, benchArg, outputArg] = process.argv.slice(2);
if (!hostArg || !benchArg || !outputArg) {
  console.error('usage: node live_view_test.mjs HOST BENCHSIM OUTPUT_FOLDER');
  process.exit(2);
}
// The programs run in their scenario's folder.
const hostProgram = path.resolve(hostArg);
const benchProgram = path.resolve(benchArg);
if (!fs.existsSync(CHROMIUM)) {
  console.log(`SKIP: no ${CHROMIUM}: install Debian's chromium package to run the live view's browser test`);
  process.exit(SKIP);
}
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch {
  console.error('FAIL: playwright-core is not installed: run npm ci --prefix tests/tools/live_view');
  process.exit(1);
}

const output = path.resolve(outputArg);
fs.mkdirSync(output, { recursive: true });
const failures = [];
const fail = (line) => {
  failures.push(line);
  console.error(`FAIL: ${line}`);
};
const children = new Set();
let browser = null;

// ---- processes --------------------------------------------------------------------------------
function start(program, args, options) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'], ...options });
  children.add(child);
  child.lines = [];
  child.exited = new Promise((resolve) => {
    child.on('exit', (code, signal) => {
      children.delete(child);
      resolve({ code, signal });
    });
    child.on('error', (error) => {
      children.delete(child);
      child.startError = error;
      resolve({ code: null, signal: null, error });
    });
  });
  for (const stream of [child.stdout, child.stderr]) {
    let partial = '';
    stream.setEncoding('utf8');
    stream.on('data', (chunk) => {
      const parts = (partial + chunk).split(/\r?\n/);
      partial = parts.pop();
      for (const line of parts) {
        child.lines.push(line);
        child.emit('line', line);
      }
    });
  }
  return child;
}

function stopAll() {
  for (const child of children) child.kill('SIGKILL');
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `test` until it gives a truthy value; throws `what` after `ms`.
async function until(test, ms, what) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > end) throw new Error(`${what} (waited ${ms / 1000} s)`);
    await sleep(100);
  }
}

function exitedWithin(child, ms) {
  return Promise.race([child.exited.then(() => true), sleep(ms).then(() => false)]);
}

const tail = (child) => child.lines.slice(-5).join(' | ') || '(nothing printed)';

// A fresh folder with a running virtual bench at DIR/bench and the host's INI file.
async function bench(dir) {
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  const link = path.join(dir, 'bench');
  const sim = start(benchProgram, ['--seed', '1', '--baud', '38400', '--link', link], { cwd: dir });
  await until(() => fs.existsSync(link) || sim.exitCode !== null || sim.startError, 15000,
    `the virtual bench made no link at ${link}`);
  if (!fs.existsSync(link)) throw new Error(`the virtual bench ${benchProgram} did not start: ${sim.startError?.message ?? tail(sim)}`);
  fs.writeFileSync(path.join(dir, 'dorvane.ini'), '[Settings]\nport=49\nbaud=38400\npoints=4096\n');
  return sim;
}

// The host acquiring `files` files with the live view on a free port; resolves with it and the URL.
async function host(dir, files) {
  const args = ['acquire', '--ini', path.join(dir, 'dorvane.ini'), '--out', path.join(dir, 'files'), '--prefix', 'run',
    '--files', String(files), '--scans', '2', '--no-plot', '--timeout', '5', '--live=0'];
  const child = start(hostProgram, args, { cwd: dir, env: { ...process.env, DORVANE_COM49: path.join(dir, 'bench') } });
  const url = await until(() => child.lines.find((line) => URL_LINE.test(line.trim())) ||
    (child.exitCode !== null || child.startError ? 'gone' : ''), 20000,
  'the host printed no live view URL (a line like http://127.0.0.1:PORT/)');
  if (url === 'gone') throw new Error(`the host ended before serving the live view: ${child.startError?.message ?? tail(child)}`);
  return { child, url: url.trim() };
}

async function interrupt(child, what) {
  if (child.exitCode !== null) return;
  child.kill('SIGINT');
  if (!(await exitedWithin(child, 15000))) fail(`${what}: the host did not exit within 15 s of SIGINT (last lines: ${tail(child)})`);
}

// ---- the page -----------------------------------------------------------------------------------
async function openPage(url) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(`script error: ${error.message}`));
  page.on('console', (message) => {
    // Everything the page asks for must load and run.
    if (message.type() === 'error') page.problems.push(`console: ${message.text()}`);
  });
  await page.goto(url, { waitUntil: 'load', timeout: 20000 });
  return page;
}

const look = (page) => page.evaluate(() => ({
  newest: Number(document.body.dataset.newest || 0),
  stateLine: document.getElementById('state-line')?.textContent ?? '',
  connection: document.getElementById('connection')?.textContent ?? '',
  banner: (() => {
    const b = document.getElementById('error-banner');
    return b && !b.hidden && b.getClientRects().length ? b.textContent : '';
  })(),
  listed: [...document.querySelectorAll('#file-list li[data-number]')].map((li) => Number(li.dataset.number)),
  drawn: ['chart-interferogram', 'chart-zoom', 'chart-spectrum'].map((id) => Number(document.getElementById(id)?.dataset.drawnFiles || 0)),
}));

// Waits for a condition on the page as `look` sees it.
async function pageUntil(page, test, ms, what) {
  let last = null;
  try {
    await until(async () => {
      last = await look(page);
      return test(last);
    }, ms, what);
    return last;
  } catch (error) {
    throw new Error(`${error.message}; the page shows: "${last?.stateLine ?? ''}", newest ${last?.newest}, files [${last?.listed ?? ''}]`);
  }
}

// Pixels of the newest file's colour (a strong blue) on a chart's canvas: > 0 when a curve is drawn.
const curvePixels = (page, id) => page.evaluate((chartId) => {
  const canvas = document.querySelector(`#${chartId} canvas`);
  if (!canvas || !canvas.width || !canvas.height) return -1;
  const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  let count = 0;
  for (let i = 0; i < pixels.length; i += 4) {
    if (pixels[i + 3] > 128 && pixels[i + 2] > pixels[i] + 60 && pixels[i + 2] > pixels[i + 1] + 30) count++;
  }
  return count;
}, id);

// ---- a run taken whole --------------------------------------------------------------------------
async function wholeRun() {
  const dir = path.join(output, 'whole-run');
  const sim = await bench(dir);
  const { child, url } = await host(dir, 4);
  const page = await openPage(url);
  const seen = { newest: [], fileOf: new Set() };
  const watch = (view) => {
    if (view.newest && view.newest !== seen.newest.at(-1)) seen.newest.push(view.newest);
    const m = /file (\d+) of 4/.exec(view.stateLine);
    if (m) seen.fileOf.add(Number(m[1]));
  };

  // The first file drawn on all three charts.
  await pageUntil(page, (v) => (watch(v), v.newest >= 1 && v.drawn.every((n) => n >= 1)), 40000,
    'the charts drew no file (body.dataset.newest and data-drawn-files stayed 0)');
  for (const id of ['chart-interferogram', 'chart-zoom', 'chart-spectrum']) {
    const count = await curvePixels(page, id);
    if (count < 50) fail(`#${id}: its canvas shows no curve in the newest file's colour (${count} pixels): uPlot drew nothing`);
  }

  // Two files in: the picture, then a reload that must show every file saved so far at once.
  await pageUntil(page, (v) => (watch(v), v.newest >= 2), 40000, 'the page did not draw a second file');
  await page.screenshot({ path: path.join(output, 'live-view.png') });
  const before = await (await fetch(new URL('run.json', url))).json();
  const savedBefore = before.files.map((f) => f.number);
  await page.reload({ waitUntil: 'load', timeout: 20000 });
  await pageUntil(page, (v) => savedBefore.every((n) => v.listed.includes(n)), 5000,
    `after a reload the file list lacks some of the files saved so far (${savedBefore.join(', ')})`);

  // The rest, up to the end.
  await pageUntil(page, (v) => (watch(v), /\bfinished\b/.test(v.stateLine)), 60000, 'the state line never said finished');
  const end = await pageUntil(page, (v) => (watch(v), v.newest === 4 && v.listed.length === 4), 10000,
    'at the end the page does not draw file 4 with four files listed');
  if (!/\b4 of 4 files saved\b/.test(end.stateLine)) fail(`at the end the state line reads "${end.stateLine}", not "4 of 4 files saved …"`);
  if (seen.newest.length < 2 || seen.newest.some((n, i) => i > 0 && n < seen.newest[i - 1]))
    fail(`the newest file drawn went ${seen.newest.join(' → ')}: it should rise file by file up to 4`);
  if (seen.fileOf.size < 2) fail(`the state line showed progress for ${[...seen.fileOf].join(', ') || 'no'} file(s): expected "file k of 4" for each file under way`);
  for (const problem of page.problems) fail(`the page: ${problem}`);

  // The host ends the live view: the page says so instead of reconnecting for ever.
  await interrupt(child, 'after the run');
  await pageUntil(page, (v) => /ended/.test(v.connection), 15000, 'after the host exited the page did not say it has ended the live view');
  sim.kill('SIGTERM');
  await page.context().close();
}

// ---- a bench that goes away ---------------------------------------------------------------------
async function benchKilled() {
  const dir = path.join(output, 'bench-killed');
  const sim = await bench(dir);
  const { child, url } = await host(dir, 4);
  const page = await openPage(url);
  await pageUntil(page, (v) => v.newest >= 1, 40000, 'the page drew no file before the bench was killed');
  sim.kill('SIGKILL');
  const shown = await pageUntil(page, (v) => v.banner.trim() !== '', 40000,
    'no error banner appeared after the bench was killed (the host should publish why the acquisition gave up)');
  const text = shown.banner.trim();
  await page.screenshot({ path: path.join(output, 'bench-killed.png') });
  // The banner says what the host says, in words: the same line as the host prints.
  await until(() => child.lines.some((line) => line.includes(text) || (line.trim() && text.includes(line.trim()))), 15000,
    'the host printed no line')
    .catch(() => fail(`the error banner reads "${text}", which the host never printed (its last lines: ${tail(child)})`));
  if (!/[a-z]{3,} [a-z]{2,}/i.test(text)) fail(`the error banner reads "${text}": expected a sentence, not a code`);
  for (const problem of page.problems) fail(`the page (bench killed): ${problem}`);
  await interrupt(child, 'after the bench was killed');
  await page.context().close();
}

// ---- main ---------------------------------------------------------------------------------------
const watchdog = setTimeout(() => {
  fail('the test took over 150 s: a step hangs (see the lines above)');
  stopAll();
  process.exit(1);
}, 150000);

const began = Date.now();
try {
  browser = await chromium.launch({
    executablePath: CHROMIUM,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    timeout: 30000,
  });
  for (const [name, scenario] of [['whole run', wholeRun], ['bench killed', benchKilled]]) {
    try {
      await scenario();
    } catch (error) {
      fail(`${name}: ${error.message.split('\n')[0]}`);
    } finally {
      stopAll();
    }
  }
} catch (error) {
  fail(`Chromium did not start (${CHROMIUM}): ${error.message.split('\n')[0]}`);
} finally {
  if (browser) await browser.close().catch(() => {});
  stopAll();
  clearTimeout(watchdog);
}
console.log(`${failures.length ? 'FAILED' : 'passed'}: live view in Chromium, ${((Date.now() - began) / 1000).toFixed(1)} s`);
process.exit(failures.length ? 1 : 0);
