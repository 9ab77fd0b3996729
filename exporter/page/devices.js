// The devices page: polls /devices.json at the exporter's interval and rewrites the table in
// place. It makes each row as the exporter's server-rendered table does (report/devices_page),
// from the same JSON; a device's strings only ever become text.
'use strict';

(function () {
  const table = document.getElementById('devices');
  const body = table.tBodies[0];
  const summary = document.getElementById('summary');
  const empty = document.getElementById('empty');
  const intervalMs = Math.max(1, Number(table.dataset.interval)) * 1000;
  const hot = Number(table.dataset.hot);
  const worn = Number(table.dataset.worn);
  const drainWatts = Number(table.dataset.drainWatts);
  const drainAmperes = Number(table.dataset.drainAmperes);
  // The columns, in the order and with the labels the exporter's header gives them.
  const columns = Array.from(table.tHead.rows[0].cells, (th) => ({
    name: th.dataset.column,
    label: th.textContent,
  }));

  const oneDecimal = (value) => (Math.floor(value * 10 + 0.5) / 10).toFixed(1);
  const isNumber = (value) => typeof value === 'number';
  const pad = (n) => String(n).padStart(2, '0');
  const time = (iso) => {
    const at = new Date(iso);
    return `${pad(at.getHours())}:${pad(at.getMinutes())}:${pad(at.getSeconds())}`;
  };
  const isRead = (d) => d.battery !== null && typeof d.battery === 'object';

  const notReady = (d) => d.state !== 'ready' || !isRead(d);

  // The power into the battery, or its current where that is all; none where neither is known.
  function flow(battery) {
    if (isNumber(battery.powerW)) return battery.powerW;
    return isNumber(battery.currentA) ? battery.currentA : null;
  }
  // Losing enough on mains to say so, as the exporter's table says it.
  const draining = (battery) =>
    battery.onMains === true &&
    (isNumber(battery.powerW)
      ? battery.powerW <= -drainWatts
      : isNumber(battery.currentA) && battery.currentA <= -drainAmperes);

  function rank(d) {
    if (isRead(d) && draining(d.battery)) return 0;
    if (notReady(d)) return 1;
    if (isNumber(d.battery.temperatureC) && d.battery.temperatureC > hot) return 2;
    const capacity = d.battery.maximumCapacity;
    if (capacity && isNumber(capacity.percent) && capacity.percent < worn) return 3;
    return 4;
  }

  // Watts as a charger's: "2.5", "27".
  const watts = (value) => (Math.round(value * 10) / 10).toFixed(1).replace(/\.0$/, '');

  const shownName = (d) => d.name || d.serial;

  function stateWords(d) {
    let state = String(d.state).replace(/-/g, ' ');
    if (state) state = state[0].toUpperCase() + state.slice(1);
    let type = String(d.type || '').replace(/-/g, ' ');
    if (type) type = type[0].toUpperCase() + type.slice(1);
    const system = d.kind === 'ios' ? 'iOS' : d.kind === 'upower' ? type || d.kind : 'Android';
    return `${system} · ${state}`;
  }

  function cells(d) {
    const about = [d.model || '', d.name ? d.serial : ''].filter((part) => part);
    const out = {};
    for (const column of columns) out[column.name] = { main: '—', sub: '', alert: false };
    out.device = { main: shownName(d), sub: about.join(' · '), alert: false };
    out.state.main = stateWords(d);
    if (d.state !== 'ready' || !isRead(d)) {
      out.state.alert = true;
      out.state.sub = d.status || '';
    }
    const battery = isRead(d) ? d.battery : {};
    if (isNumber(battery.percent)) {
      out.charge.main = `${Math.floor(battery.percent + 0.5)}%`;
      out.charge.sub = battery.charging ? 'charging' : battery.onMains ? 'on mains' : 'on battery';
    }
    const value = flow(battery);
    if (value !== null) {
      const sign = value > 0 ? '+' : value < 0 ? '−' : '';
      out.power.main = isNumber(battery.powerW)
        ? `${sign}${oneDecimal(Math.abs(value))} W`
        : `${sign}${Math.abs(value).toFixed(2)} A`;
      out.power.alert = draining(battery);
    }
    if (isNumber(battery.chargerW)) out.power.sub = `${watts(battery.chargerW)} W charger`;
    const capacity = battery.maximumCapacity;
    if (capacity && typeof capacity === 'object') {
      out.health.alert = capacity.percent < worn;
      out.health.main = `${Math.floor(capacity.percent)}% of design`;
    }
    if (isNumber(battery.cycles)) out.health.sub = `${Math.trunc(battery.cycles)} cycles`;
    if (isNumber(battery.temperatureC)) {
      out.temperature.alert = battery.temperatureC > hot;
      out.temperature.main = `${oneDecimal(battery.temperatureC)} °C`;
    }
    if (d.storage && typeof d.storage === 'object') {
      out.storage.main = `${oneDecimal(d.storage.free / 1e9)} GB free`;
      out.storage.sub = `of ${oneDecimal(d.storage.total / 1e9)} GB`;
    }
    if (typeof d.readAt === 'string') out.lastRead.main = time(d.readAt);
    // Not by colour alone: a sign before, and a word after where the value is past its alert.
    if (out.health.alert) out.health.main += ' (worn)';
    if (out.temperature.alert) out.temperature.main += ' (hot)';
    if (out.power.alert) out.power.main += ' (draining)';
    for (const cell of Object.values(out)) if (cell.alert) cell.main = `⚠ ${cell.main}`;
    return out;
  }

  function row(d) {
    const tr = document.createElement('tr');
    tr.dataset.serial = d.serial;
    if (notReady(d)) tr.className = 'not-ready';
    const made = cells(d);
    for (const column of columns) {
      const cell = made[column.name];
      const td = document.createElement('td');
      td.dataset.label = column.label;
      if (cell.alert) td.className = 'alert';
      for (const [name, text] of [['main', cell.main], ['sub', cell.sub]]) {
        const span = document.createElement('span');
        span.className = name;
        span.textContent = text;
        td.appendChild(span);
      }
      tr.appendChild(td);
    }
    return tr;
  }

  function compare(a, b) {
    const key = (d) => ({ rank: rank(d), name: shownName(d).toLowerCase(), serial: d.serial });
    const ka = key(a);
    const kb = key(b);
    for (const field of ['rank', 'name', 'serial']) {
      if (ka[field] < kb[field]) return -1;
      if (ka[field] > kb[field]) return 1;
    }
    return 0;
  }

  function show(devices) {
    const rows = devices.slice().sort(compare).map(row);
    // One replacement of the body's rows: the page keeps its scroll position.
    body.replaceChildren(...rows);
    empty.hidden = rows.length > 0;
    const now = new Date();
    summary.textContent =
      `${rows.length} ${rows.length === 1 ? 'device' : 'devices'} · read every ` +
      `${intervalMs / 1000} s · updated ${time(now.toISOString())}`;
  }

  function poll() {
    fetch('/devices.json', { cache: 'no-store', credentials: 'same-origin' })
      .then((answer) => (answer.ok ? answer.json() : Promise.reject(answer.status)))
      .then((devices) => {
        if (Array.isArray(devices)) show(devices);
      })
      .catch(() => {
        summary.textContent = 'The exporter does not answer; trying again.';
      })
      .finally(() => setTimeout(poll, intervalMs));
  }

  setTimeout(poll, intervalMs);
})();
