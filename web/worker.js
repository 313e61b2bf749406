'use strict';
// The interpreter runs here, off the page's thread, so that an endless loop
// blocks only this worker and the page can end it.

const max_output = 1 << 20;  // characters per evaluation; a runaway program's rest is dropped
// Output goes to the page as it comes, a line at a time, up to this many
// posts a window; a program that prints faster is posted once a window.
const window_length = 100;   // ms
const posts_per_window = 100;

// The stack's top values the page is told of; it learns the depth too.
const stack_shown = 100;

const decoders = [null, new TextDecoder(), new TextDecoder()];
let muted = false;  // while a session is restored: its lines printed once already
let recorded = null;  // while a program is recorded: its output, {pieces: [[stream, bytes]], size}
let pending = [];  // [stream, text] pairs not yet posted
let pending_size = 0;
let written = 0;
let truncated = false;
let window_start = 0;
let posts = 0;

function flush_output() {
  if (pending.length > 0) postMessage({ kind: 'output', chunks: pending });
  pending = [];
  pending_size = 0;
  ++posts;
}

// Called by the adapter with the bytes the interpreter wrote to standard
// output (1) or standard error (2); a character may be split between calls.
function write(stream, bytes) {
  if (recorded) {
    const piece = bytes.subarray(0, max_output - recorded.size);
    if (piece.length > 0) recorded.pieces.push([stream, piece]);
    recorded.size += piece.length;
    return;
  }
  const text = decoders[stream].decode(bytes, { stream: true });
  if (muted || truncated || text === '') return;
  if (written + text.length > max_output) {
    truncated = true;
    pending.push([0, '\n[output cut off after its first million characters]\n']);
    flush_output();
    return;
  }
  written += text.length;
  const last = pending[pending.length - 1];
  if (last && last[0] === stream) last[1] += text;
  else pending.push([stream, text]);
  pending_size += text.length;
  const now = performance.now();
  if (now - window_start > window_length) {
    window_start = now;
    posts = 0;
  }
  if (pending_size > 65536 || posts === 0 || (posts < posts_per_window && text.includes('\n'))) flush_output();
}

let tolva = null;
let session = 0;

function text_result(pointer) { return tolva.UTF8ToString(pointer); }

// JSON that the adapter writes (a recording, a chain of places). It is
// UTF-8 throughout, whatever bytes a token holds: one out of place is a fault.
const json_decoder = new TextDecoder('utf-8', { fatal: true });
function json_result(pointer) {
  return JSON.parse(json_decoder.decode(tolva.HEAPU8.subarray(pointer, tolva.HEAPU8.indexOf(0, pointer))));
}

function new_session() {
  if (session) tolva._tolva_delete_session(session);
  session = tolva._tolva_new_session();
}

// Calls `call` on the session with `strings` copied into the module's memory.
function with_strings(strings, call) {
  const pointers = strings.map((text) => {
    const size = tolva.lengthBytesUTF8(text) + 1;
    const pointer = tolva._malloc(size);
    tolva.stringToUTF8(text, pointer, size);
    return pointer;
  });
  try {
    return call(session, ...pointers);
  } finally {
    for (const pointer of pointers) tolva._free(pointer);
  }
}

// What a failed evaluation reports and where: the failing token's place
// and the calls that led there, innermost first, each a place (source,
// line, column, token, times, left_out: the adapter's json_place).
function failure() {
  return {
    error: text_result(tolva._tolva_error(session)),
    explanation: text_result(tolva._tolva_error_explanation(session)),
    chain: json_result(tolva._tolva_error_chain(session)),
  };
}

// What a recording holds so far (the adapter's Recording::write), with
// the output, in pieces of each stream: [stream, end] each.
function recording() {
  const output = new Uint8Array(recorded.size);
  const streams = [];
  let end = 0;
  for (const [stream, bytes] of recorded.pieces) {
    output.set(bytes, end);
    end += bytes.length;
    if (streams.length > 0 && streams[streams.length - 1][0] === stream) streams[streams.length - 1][1] = end;
    else streams.push([stream, end]);
  }
  return { ...json_result(tolva._tolva_recording(session)), output, streams };
}

// Runs `call` on the session with the strings it takes, and answers with
// what the evaluation left.
function evaluate(call, ...strings) {
  written = 0;
  truncated = false;
  const started = performance.now();
  let ok;
  try {
    ok = with_strings(strings, call) !== 0;
  } catch (error) {
    // bye ends the session as it ends the program. Anything else thrown
    // through the interpreter leaves it unfit to go on.
    flush_output();
    if (error.name === 'ExitStatus') return { kind: 'ended' };
    return { kind: 'crashed', message: error.message ?? String(error) };
  }
  flush_output();
  return {
    kind: 'done',
    ok,
    ...(ok ? {} : failure()),
    closing: text_result(tolva._tolva_closing_word(session)),
    opened: json_result(tolva._tolva_construct_opened(session)),
    depth: tolva._tolva_depth(session),
    stack: text_result(tolva._tolva_stack(session, stack_shown)),
    input_used: tolva._tolva_input_used(session),
    time: performance.now() - started,
  };
}

const handlers = {
  // A program runs in a session of its own.
  run({ code, input }) {
    new_session();
    return evaluate(tolva._tolva_run_program, code, 'program', input);
  },
  // The console keeps one session from line to line.
  start() {
    new_session();
    return { kind: 'started', banner: text_result(tolva._tolva_banner(session)) };
  },
  line({ code, input }) { return evaluate(tolva._tolva_enter_line, code, input); },
  // A program recorded token by token, in a session of its own. A run
  // ended by bye still has its steps; one that crashed has only what it
  // handed over before.
  record({ code, input }) {
    new_session();
    recorded = { pieces: [], size: 0 };
    try {
      const result = evaluate(tolva._tolva_record_program, code, 'program', input);
      return result.kind === 'crashed' ? result : { ...result, recording: recording() };
    } finally {
      recorded = null;
    }
  },
  // A program run as `run` runs it, with where its steps went: collapsed
  // stacks as text, and the summary by word (the adapter's
  // tolva_profile_summary). A run ended by bye has its profile too.
  profile({ code, input }) {
    new_session();
    const result = evaluate(tolva._tolva_profile_program, code, 'program', input);
    return result.kind === 'crashed' ? result : {
      ...result, stacks: text_result(tolva._tolva_collapsed_stacks(session)), summary: json_result(tolva._tolva_profile_summary(session)),
    };
  },
  // A console session that was stopped starts again with the lines that
  // had run to their end, each with the input it had.
  restore({ lines }) {
    new_session();
    muted = true;
    try {
      for (const { code, input } of lines) {
        const result = evaluate(tolva._tolva_enter_line, code, input);
        if (result.kind !== 'done') return result;
      }
    } finally {
      muted = false;
    }
    return { kind: 'restored' };
  },
  // A message for the language server, in a worker of its own
  // (language_server.js), answered with the messages it sends back.
  lsp({ message }) {
    return { kind: 'lsp', messages: json_result(with_strings([message], (_, pointer) => tolva._tolva_lsp_handle(pointer))) };
  },
  complete({ text }) {
    const names = text_result(with_strings([text], tolva._tolva_completions));
    return { kind: 'completions', names: names.split('\n').filter(Boolean) };
  },
};

// The module, as tolva.js makes it: the adapter calls the first two.
const module = {
  tolva_write(stream, bytes) { write(stream, bytes); },
  tolva_checkpoint() { postMessage({ kind: 'progress', recording: recording() }); },
  onRuntimeInitialized() {
    tolva = module;
    postMessage({ kind: 'ready' });
  },
};
self.onmessage = ({ data }) => postMessage(handlers[data.kind](data));
importScripts('tolva.js');
createTolva(module);
