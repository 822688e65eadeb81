// frameyard view: one panel per camera, fed by the view's WebSocket.
// Frames and live images come as little-endian binary messages; everything else as JSON.
"use strict";

const FRAME = 1, LIVE = 2, STALE_MS = 1000, NOTES_SHOWN = 12, CANVAS = 256, LATE_MS = 100;
const state = { ws: null, control: false, panels: new Map(), order: [], ageMax: 0, late: 0, frames: 0,
                live: null, liveImages: 0, liveImage: null };

function el(tag, attrs, text) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

function timecodeText(view, at, present) {
  if (!present) return "";
  const parts = [];
  for (let i = 0; i < 4; i++) parts.push(String(view.getUint8(at + i)).padStart(2, "0"));
  return parts.join(":");
}

// ---- configuration: panels, thresholds, settings

function rangeText(minimum, maximum) {
  return "range " + (minimum === null ? "−∞" : minimum) + " … " + (maximum === null ? "+∞" : maximum);
}

function numberField(label, value, minimum, maximum, step, onChange) {
  const row = el("label");
  row.append(el("span", {}, label));
  const input = el("input", { type: "number", step: String(step) });
  if (minimum !== null) input.min = String(minimum);
  if (maximum !== null) input.max = String(maximum);
  input.value = String(value);
  input.disabled = !state.control;
  input.addEventListener("change", () => onChange(Number(input.value)));
  input.addEventListener("click", (event) => event.stopPropagation());
  row.append(input, el("span", { class: "range" }, rangeText(minimum, maximum)));
  return row;
}

function makePanel(camera) {
  const panel = el("section", { class: "panel", "data-camera": camera.name });
  const title = el("div", { class: "title" });
  title.append(el("span", { class: "name" }, camera.name), el("span", { class: "state" }),
               el("span", { class: "timecode" }));
  const canvas = el("canvas", { width: CANVAS, height: CANVAS });
  const numbers = el("div", { class: "numbers" });
  numbers.append(el("span", {}, "count "), el("span", { class: "count" }, "0"),
                 el("span", {}, "fps "), el("span", { class: "fps" }, "0.0"));
  const details = el("details");
  details.append(el("summary", {}, "threshold and settings"));
  details.addEventListener("click", (event) => event.stopPropagation());
  panel.append(title, canvas, numbers, details);
  panel.addEventListener("click", () => openLive(camera.name));
  return { panel, canvas, details, count: numbers.querySelector(".count"), fps: numbers.querySelector(".fps"),
           timecode: title.querySelector(".timecode"), lastFrame: 0, lastBlobs: 0, region: camera.region };
}

function fillSettings(entry, camera) {
  const open = entry.details.open;
  entry.details.replaceChildren(el("summary", {}, "threshold and settings"));
  entry.details.open = open;
  entry.details.append(numberField("threshold", camera.threshold, 0, 255, 1,
    (value) => send({ op: "threshold", camera: camera.name, value })));
  for (const s of camera.settings) {
    const step = s.precision > 0 ? Math.pow(10, -s.precision) : "any";
    entry.details.append(numberField(s.name, s.value, s.minimum, s.maximum, step,
      (value) => send({ op: "setting", camera: camera.name, setting: s.name, value })));
  }
}

function onConfig(message) {
  state.control = message.control;
  document.getElementById("host").textContent = "host " + message.host;
  document.getElementById("mode").textContent = message.control ? "control" : "read-only";
  const box = document.getElementById("cameras");
  const names = message.cameras.map((c) => c.name);
  if (names.join("\n") !== state.order.join("\n")) {
    box.replaceChildren();
    state.panels.clear();
    for (const camera of message.cameras) {
      const entry = makePanel(camera);
      state.panels.set(camera.name, entry);
      box.append(entry.panel);
    }
    state.order = names;
  }
  for (const camera of message.cameras) {
    const entry = state.panels.get(camera.name);
    entry.region = camera.region;
    entry.panel.classList.toggle("disabled", camera.disabled);
    // Leave a field alone while someone is typing in it.
    if (!entry.details.contains(document.activeElement)) fillSettings(entry, camera);
  }
}

// ---- frames

function drawBlobs(entry, xy) {
  const ctx = entry.canvas.getContext("2d");
  const r = entry.region;
  let left = Math.min(r.left, r.right), right = Math.max(r.left, r.right);
  let top = Math.min(r.top, r.bottom), bottom = Math.max(r.top, r.bottom);
  if (right - left <= 0 || bottom - top <= 0) { left = 0; right = 512; top = 0; bottom = 512; }
  const scale = Math.min(CANVAS / (right - left), CANVAS / (bottom - top));
  const x0 = (CANVAS - (right - left) * scale) / 2, y0 = (CANVAS - (bottom - top) * scale) / 2;
  ctx.fillStyle = "#0c0e10";
  ctx.fillRect(0, 0, CANVAS, CANVAS);
  ctx.strokeStyle = "#3a6ea5";
  ctx.strokeRect(x0 + 0.5, y0 + 0.5, (right - left) * scale - 1, (bottom - top) * scale - 1);
  ctx.fillStyle = "#7ee787";
  for (let i = 0; i < xy.length; i += 2) {
    ctx.fillRect(x0 + (xy[i] - left) * scale - 1.5, y0 + (xy[i + 1] - top) * scale - 1.5, 3, 3);
  }
}

function onFrame(buffer) {
  const view = new DataView(buffer);
  const cameras = view.getUint16(2, true);
  const arrivedMs = view.getFloat64(8, true);
  const age = Date.now() - arrivedMs;
  if (age > LATE_MS) state.late++;
  if (age > state.ageMax) {
    state.ageMax = age;
    document.getElementById("age-max").textContent = age.toFixed(0);
  }
  state.frames++;
  let at = 16;
  const now = performance.now();
  for (let c = 0; c < cameras; c++) {
    const count = view.getUint32(at, true);
    const rate = view.getFloat32(at + 8, true);
    const flags = view.getUint32(at + 12, true);
    const entry = state.panels.get(state.order[c]);
    if (entry) {
      entry.count.textContent = String(count);
      entry.fps.textContent = rate.toFixed(1);
      entry.timecode.textContent = timecodeText(view, at + 4, flags & 1);
      entry.lastFrame = now;
      if (count > 0) entry.lastBlobs = now;
      entry.panel.classList.remove("stale");
      drawBlobs(entry, new Float32Array(buffer, at + 16, count * 2));
    }
    at += 16 + count * 8;
  }
}

function markStale() {
  const now = performance.now();
  for (const entry of state.panels.values()) {
    if (now - entry.lastFrame > STALE_MS) entry.panel.classList.add("stale");
    // Frames still come, but this camera has seen no blob for a while: dropped out or blind.
    entry.panel.classList.toggle("blind", now - entry.lastFrame <= STALE_MS && now - entry.lastBlobs > STALE_MS);
  }
}

// ---- the live image

function openLive(name) {
  state.live = name;
  state.liveImage = null;
  document.getElementById("live").hidden = false;
  document.getElementById("live-name").textContent = name;
  send({ op: "live", camera: name });
}

function closeLive() {
  state.live = null;
  document.getElementById("live").hidden = true;
  send({ op: "close_live" });
}

function onLive(buffer) {
  const view = new DataView(buffer);
  const hasImage = view.getUint8(1);
  const width = view.getUint16(4, true), height = view.getUint16(6, true);
  const segments = view.getUint32(8, true);
  const tc = timecodeText(view, 12, view.getUint32(16, true) & 1);
  let at = 28;
  const canvas = document.getElementById("live-canvas");
  const ctx = canvas.getContext("2d");
  if (hasImage) {
    const grey = new Uint8Array(buffer, at, width * height);
    const image = ctx.createImageData(width, height);
    for (let i = 0, j = 0; i < grey.length; i++, j += 4) {
      image.data[j] = image.data[j + 1] = image.data[j + 2] = grey[i];
      image.data[j + 3] = 255;
    }
    state.liveImage = image;
    at += (width * height + 3) & ~3;
  }
  if (state.liveImage) {
    if (canvas.width !== state.liveImage.width || canvas.height !== state.liveImage.height) {
      canvas.width = state.liveImage.width;
      canvas.height = state.liveImage.height;
    }
    ctx.putImageData(state.liveImage, 0, 0);
  }
  const runs = new Uint16Array(buffer, at, segments * 3);
  ctx.fillStyle = "rgba(255, 80, 60, 0.45)";
  for (let i = 0; i < runs.length; i += 3) ctx.fillRect(runs[i], runs[i + 1], runs[i + 2] - runs[i] + 1, 1);
  document.getElementById("live-info").textContent = tc + "  " + segments + " segments";
  if (hasImage) {
    state.liveImages++;
    send({ op: "ack" });  // after drawing: the host sends the next image at this page's pace
  }
}

// ---- notes, replies, status

function onNote(message) {
  const list = document.getElementById("notes");
  const when = new Date(message.time).toLocaleTimeString();
  list.prepend(el("li", {}, when + "  " + message.text));
  while (list.children.length > NOTES_SHOWN) list.lastChild.remove();
}

function onStatus(message) {
  const banner = document.getElementById("banner");
  banner.hidden = message.connected;
  banner.textContent = message.connected ? "" : message.text + " (reconnecting)";
}

function showBanner(text) {
  const banner = document.getElementById("banner");
  banner.hidden = false;
  banner.textContent = text;
}

function onText(message) {
  switch (message.type) {
    case "config": onConfig(message); break;
    case "status": onStatus(message); break;
    case "note": onNote(message); break;
    case "changed": case "refused": case "live_error":
      document.getElementById("reply").textContent = message.text;
      break;
  }
}

function send(value) {
  if (state.ws && state.ws.readyState === WebSocket.OPEN) state.ws.send(JSON.stringify(value));
}

function connect() {
  const ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws");
  ws.binaryType = "arraybuffer";
  ws.onopen = () => { if (state.live) send({ op: "live", camera: state.live }); };
  ws.onmessage = (event) => {
    if (typeof event.data === "string") { onText(JSON.parse(event.data)); return; }
    const type = new DataView(event.data).getUint8(0);
    if (type === FRAME) {
      onFrame(event.data);
      // The view sends no more than two frames ahead of this; kept byte for byte as it expects.
      if (state.ws.readyState === WebSocket.OPEN) state.ws.send('{"op":"seen"}');
    }
    else if (type === LIVE && state.live) onLive(event.data);
  };
  ws.onclose = () => {
    showBanner("the view at " + location.host + " is unreachable (reconnecting)");
    setTimeout(connect, 1000);
  };
  state.ws = ws;
}

document.getElementById("live-close").addEventListener("click", closeLive);
setInterval(markStale, 250);
connect();
