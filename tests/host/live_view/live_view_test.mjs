// The live view in a real browser (Debian's Chromium, driven by playwright-core): the host acquires
// from the virtual bench with --live=0 and the page must follow the run as it happens.
//
//   node live_view_test.mjs HOST BENCHSIM OUTPUT_FOLDER LIBRARY
//
// Five runs: four files taken whole with a band tracked (the page draws each one and its point on
// the trend with the band shaded on the spectrum, catches up after a reload, says finished, and says
// so when the host ends; it works opened at localhost too, and a name that a site points at
// 127.0.0.1 is refused); a bench killed after the first file (the page shows the host's error); the
// demo's series with the page opened before its background is in, when the run knows no band yet
// (the page must then draw the trend and shade the band, and count the background apart); the
// stand-in host (mock_server.mjs) telling the bands late and remarks of slips, which stay apart from
// the error banner; and the stand-in host running a qualification (the panel follows its steps and
// each test's verdict before the whole, a page opened after the end shows them all, pass and fail
// in words and colours, and one whose bench is lost mid-way says it has no verdict). LIBRARY is the
// driver the demo runs on, copied so that its log, written beside it, is this test's own. Prints
// one line per failure; exit 0 when all is well, 1 on a failure, 77 (a skip) when there is no
// Chromium. Writes live-view.png (two files in, 1280×900), bench-killed.png (the error shown) and
// qualification.png (its end) to OUTPUT_FOLDER. The runs happen in a fresh temporary folder,
// removed after a pass and kept (its path printed) after a failure.
//
// Every wait is on something the host or the page reports; its bound is only for a broken program.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { CHROMIUM, chromiumOrExit, launchChromium } from './chromium.mjs';

const URL_LINE = /^http:\/\/127\.0\.0\.1:\d+\/$/;
// After it, and only after it, one Ctrl-C ends the host: before, the first one stops the run.
const RUN_OVER_LINE = /^the run is over; the live view stays at http:\/\/127\.0\.0\.1:\d+\/ until Ctrl-C$/;
// A site's own name made to point at 127.0.0.1, as DNS rebinding does: Chromium's resolver rules
// play the attacker's DNS.
const REBIND_NAME = 'rebind.example';
// A bound for a wait on a program or the page; a pass never comes near it, even on a loaded machine.
const PATIENCE_MS = 120000;

const [hostArg, benchArg, outputArg, libraryArg] = process.argv.slice(2);
if (!hostArg || !benchArg || !outputArg || !libraryArg) {
  console.error('usage: node live_view_test.mjs HOST BENCHSIM OUTPUT_FOLDER LIBRARY');
  process.exit(2);
}
// The programs run in their scenario's folder.
const hostProgram = path.resolve(hostArg);
const benchProgram = path.resolve(benchArg);
const chromium = await chromiumOrExit("the live view's browser test");

const output = path.resolve(outputArg);
fs.mkdirSync(output, { recursive: true });
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'dorvane-live-view-'));
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
  child.ended = false;  // exited, with all of its output read
  child.exited = new Promise((resolve) => {
    const ended = (result) => {
      if (child.ended) return;
      children.delete(child);
      child.ended = true;
      child.emit('ended');
      resolve(result);
    };
    child.on('close', (code, signal) => ended({ code, signal }));
    child.on('error', (error) => {
      child.startError = error;
      ended({ code: null, signal: null, error });
    });
  });
  for (const stream of [child.stdout, child.stderr]) {
    let partial = '';
    const take = (line) => {
      child.lines.push(line);
      child.emit('line', line);
    };
    stream.setEncoding('utf8');
    stream.on('data', (chunk) => {
      const parts = (partial + chunk).split(/\r?\n/);
      partial = parts.pop();
      for (const line of parts) take(line);
    });
    stream.on('end', () => partial && take(partial));
  }
  return child;
}

function stopAll() {
  for (const child of children) child.kill('SIGKILL');
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const tail = (child) => child.lines.slice(-5).join(' | ') || '(nothing printed)';

// `promise`, or a failure saying `what()` once PATIENCE_MS have gone by.
function bounded(promise, what) {
  let timer;
  const limit = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what()} (waited ${PATIENCE_MS / 1000} s)`)), PATIENCE_MS);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

// The first line of `child`, printed already or to come, that `matches` (a RegExp or a function);
// a failure saying `what` when the program ends without printing one.
function lineOf(child, matches, what) {
  const test = matches instanceof RegExp ? (line) => matches.test(line.trim()) : matches;
  let stopWatching = () => {};
  const found = new Promise((resolve, reject) => {
    const earlier = child.lines.find(test);
    if (earlier !== undefined) return resolve(earlier);
    const onLine = (line) => test(line) && resolve(line);
    const onEnded = () => reject(new Error(`${what}: ${child.startError ? `it did not start (${child.startError.message})` : `it ended first (last lines: ${tail(child)})`}`));
    if (child.ended) return onEnded();
    child.on('line', onLine);
    child.once('ended', onEnded);
    stopWatching = () => {
      child.off('line', onLine);
      child.off('ended', onEnded);
    };
  });
  return bounded(found, () => `${what} (last lines: ${tail(child)})`).finally(() => stopWatching());
}

// Polls `test` (on what the page shows) until it gives a truthy value.
async function until(test, what) {
  const end = Date.now() + PATIENCE_MS;
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > end) throw new Error(`${what} (waited ${PATIENCE_MS / 1000} s)`);
    await sleep(100);
  }
}

// A running virtual bench for a run in `dir`, with the host's INI file there.
async function bench(dir, baud) {
  fs.mkdirSync(dir);
  const sim = start(benchProgram, ['--seed', '1', '--baud', String(baud)], { cwd: dir });
  // Its first line is its pseudo-terminal, printed once it serves.
  sim.pty = (await lineOf(sim, /^\/dev\//, `the virtual bench ${benchProgram} printed no pseudo-terminal`)).trim();
  fs.writeFileSync(path.join(dir, 'dorvane.ini'), `[Settings]\nport=49\nbaud=${baud}\npoints=4096\n`);
  return sim;
}

// The host acquiring `files` files with the live view on a free port; resolves with it and the URL.
async function host(dir, sim, files, more = []) {
  const args = ['acquire', '--ini', path.join(dir, 'dorvane.ini'), '--out', path.join(dir, 'files'), '--prefix', 'run',
    '--files', String(files), '--scans', '2', '--no-plot', '--live=0', ...more];
  const child = start(hostProgram, args, { cwd: dir, env: { ...process.env, DORVANE_COM49: sim.pty } });
  const url = await lineOf(child, URL_LINE, 'the host printed no live view URL (a line like http://127.0.0.1:PORT/)');
  return { child, url: url.trim() };
}

// Once the host says the run is over, a Ctrl-C must end it with `status`.
async function closeLiveView(child, status, what) {
  await lineOf(child, RUN_OVER_LINE, `${what}: the host never said the run is over`);
  child.kill('SIGINT');
  const { code, signal } = await bounded(child.exited,
    () => `${what}: the host did not exit after a Ctrl-C once the run was over (last lines: ${tail(child)})`);
  if (code !== status) fail(`${what}: the host ended with ${code ?? signal}, not ${status} (last lines: ${tail(child)})`);
}

// A picture in OUTPUT_FOLDER, replaced whole: another run of this test may be writing the same one.
async function picture(page, name) {
  const file = path.join(output, name);
  const partial = `${file}.${process.pid}.partial`;
  fs.writeFileSync(partial, await page.screenshot());
  fs.renameSync(partial, file);
}

// ---- the page -----------------------------------------------------------------------------------
// The page, with what it has shown over time: each newest file drawn and each "file k of N" on its
// state line, reported by the page at every change, across reloads.
async function openPage(url) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(`script error: ${error.message}`));
  page.on('console', (message) => {
    // Everything the page asks for must load and run.
    if (message.type() === 'error') page.problems.push(`console: ${message.text()}`);
  });
  // qualification: each "step | tests decided | verdict" the panel showed, in order.
  page.shown = { newest: [], fileOf: new Set(), qualification: [] };
  await page.exposeFunction('reportShown', (newest, file, qualification) => {
    if (newest && newest !== page.shown.newest.at(-1)) page.shown.newest.push(newest);
    if (file) page.shown.fileOf.add(file);
    if (qualification && qualification !== page.shown.qualification.at(-1)) page.shown.qualification.push(qualification);
  });
  await page.addInitScript(() => {
    let last = '';
    const report = () => {
      const newest = Number(document.body?.dataset.newest || 0);
      const under = /\bfile (\d+) of \d+/.exec(document.getElementById('state-line')?.textContent ?? '');
      const panel = document.getElementById('qualification');
      const qualification = panel && !panel.hidden ? [document.getElementById('qualification-step').textContent,
        document.getElementById('qualification-tests').rows.length,
        document.getElementById('qualification-verdict').dataset.verdict].join(' | ') : '';
      const now = `${newest} ${under ? under[1] : 0} ${qualification}`;
      if (now === last) return;
      last = now;
      window.reportShown(newest, under ? Number(under[1]) : 0, qualification);
    };
    new MutationObserver(report).observe(document, {
      subtree: true, childList: true, characterData: true, attributes: true, attributeFilter: ['data-newest'],
    });
  });
  await page.goto(url, { waitUntil: 'load', timeout: PATIENCE_MS });
  return page;
}

const look = (page) => page.evaluate(() => ({
  newest: Number(document.body.dataset.newest || 0),
  stateLine: document.getElementById('state-line')?.textContent ?? '',
  phase: document.querySelector('#state-line [data-phase]')?.dataset.phase ?? '',
  connection: document.getElementById('connection')?.textContent ?? '',
  banner: (() => {
    const b = document.getElementById('error-banner');
    return b && !b.hidden && b.getClientRects().length ? b.textContent : '';
  })(),
  listed: [...document.querySelectorAll('#file-list li[data-number]')].map((li) => Number(li.dataset.number)),
  drawn: ['chart-interferogram', 'chart-zoom', 'chart-spectrum'].map((id) => Number(document.getElementById(id)?.dataset.drawnFiles || 0)),
  trendRows: Number(document.getElementById('chart-trend')?.dataset.trendRows || 0),
  shadedBands: Number(document.getElementById('chart-spectrum')?.dataset.shadedBands || 0),
  fileCount: document.getElementById('file-count')?.textContent ?? '',
  backgroundsListed: [...document.querySelectorAll('#file-list li[data-background]')].map((li) => Number(li.dataset.number)),
  remarks: [...document.querySelectorAll('#remarks:not([hidden]) li')].map((li) => li.textContent),
  qualification: (() => {
    const panel = document.getElementById('qualification');
    if (!panel || panel.hidden || !panel.getClientRects().length) return null;
    const verdict = document.getElementById('qualification-verdict');
    return {
      step: document.getElementById('qualification-step-line').hidden ? '' : document.getElementById('qualification-step').textContent,
      tests: [...document.querySelectorAll('#qualification-tests tr')].map((row) => {
        const result = row.cells[1];
        return { name: row.cells[0].textContent, result: result.textContent, detail: row.cells[2].textContent,
          colour: getComputedStyle(result).color };
      }),
      verdict: verdict.textContent,
      verdictColour: getComputedStyle(verdict).color,
      report: document.getElementById('qualification-report').hidden ? '' : document.getElementById('qualification-report').textContent,
    };
  })(),
}));

// Waits for a condition on the page as `look` sees it.
async function pageUntil(page, test, what) {
  let last = null;
  try {
    await until(async () => {
      last = await look(page);
      return test(last);
    }, what);
    return last;
  } catch (error) {
    throw new Error(`${error.message}; the page shows: "${last?.stateLine ?? ''}", newest ${last?.newest}, files [${last?.listed ?? ''}]`);
  }
}

// Pixels of the newest file's colour (a strong blue) on a chart's canvas: > 0 when a curve is drawn;
// with `tint`, pixels of the first tracked band's faint orange shading instead.
const curvePixels = (page, id, tint = false) => page.evaluate(([chartId, shading]) => {
  const canvas = document.querySelector(`#${chartId} canvas`);
  if (!canvas || !canvas.width || !canvas.height) return -1;
  const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  let count = 0;
  for (let i = 0; i < pixels.length; i += 4) {
    const [r, g, b, a] = pixels.slice(i, i + 4);
    // The shading is laid faintly on the canvas, which is clear under it.
    if (shading ? a > 16 && a < 64 && r > b + 100 : a > 128 && b > r + 60 && b > g + 30) count++;
  }
  return count;
}, [id, tint]);

// The page, its run and its event stream opened under a rebinding name: each refused with 403 and the
// line that says where to open the page.
async function refusedUnderRebindingName(port) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const response = await page.goto(`http://${REBIND_NAME}:${port}/`, { timeout: PATIENCE_MS });
  const line = (await page.textContent('body')) ?? '';
  if (response?.status() !== 403 || !line.includes('open the live view at the address dorvane printed')) {
    fail(`opened as http://${REBIND_NAME}:${port}/ the page was answered ${response?.status()} "${line.trim()}", not refused with 403`);
  }
  const statuses = await page.evaluate(() => Promise.all(['/run.json', '/events'].map(async (route) => (await fetch(route)).status)));
  if (statuses.some((status) => status !== 403)) fail(`under ${REBIND_NAME} /run.json and /events were answered ${statuses.join(' and ')}, not 403`);
  await context.close();
}

// ---- a run taken whole --------------------------------------------------------------------------
async function wholeRun() {
  const dir = path.join(scratch, 'whole-run');
  const sim = await bench(dir, 38400);
  const { child, url } = await host(dir, sim, 4, ['--track', 'CO2=2250:2450']);
  const page = await openPage(url);
  // The same run under loopback's other name, followed alongside.
  const port = new URL(url).port;
  const byName = await openPage(`http://localhost:${port}/`);
  await refusedUnderRebindingName(port);

  // The first file drawn on all three charts.
  await pageUntil(page, (v) => v.newest >= 1 && v.drawn.every((n) => n >= 1),
    'the charts drew no file (body.dataset.newest and data-drawn-files stayed 0)');
  for (const id of ['chart-interferogram', 'chart-zoom', 'chart-spectrum']) {
    const count = await curvePixels(page, id);
    if (count < 50) fail(`#${id}: its canvas shows no curve in the newest file's colour (${count} pixels): uPlot drew nothing`);
  }

  // Two files in: their points on the trend, the band shaded on the spectrum, the picture, then a
  // reload that must show every file saved so far at once.
  await pageUntil(page, (v) => v.newest >= 2 && v.trendRows >= 2 && v.shadedBands === 1,
    'the trend chart did not draw two rows (data-trend-rows) with the band shaded on the spectrum (data-shaded-bands)');
  if (await curvePixels(page, 'chart-spectrum', true) < 200)
    fail('#chart-spectrum: the tracked band CO2=2250:2450 is not shaded on its canvas');
  await picture(page, 'live-view.png');
  await pageUntil(byName, (v) => v.newest >= 2 && v.drawn.every((n) => n >= 1),
    `opened as http://localhost:${port}/ the page did not draw the second file`);
  for (const problem of byName.problems) fail(`the page at localhost: ${problem}`);
  await byName.context().close();
  const before = await (await fetch(new URL('run.json', url))).json();
  const savedBefore = before.files.map((f) => f.number);
  await page.reload({ waitUntil: 'load', timeout: PATIENCE_MS });
  await pageUntil(page, (v) => savedBefore.every((n) => v.listed.includes(n)),
    `after a reload the file list lacks some of the files saved so far (${savedBefore.join(', ')})`);

  // The rest, up to the end, where the run's elapsed time stops.
  await pageUntil(page, (v) => /\bfinished\b/.test(v.stateLine), 'the state line never said finished');
  const elapsedAtEnd = async () => (await (await fetch(new URL('run.json', url))).json()).state.elapsed;
  const endedAfter = await elapsedAtEnd();
  const end = await pageUntil(page, (v) => v.newest === 4 && v.listed.length === 4 && v.trendRows === 4,
    'at the end the page does not draw file 4 with four files listed and four rows on the trend');
  if (!/\b4 of 4 files saved\b/.test(end.stateLine)) fail(`at the end the state line reads "${end.stateLine}", not "4 of 4 files saved …"`);
  const { newest, fileOf } = page.shown;
  if (newest.at(-1) !== 4 || newest.some((n, i) => i > 0 && n < newest[i - 1]))
    fail(`the newest file drawn went ${newest.join(' → ')}: it should rise file by file up to 4`);
  for (const k of [1, 2, 3, 4]) {
    if (!fileOf.has(k)) fail(`the state line never showed "file ${k} of 4" while file ${k} was under way (it showed file ${[...fileOf].join(', ') || 'none'})`);
  }
  for (const problem of page.problems) fail(`the page: ${problem}`);
  const laterAfter = await elapsedAtEnd();
  if (laterAfter !== endedAfter) fail(`the finished run's elapsed time went on from ${endedAfter} s to ${laterAfter} s`);

  // The host ends the live view: the page says so instead of reconnecting for ever.
  await closeLiveView(child, 0, 'after the run');
  await pageUntil(page, (v) => /ended/.test(v.connection), 'after the host exited the page did not say it has ended the live view');
  sim.kill('SIGTERM');
  await page.context().close();
}

// ---- a bench that goes away ---------------------------------------------------------------------
async function benchKilled() {
  const dir = path.join(scratch, 'bench-killed');
  // The kill mostly comes while a file is on the line, and the driver gives up at once; between two
  // files, the time-out ends the run. A file takes about 1.1 s at 115200 baud, far within it.
  const sim = await bench(dir, 115200);
  const { child, url } = await host(dir, sim, 4, ['--timeout', '30']);
  const page = await openPage(url);
  await pageUntil(page, (v) => v.newest >= 1, 'the page drew no file before the bench was killed');
  sim.kill('SIGKILL');
  await lineOf(child, RUN_OVER_LINE, 'after the bench was killed the host never said the run is over');
  const shown = await pageUntil(page, (v) => v.phase === 'failed' && v.banner.trim() !== '',
    'no error banner on a failed run after the bench was killed (the host should publish why the acquisition gave up)');
  const text = shown.banner.trim();
  await picture(page, 'bench-killed.png');
  // The banner says what the host says, in words: the same line as the host prints.
  await lineOf(child, (line) => line.includes(text) || (line.trim() !== '' && text.includes(line.trim())), 'the host printed no line')
    .catch(() => fail(`the error banner reads "${text}", which the host never printed (its last lines: ${tail(child)})`));
  if (!/[a-z]{3,} [a-z]{2,}/i.test(text)) fail(`the error banner reads "${text}": expected a sentence, not a code`);
  for (const problem of page.problems) fail(`the page (bench killed): ${problem}`);
  await closeLiveView(child, 1, 'after the bench was killed');
  await page.context().close();
}

// ---- the demo's series, the page opened before its bands are known -------------------------------
async function demoSeries() {
  const dir = path.join(scratch, 'demo-series');
  const library = path.join(dir, 'lib');
  fs.mkdirSync(library, { recursive: true });
  fs.copyFileSync(path.resolve(libraryArg), path.join(library, path.basename(libraryArg)));
  const child = start(hostProgram, ['demo', '--series', '--files', '4', '--every', '0.5', '--fill-time', '2', '--out',
    path.join(dir, 'demo'), '--live=0'], { cwd: dir, env: { ...process.env, LD_LIBRARY_PATH: library } });
  const url = (await lineOf(child, URL_LINE, 'the demo printed no live view URL')).trim();
  const page = await openPage(url);
  await pageUntil(page, (v) => v.connection === 'live', 'the page opened during the demo never connected');
  // The shuttle settles for 10 s before the background, and the band is told once that is in: a
  // page connected by now got a run that knows no band.
  const early = await (await fetch(new URL('run.json', url))).json();
  if (early.trend.bands.length) fail('the page connected after the demo knew its band: the early page was not tested');
  const end = await pageUntil(page, (v) => /\bfinished\b/.test(v.stateLine) && v.trendRows === 4 && v.shadedBands === 1,
    'the page opened before the band was known did not draw its trend (4 rows) with the band shaded on the spectrum');
  if (!/\b4 of 4 files saved · 1 background\b/.test(end.stateLine))
    fail(`at the demo's end the state line reads "${end.stateLine}", not "4 of 4 files saved · 1 background …" as the terminal counts`);
  if (end.fileCount !== '(5: 1 background, 4 samples)' || end.backgroundsListed.join() !== '1')
    fail(`the file list counts "${end.fileCount}" and marks [${end.backgroundsListed}] as the background, not "(5: 1 background, 4 samples)" and [1]`);
  for (const problem of page.problems) fail(`the page (demo): ${problem}`);
  await closeLiveView(child, 0, 'after the demo');
  await page.context().close();
}

// ---- the stand-in host: bands told late, rows before them, and slips --------------------------------
async function standInHost() {
  const mock = start(process.execPath, [path.join(path.dirname(new URL(import.meta.url).pathname), 'mock_server.mjs'),
    '--port', '0', '--files', '5', '--seconds', '0.4', '--track-late', '--slips', '--wait-for-page']);
  const url = (await lineOf(mock, URL_LINE, 'the stand-in host printed no URL')).trim();
  const page = await openPage(url);
  const end = await pageUntil(page, (v) => /\bfinished\b/.test(v.stateLine) && v.trendRows === 5 && v.shadedBands === 2
    && v.remarks.length === 3, 'the page did not draw the bands told late (5 rows, 2 shaded) and the 3 newest remarks');
  if (end.banner) fail(`remarks of slips stand in the error banner: "${end.banner}"`);
  if (end.qualification) fail('a run that is no qualification shows the qualification panel');
  if (!/file 5 starts 0\.4 s late/.test(end.remarks[0] ?? '')) fail(`the newest remark is not first: ${end.remarks.join(' | ')}`);
  for (const problem of page.problems) fail(`the page (stand-in host): ${problem}`);
  mock.kill('SIGINT');
  await page.context().close();
}

// ---- a qualification: its steps, each test's verdict as it is known, the whole -------------------
async function qualificationRun() {
  const mock = start(process.execPath, [path.join(path.dirname(new URL(import.meta.url).pathname), 'mock_server.mjs'),
    '--port', '0', '--files', '4', '--seconds', '0.4', '--qualify', '--wait-for-page']);
  const url = (await lineOf(mock, URL_LINE, 'the stand-in host printed no URL')).trim();
  const page = await openPage(url);
  const end = await pageUntil(page, (v) => /\bfinished\b/.test(v.stateLine) && v.qualification?.tests.length === 5
    && v.qualification.report, 'the qualification panel did not show five verdicts, the whole and the report at the end');
  // Followed from the start: every step, then the verdicts one by one before the whole.
  const shown = page.shown.qualification;
  const saw = (text) => shown.some((s) => s.startsWith(text));
  for (const step of ['background 1 of 2 (the film out of the beam) | 0 | ', 'background 2 of 2', 'sample 2 of 2 (the film in the beam)',
    ...[1, 2, 3, 4, 5].map((n) => `computing the tests | ${n} | `)]) {
    if (!saw(step)) fail(`the qualification panel never showed "${step}…" as the run went (it showed: ${shown.join(' / ')})`);
  }
  if (!shown.at(-1).endsWith('| 5 | fail')) fail(`the panel's last word is "${shown.at(-1)}", not five verdicts and a fail`);

  // What a user must read at the end, and a page opened after it must show the same.
  const check = (v, who) => {
    const q = v.qualification;
    if (!q) return fail(`${who}: no qualification panel`);
    const results = q.tests.map((t) => `${t.name}: ${t.result.trim()}`).join(', ');
    if (results !== 'wavenumber accuracy: ✓ pass, resolution: ✓ pass, 100% line: ✓ pass, energy: ✗ fail, repeatability: ✓ pass')
      fail(`${who}: the tests read "${results}"`);
    // Pass and fail in words and in colour, not colour alone.
    const energy = q.tests.find((t) => t.name === 'energy');
    if (!energy || energy.colour === q.tests[0].colour) fail(`${who}: a failed test has the colour of a passed one`);
    if (!/58 % of the reference/.test(energy?.detail ?? '')) fail(`${who}: the failed test's detail reads "${energy?.detail}"`);
    if (q.verdict !== 'Failed: 1 of 5 tests failed') fail(`${who}: the whole verdict reads "${q.verdict}"`);
    if (!q.report.endsWith('/home/lab/2026-12-07/run/qualification-001/qualification.html'))
      fail(`${who}: the report line reads "${q.report}"`);
    if (q.step) fail(`${who}: the step "${q.step}" is still shown beside the whole verdict`);
  };
  check(end, 'the page opened at the start');
  const late = await openPage(url);
  check(await pageUntil(late, (v) => /\bfinished\b/.test(v.stateLine) && v.qualification?.tests.length === 5 && v.newest === 4,
    'a page opened after the qualification did not show its five verdicts and draw its last file'), 'a page opened after the end');
  await picture(late, 'qualification.png');
  for (const p of [page, late]) for (const problem of p.problems) fail(`the page (qualification): ${problem}`);
  mock.kill('SIGINT');
  await page.context().close();
  await late.context().close();

  // A bench lost after the backgrounds: no verdict, said as such beside the host's error.
  const lost = start(process.execPath, [path.join(path.dirname(new URL(import.meta.url).pathname), 'mock_server.mjs'),
    '--port', '0', '--files', '4', '--seconds', '0.4', '--qualify', '--fail-after', '2', '--wait-for-page']);
  const lostPage = await openPage((await lineOf(lost, URL_LINE, 'the stand-in host printed no URL')).trim());
  const failed = await pageUntil(lostPage, (v) => v.phase === 'failed' && v.qualification?.verdict,
    'a qualification that failed mid-way shows no word on its verdict');
  if (failed.qualification.verdict !== 'No verdict: the qualification did not finish' || !failed.banner
    || !failed.qualification.step.startsWith('background 2 of 2'))
    fail(`a qualification that failed mid-way reads "${failed.qualification.verdict}" at step "${failed.qualification.step}" with the banner "${failed.banner}"`);
  for (const problem of lostPage.problems) fail(`the page (qualification failed): ${problem}`);
  lost.kill('SIGINT');
  await lostPage.context().close();
}

// ---- main ---------------------------------------------------------------------------------------
// Under ctest's TIMEOUT (tests/host/CMakeLists.txt), so that a hung step still ends the programs.
const WATCHDOG_S = 540;
const watchdog = setTimeout(() => {
  fail(`the test took over ${WATCHDOG_S} s: a step hangs (see the lines above); its folder is kept: ${scratch}`);
  stopAll();
  process.exit(1);
}, WATCHDOG_S * 1000);

const began = Date.now();
try {
  browser = await launchChromium(chromium, PATIENCE_MS, [`--host-resolver-rules=MAP ${REBIND_NAME} 127.0.0.1`]);
  for (const [name, scenario] of [['whole run', wholeRun], ['bench killed', benchKilled], ['demo series', demoSeries],
    ['stand-in host', standInHost], ['qualification', qualificationRun]]) {
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
if (failures.length) console.error(`the runs' folder is kept: ${scratch}`);
else fs.rmSync(scratch, { recursive: true, force: true });
console.log(`${failures.length ? 'FAILED' : 'passed'}: live view in Chromium, ${((Date.now() - began) / 1000).toFixed(1)} s`);
process.exit(failures.length ? 1 : 0);
