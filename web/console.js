// Console mode: the terminal session, line by line, in a worker of its own.
// A line cannot be interrupted inside the worker, so Stop ends the worker;
// the new one runs again, without their output, the lines that had run to
// their end, and the session keeps what they defined and stored, as after
// Ctrl-C on a terminal. Only what the stopped line itself did is undone.

import { Interpreter } from './interpreter.js';
import { $, append, scroll_to_end } from './views.js';

const transcript = $('transcript');
const prompt = $('prompt');
const line_input = $('console-input');
const terminal = $('terminal');

let session = null;    // made when the console is first shown
let starting = null;   // the session's start, until its banner is shown
let epoch = 0;         // counts restarts: what a line of an earlier session answers is past caring about
let completed = [];    // {code, input} of every line that ran to its end, to run again after a stop
let input_used = 0;    // lines of the Input box the session's accept has read
const past_lines = [];
let recalled = 0;      // index into past_lines while Up and Down step through them
let listed = '';       // the line and cursor that the last Tab left ambiguous

function show(stream, text) {
  append(transcript, stream, text);
  scroll_to_end(terminal);
}

function ensure_line_start() {
  if (transcript.textContent && !transcript.textContent.endsWith('\n')) show(1, '\n');
}

function set_running(running) {
  line_input.disabled = running;
  $('console-stop').disabled = !running;
  if (!running) line_input.focus();
}

async function start() {
  const started_in = epoch;
  set_running(true);
  completed = [];
  input_used = 0;
  prompt.textContent = '? ';
  const started = await session.request({ kind: 'start' });
  if (started_in !== epoch) return;
  if (started.kind === 'stopped') {
    await start();
  } else if (started.kind === 'started') {
    show(1, started.banner);
    set_running(false);
  } else {
    show(0, `The interpreter failed (${started.message}).\n`);
  }
}

// After a stop or a failure: a new session runs the completed lines again.
async function restore(why) {
  const started_in = epoch;
  const result = await session.request({ kind: 'restore', lines: completed });
  if (started_in !== epoch) return;
  if (result.kind === 'restored') {
    show(0, `${why}The line is undone; everything before it stays.\n`);
    set_running(false);
    return;
  }
  if (result.kind !== 'stopped') session.stop();
  show(0, `${why}The session could not be restored; a new one starts.\n`);
  await start();
}

async function enter_line(text) {
  const started_in = epoch;
  if (text.trim() && past_lines[past_lines.length - 1] !== text) past_lines.push(text);
  recalled = past_lines.length;
  show(1, `${prompt.textContent}${text}\n`);
  line_input.value = '';
  set_running(true);
  const input = $('input').value.split('\n').slice(input_used).join('\n');
  const result = await session.request({ kind: 'line', code: text, input });
  if (started_in !== epoch) return;
  if (result.kind === 'done') {
    // A line that read no input gets none when it runs again.
    completed.push({ code: text, input: result.input_used ? input : '' });
    input_used += result.input_used;
    if (result.ok) {
      show(1, 'ok\n');
    } else {
      ensure_line_start();
      // Explained on the next line, as a terminal's session explains it.
      show(2, `${result.error}\n${result.explanation ? `  ${result.explanation}\n` : ''}`);
    }
    prompt.textContent = result.closing ? '... ' : '? ';
    set_running(false);
  } else if (result.kind === 'ended') {
    session.stop();
    show(0, 'bye ended the session; a new one starts.\n');
    await start();
  } else if (result.kind === 'stopped') {
    ensure_line_start();
    show(2, 'Interrupted\n');
    await restore('');
  } else {
    ensure_line_start();
    session.stop();
    await restore(`The interpreter failed (${result.message}). `);
  }
}

function common_prefix(names) {
  let prefix = Array.from(names[0]);
  for (const name of names) {
    const characters = Array.from(name);
    let same = 0;
    while (same < prefix.length && prefix[same] === characters[same]) ++same;
    prefix = prefix.slice(0, same);
  }
  return prefix.join('');
}

// Tab, as on a terminal: completes the token before the cursor as far as
// every name that fits agrees, with a blank after a single one; a second
// Tab that can add nothing lists them.
async function complete(token) {
  const before = line_input.value.slice(0, line_input.selectionStart);
  const { names } = await session.request({ kind: 'complete', text: before });
  if (names.length === 0 || line_input.value.slice(0, line_input.selectionStart) !== before) return;
  const addition = common_prefix(names).slice(token.length) + (names.length === 1 ? ' ' : '');
  line_input.setRangeText(addition, line_input.selectionStart, line_input.selectionEnd, 'end');
  const state = `${line_input.value}\0${line_input.selectionStart}`;
  if (names.length > 1 && addition === '' && state === listed) show(0, `${names.join('  ')}\n`);
  listed = state;
}

function recall(step) {
  const next = recalled + step;
  if (next < 0 || next > past_lines.length) return;
  recalled = next;
  line_input.value = past_lines[recalled] ?? '';
  line_input.setSelectionRange(line_input.value.length, line_input.value.length);
}

line_input.addEventListener('keydown', (event) => {
  const token = line_input.value.slice(0, line_input.selectionStart).match(/\S*$/)[0];
  if (event.key === 'Enter') {
    event.preventDefault();
    if (!session.busy) enter_line(line_input.value);
  } else if (event.key === 'ArrowUp') {
    event.preventDefault();
    recall(-1);
  } else if (event.key === 'ArrowDown') {
    event.preventDefault();
    recall(1);
  } else if (event.key === 'Tab' && !event.shiftKey && token && !session.busy) {
    // With nothing to complete, Tab leaves the line as it does elsewhere.
    event.preventDefault();
    complete(token);
  } else if (event.key === 'c' && event.ctrlKey && line_input.selectionStart === line_input.selectionEnd) {
    // As at the terminal's prompt: the line being typed is thrown away.
    event.preventDefault();
    line_input.value = '';
  }
});

terminal.addEventListener('click', () => {
  if (!window.getSelection().toString()) line_input.focus();
});

export function stop_line() {
  if (session?.busy) session.stop();
}

$('console-stop').addEventListener('click', stop_line);
$('console-restart').addEventListener('click', () => {
  ++epoch;
  session.stop();
  transcript.replaceChildren();
  starting = start();
});

// Shows the console, starting its session the first time.
export function show_console() {
  if (!session) {
    session = new Interpreter(show);
    starting = start();
  }
  line_input.focus();
}

// Enters `lines` one after another, as if typed.
export async function type_lines(lines) {
  show_console();
  await starting;
  for (const line of lines) await enter_line(line);
}
