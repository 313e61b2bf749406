// The playground page. The program editor, Step mode and the console each
// have an interpreter in a worker of their own, so that stopping a program
// (which ends its worker) leaves the console's session as it was; the
// editor's language server has one too. Each mode is a <main> of its own,
// listed in `modes` with what it does when shown, on Ctrl-Enter, on Stop
// and on other keys.

import { show_console, stop_line, type_lines } from './console.js';
import { Editor } from './editor.js';
import { Interpreter } from './interpreter.js';
import { language_support } from './language_client.js';
import { LanguageServer } from './language_server.js';
import { decode, fragment } from './links.js';
import { hide_profile, show_profile } from './profile.js';
import { $, append, bring_into_view, left_open, scroll_to_end, show_chain } from './views.js';
import { record_again, show_step, step_key, stop_recording } from './step.js';

// ---- The draft: the program, its input and the mode, kept for a reload
// or Back in this tab's storage, and for a later visit in the browser's.
// A program that a link brought becomes the draft only once it is edited,
// so the draft it stands in for is there again on the next visit.

const draft_key = 'tolva-draft';
const draft = stored_draft() ?? {
  code: '\\ Squares of 1 to 5, then what is left on the stack.\n:sq dup * ;\n[ $i 1+ sq . ] 5 times cr\n6 7',
  input: '',
  mode: 'program',
};

let loading = false;  // while the page, not the visitor, puts a program in the editor
let saving = 0;       // the timer of the next save

function stored_draft() {
  for (const storage of ['sessionStorage', 'localStorage']) {
    try {
      const stored = JSON.parse(window[storage].getItem(draft_key));
      if (typeof stored?.code === 'string' && typeof stored.input === 'string') return stored;
    } catch {
      // Storage may be refused, or hold something else: no draft there.
    }
  }
  return null;
}

function save_draft() {
  clearTimeout(saving);
  for (const storage of ['sessionStorage', 'localStorage']) {
    try {
      window[storage].setItem(draft_key, JSON.stringify(draft));
    } catch {
      // Refused storage keeps no draft; the page works on without one.
    }
  }
}

function save_soon() {
  clearTimeout(saving);
  saving = setTimeout(save_draft, 300);
}

// Puts a program and its input in place without making them the draft.
function load_program(code, input) {
  loading = true;
  editor.text = code;
  loading = false;
  $('input').value = input;
}

// Once the program is edited the address no longer carries it, so a reload
// brings back the edited draft.
function draft_edited() {
  if (loading) return;
  draft.code = editor.text;
  draft.input = $('input').value;
  if (location.hash) history.replaceState(null, '', location.pathname + location.search);
  save_soon();
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
  text: draft.code,
  label: 'editor-heading',
  on_run: () => run_program(),
  // An edited program is no longer the example the menu named.
  on_change: () => {
    if (!loading) $('examples').value = '';
    draft_edited();
  },
  // The examples are built into the module at its root, where `included` finds them beside the program.
  extensions: language_support(new LanguageServer(), 'file:///program.tv'),
});

function set_running(running) {
  $('run').disabled = running;
  $('profile-run').disabled = running;
  $('stop').disabled = !running;
}

function format_time(ms) { return ms < 1000 ? `${Math.round(ms)} ms` : `${(ms / 1000).toFixed(2)} s`; }

// The stack as a run left it; of a deep one, its depth and top values.
function show_stack(result) {
  const stack = $('stack');
  stack.replaceChildren();
  if (result.depth === 0) {
    stack.textContent = '(empty)';
    return;
  }
  const shown = result.stack.trim().split(' ').length;
  if (result.depth > shown) append(stack, 0, `${result.depth} values, the top ${shown} of them:\n`);
  append(stack, 1, result.stack);
}

// Marks where an error happened, when known, lists the calls that led
// there, and says it for the status. An error in an included file is not
// marked in the editor.
function show_error(result) {
  $('failed-at').hidden = false;
  show_chain($('chain'), result.chain, (place) => editor.go_to(place));
  const at = result.chain[0];
  if (!at?.line) return `Error: ${result.error}`;
  if (at.source === 'program') {
    editor.mark(at);
    return `Error on line ${at.line}, at ${at.token}: ${result.error}`;
  }
  return `Error in ${at.source} on line ${at.line}, at ${at.token}: ${result.error}`;
}

// Runs the program; `profile` runs it as Run does, then shows where its steps went.
async function run_program(kind = 'run') {
  if (program.busy) return;
  output.replaceChildren();
  $('stack').textContent = '';
  $('failed-at').hidden = true;
  hide_profile();
  editor.clear_mark();
  show_status('Running…');
  set_running(true);
  bring_into_view(output, $('output-heading'));
  let result;
  try {
    result = await program.request({ kind, code: editor.text, input: $('input').value });
  } catch (error) {
    result = { kind: 'failed', message: error.message };
  }
  set_running(false);
  show_result(result);
  if (result.summary) {
    show_profile(result);
    bring_into_view($('profile'));
    return;
  }
  // Under the output, what an error says and where it happened is to be seen too.
  bring_into_view($('failed-at').hidden ? output : $('failed-at'), $('output-heading'));
}

function show_result(result) {
  // A stopped or ended interpreter is replaced by a fresh one, whose stack is empty.
  if (['stopped', 'ended', 'crashed'].includes(result.kind)) $('stack').textContent = '(empty)';
  if (result.kind === 'stopped') {
    append(output, 0, `${output.textContent && !output.textContent.endsWith('\n') ? '\n' : ''}[stopped]\n`);
    scroll_to_end(output);
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
  show_stack(result);
  const notes = [result.ok ? `Finished in ${format_time(result.time)}.` : show_error(result)];
  if (result.closing) {
    notes.push(left_open(result));
    // An error's mark comes first.
    if (result.ok && result.opened?.source === 'program') editor.show_marks([['error', result.opened]]);
  }
  show_status(notes.join(' '), !result.ok || result.closing !== '');
}

function stop_program() {
  if (program.busy) program.stop();
}

async function share_link() {
  history.replaceState(null, '', `#${fragment({ code: editor.text, input: $('input').value })}`);
  const link = $('link');
  link.value = location.href;
  link.hidden = false;
  link.select();
  const share = $('share');
  try {
    await navigator.clipboard.writeText(link.value);
  } catch {
    // No clipboard to write to: the link stands selected for copying by hand.
    return;
  }
  share.textContent = 'Copied';
  setTimeout(() => { share.textContent = 'Share link'; }, 2000);
}

// #code=...&input=...&run, or #code=...&console (links.js). True when the
// address carries a program.
function open_link() {
  const fields = new URLSearchParams(location.hash.slice(1));
  if (!fields.has('code')) return false;
  let code;
  let input;
  try {
    code = decode(fields.get('code'));
    input = fields.has('input') ? decode(fields.get('input')) : '';
  } catch {
    show_status('This link does not carry a readable program.', true);
    return true;
  }
  if (fields.has('console')) {
    show_mode('console');
    type_lines(code.split('\n'));
    return true;
  }
  load_program(code, input);
  show_mode('program');
  if (fields.has('run')) run_program();
  return true;
}

let examples = [];  // {name, input, description}: input tells whether it comes with NAME.in

async function load_examples() {
  examples = await (await fetch('examples/index.json')).json();
  for (const { name, description } of examples) $('examples').add(new Option(`${name}.tv — ${description}`, name));
}

async function open_example(name) {
  const entry = examples.find((example) => example.name === name);
  const code = await (await fetch(`examples/${name}.tv`)).text();
  const input = entry.input ? await (await fetch(`examples/${name}.in`)).text() : '';
  load_program(code, input);
  draft_edited();
  output.replaceChildren();
  $('stack').textContent = '';
  $('failed-at').hidden = true;
  hide_profile();
  show_status(`Example ${name}${input ? ', with its input' : ''}. Run it with Ctrl-Enter.`);
}

// ---- Modes and keys

// Step mode goes through the program of Program mode, with its input.
const modes = {
  program: { show() {}, run: run_program, stop: stop_program },
  step: {
    show: (options) => show_step(editor.text, $('input').value, options), run: record_again, stop: stop_recording, key: step_key,
  },
  console: { show: show_console, stop: stop_line },
};
let current_mode = 'program';

function show_mode(mode, options) {
  current_mode = mode;
  draft.mode = mode;
  for (const name of Object.keys(modes)) {
    $(name).hidden = name !== mode;
    $(`mode-${name}`).setAttribute('aria-pressed', name === mode);
  }
  modes[mode].show(options);
  save_soon();
}

for (const name of Object.keys(modes)) $(`mode-${name}`).addEventListener('click', () => show_mode(name));

document.addEventListener('keydown', (event) => {
  // An editor runs on Ctrl-Enter itself, instead of a new line.
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && modes[current_mode].run && !event.defaultPrevented) {
    event.preventDefault();
    modes[current_mode].run();
  } else if (event.key === 'Escape' || (event.key === 'c' && event.ctrlKey && document.body.dataset.running === 'true')) {
    modes[current_mode].stop();
  } else {
    modes[current_mode].key?.(event);
  }
});

$('run').addEventListener('click', () => run_program());
$('profile-run').addEventListener('click', () => run_program('profile'));
$('stop').addEventListener('click', stop_program);
$('share').addEventListener('click', share_link);
$('step-here').addEventListener('click', () => show_mode('step', { at_end: true }));
$('input').addEventListener('input', draft_edited);
$('examples').addEventListener('change', (event) => {
  if (event.target.value) open_example(event.target.value);
});

window.addEventListener('hashchange', open_link);
window.addEventListener('pagehide', save_draft);

load_examples();
$('input').value = draft.input;
if (!open_link()) show_mode(Object.hasOwn(modes, draft.mode) ? draft.mode : 'program');
