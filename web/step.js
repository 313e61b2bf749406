// Step mode: the program runs once, token by token, in a worker of its own
// that records every step (of a long run the adapter keeps the last
// 10,000); then Back and Forward go through them, and Step over and Step
// out by how many calls deep each token runs. A token met while a construct
// is open is only stored into it: such a step is shown as the construct
// growing, not as a token that runs; a definition at the top level, from
// its :name to its ;, may be one step instead. A run that never ends is
// stopped as in Program mode, and what the worker handed over last is gone
// through instead.

import { Editor } from './editor.js';
import { Interpreter } from './interpreter.js';
import { $, append, left_open, scroll_to_end, show_chain } from './views.js';

let interpreter = null;  // made when Step mode is first shown
let editor = null;
let recorded = null;     // {code, input} of the recording shown or being made
let progress = null;     // what the worker handed over last while it records
let view = null;         // the recording shown, as viewed() makes it
let position = 0;        // index of the group of steps shown (view.groups)
let epoch = 0;           // counts recordings: what a stopped one answers is past caring about

const decoder = new TextDecoder();

// The worker's recording (the adapter's Recording::write), with how many
// of its steps are kept and the number of the first: after them comes the
// state the run ended in, when it ended. Each step gets its variables'
// values whole, as numbers in values.
function viewed(data) {
  const kept = data.steps.length - (data.ended ? 1 : 0);
  let variables = [];
  for (const step of data.steps) {
    if (step.set) {
      variables = [...variables];
      for (let index = 0; index < step.set.length; index += 2) variables[step.set[index]] = step.set[index + 1];
    }
    step.variables = variables;
  }
  return { ...data, kept, first: data.taken - kept + 1 };
}

// The steps gone through, [first, last] each: one step each, but for a
// definition at the top level when they are stepped over, which is one
// from its :name to its ;.
function grouped() {
  const { steps, kept } = view;
  const over = $('step-definitions').checked;
  const groups = [];
  for (let first = 0; first < kept; ++first) {
    let last = first;
    if (over && steps[first].calls === 0 && steps[first].closing === '' && steps[first + 1]?.closing === ';') {
      while (last + 1 < kept && steps[last + 1].closing === ';' && (last === first || steps[last].collected)) ++last;
    }
    groups.push([first, last]);
    first = last;
  }
  return groups;
}

const count = (number) => number.toLocaleString('en');

// The number of the value at `index` from the bottom, when that far down
// is kept: the value changed when its number did.
function value_at(step, index) {
  const kept = index - (step.depth - step.top.length);
  return kept >= 0 ? step.top[kept] : undefined;
}

function span(class_name, text) {
  const element = document.createElement('span');
  element.className = class_name;
  element.textContent = text;
  return element;
}

// The stack as the token finds it and after it ran, bottom first: what the
// token took away or changed is marked in the first row, what it left in
// the second. A token that failed has no after: what it took before it
// failed is not what it would have done.
function show_stack(before, after, failed) {
  const box = $('step-stack');
  box.replaceChildren();
  for (const [label, step, other] of [['before', before, after], ['after', after, before]]) {
    const row = document.createElement('div');
    row.className = 'stack-row';
    let note = '';
    if (!step) note = failed ? 'it failed' : 'not recorded';
    else if (step.depth === 0) note = '(empty)';
    else if (step.depth > step.top.length) note = `${count(step.depth - step.top.length)} more below`;
    row.append(span('label', label), span('note', note));
    for (let index = step ? step.depth - step.top.length : 0; step && index < step.depth; ++index) {
      const number = value_at(step, index);
      const changed = other && (index >= other.depth || (value_at(other, index) !== undefined && value_at(other, index) !== number));
      row.append(span(changed ? 'cell changed' : 'cell', view.values[number]));
    }
    box.append(row);
  }
}

// Every variable made by the step's end, with its value before the step
// and after it; those the step changed or made are marked.
function show_variables(before, after) {
  const table = $('step-variables');
  table.replaceChildren();
  const head = table.createTHead().insertRow();
  for (const text of ['', 'before', 'after']) head.append(Object.assign(document.createElement('th'), { textContent: text }));
  const value = (step, index) => view.values[step?.variables[index]] ?? '';
  view.variables.forEach((name, index) => {
    if ((after ?? before).variables[index] === undefined) return;
    const changed = after && after.variables[index] !== before.variables[index];
    const row = table.tBodies[0]?.insertRow() ?? table.createTBody().insertRow();
    if (changed) row.className = 'changed';
    for (const text of [name, value(before, index), value(after, index)]) row.insertCell().textContent = text;
  });
  const more = view.more_variables ? `${count(view.more_variables)} more made, not shown` : '';
  table.hidden = !table.tBodies.length;
  $('step-variables-note').textContent = table.hidden ? '(none)' : more;
}

function show_output(end) {
  const output = $('step-output');
  output.replaceChildren();
  let start = 0;
  for (const [stream, stop] of view.streams) {
    if (start >= end) break;
    append(output, stream, decoder.decode(view.output.subarray(start, Math.min(stop, end))));
    start = stop;
  }
  scroll_to_end(output);
}

// The open construct from its opening token to the closing word it waits
// for, with the token of the step marked: the one it stores, or its closing
// word.
function show_construct(step, token) {
  const box = $('step-buffer');
  box.replaceChildren(span('opener', step.opener), ` ${step.buffer}${step.buffer ? ' ' : ''}`);
  if (step.collected) box.append(span('now', token), ' … ', span('closer', step.closing));
  else box.append(span('closer now', step.closing));
}

// The step that Step over (`over`) or Step out lands on from the one
// shown: the next that runs at a smaller call depth, or for Step over at
// the same depth too; Step over passes the tokens a construct stores. The
// last step when none does: the run ended in there. Step out stays at the
// top.
function target(over) {
  const { calls } = view.steps[view.groups[position][0]];
  if (!over && calls === 0) return position;
  const lands = over ? (step) => step.calls <= calls && !step.collected : (step) => step.calls < calls;
  const found = view.groups.slice(position + 1).findIndex(([first]) => lands(view.steps[first]));
  return found < 0 ? view.groups.length - 1 : position + 1 + found;
}

function show_position() {
  const [start, end] = view.groups[position];
  const step = view.steps[start];
  const last = position === view.groups.length - 1;
  // The token that failed is the last; the state after it is not its doing.
  const failed = last && view.failed;
  const after = failed ? undefined : view.steps[end + 1];
  const defining = end > start;
  // The token in the editor, and the calls that led to it.
  const chain = step.chain.map((number) => view.places[number]);
  // A token collected where it was also called from is no call itself: it
  // stands apart from the calls made at its place.
  const [first] = chain;
  if (step.collected && first?.times > 1) chain.splice(0, 1, { ...first, times: 1 }, { ...first, times: first.times - 1 });
  const marks = chain.map((place, index) => [index === 0 ? 'step' : 'caller', place]);
  // At the end, a construct left open is marked where it opened, as in Program mode.
  if (last && view.left_open) marks.push(['error', view.left_open]);
  editor.show_marks(marks.filter(([, place]) => place.source === 'program'));
  $('step-editor').classList.toggle('collecting', step.collected);
  $('step-doing').replaceChildren(defining ? `Defining ${chain[0]?.token ?? ''} ` : step.collected
    ? `Collecting into ${step.opener} ` : 'Running ', span('hint', defining ? 'the whole definition as one step'
    : step.collected ? 'the token it stores, to run later, then the calls that led to it' : 'the token, then the calls that led to it'),
  span('depth', `call depth ${step.calls}`));
  show_chain($('step-chain'), chain, (place) => editor.go_to(place));
  show_stack(step, after, failed);
  show_variables(step, after);
  const shown = view.steps[end];
  $('step-construct').hidden = shown.closing === '';
  if (shown.closing) show_construct(shown, view.places[shown.chain[0]]?.token ?? '');
  show_output((after ?? step).output);
  const numbers = [start, end].map((index) => count(view.first + index));
  $('step-position').textContent = `${defining ? `Steps ${numbers.join('–')}` : `Step ${numbers[0]}`} of ${count(view.taken)}`
    + (view.first > 1 ? ` (showing steps ${count(view.first)}–${count(view.taken)} of ${count(view.taken)}: the earlier ones are not kept)` : '');
  $('step-back').disabled = position === 0;
  for (const id of ['step-forward', 'step-over', 'step-end']) $(id).disabled = last;
  $('step-out').disabled = last || step.calls === 0;
}

function go(to) {
  if (!view || view.kept === 0 || busy()) return;
  position = Math.max(0, Math.min(view.groups.length - 1, to));
  show_position();
}

function busy() { return interpreter?.busy ?? false; }

function set_recording(running) {
  for (const id of ['step-back', 'step-forward', 'step-over', 'step-out', 'step-end']) $(id).disabled = running;
  $('step-stop').disabled = !running;
  $('step-again').disabled = running;
}

function show_status(text, failed = false) {
  const status = $('step-status');
  status.textContent = text;
  status.classList.toggle('failed', failed);
}

// What became of the run, said once its recording is there.
function outcome(result, data) {
  const steps = `${count(data?.taken ?? 0)} steps`;
  if (result.kind === 'stopped') return [`Stopped after ${steps} or more.`, true];
  if (result.kind === 'ended') return [`The program ended with bye after ${steps}.`, false];
  if (result.kind === 'crashed') return [`The interpreter failed (${result.message}) and was restarted.`, true];
  if (!result.ok) return [`${result.error} (at step ${count(data.taken)})`, true];
  return [`Finished after ${steps}.${result.closing ? ` ${left_open(result)}` : ''}`, result.closing !== ''];
}

// Runs the program, recording it, and shows its first step; or the last
// when `at_end` (the one that failed, after an error) or when the first is
// no longer kept. A recording under way gives way to it.
async function record(code, input, at_end = false) {
  const mine = ++epoch;
  if (busy()) interpreter.stop();
  recorded = { code, input };
  progress = null;
  view = null;
  editor.text = code;
  for (const id of ['step-chain', 'step-stack', 'step-variables', 'step-variables-note', 'step-output', 'step-buffer', 'step-position']) {
    $(id).replaceChildren();
  }
  $('step-construct').hidden = true;
  show_status('Recording…');
  set_recording(true);
  let result;
  try {
    result = await interpreter.request({ kind: 'record', code, input });
  } catch (error) {
    result = { kind: 'crashed', message: error.message };
  }
  if (mine !== epoch) return;
  set_recording(false);
  // Neither a crash nor bye leaves the interpreter fit to go on.
  if (result.kind === 'ended' || result.kind === 'crashed') interpreter.stop();
  const data = result.recording ?? progress;
  show_status(...outcome(result, data));
  if (!data || data.taken === 0) return;
  view = viewed(data);
  view.left_open = result.ok && result.closing ? result.opened : null;
  view.failed = result.kind === 'done' && !result.ok;
  view.groups = grouped();
  go(at_end || view.first > 1 ? Infinity : 0);
}

export function stop_recording() {
  if (busy()) interpreter.stop();
}

// Shows Step mode with a recording of `code` and `input`: the one there is
// when it is theirs, else a new one.
export function show_step(code, input, { at_end = false } = {}) {
  if (!interpreter) {
    interpreter = new Interpreter(() => {}, ({ recording: data }) => {
      progress = data;
      show_status(`Recording… ${count(data.taken)} steps so far.`);
    });
    editor = new Editor($('step-editor'), { text: code, label: 'step-heading', on_run: () => record_again(), read_only: true });
  }
  if (at_end || recorded?.code !== code || recorded?.input !== input) record(code, input, at_end);
}

export function record_again() {
  if (recorded) record(recorded.code, recorded.input);
}

// Left and Right step, Down steps over and Up steps out, Home and End go
// to the first and the last step, unless the focus is where these keys
// have work of their own.
export function step_key(event) {
  if (event.target.closest?.('.cm-editor, input:not([type=checkbox]), textarea, select')) return;
  const moves = {
    ArrowLeft: () => position - 1, ArrowRight: () => position + 1, ArrowDown: () => target(true), ArrowUp: () => target(false),
    Home: () => 0, End: () => Infinity,
  };
  if (!(event.key in moves) || event.ctrlKey || event.altKey || event.metaKey) return;
  event.preventDefault();
  if (view?.kept) go(moves[event.key]());
}

// Stepping over definitions or into them, the step shown stays: the one
// that holds its first token.
$('step-definitions').addEventListener('change', () => {
  if (!view?.kept) return;
  const [first] = view.groups[position];
  view.groups = grouped();
  go(view.groups.findLastIndex(([start]) => start <= first));
});

$('step-back').addEventListener('click', () => go(position - 1));
$('step-forward').addEventListener('click', () => go(position + 1));
$('step-over').addEventListener('click', () => go(target(true)));
$('step-out').addEventListener('click', () => go(target(false)));
$('step-end').addEventListener('click', () => go(Infinity));
$('step-stop').addEventListener('click', stop_recording);
$('step-again').addEventListener('click', record_again);
