// The control panel: builds a widget for every control the server lists, sends changes as they
// are made, and keeps the status, the histogram and the values that change by themselves fresh.
'use strict';

const GROUPS = [
  ['Exposure and gain', ['Exposure', 'GlobalGain', 'AGC', 'AEC']],
  ['Colour', ['ColorEnable', 'WhiteBalance', 'RedGain', 'GreenGain', 'BlueGain', 'Brightness',
              'Contrast', 'Saturation', 'Hue', 'ColorCorrection']],
  ['Geometry', ['FlipH', 'FlipV', 'SubSample', 'SensorWidth', 'SensorHeight', 'ReadoutX',
                'ReadoutY', 'ReadoutWidth', 'ReadoutHeight', 'GeometryLocked']],
  ['Device', []],  // everything else
];
// On/off settings the camera reports no range for.
const SWITCHES = new Set(['FlipH', 'FlipV', 'ColorEnable', 'WhiteBalance', 'AGC', 'AEC',
                          'ColorCorrection']);
// Set-only controls that act rather than store: a button.
const ACTIONS = new Set(['Reinitialize']);
const REGION = 'RegionOfInterest';

const $ = (id) => document.getElementById(id);
const views = new Map();  // control name -> [function (value)] that show a value
let status = null;

function showMessage(text) {
  $('message').textContent = text || '';
}

async function request(method, path, body) {
  const options = { method, headers: {} };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(answer.error || `${method} ${path}: ${response.status}`);
  return answer;
}

function show(name, value) {
  for (const view of views.get(name) || []) view(value);
}

function addView(name, view) {
  if (!views.has(name)) views.set(name, []);
  views.get(name).push(view);
}

// Sends the latest value of a control, one request at a time: a value that arrives while one is
// on its way replaces any other waiting one, so a dragged slider never queues requests.
const writers = new Map();
function write(name, value) {
  let writer = writers.get(name);
  if (!writer) writers.set(name, writer = { busy: false, pending: undefined });
  writer.pending = value;
  if (writer.busy) return;
  (async () => {
    writer.busy = true;
    while (writer.pending !== undefined) {
      const next = writer.pending;
      writer.pending = undefined;
      try {
        const answer = await request('PUT', `/api/controls/${name}`, { value: next });
        showMessage('');
        if (writer.pending === undefined && answer.value !== null) show(name, answer.value);
      } catch (error) {
        showMessage(error.message);
        refreshControls();
      }
    }
    writer.busy = false;
  })();
}

function isSwitch(control) {
  return SWITCHES.has(control.name) || (control.min === 0 && control.max === 1);
}

function element(tag, properties = {}, children = []) {
  const node = Object.assign(document.createElement(tag), properties);
  for (const child of children) node.append(child);
  return node;
}

function switchWidget(control) {
  const input = element('input', { type: 'checkbox', checked: !!control.value });
  input.addEventListener('change', () => write(control.name, input.checked ? 1 : 0));
  addView(control.name, (value) => { input.checked = !!value; });
  return element('label', { className: 'switch' }, [input, element('span')]);
}

function numberWidgets(control) {
  const parts = [];
  const number = element('input', { type: 'number', value: control.value ?? '' });
  if (control.min !== null) number.min = control.min;
  if (control.max !== null) number.max = control.max;
  let slider = null;
  if (control.min !== null && control.max !== null) {
    slider = element('input', { type: 'range', min: control.min, max: control.max,
                                value: control.value ?? control.default ?? control.min });
    slider.setAttribute('aria-label', control.name);
    slider.addEventListener('input', () => {
      number.value = slider.value;
      write(control.name, Number(slider.value));
    });
    parts.push(slider);
  }
  number.setAttribute('aria-label', control.name);
  number.addEventListener('change', () => {
    if (number.value === '') return;
    if (slider) slider.value = number.value;
    write(control.name, Number(number.value));
  });
  parts.push(number);
  addView(control.name, (value) => {
    if (document.activeElement === number || document.activeElement === slider) return;
    number.value = value;
    if (slider) slider.value = value;
  });
  return parts;
}

function widgetsOf(control) {
  if (control.access === 'get') {
    const text = element('span', { className: 'readonly', textContent: control.value ?? '–' });
    addView(control.name, (value) => { text.textContent = value; });
    return [text];
  }
  if (ACTIONS.has(control.name)) {
    const button = element('button', { type: 'button', textContent: 'Run' });
    button.addEventListener('click', () => write(control.name, 1));
    return [button];
  }
  return isSwitch(control) ? [switchWidget(control)] : numberWidgets(control);
}

function rowOf(control) {
  const row = element('div', { className: 'row', id: `control-${control.name}` });
  row.append(element('span', { className: 'name', textContent: control.name,
                               title: `${control.name} (id ${control.id}, ${control.access})` }));
  row.append(element('span', { className: 'widget' }, widgetsOf(control)));
  const side = element('span', { className: 'default' });
  if (control.default !== null && control.access !== 'get') {
    side.append(`default ${control.default} `);
    const reset = element('button', { type: 'button', className: 'reset', textContent: '↺',
                                      title: `Reset ${control.name} to ${control.default}` });
    reset.addEventListener('click', () => {
      show(control.name, control.default);
      write(control.name, control.default);
    });
    side.append(reset);
  }
  row.append(side);
  return row;
}

function buildControls(controls) {
  const panel = $('controls');
  const grouped = new Set(GROUPS.flatMap(([, names]) => names));
  for (const [title, names] of GROUPS) {
    const members = controls.filter((c) => c.name !== REGION &&
        (names.length ? names.includes(c.name) : !grouped.has(c.name)));
    members.sort((a, b) => (names.indexOf(a.name) - names.indexOf(b.name)) || (a.id - b.id));
    if (!members.length) continue;
    const section = element('section', {}, [element('h2', { textContent: title })]);
    for (const control of members) section.append(rowOf(control));
    panel.append(section);
  }
  const white = $('auto-white');
  white.checked = !!(controls.find((c) => c.name === 'WhiteBalance') || {}).value;
  white.addEventListener('change', () => write('WhiteBalance', white.checked ? 1 : 0));
  addView('WhiteBalance', (value) => { white.checked = !!value; });
}

async function refreshControls() {
  try {
    for (const control of await request('GET', '/api/controls'))
      if (control.value !== null) show(control.name, control.value);
  } catch (error) {
    showMessage(error.message);
  }
}

async function refreshStatus() {
  try {
    status = await request('GET', '/api/status');
    $('camera').textContent = status.camera || 'first attached camera';
    $('fps').textContent = status.fps.toFixed(1);
    $('dropped').textContent = status.dropped;
    $('size').textContent = `${status.width} × ${status.height}`;
    $('auto-exposure').checked = status.autoExposure;
    if (status.error) showMessage(status.error);
    const region = status.region;
    for (const [id, value] of [['roi-x', region.x], ['roi-y', region.y], ['roi-w', region.width],
                               ['roi-h', region.height]]) {
      const input = $(id);
      if (document.activeElement !== input && value !== null) input.value = value;
    }
  } catch (error) {
    showMessage(error.message);
  }
}

async function refreshHistogram() {
  let histogram;
  try {
    histogram = await request('GET', '/api/histogram');
  } catch {
    return;
  }
  const canvas = $('histogram');
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.globalCompositeOperation = 'lighter';
  context.globalAlpha = 0.85;
  // Square roots keep a few very full bins from flattening the rest.
  const peak = Math.sqrt(Math.max(1, ...['red', 'green', 'blue'].flatMap((c) => histogram[c])));
  const step = canvas.width / 256;
  for (const [channel, colour] of [['red', '#c83232'], ['green', '#32b432'], ['blue', '#3c64dc']]) {
    context.fillStyle = colour;
    histogram[channel].forEach((count, i) => {
      const height = (Math.sqrt(count) / peak) * canvas.height;
      context.fillRect(i * step, canvas.height - height, Math.ceil(step), height);
    });
  }
}

async function setRegion(x, y, w, h) {
  try {
    await request('PUT', `/api/controls/${REGION}`, { value: [x, y, w, h] });
    showMessage('');
    refreshStatus();
  } catch (error) {
    showMessage(error.message);
  }
}

function setUpRegionTool() {
  $('roi-form').addEventListener('submit', (event) => {
    event.preventDefault();
    setRegion(...['roi-x', 'roi-y', 'roi-w', 'roi-h'].map((id) => Number($(id).value)));
  });
  // Width and height 0 ask the camera for the whole sensor.
  $('roi-full').addEventListener('click', () => setRegion(0, 0, 0, 0));

  const stage = $('stage');
  const image = $('live');
  const box = $('roi-box');
  let start = null;
  const point = (event) => {
    const bounds = image.getBoundingClientRect();
    return {
      x: Math.min(Math.max(event.clientX - bounds.left, 0), bounds.width),
      y: Math.min(Math.max(event.clientY - bounds.top, 0), bounds.height),
    };
  };
  stage.addEventListener('pointerdown', (event) => {
    start = point(event);
    stage.setPointerCapture(event.pointerId);
  });
  stage.addEventListener('pointermove', (event) => {
    if (!start) return;
    const end = point(event);
    Object.assign(box.style, {
      left: `${Math.min(start.x, end.x)}px`, top: `${Math.min(start.y, end.y)}px`,
      width: `${Math.abs(end.x - start.x)}px`, height: `${Math.abs(end.y - start.y)}px`,
    });
    box.hidden = false;
  });
  stage.addEventListener('pointerup', (event) => {
    if (!start) return;
    const end = point(event);
    const from = start;
    start = null;
    box.hidden = true;
    const bounds = image.getBoundingClientRect();
    if (!status || Math.abs(end.x - from.x) < 8 || Math.abs(end.y - from.y) < 8) return;
    // Screen pixels to pixels of the delivered image, then to sensor pixels.
    const scaleX = status.width / bounds.width;
    const scaleY = status.height / bounds.height;
    const originX = status.region.x ?? 0;
    const originY = status.region.y ?? 0;
    setRegion(Math.round(originX + Math.min(from.x, end.x) * scaleX),
              Math.round(originY + Math.min(from.y, end.y) * scaleY),
              Math.round(Math.abs(end.x - from.x) * scaleX),
              Math.round(Math.abs(end.y - from.y) * scaleY));
  });
}

function setUpLiveView() {
  const image = $('live');
  // A dropped connection (a restarted server, a refused extra view) is tried again.
  image.addEventListener('error', () => {
    setTimeout(() => { image.src = `/stream.mjpg?${Date.now()}`; }, 1000);
  });
}

async function main() {
  setUpLiveView();
  setUpRegionTool();
  $('auto-exposure').addEventListener('change', async (event) => {
    try {
      await request('PUT', '/api/auto-exposure', { value: event.target.checked ? 1 : 0 });
    } catch (error) {
      showMessage(error.message);
    }
  });
  try {
    buildControls(await request('GET', '/api/controls'));
  } catch (error) {
    showMessage(error.message);
  }
  refreshStatus();
  setInterval(refreshStatus, 1000);
  setInterval(refreshHistogram, 1000);
  // Automatic exposure and white balance change values by themselves.
  setInterval(refreshControls, 2000);
  refreshHistogram();
  document.body.dataset.ready = 'true';
}

main();
