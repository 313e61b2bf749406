// The playground page. The program editor and the console each have an
// interpreter in a worker of their own, so that stopping a program (which
// ends its worker) leaves the console's session as it was.

import { Editor } from './editor.js';

const $ = (id) => document.getElementById(id);

// One worker and the request it is answering. Output arrives while the
// request runs; the answer ends it.
class Interpreter {
  constructor(on_output) {
    this.on_output = on_output;
    this.start();
  }

  start() {
    this.answer = null;
    this.worker = new Worker('worker.js');
    this.ready = new Promise((resolve, reject) => {
      this.worker.onerror = (event) => {
        event.preventDefault();
        reject(new Error('The interpreter could not be loaded.'));
        this.finish({ kind: 'crashed', message: event.message });
      };
      this.worker.onmessage = ({ data }) => {
        if (data.kind === 'ready') {
          resolve();
        } else if (data.kind === 'output') {
          for (const [stream, text] of data.chunks) this.on_output(stream, text);
        } else {
          this.finish(data);
        }
      };
    });
  }

  get busy() { return this.answer !== null; }

  async request(message) {
    const answered = new Promise((resolve) => { this.answer = resolve; });
    await this.ready;
    this.worker.postMessage(message);
    return answered;
  }

  finish(result) {
    const answer = this.answer;
    this.answer = null;
    if (answer) answer(result);
  }

  // Code that runs cannot be asked to stop from here: the worker ends, and
  // a new one with a fresh session takes its place.
  stop() {
    this.worker.terminate();
    const answer = this.answer;
    this.start();
    if (answer) answer({ kind: 'stopped' });
  }
}

// Keeps the end of a growing <pre> in sight, once a frame however often it grows.
const scrolling = new Set();
function scroll_to_end(view) {
  if (scrolling.size === 0) {
    requestAnimationFrame(() => {
      for (const box of scrolling) box.scrollTop = box.scrollHeight;
      scrolling.clear();
    });
  }
  scrolling.add(view);
}

// Appends text to a <pre>, standard error in spans of its own.
function append(view, stream, text) {
  const last = view.lastChild;
  const kind = stream === 2 ? 'err' : stream === 0 ? 'note' : '';
  if (last && (last.className || '') === kind && last.nodeType === Node.ELEMENT_NODE) {
    last.append(text);
  } else {
    const span = document.createElement('span');
    if (kind) span.className = kind;
    span.textContent = text;
    view.append(span);
  }
}

// Program text travels in links as its UTF-8 bytes in base64url.
function encode(text) {
  let binary = '';
  for (const byte of new TextEncoder().encode(text)) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function decode(text) {
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  return new TextDecoder().decode(Uint8Array.from(binary, (c) => c.charCodeAt(0)));
}

// ---- Program mode

const output = $('output');
const status = $('status');

const program = new Interpreter((stream, text) => {
  append(output, stream, text);
  scroll_to_end(output);
});
program.ready.then(
  () => { document.body.dataset.ready = 'true'; },
  (error) => show_status(error.message, true));

function show_status(text, failed = false) {
  status.textContent = text;
  status.classList.toggle('failed', failed);
}

const editor = new Editor($('editor'), {
  text: '\\ Squares of 1 to 5, then what is left on the stack.\n:sq dup * ;\n[ $i 1+ sq . ] 5 times cr\n6 7',
  label: 'editor-heading',
  on_run: () => run_program(),
});

function set_running(running) {
  $('run').disabled = running;
  $('stop').disabled = !running;
  document.body.dataset.running = running;
}

function format_time(ms) { return ms < 1000 ? `${Math.round(ms)} ms` : `${(ms / 1000).toFixed(2)} s`; }

async function run_program() {
  if (program.busy) return;
  output.replaceChildren();
  $('stack').textContent = '';
  editor.clear_mark();
  show_status('Running…');
  set_running(true);
  let result;
  try {
    result = await program.request({ kind: 'run', code: editor.text, input: $('input').value });
  } catch (error) {
    result = { kind: 'failed', message: error.message };
  }
  set_running(false);
  if (result.kind === 'stopped') {
    append(output, 0, `${output.textContent && !output.textContent.endsWith('\n') ? '\n' : ''}[stopped]\n`);
    show_status('Stopped. The interpreter was restarted.', true);
    return;
  }
  if (result.kind === 'failed') {
    show_status(result.message, true);
    return;
  }
  if (result.kind === 'ended' || result.kind === 'crashed') {
    // Neither leaves the interpreter fit to go on; a fresh one takes its place.
    program.stop();
    if (result.kind === 'ended') show_status('The program ended with bye.');
    else show_status(`The interpreter failed (${result.message}) and was restarted.`, true);
    return;
  }
  if (!result.ok) append(output, 2, `${result.error}\n`);
  $('stack').textContent = result.stack || '(empty)';
  const notes = [];
  if (result.ok) {
    notes.push(`Finished in ${format_time(result.time)}.`);
  } else if (result.line) {
    notes.push(`Error on line ${result.line}, at ${result.token}: ${result.error}`);
    editor.mark(result.line, result.token);
  } else {
    notes.push(`Error: ${result.error}`);
  }
  if (result.closing) notes.push(`The program ends inside an open construct: it still waits for ${result.closing}`);
  show_status(notes.join(' '), !result.ok || result.closing !== '');
}

function stop_program() {
  if (program.busy) program.stop();
}

function share_link() {
  const input = $('input').value;
  const fragment = `code=${encode(editor.text)}${input ? `&input=${encode(input)}` : ''}`;
  history.replaceState(null, '', `#${fragment}`);
  const link = $('link');
  link.value = location.href;
  link.hidden = false;
  link.select();
  if (navigator.clipboard) navigator.clipboard.writeText(link.value).catch(() => {});
}

// #code=...&input=...&run: the program, its input, and whether to run it now.
function open_link() {
  const fields = new URLSearchParams(location.hash.slice(1));
  if (!fields.has('code')) return;
  try {
    const code = decode(fields.get('code'));
    $('input').value = fields.has('input') ? decode(fields.get('input')) : '';
    editor.text = code;
  } catch {
    show_status('This link does not carry a readable program.', true);
    return;
  }
  show_mode('program');
  if (fields.has('run')) run_program();
}

let examples = [];  // {name, input}: whether it comes with NAME.in

async function load_examples() {
  examples = await (await fetch('examples/index.json')).json();
  for (const { name } of examples) $('examples').add(new Option(name, name));
}

async function open_example(name) {
  const entry = examples.find((example) => example.name === name);
  const code = await (await fetch(`examples/${name}.tv`)).text();
  const input = entry.input ? await (await fetch(`examples/${name}.in`)).text() : '';
  editor.text = code;
  $('input').value = input;
  output.replaceChildren();
  $('stack').textContent = '';
  show_status(`Example ${name}${input ? ', with its input' : ''}. Run it with Ctrl-Enter.`);
}

// ---- Console mode

const transcript = $('transcript');
const prompt = $('prompt');
const line_input = $('console-input');
const terminal = $('terminal');
const past_lines = [];
let recalled = 0;      // index into past_lines while Up/Down step through them
let input_used = 0;    // lines of the Input box the session's accept has read
let console_session = null;

function show_console(stream, text) {
  append(transcript, stream, text);
  scroll_to_end(terminal);
}

function ensure_line_start() {
  if (transcript.textContent && !transcript.textContent.endsWith('\n')) show_console(1, '\n');
}

async function start_console() {
  input_used = 0;
  prompt.textContent = '? ';
  const started = await console_session.request({ kind: 'start' });
  show_console(1, started.banner);
  line_input.disabled = false;
  line_input.focus();
}

function set_console_running(running) {
  line_input.disabled = running;
  $('console-stop').disabled = !running;
  document.body.dataset.running = running;
}

async function enter_line(text) {
  if (text.trim() && past_lines[past_lines.length - 1] !== text) past_lines.push(text);
  recalled = past_lines.length;
  show_console(1, `${prompt.textContent}${text}\n`);
  line_input.value = '';
  set_console_running(true);
  const input = $('input').value.split('\n').slice(input_used).join('\n');
  const result = await console_session.request({ kind: 'line', code: text, input });
  set_console_running(false);
  if (result.kind === 'stopped' || result.kind === 'ended' || result.kind === 'crashed') {
    ensure_line_start();
    if (result.kind === 'stopped') {
      show_console(2, 'Interrupted\n');
      show_console(0, 'The session was restarted: its definitions, variables and stack are gone.\n');
    } else if (result.kind === 'ended') {
      console_session.stop();
      show_console(0, 'bye ended the session; a new one starts.\n');
    } else {
      console_session.stop();
      show_console(0, `The interpreter failed (${result.message}); a new session starts.\n`);
    }
    line_input.disabled = true;
    await start_console();
    return;
  }
  input_used += result.input_used;
  if (result.ok) {
    show_console(1, 'ok\n');
  } else {
    ensure_line_start();
    show_console(2, `${result.error}\n`);
  }
  prompt.textContent = result.closing ? '... ' : '? ';
  line_input.focus();
}

function recall(step) {
  const next = recalled + step;
  if (next < 0 || next > past_lines.length) return;
  recalled = next;
  line_input.value = past_lines[recalled] ?? '';
  line_input.setSelectionRange(line_input.value.length, line_input.value.length);
}

line_input.addEventListener('keydown', (event) => {
  if (event.key === 'Enter') {
    event.preventDefault();
    if (!console_session.busy) enter_line(line_input.value);
  } else if (event.key === 'ArrowUp') {
    event.preventDefault();
    recall(-1);
  } else if (event.key === 'ArrowDown') {
    event.preventDefault();
    recall(1);
  } else if (event.key === 'c' && event.ctrlKey && line_input.selectionStart === line_input.selectionEnd) {
    // As at the terminal's prompt: the line being typed is thrown away.
    event.preventDefault();
    line_input.value = '';
  }
});

terminal.addEventListener('click', () => {
  if (!window.getSelection().toString()) line_input.focus();
});

$('console-stop').addEventListener('click', () => console_session.stop());
$('console-restart').addEventListener('click', () => {
  // A running line restarts the session anyway, once it has been stopped.
  if (console_session.busy) {
    console_session.stop();
    return;
  }
  console_session.stop();
  transcript.replaceChildren();
  line_input.disabled = true;
  start_console();
});

// ---- Modes and keys

function show_mode(mode) {
  for (const name of ['program', 'console']) {
    $(name).hidden = name !== mode;
    $(`mode-${name}`).setAttribute('aria-pressed', name === mode);
  }
  if (mode === 'console') {
    if (!console_session) {
      console_session = new Interpreter(show_console);
      start_console();
    }
    line_input.focus();
  }
}

$('mode-program').addEventListener('click', () => show_mode('program'));
$('mode-console').addEventListener('click', () => show_mode('console'));

document.addEventListener('keydown', (event) => {
  const in_program = !$('program').hidden;
  // The editor runs the program on Ctrl-Enter itself, instead of a new line.
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && in_program && !event.defaultPrevented) {
    event.preventDefault();
    run_program();
  } else if (event.key === 'Escape' || (event.key === 'c' && event.ctrlKey && document.body.dataset.running === 'true')) {
    if (in_program) stop_program();
    else if (console_session.busy) console_session.stop();
  }
});

$('run').addEventListener('click', run_program);
$('stop').addEventListener('click', stop_program);
$('share').addEventListener('click', share_link);
$('examples').addEventListener('change', (event) => {
  if (event.target.value) open_example(event.target.value);
});

window.addEventListener('hashchange', open_link);

load_examples();
open_link();
