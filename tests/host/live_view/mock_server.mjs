// A stand-in for the host's live view, for working on the page without a bench: serves the page at
// the host's routes and plays a made-up run on the event stream.
//
//   node tests/host/live_view/mock_server.mjs [--port 8765] [--files 4] [--seconds 4]
//        [--fail-after K] [--no-spectrum K] [--unreadable K] [--end-stream] [--bench PIDFILE]
//        [--track] [--bad-trend] [--track-late] [--slips] [--qualify] [--wait-for-page]
//
// --fail-after K: the run fails once file K is in (the error banner); --no-spectrum K: file K has no
// spectrum; --unreadable K: file K cannot be read back; --end-stream: the event streams are closed once the run is over (the host has gone);
// --bench PIDFILE: the run fails, as the host's does, when the process whose id is in PIDFILE ends.
// --track: two bands tracked, a row each file; --bad-trend: the same with a band and rows of the
// wrong types among them, which the page must pass over; --track-late: the same bands told only once
// file 1 is in (a "trend" event, as the demo's host learns them after its background); --slips: from
// file 2 on each file starts late, a remark on the state (no error); --wait-for-page: the run starts
// when the first page has connected, so that page has seen it all (the browser test's stand-in host).
// --qualify: the run is a qualification, its first two files the backgrounds, the rest the samples,
// each a step; then the five tests' verdicts one by one (energy fails), the whole and its report.
// Like the host it prints the URL, a line when the run is over, and ends on Ctrl-C.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const web = path.resolve(here, '../../../host/live/web');
const assets = {
  'index.html': [path.join(web, 'index.html'), 'text/html'],
  'live.js': [path.join(web, 'live.js'), 'text/javascript'],
  'live.css': [path.join(web, 'live.css'), 'text/css'],
  'favicon.svg': [path.join(web, 'favicon.svg'), 'image/svg+xml'],
  'uPlot.iife.min.js': [path.join(web, 'node_modules/uplot/dist/uPlot.iife.min.js'), 'text/javascript'],
  'uPlot.min.css': [path.join(web, 'node_modules/uplot/dist/uPlot.min.css'), 'text/css'],
};

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const i = args.indexOf(name);
  return i >= 0 ? args[i + 1] : fallback;
};
const port = Number(option('--port', 8765));
const total = Number(option('--files', 4));
const secondsPerFile = Number(option('--seconds', 4));
const failAfter = Number(option('--fail-after', 0));
const noSpectrum = Number(option('--no-spectrum', 0));
const unreadable = Number(option('--unreadable', 0));
const endStream = args.includes('--end-stream');
const benchPidFile = option('--bench', '');
const badTrend = args.includes('--bad-trend');
const trackLate = args.includes('--track-late');
const tracked = badTrend || trackLate || args.includes('--track');
const slips = args.includes('--slips');
const waitForPage = args.includes('--wait-for-page');
const qualify = args.includes('--qualify');

const began = Date.now();
let endedAt = 0;
const state = {
  mode: 'acquire', bench: 'FT-IR bench (family 1, model 2)', files: total, done: 0, scans: 2,
  phase: 'starting', file: null, elapsed: 0, fileSeconds: secondsPerFile, remaining: total * secondsPerFile,
  error: '', remarks: [], folder: '/home/lab/2026-12-07/run', spectrum: 'single beam', background: '', backgrounds: [],
};
const saved = [];
const streams = new Set();
const trend = { kind: state.spectrum, bands: [], rows: [] };
const bands = [{ name: 'CO2', low: 2250, high: 2450 }, { name: 'H2O', low: 1500, high: 1700 }];
if (tracked && !trackLate) trend.bands.push(...bands);
if (badTrend) trend.bands.push({ name: '<b>3</b>', low: 'x', high: null });

function stateJson() {
  const ended = ['finished', 'failed', 'stopped'].includes(state.phase);
  if (ended && !endedAt) endedAt = Date.now();
  const elapsed = ((ended ? endedAt : Date.now()) - began) / 1000;
  return JSON.stringify({ ...state, elapsed, remaining: ended ? null : Math.max(0, total * secondsPerFile - elapsed) });
}
const qualification = qualify ? { step: '', tests: [], verdict: null, report: null } : null;
const runJson = () => `{"state":${stateJson()},"files":${JSON.stringify(saved)},"trend":${JSON.stringify(trend)},` +
  `"qualification":${JSON.stringify(qualification)}}`;
function publish(event, json) {
  for (const res of streams) res.write(`event: ${event}\ndata: ${json}\n\n`);
}

// A made-up instrument: a warm source's single beam with a few absorption bands, and its interferogram.
function fileData(k) {
  if (k === unreadable) {
    return JSON.stringify({ number: k, name: `run-${String(k).padStart(3, '0')}`, points: 0, interferogram: null, zoom: null,
      spectrum: null, spectrumError: `cannot read run-${String(k).padStart(3, '0')}.csv: line 12 is not a number` });
  }
  const n = 4096;
  const centre = 2048 + 3 * k;
  const bands = [[2350, 40, 0.6], [1600, 60, 0.35], [3700, 120, 0.3], [1050, 30, 0.25 + 0.05 * k]];
  const source = (w) => (w / 2200) ** 2 * Math.exp(-(((w - 2200) / 1800) ** 2)) *
    bands.reduce((t, [c, width, depth]) => t * (1 - depth * Math.exp(-(((w - c) / width) ** 2))), 1);
  const sx = [], sy = [];
  for (let i = 0; i < 2048; i++) {
    const w = 7900 - (i * 7500) / 2047;
    sx.push(Math.round(w * 100) / 100);
    sy.push(Math.round(source(w) * (1 + 0.004 * Math.sin(i * 1.7 + k)) * 1e5) / 1e5);
  }
  const iy = new Array(n).fill(0);
  for (let j = 0; j < 400; j++) {
    const w = 400 + j * 19 + 9 * Math.sin(j * 2.3);
    const a = source(w) * 0.02;
    for (let i = 0; i < n; i++) iy[i] += a * Math.cos((2 * Math.PI * w * (i - centre)) / 15800);
  }
  const ix = iy.map((_, i) => i);
  const y = iy.map((v, i) => Math.round((v + 0.0004 * Math.sin(i * 12.9898 + k)) * 1e6) / 1e6);
  const zx = ix.slice(centre - 256, centre + 257);
  const zy = y.slice(centre - 256, centre + 257);
  const spectrum = k === noSpectrum ? null : { kind: state.spectrum, x: sx, y: sy };
  return JSON.stringify({
    number: k, name: `run-${String(k).padStart(3, '0')}`, points: n,
    interferogram: { x: ix, y }, zoom: { x: zx, y: zy }, spectrum,
    spectrumError: spectrum ? '' : 'the interferogram has no centre burst to phase on',
  });
}

function failRun(line) {
  state.phase = 'failed';
  state.file = null;
  state.error = line;
  publish('state', stateJson());
  console.error(line);
  console.log('the live view stays open until Ctrl-C');
}

// What the qualification's tests decide, one by one once every file is in.
const VERDICTS = [
  ['wavenumber accuracy', true, '7 of 7 bands within tolerance'],
  ['resolution', true, '2870/2849.5: 21.3 %T (above 18); 1589/1583: 13.8 %T (above 12)'],
  ['100% line', true, 'noise 0.021 %T RMS in 2000–2200 cm⁻¹ (limit 0.1)'],
  ['energy', false, 'the single beam at 1000 cm⁻¹ is 58 % of the reference (at least 70 %)'],
  ['repeatability', true, 'band positions within 0.03 cm⁻¹ (SD) over 2 samples'],
];

function qualifying(text) {
  qualification.step = text;
  publish('qualification', JSON.stringify(qualification));
}

function decide(i) {
  if (i < VERDICTS.length) {
    const [name, passed, detail] = VERDICTS[i];
    qualification.tests.push({ name, passed, detail });
    publish('qualification', JSON.stringify(qualification));
    setTimeout(() => decide(i + 1), secondsPerFile * 250);
    return;
  }
  qualification.verdict = qualification.tests.every((t) => t.passed) ? 'pass' : 'fail';
  qualification.report = `${state.folder}/qualification-001/qualification.html`;
  publish('qualification', JSON.stringify(qualification));
  step(total + 1);
}

function step(k) {
  if (state.phase === 'failed') return;
  if (qualify && k <= total) {
    qualifying(k <= 2 ? `background ${k} of 2 (the film out of the beam)` : `sample ${k - 2} of ${total - 2} (the film in the beam)`);
  }
  if (qualify && k === total + 1 && !qualification.tests.length) {
    qualifying('computing the tests');
    return setTimeout(() => decide(0), secondsPerFile * 250);
  }
  if (k > total) {
    console.log('all files saved; the live view stays open until Ctrl-C');
    state.phase = 'finished';
    state.file = null;
    publish('state', stateJson());
    if (endStream) setTimeout(() => { server.close(); server.closeAllConnections(); }, 1500);
    return;
  }
  state.phase = 'scanning';
  state.file = k;
  if (slips && k > 1) {
    const text = `the schedule slipped: file ${k} starts 0.4 s late (--every ${secondsPerFile / 2} s is shorter than file ${k - 1} took)`;
    state.remarks = [...state.remarks, { seconds: (Date.now() - began) / 1000, text }].slice(-3);
    console.log(`mock: ${text}`);
  }
  publish('state', stateJson());
  setTimeout(() => {
    state.phase = 'transferring';
    publish('state', stateJson());
    setTimeout(() => {
      const name = `run-${String(k).padStart(3, '0')}`;
      const time = new Date().toISOString().replace('T', ' ').replace(/\.\d+Z$/, ' UTC');
      const file = { number: k, name, time, saved: [`${name}.csv`, `${name}.jdx`, `${name}.png`] };
      saved.push(file);
      state.done = k;
      publish('file', JSON.stringify(file));
      if (tracked) {
        // The made-up bands fill as a gas cell does.
        const seconds = (k - 1) * secondsPerFile;
        const fill = 1 - Math.exp(-seconds / (2 * secondsPerFile));
        const row = { number: k, name, seconds, area: [30 * fill, 12 - 4 * fill], height: [0.4 * fill, 0.2], position: [2349.1, 1595.4] };
        if (badTrend) row.area.push('7');
        trend.rows.push(row);
        publish('row', JSON.stringify(row));
        if (badTrend) {
          for (const bad of [{ number: '9', seconds: 1, area: [1] }, { number: 9, seconds: 'soon', area: [1] }, { number: 0, seconds: 1 },
            { number: 9.5, seconds: 1 }, { number: 'x', seconds: 1, area: 'many' }, [], 'row', null]) {
            publish('row', JSON.stringify(bad));
          }
        }
      }
      if (trackLate && k === 1) {
        trend.bands.push(...bands);
        publish('trend', JSON.stringify(trend));
      }
      if (k === failAfter) return failRun('the bench does not answer (COM49): check its cable and power, then run again');
      step(k + 1);
    }, secondsPerFile * 250);
  }, secondsPerFile * 750);
}

const server = http.createServer((req, res) => {
  const url = new URL(req.url, 'http://localhost');
  const headers = { 'Content-Security-Policy': "default-src 'self'; style-src 'self' 'unsafe-inline'", 'Cache-Control': 'no-store' };
  const send = (status, type, body) => { res.writeHead(status, { ...headers, 'Content-Type': type }); res.end(body); };
  const asset = url.pathname === '/' ? 'index.html' : url.pathname.startsWith('/assets/') ? url.pathname.slice(8) : null;
  if (asset !== null) {
    if (!assets[asset]) return send(404, 'text/plain', 'not found');
    return send(200, `${assets[asset][1]}; charset=utf-8`, fs.readFileSync(assets[asset][0]));
  }
  if (url.pathname === '/events') {
    res.writeHead(200, { ...headers, 'Content-Type': 'text/event-stream' });
    res.write(`retry: 2000\n\nevent: run\ndata: ${runJson()}\n\n`);
    streams.add(res);
    req.on('close', () => streams.delete(res));
    if (waitForPage && state.phase === 'starting' && !started) {
      started = true;
      step(1);
    }
    return;
  }
  if (url.pathname === '/run.json') return send(200, 'application/json', runJson());
  const m = /^\/files\/(\d+)\.json$/.exec(url.pathname);
  if (m && saved.some((f) => f.number === Number(m[1]))) return send(200, 'application/json', fileData(Number(m[1])));
  send(404, 'text/plain', 'not found');
});
let started = false;
server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/`);
  if (!waitForPage) {
    started = true;
    setTimeout(() => step(1), 500);
  }
});
process.on('SIGINT', () => process.exit(0));
if (benchPidFile) {
  const pid = Number(fs.readFileSync(benchPidFile, 'utf8'));
  const watch = setInterval(() => {
    try {
      process.kill(pid, 0);
    } catch {
      clearInterval(watch);
      setTimeout(() => failRun('acquisition stopped: the bench stopped answering (timeout after 5 s)'), 2000);
    }
  }, 300);
}
