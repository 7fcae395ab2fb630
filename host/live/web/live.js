// The live view's page: follows the host's event stream (/events), shows the run's state and files,
// and draws the newest file's interferogram, centre burst and spectrum with uPlot, with the files
// the user ticks drawn under it, the tracked bands' areas over time when the run tracks bands, and
// a qualification's step, its tests' verdicts and the whole verdict when the run is one.
// Every text that comes from the host is set as text, never as HTML.
'use strict';

(function () {
  const MAX_DRAWN = 8;  // files on a chart at once, the newest included
  const ENDED = new Set(['finished', 'failed', 'stopped']);
  const NEWEST_COLOUR = '#0b4f9c';
  const EARLIER_COLOURS = ['#c7895d', '#6f9f8a', '#a48abf', '#b8a35a', '#7d9bbf', '#c27c94', '#8a8f96'];
  // A tracked band's colour: its curve on the trend and its range shaded on the spectrum.
  const BAND_COLOURS = ['#d9822b', '#2e8b57', '#8a4fb0', '#c0392b', '#1f8a9e', '#8c6d1f'];
  const AXIS = {
    stroke: '#4a5260',
    grid: { stroke: '#e7e9ed', width: 1 },
    ticks: { stroke: '#c9cdd3', width: 1, size: 4 },
    font: '12px system-ui, -apple-system, "Segoe UI", Roboto, sans-serif',
    labelFont: '600 12px system-ui, -apple-system, "Segoe UI", Roboto, sans-serif',
  };

  const $ = (id) => document.getElementById(id);

  // ---- what the page knows --------------------------------------------------------------------
  let state = null;           // the host's last state
  let stateAt = 0;            // performance.now() when it arrived
  const files = new Map();    // number -> file entry (name, time, saved)
  const ticked = new Set();   // earlier files the user wants drawn
  const cache = new Map();    // number -> {key, promise}: /files/N.json, fetched once
  let drawGeneration = 0;
  let retryTimer = 0;
  let source = null;
  let reopenTimer = 0;
  // The bands the run tracks ({name, low, high}; low and high null when unusable, so the band is
  // drawn but not shaded) and their measures by file number ({number, name, seconds, area: [a band's
  // area or null, ...]}). A band's place in the list is its place in each row's arrays. The host
  // tells the bands when it knows them: in the run at connection, or later in a "trend" event.
  const trend = { kind: '', bands: [], rows: new Map() };
  // A qualification's course ({step, tests: [{name, passed, detail}], verdict: 'pass' | 'fail' |
  // null, report}), or null for a run that is none. Told whole, in the run and each "qualification" event.
  let qualification = null;

  // ---- small helpers --------------------------------------------------------------------------
  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function clock(seconds) {
    const s = Math.max(0, Math.round(seconds));
    const h = Math.floor(s / 3600);
    const m = Math.floor((s % 3600) / 60);
    const ss = String(s % 60).padStart(2, '0');
    return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${ss}` : `${m}:${ss}`;
  }

  function isNumber(v) {
    return typeof v === 'number' && Number.isFinite(v);
  }

  function newestNumber() {
    let newest = 0;
    for (const n of files.keys()) newest = Math.max(newest, n);
    return newest;
  }

  function fileKey(entry) {
    return `${entry.name}\u0000${entry.time}`;
  }

  // The numbers of the run's files that are its background (the demo takes its own first): counted
  // apart from the others, as the terminal counts an acquisition's own files.
  function backgroundNumbers() {
    const list = state && Array.isArray(state.backgrounds) ? state.backgrounds : [];
    return new Set(list.filter((n) => Number.isInteger(n) && n > 0));
  }

  const plural = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;

  // ---- header -----------------------------------------------------------------------------------
  function renderState() {
    const line = $('state-line');
    if (!state) return;
    const bench = typeof state.bench === 'string' && state.bench ? state.bench : 'dorvane live view';
    $('bench').textContent = bench;
    document.title = `${bench} · dorvane`;

    const parts = [];
    const phase = typeof state.phase === 'string' ? state.phase : '';
    // The host counts the run's background among its files; the page counts the others, as the
    // terminal does, and the background apart.
    const backgrounds = backgroundNumbers();
    const apart = backgrounds.size;
    const total = isNumber(state.files) && state.files > apart ? state.files - apart : 0;
    const done = isNumber(state.done) ? Math.max(0, state.done - apart) : 0;
    if (state.mode === 'view') {
      parts.push(plural(files.size - [...backgrounds].filter((n) => files.has(n)).length, 'file'));
    } else if (ENDED.has(phase)) {
      parts.push(total > 0 ? `${done} of ${plural(total, 'file')} saved` : `${plural(done, 'file')} saved`);
    } else if (isNumber(state.file) || done > 0) {
      const current = isNumber(state.file) ? state.file - [...backgrounds].filter((n) => n < state.file).length : done;
      parts.push(total > 0 ? `file ${current} of ${total}` : `file ${current}`);
    } else {
      parts.push(total > 0 ? `${plural(total, 'file')} to take` : 'files until stopped');
    }
    if (apart) parts.push(plural(apart, 'background'));
    if (isNumber(state.scans) && state.scans > 0) parts.push(`${plural(state.scans, 'scan')} a file`);

    const dt = (performance.now() - stateAt) / 1000;
    const running = !ENDED.has(phase) && phase !== 'viewing';
    const times = [];
    if (isNumber(state.elapsed)) times.push(`${clock(state.elapsed + (running ? dt : 0))} elapsed`);
    if (running && isNumber(state.remaining)) times.push(`about ${clock(state.remaining - dt)} left`);

    line.replaceChildren();
    line.append(document.createTextNode(parts.join(' · ')));
    if (phase) {
      line.append(document.createTextNode(' · '));
      const badge = el('span', 'phase', phase);
      badge.dataset.phase = phase;
      line.append(badge);
    }
    if (times.length) line.append(document.createTextNode(' · ' + times.join(' · ')));

    const folder = $('folder-line');
    if (typeof state.folder === 'string' && state.folder) {
      folder.replaceChildren(el('span', 'muted', state.mode === 'view' ? 'Folder ' : 'Saving to '), el('span', 'path', state.folder));
      folder.hidden = false;
    } else {
      folder.hidden = true;
    }

    const banner = $('error-banner');
    const error = typeof state.error === 'string' ? state.error : '';
    banner.textContent = error;
    banner.hidden = error === '';
    renderRemarks();

    const title = $('spectrum-title');
    let spectrumTitle = 'Spectrum';
    if (typeof state.spectrum === 'string' && state.spectrum) spectrumTitle += ` · ${state.spectrum}`;
    if (typeof state.background === 'string' && state.background) spectrumTitle += ` (background ${state.background})`;
    title.textContent = spectrumTitle;
    renderQualification();
  }

  // The host's newest remarks on the run's course (a timed series' slip): no problem, so quiet and
  // only the latest few, newest first, each with the run's time it was said at.
  function renderRemarks() {
    const area = $('remarks');
    const remarks = (Array.isArray(state.remarks) ? state.remarks : [])
      .filter((r) => r && typeof r === 'object' && typeof r.text === 'string' && r.text)
      .reverse();
    area.replaceChildren(...remarks.map((r) => {
      const line = el('li', 'remark');
      line.append(el('span', 'remark-time', isNumber(r.seconds) ? clock(r.seconds) : ''), el('span', '', r.text));
      return line;
    }));
    area.dataset.remarks = String(remarks.length);
    area.hidden = remarks.length === 0;
  }

  function setConnection(status, text) {
    const node = $('connection');
    node.dataset.status = status;
    node.textContent = text;
  }

  // ---- file list ------------------------------------------------------------------------------
  function renderFiles() {
    const list = $('file-list');
    const newest = newestNumber();
    for (const n of [...ticked]) if (!files.has(n) || n === newest) ticked.delete(n);
    const full = ticked.size + 1 >= MAX_DRAWN;
    const numbers = [...files.keys()].sort((a, b) => b - a);

    const backgrounds = backgroundNumbers();
    list.replaceChildren();
    for (const n of numbers) {
      const entry = files.get(n);
      const li = el('li', 'file');
      li.dataset.number = String(n);
      const label = el('label', 'file-label');
      const box = document.createElement('input');
      box.type = 'checkbox';
      if (n === newest) {
        box.checked = true;
        box.disabled = true;
        box.title = 'The newest file is always drawn';
        li.classList.add('newest');
      } else {
        box.checked = ticked.has(n);
        box.disabled = !box.checked && full;
        box.title = box.disabled ? `At most ${MAX_DRAWN} files are drawn at once` : 'Draw this file under the newest';
        box.addEventListener('change', () => {
          if (box.checked) ticked.add(n); else ticked.delete(n);
          renderFiles();
          draw();
        });
      }
      const swatch = el('span', 'swatch');
      const colour = colourOf(n, newest);
      if (colour) swatch.style.background = colour;
      label.append(box, swatch, el('span', 'file-name', typeof entry.name === 'string' ? entry.name : `file ${n}`));
      if (n === newest) label.append(el('span', 'tag', 'newest'));
      if (backgrounds.has(n)) {
        li.dataset.background = 'true';
        label.append(el('span', 'tag', 'background'));
      }
      li.append(label);
      li.append(el('div', 'file-time', typeof entry.time === 'string' ? entry.time : ''));
      const saved = Array.isArray(entry.saved) ? entry.saved.filter((s) => typeof s === 'string') : [];
      if (saved.length) li.append(el('div', 'file-saved', saved.join('  ')));
      list.append(li);
    }
    const apart = numbers.filter((n) => backgrounds.has(n)).length;
    $('file-count').textContent = !files.size ? '' : apart
      ? `(${files.size}: ${plural(apart, 'background')}, ${plural(files.size - apart, 'sample')})`
      : `(${files.size})`;
    $('hide-earlier').disabled = ticked.size === 0;
    $('overlay-note').textContent = full
      ? `At most ${MAX_DRAWN} files are drawn at once: untick one to draw another.`
      : 'Tick an earlier file to draw it under the newest.';
  }

  // Earlier files keep the colour of their place among the ticked ones, in file order.
  function colourOf(n, newest) {
    if (n === newest) return NEWEST_COLOUR;
    if (!ticked.has(n)) return '';
    const order = [...ticked].sort((a, b) => a - b);
    return EARLIER_COLOURS[order.indexOf(n) % EARLIER_COLOURS.length];
  }

  // ---- file data --------------------------------------------------------------------------------
  function fileData(n) {
    const entry = files.get(n);
    const key = entry ? fileKey(entry) : '';
    const hit = cache.get(n);
    if (hit && hit.key === key) return hit.promise;
    const promise = fetch(`/files/${n}.json`, { cache: 'no-store' })
      .then((response) => {
        if (!response.ok) throw new Error(`the host answered ${response.status} for file ${n}`);
        return response.json();
      })
      .catch((error) => {
        cache.delete(n);  // asked again at the next draw
        throw error;
      });
    cache.set(n, { key, promise });
    return promise;
  }

  // ---- charts -----------------------------------------------------------------------------------
  const charts = {
    'chart-interferogram': { plot: null, xLabel: 'point', yLabel: 'V', reversed: false },
    'chart-zoom': { plot: null, xLabel: 'point', yLabel: 'V', reversed: false },
    'chart-spectrum': { plot: null, xLabel: 'wavenumber (cm⁻¹)', yLabel: 'single beam', reversed: true },
  };

  // [x, y] as numbers with x rising (uPlot needs it), or null when unusable.
  function curve(part) {
    if (!part || !Array.isArray(part.x) || !Array.isArray(part.y)) return null;
    const count = Math.min(part.x.length, part.y.length);
    if (count < 2) return null;
    let x = part.x.slice(0, count).map(Number);
    let y = part.y.slice(0, count).map((v) => (v === null ? null : Number(v)));
    if (x[0] > x[count - 1]) {
      x = x.reverse();
      y = y.reverse();
    }
    return [x, y];
  }

  function sameX(a, b) {
    if (a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  // One table for uPlot: the curves share the first's x when they can, else they are joined on x.
  function table(curves) {
    if (curves.every((c) => sameX(c[0], curves[0][0]))) return [curves[0][0], ...curves.map((c) => c[1])];
    return uPlot.join(curves);
  }

  function axisSize(self, values, axisIdx, cycleNum) {
    const axis = self.axes[axisIdx];
    if (cycleNum > 1) return axis._size;  // settle after the second pass
    let longest = 0;
    if (values) for (const v of values) longest = Math.max(longest, String(v).length);
    return Math.ceil(longest * 7 + 28);
  }

  function plotSize(container) {
    return { width: Math.max(200, container.clientWidth), height: Math.max(140, container.clientHeight) };
  }

  // Draws `layers` ([{number, name, colour, newest, curve}], earliest first) on chart `id`.
  function drawChart(id, layers, yLabel) {
    const chart = charts[id];
    const container = $(id);
    if (chart.plot) {
      chart.plot.destroy();
      chart.plot = null;
    }
    container.dataset.drawnFiles = String(layers.length);
    renderLegend(id, layers);
    if (!layers.length) return;

    const hooks = { setCursor: [(u) => showReadout(id, u, layers)] };
    if (id === 'chart-spectrum') {
      container.dataset.shadedBands = '0';
      hooks.drawClear = [shadeBands];
    }
    const opts = {
      ...plotSize(container),
      legend: { show: false },
      cursor: { drag: { x: true, y: false }, points: { size: 6 } },
      scales: { x: { time: false, dir: chart.reversed ? -1 : 1 } },
      axes: [
        { ...AXIS, label: chart.xLabel, labelSize: 18, size: 30 },
        { ...AXIS, label: yLabel, labelSize: 20, size: axisSize },
      ],
      series: [{ label: chart.xLabel }].concat(layers.map((layer) => ({
        label: layer.name,
        stroke: layer.colour,
        width: layer.newest ? 1.5 : 1,
        spanGaps: true,
        points: { show: false },
      }))),
      hooks,
    };
    chart.plot = new uPlot(opts, table(layers.map((layer) => layer.curve)), container);
  }

  // Newest first, as in the list.
  function renderLegend(id, layers) {
    renderLegendItems(id, [...layers].reverse());
  }

  function renderLegendItems(id, items) {
    const legend = document.querySelector(`.legend[data-for="${id}"]`);
    legend.replaceChildren();
    for (const item of items) {
      const node = el('span', item.newest ? 'legend-item newest' : 'legend-item');
      const swatch = el('span', 'swatch');
      swatch.style.background = item.colour;
      node.append(swatch, el('span', '', item.name));
      legend.append(node);
    }
  }

  function showReadout(id, u, layers) {
    const readout = document.querySelector(`.readout[data-for="${id}"]`);
    const i = u.cursor.idx;
    if (i === null || i === undefined || !layers.length) {
      readout.textContent = '';
      return;
    }
    const x = u.data[0][i];
    const y = u.data[layers.length][i];  // the newest is the last series
    if (!isNumber(x) || !isNumber(y)) {
      readout.textContent = '';
      return;
    }
    const xText = id === 'chart-spectrum' ? `${x.toFixed(1)} cm⁻¹` : `point ${x}`;
    readout.textContent = `${xText}   ${y.toPrecision(5)}`;
  }

  function spectrumLabel(kind) {
    return typeof kind === 'string' && kind ? kind : 'spectrum';
  }

  // Fetches what is drawn (the newest and the ticked files) and draws it, unless something newer
  // has asked for a draw meanwhile.
  async function draw() {
    const generation = ++drawGeneration;
    clearTimeout(retryTimer);
    const newest = newestNumber();
    if (!newest) {
      for (const id of Object.keys(charts)) drawChart(id, [], '');
      for (const panel of ['interferogram', 'zoom', 'spectrum']) $(`${panel}-message`).hidden = true;
      delete document.body.dataset.newest;
      return;
    }
    const numbers = [...ticked].filter((n) => files.has(n) && n !== newest).sort((a, b) => a - b);
    numbers.push(newest);
    const results = await Promise.all(numbers.map((n) => fileData(n).then((data) => ({ n, data }), (error) => ({ n, error }))));
    if (generation !== drawGeneration) return;

    const layers = { 'chart-interferogram': [], 'chart-zoom': [], 'chart-spectrum': [] };
    const messages = { interferogram: '', zoom: '', spectrum: '' };
    let kind = '';
    for (const { n, data, error } of results) {
      const entry = files.get(n);
      const name = entry && typeof entry.name === 'string' ? entry.name : `file ${n}`;
      const isNewest = n === newest;
      const colour = colourOf(n, newest);
      if (error || !data || typeof data !== 'object') {
        if (isNewest) messages.interferogram = `${name} could not be fetched: ${error ? error.message : 'no data'}. Trying again…`;
        continue;
      }
      const add = (id, part) => {
        const c = curve(part);
        if (c) layers[id].push({ number: n, name, colour, newest: isNewest, curve: c });
        return c !== null;
      };
      const why = typeof data.spectrumError === 'string' ? data.spectrumError : '';
      const hasInterferogram = add('chart-interferogram', data.interferogram);
      const hasZoom = add('chart-zoom', data.zoom);
      const hasSpectrum = add('chart-spectrum', data.spectrum);
      if (hasSpectrum && (isNewest || !kind)) kind = data.spectrum.kind;
      if (!isNewest) continue;
      if (!hasInterferogram) messages.interferogram = `${name} could not be read${why ? `: ${why}` : ''}`;
      else if (!hasZoom) messages.zoom = `No centre burst found in ${name}`;
      if (hasInterferogram && !hasSpectrum) messages.spectrum = `No spectrum for ${name}: ${why || 'none was made'}`;
    }
    drawChart('chart-interferogram', layers['chart-interferogram'], 'V');
    drawChart('chart-zoom', layers['chart-zoom'], 'V');
    drawChart('chart-spectrum', layers['chart-spectrum'], spectrumLabel(kind));
    for (const [panel, text] of Object.entries(messages)) {
      const note = $(`${panel}-message`);
      note.textContent = text;
      note.hidden = text === '';
    }
    if (results.some((r) => r.n === newest && !r.error)) document.body.dataset.newest = String(newest);
    else retryTimer = setTimeout(draw, 3000);  // the newest could not be read: ask again
  }

  // ---- tracked bands ------------------------------------------------------------------------------
  const trendChart = { plot: null, shape: '', rows: [] };

  function bandColour(i) {
    return BAND_COLOURS[i % BAND_COLOURS.length];
  }

  function takeTrend(value) {
    const ok = value && typeof value === 'object';
    trend.kind = ok && typeof value.kind === 'string' ? value.kind : '';
    trend.bands = (ok && Array.isArray(value.bands) ? value.bands : []).map((band, i) => {
      const fields = band && typeof band === 'object' ? band : {};
      const shaded = isNumber(fields.low) && isNumber(fields.high) && fields.low < fields.high;
      return {
        name: typeof fields.name === 'string' && fields.name ? fields.name : `band ${i + 1}`,
        low: shaded ? fields.low : null,
        high: shaded ? fields.high : null,
      };
    });
    trend.rows.clear();
    if (ok && Array.isArray(value.rows)) for (const row of value.rows) takeRow(row);
  }

  // A row for a file already measured replaces its row. False for a row without a file number or a
  // time to place it at. Its areas are kept whole: a band's place in them is read as it is drawn,
  // so a row that comes before its bands are known is drawn once they are.
  function takeRow(row) {
    if (!row || typeof row !== 'object' || !Number.isInteger(row.number) || row.number < 1 || !isNumber(row.seconds)) return false;
    const areas = Array.isArray(row.area) ? row.area : [];
    trend.rows.set(row.number, {
      number: row.number,
      name: typeof row.name === 'string' ? row.name : `file ${row.number}`,
      seconds: row.seconds,
      area: areas.map((v) => (isNumber(v) ? v : null)),
    });
    return true;
  }

  // Band i's area in `row`, or null.
  function areaOf(row, i) {
    return i < row.area.length ? row.area[i] : null;
  }

  // The tracked bands' ranges on the spectrum, under its curves, each named at the top.
  function shadeBands(u) {
    const { ctx, bbox } = u;
    const ratio = window.devicePixelRatio || 1;
    let shaded = 0;
    ctx.save();
    ctx.beginPath();
    ctx.rect(bbox.left, bbox.top, bbox.width, bbox.height);
    ctx.clip();
    ctx.font = `600 ${Math.round(11 * ratio)}px system-ui, -apple-system, "Segoe UI", Roboto, sans-serif`;
    ctx.textAlign = 'center';
    ctx.textBaseline = 'top';
    trend.bands.forEach((band, i) => {
      if (band.low === null) return;
      const a = u.valToPos(band.low, 'x', true);
      const b = u.valToPos(band.high, 'x', true);
      const left = Math.max(bbox.left, Math.min(a, b));
      const right = Math.min(bbox.left + bbox.width, Math.max(a, b));
      if (right <= left) return;  // zoomed away
      shaded++;
      ctx.fillStyle = bandColour(i);
      ctx.globalAlpha = 0.13;
      ctx.fillRect(left, bbox.top, Math.max(ratio, right - left), bbox.height);
      ctx.globalAlpha = 1;
      ctx.fillText(band.name, (left + right) / 2, bbox.top + 3 * ratio);
    });
    ctx.restore();
    $('chart-spectrum').dataset.shadedBands = String(shaded);
  }

  function trendReadout(u) {
    const readout = document.querySelector('.readout[data-for="chart-trend"]');
    const row = trendChart.rows[u.cursor.idx ?? -1];
    if (!row) {
      readout.textContent = '';
      return;
    }
    const areas = trend.bands.map((band, i) => `${band.name} ${areaOf(row, i) === null ? '–' : areaOf(row, i).toPrecision(5)}`);
    readout.textContent = `${row.name}   ${row.seconds.toFixed(1)} s   ${areas.join('   ')}`;
  }

  // Each band's area against the seconds since the run's first file; shown only when the run tracks bands.
  function drawTrend() {
    const container = $('chart-trend');
    const tracked = trend.bands.length > 0;
    $('trend-panel').hidden = !tracked;
    document.querySelector('.charts').classList.toggle('tracking', tracked);
    $('trend-title').textContent = trend.kind ? `Tracked bands · area in ${trend.kind}` : 'Tracked bands · area';
    renderLegendItems('chart-trend', trend.bands.map((band, i) => ({
      name: band.low === null ? band.name : `${band.name} ${band.low}–${band.high} cm⁻¹`,
      colour: bandColour(i),
      newest: false,
    })));
    const rows = [...trend.rows.values()].sort((a, b) => a.seconds - b.seconds || a.number - b.number);
    const message = $('trend-message');
    message.textContent = tracked && !rows.length ? 'No file measured yet' : '';
    message.hidden = message.textContent === '';
    trendChart.rows = rows;
    const data = [rows.map((row) => row.seconds), ...trend.bands.map((_, i) => rows.map((row) => areaOf(row, i)))];
    const shape = JSON.stringify([trend.kind, trend.bands]);
    if (trendChart.plot && trendChart.shape === shape && rows.length) {
      trendChart.plot.setData(data);
      return;
    }
    if (trendChart.plot) {
      trendChart.plot.destroy();
      trendChart.plot = null;
    }
    container.dataset.trendRows = '0';
    if (!tracked || !rows.length) return;
    trendChart.shape = shape;
    trendChart.plot = new uPlot({
      ...plotSize(container),
      legend: { show: false },
      cursor: { drag: { x: true, y: false }, points: { size: 7 } },
      scales: { x: { time: false } },
      axes: [
        { ...AXIS, label: 'seconds since the first file', labelSize: 18, size: 30 },
        { ...AXIS, label: trend.kind ? `area (${trend.kind} × cm⁻¹)` : 'area', labelSize: 20, size: axisSize },
      ],
      series: [{ label: 'seconds' }].concat(trend.bands.map((band, i) => ({
        label: band.name,
        stroke: bandColour(i),
        width: 1.5,
        spanGaps: true,
        points: { show: true, size: 5, fill: bandColour(i) },
      }))),
      hooks: {
        setCursor: [trendReadout],
        // Said once drawn, for whoever waits on the chart (the browser test, the latency benchmark).
        draw: [(u) => { container.dataset.trendRows = String(u.data[0].length); }],
      },
    }, data, container);
  }

  // ---- a qualification --------------------------------------------------------------------------
  function takeQualification(value) {
    if (!value || typeof value !== 'object') {
      qualification = null;
      return;
    }
    const text = (v) => (typeof v === 'string' ? v : '');
    qualification = {
      step: text(value.step),
      tests: (Array.isArray(value.tests) ? value.tests : [])
        .filter((t) => t && typeof t === 'object' && typeof t.name === 'string' && t.name && typeof t.passed === 'boolean')
        .map((t) => ({ name: t.name, passed: t.passed, detail: text(t.detail) })),
      verdict: value.verdict === 'pass' || value.verdict === 'fail' ? value.verdict : null,
      report: text(value.report),
    };
  }

  // Sets a node's text only when it changes, so a live region speaks only of what is new.
  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  // The panel, shown only for a qualification. Rows are kept by the test's name and changed in
  // place, so a screen reader hears each new verdict once, not the whole table again.
  function renderQualification() {
    const panel = $('qualification');
    panel.hidden = qualification === null;
    if (!qualification) return;
    setText($('qualification-step'), qualification.step || 'starting');
    // Once decided, the verdict says where the qualification stands.
    $('qualification-step-line').hidden = qualification.verdict !== null;

    const body = $('qualification-tests');
    const rows = new Map([...body.rows].map((row) => [row.dataset.name, row]));
    for (const name of rows.keys()) if (!qualification.tests.some((t) => t.name === name)) rows.get(name).remove();
    for (const test of qualification.tests) {
      let row = rows.get(test.name);
      if (!row) {
        row = body.insertRow();
        row.dataset.name = test.name;
        row.append(el('td', 'test-name', test.name), el('td', 'result'), el('td', 'test-detail'));
      }
      const word = test.passed ? 'pass' : 'fail';
      if (row.dataset.passed !== String(test.passed)) {
        row.dataset.passed = String(test.passed);
        const result = row.cells[1];
        result.dataset.passed = String(test.passed);
        const mark = el('span', '', test.passed ? '✓ ' : '✗ ');
        mark.setAttribute('aria-hidden', 'true');
        result.replaceChildren(mark, document.createTextNode(word));
      }
      setText(row.cells[2], test.detail);
    }
    body.dataset.tests = String(qualification.tests.length);
    $('qualification-waiting').hidden = qualification.tests.length > 0;

    // With no verdict a run that has ended did not finish its qualification: the banner says why.
    const verdict = $('qualification-verdict');
    const failed = qualification.tests.filter((t) => !t.passed).length;
    const total = qualification.tests.length;
    let said = '';
    let kind = '';
    if (qualification.verdict === 'pass') {
      said = `Passed: ${total === 1 ? 'the test' : `all ${total} tests`} passed`;
      kind = 'pass';
    } else if (qualification.verdict === 'fail') {
      said = `Failed: ${failed} of ${plural(total, 'test')} failed`;
      kind = 'fail';
    } else if (state && ENDED.has(state.phase)) {
      said = 'No verdict: the qualification did not finish';
      kind = 'none';
    }
    // Never hidden: a live region that appears is not always read out, one whose text changes is.
    verdict.dataset.verdict = kind;
    setText(verdict, said);

    const report = $('qualification-report');
    if (qualification.report) {
      // The host serves no report yet: its path, for the user to open.
      const shown = report.querySelector('.path');
      if (!shown || shown.textContent !== qualification.report) {
        report.replaceChildren(el('span', 'muted', 'Report '), el('span', 'path', qualification.report));
      }
      report.hidden = false;
    } else {
      report.hidden = true;
    }
  }

  // ---- the event stream -------------------------------------------------------------------------
  function parse(event) {
    try {
      const value = JSON.parse(event.data);
      return value && typeof value === 'object' ? value : null;
    } catch {
      return null;
    }
  }

  function takeState(value) {
    state = value;
    stateAt = performance.now();
    renderState();
  }

  function addFile(entry) {
    if (!entry || !isNumber(entry.number) || entry.number < 1) return false;
    const old = files.get(entry.number);
    files.set(entry.number, entry);
    return !old || fileKey(old) !== fileKey(entry);
  }

  function onRun(event) {
    const run = parse(event);
    if (!run) return;
    files.clear();
    if (Array.isArray(run.files)) for (const entry of run.files) addFile(entry);
    // Cached data stays only for files that are still the same file (a new run reuses numbers).
    for (const [n, hit] of cache) if (!files.has(n) || fileKey(files.get(n)) !== hit.key) cache.delete(n);
    takeQualification(run.qualification);
    if (run.state) takeState(run.state);
    else renderQualification();
    takeTrend(run.trend);
    setConnection('live', 'live');
    renderFiles();
    drawTrend();
    draw();
  }

  function onRow(event) {
    if (takeRow(parse(event))) drawTrend();
  }

  // The bands told after the page opened (the demo knows them once its background is in), with
  // every row so far: the trend drawn, and the bands shaded on the spectrum already drawn.
  function onTrend(event) {
    const value = parse(event);
    if (!value) return;
    takeTrend(value);
    drawTrend();
    const spectrum = charts['chart-spectrum'].plot;
    if (spectrum) spectrum.redraw(false, false);
  }

  function onQualification(event) {
    takeQualification(parse(event));
    renderQualification();
  }

  function onFile(event) {
    const entry = parse(event);
    const isNew = addFile(entry);
    renderFiles();
    // The same file again tells of more of its files saved (its pictures, drawn after its data).
    if (!isNew) return;
    renderState();
    draw();
  }

  function onState(event) {
    const value = parse(event);
    if (!value) return;
    const before = [...backgroundNumbers()].join();
    takeState(value);
    if ([...backgroundNumbers()].join() !== before) renderFiles();
  }

  function open() {
    clearTimeout(reopenTimer);
    if (source) source.close();
    source = new EventSource('/events');
    source.addEventListener('run', onRun);
    source.addEventListener('file', onFile);
    source.addEventListener('state', onState);
    source.addEventListener('row', onRow);
    source.addEventListener('trend', onTrend);
    source.addEventListener('qualification', onQualification);
    source.addEventListener('open', () => setConnection('live', 'live'));
    source.addEventListener('error', () => {
      if (state && ENDED.has(state.phase)) setConnection('ended', 'the host has ended the live view');
      else setConnection('reconnecting', 'reconnecting…');
      // EventSource retries by itself unless the answer was no event stream at all: then we do.
      if (source.readyState === EventSource.CLOSED) reopenTimer = setTimeout(open, 3000);
    });
  }

  // ---- start ------------------------------------------------------------------------------------
  function start() {
    if (typeof uPlot !== 'function') {
      const banner = $('error-banner');
      banner.textContent = 'The chart library did not load: reload the page.';
      banner.hidden = false;
      return;
    }
    $('hide-earlier').addEventListener('click', () => {
      ticked.clear();
      renderFiles();
      draw();
    });
    const resize = new ResizeObserver((entries) => {
      for (const entry of entries) {
        const chart = entry.target.id === 'chart-trend' ? trendChart : charts[entry.target.id];
        if (chart && chart.plot) chart.plot.setSize(plotSize(entry.target));
      }
    });
    for (const id of [...Object.keys(charts), 'chart-trend']) resize.observe($(id));
    setInterval(() => { if (state) renderState(); }, 1000);
    open();
  }

  start();
})();
