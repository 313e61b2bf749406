// The program editor: CodeMirror with a mode that colours the words the
// editors of editors/ know (words.json is made from their grammar when the
// page is built), line numbers, wrapped lines, and marks on the lines and
// tokens an error came from or a step runs.

import { EditorState, Prec, RangeSet, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration, EditorView, GutterMarker, drawSelection, gutterLineClass, highlightSpecialChars, keymap, lineNumbers,
} from '@codemirror/view';
import { StreamLanguage, syntaxHighlighting } from '@codemirror/language';
import { defaultKeymap, history, historyKeymap } from '@codemirror/commands';
import { Tag, tagHighlighter } from '@lezer/highlight';
import words from './words.json';
import { brackets } from './brackets.js';

// A colour for each first part of the grammar's scope names.
const kinds = ['comment', 'string', 'keyword', 'punctuation', 'constant', 'support', 'variable', 'entity'];
// Token names are the class names: a bare name such as `variable` is one that CodeMirror maps to a tag of its own.
const tags = Object.fromEntries(kinds.map((kind) => [`tm-${kind}`, Tag.define()]));
const highlighter = tagHighlighter(Object.entries(tags).map(([name, tag]) => ({ tag, class: name })));

const kind_of_word = new Map(Object.entries(words).flatMap(([kind, list]) => list.map((word) => [word, kind])));

// Tokens are what lies between blanks; the grammar tries comments and
// strings, then words, then numbers (read from a token's start), then sigils.
const regions = { '/*': { end: '*/', kind: 'comment' }, '(': { end: ')', kind: 'string' } };
const number = /^(?:0[xX][0-9A-Fa-f]+|[0-9]+(?:\.[0-9]*)?|\.[0-9]+|(?:inf(?:inity)?|nan)$)/i;
const sigils = [
  { pattern: /^:/, kind: 'entity' },
  { pattern: /^[=+\-$]./, kind: 'variable' },
  { pattern: /^['?@/]./, kind: 'entity' },
];

// The rest of a comment or string on this line, up to its closing token.
function in_region(stream, state) {
  const { end, kind } = regions[state.region];
  while (!stream.eol()) {
    stream.eatSpace();
    if (stream.match(/^\S*/)[0] === end) {
      state.region = null;
      break;
    }
  }
  return kind;
}

function next_token(stream, state) {
  if (state.region) return in_region(stream, state);
  if (stream.eatSpace()) return null;
  const token = stream.match(/^\S+/)[0];
  if (state.named) {
    const kind = state.named;
    state.named = null;
    return kind;
  }
  if (token === '\\') {
    stream.skipToEnd();
    return 'comment';
  }
  if (regions[token]) {
    state.region = token;
    return in_region(stream, state);
  }
  if (kind_of_word.has(token)) return kind_of_word.get(token);
  if (number.test(token)) return 'constant';
  const sigil = sigils.find(({ pattern }) => pattern.test(token));
  if (!sigil) return null;
  // The sigil is a keyword; the name after it has a colour of its own.
  stream.backUp(token.length - 1);
  if (token.length > 1) state.named = sigil.kind;
  return 'keyword';
}

const tolva = StreamLanguage.define({
  name: 'tolva',
  startState: () => ({ region: null, named: null }),
  token(stream, state) {
    const kind = next_token(stream, state);
    return kind && `tm-${kind}`;
  },
  tokenTable: tags,
  // A word is all of a token, sigil and all: completion replaces all of it.
  languageData: { wordChars: '!"#$%&\'()*+,-./:;<=>?@[\\]^`{|}~' },
});

// Marked places, {kind, line, from, to} each: the kind ('error', 'step' or
// 'caller') names the classes of its line, its line number and its token;
// `line` is where its line starts, from and to its token's range. Any edit
// clears them.
const set_marks = StateEffect.define();
const kinds_of_mark = ['error', 'step', 'caller'];
const number_classes = Object.fromEntries(kinds_of_mark.map((kind) => [kind, new (class extends GutterMarker {
  elementClass = kind;
})()]));
const line_classes = Object.fromEntries(kinds_of_mark.map((kind) => [kind, Decoration.line({ class: `cm-${kind}-line` })]));
const token_classes = Object.fromEntries(kinds_of_mark.map((kind) => [kind, Decoration.mark({ class: `cm-${kind}-token` })]));
const marked_places = StateField.define({
  create: () => [],
  update(marks, transaction) {
    let marked = transaction.docChanged ? [] : marks;
    for (const effect of transaction.effects) if (effect.is(set_marks)) marked = effect.value;
    return marked;
  },
  provide: (field) => [
    EditorView.decorations.from(field, (marks) => Decoration.set(marks.flatMap((at) => [line_classes[at.kind].range(at.line),
      ...(at.from < at.to ? [token_classes[at.kind].range(at.from, at.to)] : [])]), true)),
    gutterLineClass.from(field, (marks) => RangeSet.of(marks.map((at) => number_classes[at.kind].range(at.line)), true)),
  ],
});

// Where a place's token is in the text: its line and its column, which
// counts bytes of UTF-8.
function range_of(doc, { line: number, column, token }) {
  if (number < 1 || number > doc.lines) return null;
  const line = doc.line(number);
  const before = new TextDecoder().decode(new TextEncoder().encode(line.text).subarray(0, column));
  const from = line.from + before.length;
  return { line: line.from, from, to: Math.min(from + token.length, line.to) };
}

export class Editor {
  constructor(parent, { text, label, on_run, on_change = () => {}, read_only = false, extensions = [] }) {
    this.view = new EditorView({
      parent,
      state: EditorState.create({
        doc: text,
        extensions: [
          lineNumbers(),
          highlightSpecialChars(),
          history(),
          drawSelection(),
          tolva,
          syntaxHighlighting(highlighter),
          brackets,
          marked_places,
          EditorState.readOnly.of(read_only),
          EditorView.lineWrapping,
          EditorView.updateListener.of((update) => { if (update.docChanged) on_change(); }),
          Prec.highest(keymap.of([{ key: 'Mod-Enter', run: () => { on_run(); return true; } }])),
          keymap.of([...defaultKeymap, ...historyKeymap]),
          EditorView.contentAttributes.of({ 'aria-labelledby': label, spellcheck: 'false', autocapitalize: 'off', autocorrect: 'off' }),
          extensions,
        ],
      }),
    });
  }

  get text() { return this.view.state.doc.toString(); }

  set text(text) {
    this.view.dispatch({
      changes: { from: 0, to: this.view.state.doc.length, insert: text }, selection: { anchor: 0 }, scrollIntoView: true,
    });
  }

  // Marks the line an error came from and its token, and puts the cursor
  // before the token, ready to be corrected: a selection would go with the
  // next key pressed.
  mark(place) {
    const at = range_of(this.view.state.doc, place);
    if (!at) return;
    this.view.dispatch({ effects: set_marks.of([{ kind: 'error', ...at }]) });
    this.go_to(place);
  }

  // Marks places, [kind, place] each, and brings the first into view
  // without taking the focus: the keys step on.
  show_marks(places) {
    const { doc } = this.view.state;
    const marks = places.map(([kind, place]) => ({ kind, ...range_of(doc, place) })).filter((at) => at.line !== undefined);
    this.view.dispatch({ effects: set_marks.of(marks) });
    if (marks.length > 0) this.scroll_to(marks[0].from, false);
  }

  clear_mark() { this.view.dispatch({ effects: set_marks.of([]) }); }

  // Puts the cursor before a place's token, in the middle of the editor.
  go_to(place) {
    const at = range_of(this.view.state.doc, place);
    if (!at) return;
    // Focused first: focusing takes up the selection the page had.
    this.view.contentDOM.focus({ preventScroll: true });
    this.view.dispatch({ selection: { anchor: at.from } });
    this.scroll_to(at.from, true);
  }

  // Scrolls the editor, and the page not at all (on a narrow screen what is
  // under the editor stays in view), to have `position` in the middle:
  // always, or only when it is out of sight.
  scroll_to(position, always) {
    const block = this.view.lineBlockAt(position);
    const scroller = this.view.scrollDOM;
    if (always || block.top < scroller.scrollTop || block.bottom > scroller.scrollTop + scroller.clientHeight) {
      scroller.scrollTop = block.top - (scroller.clientHeight - block.height) / 2;
    }
  }
}
