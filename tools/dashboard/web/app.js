// The dashboard's page: a simulation watched live (the /events stream) and
// the token game played through the dashboard's /api/game/* calls.
//
// Everything the server sends is text from another process (net names,
// measure names, token values, program output). It only ever reaches the
// page through textContent, dataset and setAttribute; no markup is built
// from it anywhere in this file.
'use strict';

(function () {
  const DASH = '\u2014';
  // The most lines of program output the page keeps.
  const CONSOLE_LINES = 500;
  // Charts are redrawn at most this often (ms); points arriving in between are batched.
  const REDRAW_MS = 500;
  // Token values listed per place; the count cell always has the full number.
  const TOKENS_SHOWN = 200;

  const KIND_GROUPS = [
    { kind: 'estimate', title: 'Estimates (the latest at every sampling point)' },
    { kind: 'place', title: 'Places: token counts (in a transient run, of the replication under way)' },
    { kind: 'transition', title: 'Transitions: fire counts (in a transient run, of the replication under way)' },
    { kind: 'display', title: 'Display values' },
  ];
  const COLOURS = ['#1f6feb', '#d1495b', '#2a9d8f', '#e09f3e', '#6a4c93', '#3d5a80', '#8f5b34', '#c05299'];

  const $ = (id) => document.getElementById(id);

  // Creates an element with a class and text; text is always set as text.
  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }

  function shown(value) {
    return value === null || value === undefined || value === '' ? DASH : String(value);
  }

  // A number short enough for a table cell, without losing small values.
  function num(v) {
    if (typeof v !== 'number' || !Number.isFinite(v)) return DASH;
    if (v === 0 || Number.isInteger(v)) return String(v);
    const a = Math.abs(v);
    if (a >= 1e-4 && a < 1e7) return String(Number(v.toPrecision(6)));
    return v.toExponential(4);
  }

  function percent(fraction) {
    if (typeof fraction !== 'number' || !Number.isFinite(fraction)) return DASH;
    return (fraction * 100).toFixed(2) + ' %';
  }

  function duration(seconds) {
    if (typeof seconds !== 'number' || !Number.isFinite(seconds)) return DASH;
    if (seconds < 60) return seconds.toFixed(1) + ' s';
    const s = Math.floor(seconds);
    const h = Math.floor(s / 3600);
    const m = Math.floor((s % 3600) / 60);
    const rest = String(s % 60).padStart(2, '0');
    return h > 0 ? h + ' h ' + String(m).padStart(2, '0') + ' min ' + rest + ' s' : m + ' min ' + rest + ' s';
  }

  function relativeError(mean, lower, upper) {
    if (typeof mean !== 'number' || mean === 0) return null;
    return (upper - lower) / 2 / Math.abs(mean);
  }

  // ---------------------------------------------------------------------
  // Live run

  const run = {
    runId: null,
    header: null,        // the last "run" object
    series: new Map(),   // series id (string) -> record, see makeSeries
    consoleLines: [],
    finalRequested: false,
    finalRetry: null,
  };

  // One series the page holds: its points (in memory, sorted by time) and,
  // once created, its canvas and chart.
  function makeSeries(id, name, kind) {
    const rec = {
      id, name, kind,
      count: 0,
      // Chart.js reads these arrays directly (parsing: false).
      mean: [], lower: [], upper: [],
      latest: null,       // the newest raw point
      chart: null, canvas: null, box: null,
      dirty: false, visible: true,
      relRow: null,
    };
    run.series.set(id, rec);
    createChart(rec);
    if (kind === 'estimate') createRelErrRow(rec);
    return rec;
  }

  // Adds {x, y} keeping the array sorted by x; points almost always come in
  // order, so this is a push.
  function insertSorted(arr, point) {
    const n = arr.length;
    if (n === 0 || arr[n - 1].x <= point.x) {
      arr.push(point);
      return;
    }
    let lo = 0, hi = n;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (arr[mid].x <= point.x) lo = mid + 1; else hi = mid;
    }
    arr.splice(lo, 0, point);
  }

  // Sets the value at point.x: an estimate at a sampling point is replaced
  // by the newer one the next replication brings.
  function setAt(arr, point) {
    let lo = 0, hi = arr.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (arr[mid].x < point.x) lo = mid + 1; else hi = mid;
    }
    if (lo < arr.length && arr[lo].x === point.x) arr[lo] = point;
    else arr.splice(lo, 0, point);
  }

  // A transient run's token and fire counts begin again with every
  // replication: the page shows the replication under way.
  function restartSeries(rec) {
    rec.mean.length = 0;
    rec.lower.length = 0;
    rec.upper.length = 0;
    rec.latest = null;
    rec.count = 0;
    rec.canvas.setAttribute('data-points', '0');
    rec.dirty = true;
    scheduleRedraw();
  }

  function addPoints(rec, points) {
    if (!Array.isArray(points) || points.length === 0) return;
    let added = 0;
    for (const p of points) {
      if (!Array.isArray(p) || typeof p[0] !== 'number' || typeof p[1] !== 'number') continue;
      const x = p[0];
      if (rec.kind === 'estimate') {
        if (typeof p[2] !== 'number' || typeof p[3] !== 'number') continue;
        setAt(rec.mean, { x, y: p[1] });
        setAt(rec.lower, { x, y: p[2] });
        setAt(rec.upper, { x, y: p[3] });
        rec.latest = p;  // the newest estimate, whatever its sampling point
      } else {
        insertSorted(rec.mean, { x, y: p[1] });
        if (!rec.latest || x >= rec.latest[0]) rec.latest = p;
      }
      added++;
    }
    if (added === 0) return;
    rec.count += added;
    rec.canvas.setAttribute('data-points', String(rec.count));
    rec.dirty = true;
    if (rec.relRow) updateRelErrRow(rec);
    scheduleRedraw();
  }

  // --- charts ----------------------------------------------------------

  const groups = new Map(); // kind -> {section, grid}

  function groupFor(kind) {
    let g = groups.get(kind);
    if (g) return g;
    const section = el('section', 'chart-group');
    section.dataset.kind = kind;
    const known = KIND_GROUPS.find((k) => k.kind === kind);
    section.appendChild(el('h3', 'group-title', known ? known.title : kind));
    const grid = el('div', 'chart-grid');
    section.appendChild(grid);
    g = { section, grid };
    groups.set(kind, g);
    // Estimates first, then places, transitions, display values (any
    // other kind last).
    const order = (k) => {
      const i = KIND_GROUPS.findIndex((x) => x.kind === k);
      return i < 0 ? KIND_GROUPS.length : i;
    };
    const charts = $('charts');
    let before = null;
    for (const [k, other] of groups) {
      if (k !== kind && order(k) > order(kind) &&
          (!before || order(k) < order(before.dataset.kind))) before = other.section;
    }
    charts.insertBefore(section, before);
    return g;
  }

  const visibility = 'IntersectionObserver' in window
    ? new IntersectionObserver((entries) => {
      for (const entry of entries) {
        const rec = entry.target.__series;
        if (!rec) continue;
        rec.visible = entry.isIntersecting;
        if (rec.visible && rec.dirty) scheduleRedraw();
      }
    }, { rootMargin: '200px' })
    : null;

  function createChart(rec) {
    $('charts-empty').hidden = true;
    const g = groupFor(rec.kind);
    const figure = el('figure', 'chart-card');
    figure.appendChild(el('figcaption', 'chart-title', rec.name));
    const box = el('div', 'chart-box');
    const canvas = document.createElement('canvas');
    canvas.className = 'series-chart';
    canvas.setAttribute('data-series', rec.name);
    canvas.setAttribute('data-kind', rec.kind);
    canvas.setAttribute('data-points', '0');
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', rec.kind + ' ' + rec.name);
    box.appendChild(canvas);
    figure.appendChild(box);
    g.grid.appendChild(figure);
    rec.canvas = canvas;
    rec.box = figure;
    figure.__series = rec;
    if (visibility) visibility.observe(figure);

    if (typeof window.Chart !== 'function') {
      figure.appendChild(el('p', 'note-muted', 'Charts are unavailable (Chart.js did not load).'));
      return;
    }
    const colour = COLOURS[run.series.size % COLOURS.length];
    const line = (label, data, extra) => Object.assign({
      label, data,
      borderColor: colour, backgroundColor: colour,
      borderWidth: 1.5, pointRadius: 0, pointHoverRadius: 3,
      tension: 0, spanGaps: true, fill: false,
    }, extra || {});
    let datasets;
    if (rec.kind === 'estimate') {
      const band = colour + '33'; // the colour, mostly transparent
      datasets = [
        line('lower bound', rec.lower, { borderColor: band, backgroundColor: band, borderWidth: 1 }),
        // Filled down to the lower bound: the confidence band.
        line('confidence interval', rec.upper, { borderColor: band, backgroundColor: band, borderWidth: 1, fill: '-1' }),
        line('mean', rec.mean),
      ];
    } else {
      const label = rec.kind === 'place' ? 'tokens' : rec.kind === 'transition' ? 'firings' : 'value';
      datasets = [line(label, rec.mean, rec.kind === 'place' ? { stepped: true } : {})];
    }
    try {
      rec.chart = new window.Chart(canvas, {
        type: 'line',
        data: { datasets },
        options: {
          animation: false,
          parsing: false,
          normalized: true,
          responsive: true,
          maintainAspectRatio: false,
          interaction: { mode: 'nearest', axis: 'x', intersect: false },
          scales: {
            x: { type: 'linear', title: { display: true, text: 'time' }, ticks: { maxTicksLimit: 8 } },
            y: { type: 'linear', ticks: { maxTicksLimit: 6 } },
          },
          plugins: {
            decimation: { enabled: true, algorithm: 'lttb', samples: 500 },
            legend: {
              display: rec.kind === 'estimate',
              labels: { boxWidth: 12, filter: (item) => item.text !== 'lower bound' },
            },
            tooltip: { enabled: true },
          },
        },
      });
    } catch (e) {
      figure.appendChild(el('p', 'note-muted', 'This chart could not be drawn: ' + e.message));
      rec.chart = null;
    }
  }

  let redrawTimer = null;
  let lastRedraw = 0;

  function scheduleRedraw() {
    if (redrawTimer !== null) return;
    const wait = Math.max(0, REDRAW_MS - (performance.now() - lastRedraw));
    redrawTimer = setTimeout(redraw, wait);
  }

  // Redraws every chart that got points since its last drawing and is on
  // (or near) the screen; the others wait until they are scrolled to.
  function redraw() {
    redrawTimer = null;
    lastRedraw = performance.now();
    for (const rec of run.series.values()) {
      if (!rec.dirty || !rec.visible || !rec.chart) continue;
      rec.dirty = false;
      try {
        // A transient run's charts span its start to its stop time, so a
        // replication under way does not stretch its axis as it goes.
        const h = run.header || {};
        const lo = Number(h.start), hi = Number(h.stop);
        const bounded = h.mode === 'transient' && h.start != null && h.stop != null &&
          Number.isFinite(lo) && Number.isFinite(hi) && hi > lo;
        const x = rec.chart.options.scales.x;
        x.min = bounded ? lo : undefined;
        x.max = bounded ? hi : undefined;
        rec.chart.update('none');
      } catch (e) {
        console.warn('chart update failed for a series:', e);
      }
    }
  }

  function clearRun() {
    for (const rec of run.series.values()) {
      if (rec.chart) rec.chart.destroy();
      if (visibility && rec.box) visibility.unobserve(rec.box);
    }
    run.series.clear();
    for (const g of groups.values()) g.section.remove();
    groups.clear();
    $('charts-empty').hidden = false;
    $('relerr-table').tBodies[0].replaceChildren();
    clearFinal('Shown when the run has ended.');
    run.consoleLines = [];
    $('console').textContent = '';
    run.header = null;
    run.finalRequested = false;
    if (run.finalRetry !== null) {
      clearTimeout(run.finalRetry);
      run.finalRetry = null;
    }
  }

  // --- relative errors -------------------------------------------------

  function createRelErrRow(rec) {
    const tr = el('tr');
    tr.dataset.series = rec.name;
    tr.appendChild(el('td', 'name', rec.name));
    tr.appendChild(el('td', 'relerr', DASH));
    tr.appendChild(el('td', 'epsmax', DASH));
    tr.appendChild(el('td', 'reached', DASH));
    $('relerr-table').tBodies[0].appendChild(tr);
    rec.relRow = tr;
  }

  function updateRelErrRow(rec) {
    const cells = rec.relRow.cells;
    const p = rec.latest;
    const rel = p ? relativeError(p[1], p[2], p[3]) : null;
    const epsmax = run.header && typeof run.header.epsmax === 'number' ? run.header.epsmax : null;
    cells[1].textContent = rel === null ? DASH : percent(rel);
    cells[2].textContent = epsmax === null ? DASH : String(epsmax) + ' %';
    let verdict = DASH;
    if (epsmax !== null) verdict = rel !== null && rel * 100 <= epsmax ? 'ok' : 'not yet';
    cells[3].textContent = verdict;
    rec.relRow.className = verdict === 'ok' ? 'reached' : verdict === 'not yet' ? 'not-reached' : '';
  }

  // --- final estimates -------------------------------------------------

  function clearFinal(note) {
    $('final-table').tBodies[0].replaceChildren();
    $('final-note').textContent = note;
    $('final-note').hidden = false;
  }

  function renderFinal(rows) {
    const body = $('final-table').tBodies[0];
    body.replaceChildren();
    if (!Array.isArray(rows) || rows.length === 0) {
      clearFinal('The run produced no estimates.');
      return;
    }
    $('final-note').hidden = true;
    for (const r of rows) {
      if (!r || typeof r !== 'object') continue;
      const tr = el('tr', 'final-row');
      tr.dataset.series = String(r.name);
      tr.appendChild(el('td', 'name', r.name));
      tr.appendChild(el('td', 'num', num(r.time)));
      tr.appendChild(el('td', 'num', num(r.mean)));
      tr.appendChild(el('td', 'num', '[' + num(r.lower) + '; ' + num(r.upper) + ']'));
      tr.appendChild(el('td', 'num', percent(r.relError)));
      body.appendChild(tr);
    }
  }

  // The stream carries no final estimates: they are read from the snapshot
  // once the run has ended.
  function requestFinal() {
    if (run.finalRetry !== null) {
      clearTimeout(run.finalRetry);
      run.finalRetry = null;
    }
    const wantedRun = run.runId;
    run.finalRequested = true;
    fetch('/api/state', { cache: 'no-store' })
      .then((res) => {
        if (!res.ok) throw new Error('HTTP ' + res.status);
        return res.json();
      })
      .then((state) => {
        if (run.runId !== wantedRun) return;          // another run began meanwhile
        if (state.runId !== wantedRun) return;        // the stream will tell of the new run
        renderFinal(state.final);
      })
      .catch((e) => {
        if (run.runId !== wantedRun) return;
        clearFinal('The final estimates could not be read (' + e.message + '); trying again.');
        run.finalRetry = setTimeout(requestFinal, 2000);
      });
  }

  // --- run header ------------------------------------------------------

  function setText(id, text) {
    const e = $(id);
    if (e.textContent !== text) e.textContent = text;
  }

  function renderHeader(h) {
    const previous = run.header;
    run.header = h;
    const status = typeof h.status === 'string' ? h.status : DASH;
    setText('run-status', status);
    $('run-status').className = 'status status-' + (['waiting', 'running', 'ended'].includes(status) ? status : 'unknown');
    setText('run-model', shown(h.model));
    setText('run-mode', shown(h.mode));
    setText('run-start', shown(h.start));
    setText('run-stop', shown(h.stop));
    setText('run-seed', shown(h.seed));
    setText('run-confidence', shown(h.confidence));
    setText('run-epsmax', typeof h.epsmax === 'number' ? String(h.epsmax) + ' %' : DASH);
    setText('run-replications', shown(h.replications));
    setText('run-elapsed', duration(h.elapsed));
    setText('run-last-time', shown(h.lastTime));
    setText('run-verdict', shown(h.verdict));
    setText('run-command', shown(h.command));
    const verdict = $('run-verdict');
    verdict.className = 'verdict' + (typeof h.verdict === 'string'
      ? (h.verdict.startsWith('SIMULATION SUCCESSFUL') ? ' verdict-ok' : ' verdict-bad') : '');
    setText('run-exit', typeof h.exitStatus === 'number' ? 'exit status ' + h.exitStatus : '');
    setText('run-garbage', typeof h.garbageLines === 'number' && h.garbageLines > 0
      ? h.garbageLines + ' line(s) on the result port were not understood' : '');
    document.title = 'scpn-dashboard ' + DASH + ' ' + status;

    if (!previous || previous.epsmax !== h.epsmax) {
      for (const rec of run.series.values()) if (rec.relRow) updateRelErrRow(rec);
    }
    if (status === 'ended') {
      if (!run.finalRequested) requestFinal();
    } else if (run.finalRequested) {
      run.finalRequested = false;
      clearFinal('Shown when the run has ended.');
    }
  }

  // --- console ---------------------------------------------------------

  function appendConsole(lines) {
    if (!Array.isArray(lines) || lines.length === 0) return;
    for (const line of lines) run.consoleLines.push(String(line));
    if (run.consoleLines.length > CONSOLE_LINES) run.consoleLines.splice(0, run.consoleLines.length - CONSOLE_LINES);
    const box = $('console');
    const atBottom = box.scrollTop + box.clientHeight >= box.scrollHeight - 4;
    box.textContent = run.consoleLines.join('\n');
    if (atBottom) box.scrollTop = box.scrollHeight;
  }

  // --- the stream ------------------------------------------------------

  function onUpdate(message) {
    let m;
    try {
      m = JSON.parse(message.data);
    } catch (e) {
      console.warn('an update that is not JSON was ignored');
      return;
    }
    if (!m || typeof m !== 'object') return;
    if (m.reset || m.runId !== run.runId) {
      clearRun();
      run.runId = m.runId;
    }
    let estimatesAdded = false;
    if (m.points && typeof m.points === 'object') {
      // Series in the order the server numbered them, so the charts keep it.
      const ids = Object.keys(m.points).sort((a, b) => Number(a) - Number(b));
      for (const id of ids) {
        const s = m.points[id];
        if (!s || typeof s !== 'object') continue;
        let rec = run.series.get(id);
        if (!rec) rec = makeSeries(id, String(s.name), String(s.kind));
        else if (s.restart === true) restartSeries(rec);
        addPoints(rec, s.points);
        if (rec.kind === 'estimate') estimatesAdded = true;
      }
    }
    appendConsole(m.console);
    if (m.run && typeof m.run === 'object') {
      const wasEnded = run.header && run.header.status === 'ended';
      renderHeader(m.run);
      // Late points after the end: read the final estimates again.
      if (wasEnded && m.run.status === 'ended' && estimatesAdded) requestFinal();
    }
  }

  let source = null;

  function connectStream() {
    source = new EventSource('/events');
    source.addEventListener('update', (message) => {
      setText('run-status-note', '');
      onUpdate(message);
    });
    source.addEventListener('open', () => setText('run-status-note', ''));
    source.addEventListener('error', () => {
      // The browser reconnects by itself unless it gave up for good, which
      // it does when the dashboard refused the stream (too many open pages).
      if (source.readyState !== EventSource.CLOSED) {
        setText('run-status-note', 'connection to the dashboard lost; reconnecting');
        return;
      }
      source.close();
      setText('run-status-note', 'connection to the dashboard lost; trying again shortly');
      explainRefusal();
      // Spread out, so that refused pages do not all come back at once.
      setTimeout(connectStream, 5000 + Math.floor(Math.random() * 2000));
    });
  }

  // Tells a refused page why, when the dashboard says it streams to as many
  // pages as it will.
  function explainRefusal() {
    fetch('/api/streams', { cache: 'no-store' })
      .then((res) => (res.ok ? res.json() : null))
      .then((s) => {
        if (!s || typeof s.open !== 'number' || typeof s.limit !== 'number' || s.open < s.limit) return;
        if (source && source.readyState === EventSource.OPEN) return;
        setText('run-status-note', 'too many open pages (the dashboard streams to ' + s.limit +
          ' at a time): close one; this page tries again every few seconds');
      })
      .catch(() => {});
  }

  // ---------------------------------------------------------------------
  // Token game

  const game = {
    busy: false,
    connected: false,
    counts: new Map(), // place -> token count last shown
  };

  function gameMessage(text, isError) {
    const e = $('game-message');
    e.textContent = text || '';
    e.className = 'game-message' + (isError ? ' error' : '');
  }

  function setBusy(busy) {
    game.busy = busy;
    updateControls();
  }

  function updateControls() {
    const off = game.busy || !game.connected;
    for (const id of ['game-step', 'game-run', 'game-set-breaks', 'game-disconnect']) $(id).disabled = off;
    $('game-connect').disabled = game.busy;
    for (const b of $('game-enabled').querySelectorAll('button.fire')) b.disabled = off;
  }

  function renderGame(s) {
    if (!s || typeof s !== 'object') return;
    game.connected = s.connected === true;
    const status = $('game-status');
    if (game.connected) {
      status.textContent = 'connected' + (s.address ? ' to ' + s.address : '');
      status.className = 'game-status connected';
    } else if (s.gone) {
      status.textContent = 'the token game has gone away' + (s.error ? ': ' + s.error : '');
      status.className = 'game-status gone';
    } else {
      status.textContent = 'not connected' + (s.address ? ' (' + s.address + ')' : '') + (s.error ? ': ' + s.error : '');
      status.className = 'game-status';
    }
    setText('game-time', shown(s.time));
    setText('game-last-fired', shown(s.lastFired));
    setText('game-breakpoints', shown(s.breakpoints));
    setText('game-triggered', Array.isArray(s.triggered) && s.triggered.length > 0 ? s.triggered.join(', ') : DASH);

    // What may fire now.
    const enabled = $('game-enabled');
    enabled.replaceChildren();
    const list = Array.isArray(s.enabled) ? s.enabled : [];
    for (const t of list) {
      if (!t || typeof t !== 'object') continue;
      const name = String(t.name);
      const priority = t.priority === null || t.priority === undefined ? '?' : String(t.priority);
      const b = el('button', 'fire', name + ' (priority ' + priority + ')');
      b.type = 'button';
      b.dataset.transition = name;
      enabled.appendChild(b);
    }
    if (enabled.childElementCount === 0) {
      enabled.appendChild(el('p', 'note-muted', game.connected ? 'No transition is enabled.' : 'Not connected.'));
    }

    // The marking; places whose token count changed are marked.
    const body = $('game-marking').tBodies[0];
    body.replaceChildren();
    const places = Array.isArray(s.places) ? s.places : [];
    const counts = new Map();
    for (const p of places) {
      if (!p || typeof p !== 'object') continue;
      const name = String(p.name);
      const tokens = Array.isArray(p.tokens) ? p.tokens : [];
      counts.set(name, tokens.length);
      const tr = el('tr', 'place');
      tr.dataset.place = name;
      if (game.counts.has(name) && game.counts.get(name) !== tokens.length) tr.classList.add('changed');
      tr.appendChild(el('td', 'place-name', name));
      tr.appendChild(el('td', 'token-count', String(tokens.length)));
      const cell = el('td', 'tokens');
      if (tokens.length > 0) {
        const ul = el('ul', 'token-list');
        for (const token of tokens.slice(0, TOKENS_SHOWN)) ul.appendChild(el('li', null, String(token)));
        if (tokens.length > TOKENS_SHOWN) ul.appendChild(el('li', 'more', 'and ' + (tokens.length - TOKENS_SHOWN) + ' more'));
        cell.appendChild(ul);
      }
      tr.appendChild(cell);
      body.appendChild(tr);
    }
    game.counts = counts;
    updateControls();
  }

  // Reads a reply as JSON whatever its HTTP status (refusals are JSON too).
  async function readJson(res) {
    const text = await res.text();
    try {
      return JSON.parse(text);
    } catch (e) {
      throw new Error('HTTP ' + res.status + ': the reply is not JSON');
    }
  }

  async function post(path, fields) {
    const options = { method: 'POST', cache: 'no-store' };
    if (fields) {
      options.headers = { 'Content-Type': 'application/x-www-form-urlencoded' };
      options.body = new URLSearchParams(fields).toString();
    }
    const res = await fetch(path, options);
    return readJson(res);
  }

  async function fetchGameState() {
    const res = await fetch('/api/game/state', { cache: 'no-store' });
    const s = await readJson(res);
    if (!res.ok) throw new Error(s && s.error ? s.error : 'HTTP ' + res.status);
    renderGame(s);
    return s;
  }

  // Runs one game action with the controls locked; `describe` turns a good
  // reply into the message shown.
  async function gameAction(path, fields, describe) {
    if (game.busy) return;
    setBusy(true);
    try {
      const reply = await post(path, fields);
      if (reply && reply.state) renderGame(reply.state);
      if (!reply || reply.ok !== true) {
        gameMessage('error: ' + (reply && reply.error ? reply.error : 'the request failed'), true);
      } else {
        gameMessage(describe(reply), false);
      }
    } catch (e) {
      gameMessage('error: ' + e.message, true);
    } finally {
      setBusy(false);
    }
  }

  function triggeredText(reply) {
    const t = Array.isArray(reply.triggered) ? reply.triggered
      : reply.state && Array.isArray(reply.state.triggered) ? reply.state.triggered : [];
    return t.length > 0 ? '; breakpoint ' + t.join(', ') + ' triggered' : '';
  }

  async function connectGame() {
    if (game.busy) return;
    setBusy(true);
    try {
      const reply = await post('/api/game/connect');
      if (!reply || reply.ok !== true) {
        gameMessage('error: ' + (reply && reply.error ? reply.error : 'could not connect'), true);
      } else {
        gameMessage(typeof reply.message === 'string' ? reply.message : 'connected', false);
      }
      await fetchGameState();
    } catch (e) {
      gameMessage('error: ' + e.message, true);
    } finally {
      setBusy(false);
    }
  }

  async function disconnectGame() {
    if (game.busy) return;
    setBusy(true);
    try {
      const reply = await post('/api/game/disconnect');
      gameMessage(reply && reply.ok ? 'disconnected from the token game' : 'error: ' + (reply && reply.error), !(reply && reply.ok));
      await fetchGameState();
    } catch (e) {
      gameMessage('error: ' + e.message, true);
    } finally {
      setBusy(false);
    }
  }

  function wireGame() {
    $('game-connect').addEventListener('click', connectGame);
    $('game-disconnect').addEventListener('click', disconnectGame);

    $('game-enabled').addEventListener('click', (event) => {
      const button = event.target.closest('button.fire');
      if (!button || button.disabled) return;
      const name = button.dataset.transition;
      gameAction('/api/game/fire', { transition: name }, (reply) => 'fired ' + name + triggeredText(reply));
    });

    $('game-step').addEventListener('click', () => {
      gameAction('/api/game/step', null, (reply) => {
        if (typeof reply.message === 'string') return reply.message + triggeredText(reply);
        const last = reply.state && reply.state.lastFired;
        return (last ? 'fired ' + last : 'fired the next event') + triggeredText(reply);
      });
    });

    $('game-run-form').addEventListener('submit', (event) => {
      event.preventDefault();
      const text = $('game-run-steps').value.trim();
      const steps = Number(text);
      if (!/^[0-9]+$/.test(text) || steps < 1 || steps > 10000) {
        gameMessage('error: the number of steps is a whole number from 1 to 10000', true);
        return;
      }
      gameAction('/api/game/run', { steps: String(steps) }, (reply) => {
        const fired = typeof reply.fired === 'number' ? reply.fired : 0;
        let text = 'fired ' + fired + ' event' + (fired === 1 ? '' : 's');
        if (reply.stoppedBy === 'breakpoint') {
          const t = Array.isArray(reply.triggered) ? reply.triggered : [];
          text += '; stopped by breakpoint' + (t.length > 0 ? ' ' + t.join(', ') : '');
        } else if (reply.stoppedBy === 'dead') {
          text += '; no event is left';
        }
        return text;
      });
    });

    $('game-breaks-form').addEventListener('submit', (event) => {
      event.preventDefault();
      const breaks = $('game-breaks').value.trim();
      gameAction('/api/game/breaks', { breaks }, (reply) =>
        (breaks === '' ? 'breakpoints cleared' : 'breakpoints set') + triggeredText(reply));
    });

    updateControls();
    // Show whether the dashboard is already playing a game (another tab may
    // have connected it).
    fetchGameState().catch((e) => gameMessage('error: ' + e.message, true));
  }

  function start() {
    connectStream();
    wireGame();
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
})();
