// A run's profile (the worker's `profile`): a flame graph of where its
// steps went, drawn here as SVG with the root at the top, each frame as
// wide as the steps taken in it and in what it called; the words that took
// the most steps themselves; and the collapsed stacks, which speedscope and
// flamegraph.pl read, to download.

import { $ } from './views.js';

const row = 20;      // px, a frame's height
const glyph = 7.3;   // px, a character of the labels' 12px monospace font, at the widest
const words_shown = 20;

let root = null;     // the root frame, as frames() makes it
let zoomed = null;   // the frame that fills the width
let drawn = [];      // the frames drawn, in the order of their <g>
let link = '';       // the object URL of the collapsed stacks
let width = 0;       // px, as wide as the graph was drawn

const count = (number) => number.toLocaleString('en');
const share = (part, whole) => `${(whole ? (100 * part) / whole : 0).toFixed(1)}%`;
const escape = (text) => text.replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);
const about = (frame) => `${frame.name}: ${count(frame.steps)} steps, ${share(frame.steps, root.steps)} of all`;

// Collapsed stacks, `root;outer;inner STEPS` a line, as a tree of frames
// {name, steps, children, parent}, a frame's steps those taken in it and
// under it; every stack begins with the same root.
function frames(stacks) {
  const top = { children: new Map() };
  for (const line of stacks.split('\n')) {
    const blank = line.lastIndexOf(' ');
    const steps = Number(line.slice(blank + 1));
    let frame = top;
    for (const name of blank < 0 ? [] : line.slice(0, blank).split(';')) {
      const parent = frame;
      frame = parent.children.get(name);
      if (!frame) parent.children.set(name, frame = { name, steps: 0, children: new Map(), parent: parent === top ? null : parent });
      frame.steps += steps;
    }
  }
  return top.children.values().next().value ?? null;
}

// Warm colours, the same for a name wherever it is drawn.
function colour(name) {
  let hash = 0;
  for (const character of name) hash = (hash * 31 + character.codePointAt(0)) % 1009;
  return `hsl(${8 + (hash % 42)},80%,${60 + (hash % 15)}%)`;
}

// The frame zoomed into fills the width, under its callers drawn as wide;
// what it called is drawn to scale, the heaviest first, down to half a pixel.
function draw() {
  const svg = $('flame');
  width = svg.parentElement.clientWidth;
  if (!root || !width) return;
  let parts = '';
  let depth = 0;
  drawn = [];
  // A frame stands a pixel apart from the one beside it and the one under it.
  const add = (frame, x, w, level, faded) => {
    const name = [...frame.name];
    const fits = Math.floor((w - 6) / glyph);
    const label = name.length <= fits ? frame.name : fits > 2 ? `${name.slice(0, fits - 1).join('')}…` : '';
    const y = level * row;
    parts += `<g data-n="${drawn.length}"${faded ? ' class="faded"' : ''}><title>${escape(about(frame))}</title>`
      + `<rect x="${x}" y="${y}" width="${w > 2 ? w - 1 : w}" height="${row - 1}" fill="${colour(frame.name)}"/>`
      + `<text x="${x + 3}" y="${y + 14}">${escape(label)}</text></g>`;
    drawn.push(frame);
    depth = Math.max(depth, level + 1);
  };
  const callers = [];
  for (let frame = zoomed.parent; frame; frame = frame.parent) callers.unshift(frame);
  callers.forEach((frame, level) => add(frame, 0, width, level, true));
  const scale = width / zoomed.steps;
  const under = (frame, x, level) => {
    add(frame, x, frame.steps * scale, level);
    for (const child of [...frame.children.values()].sort((a, b) => b.steps - a.steps)) {
      if (child.steps * scale < 0.5) break;
      under(child, x, level + 1);
      x += child.steps * scale;
    }
  };
  under(zoomed, 0, callers.length);
  svg.setAttribute('viewBox', `0 0 ${width} ${depth * row}`);
  svg.setAttribute('height', depth * row);
  svg.innerHTML = parts;
  $('flame-reset').disabled = zoomed === root;
  note(zoomed);
}

function note(frame) {
  $('flame-note').textContent = `${about(frame)}. ${frame === root ? 'Click a frame to zoom into it.' : 'Click the root to zoom out.'}`;
}

function zoom(frame) {
  zoomed = frame;
  draw();
}

// The words that took the most steps themselves, with their calls, their
// share of the steps, themselves and with what they called, and where they
// were defined when known; a place of the program reads "line 2". The
// root's row is the top level's.
function show_words({ steps, rows }) {
  const table = $('profile-words');
  table.replaceChildren();
  const head = table.createTHead().insertRow();
  for (const text of ['Word', 'Calls', 'Self steps', 'Self', 'Total', 'Defined']) {
    head.append(Object.assign(document.createElement('th'), { textContent: text }));
  }
  const body = table.createTBody();
  for (const { name, defined, calls, self, total } of rows.slice(0, words_shown)) {
    const where = defined ? defined.replace(/^program:(\d+)/, 'line $1') : name === root?.name ? 'top level' : '';
    const cells = [name, count(calls), count(self), share(self, steps), share(total, steps), where];
    const tr = body.insertRow();
    for (const text of cells) tr.insertCell().textContent = text;
  }
  $('profile-more').textContent = rows.length > words_shown ? `${count(rows.length - words_shown)} more words not shown.` : '';
}

export function hide_profile() {
  $('profile').hidden = true;
}

// Shows the profile of a run: its collapsed stacks and its summary (the
// adapter's tolva_profile_summary).
export function show_profile({ stacks, summary }) {
  root = frames(stacks);
  zoomed = root;
  $('profile').hidden = false;
  $('profile-total').textContent = `${count(summary.steps)} steps`;
  $('flame-graph').hidden = !root;
  if (root) draw();
  else $('flame-note').textContent = 'The run took no steps.';
  show_words(summary);
  URL.revokeObjectURL(link);
  link = URL.createObjectURL(new Blob([stacks], { type: 'text/plain' }));
  $('profile-download').href = link;
}

$('flame').addEventListener('click', (event) => {
  const frame = drawn[event.target.closest('g')?.dataset.n];
  if (frame) zoom(frame);
});
$('flame').addEventListener('mouseover', (event) => {
  const frame = drawn[event.target.closest('g')?.dataset.n];
  if (frame) note(frame);
});
$('flame').addEventListener('mouseleave', () => note(zoomed));
$('flame-reset').addEventListener('click', () => zoom(root));
// Drawn again in the next frame, as drawing may change what is observed.
new ResizeObserver(() => requestAnimationFrame(() => {
  if ($('flame-graph').clientWidth !== width) draw();
})).observe($('flame-graph'));
