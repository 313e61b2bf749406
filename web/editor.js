// The program editor: CodeMirror with a mode that colours the words the
// editors of editors/ know (words.json is made from their grammar when the
// page is built), line numbers, wrapped lines, and a mark on the line and
// the token an error came from.

import { EditorState, Prec, RangeSet, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration, EditorView, GutterMarker, drawSelection, gutterLineClass, highlightSpecialChars, keymap, lineNumbers,
} from '@codemirror/view';
import { StreamLanguage, syntaxHighlighting } from '@codemirror/language';
import { defaultKeymap, history, historyKeymap } from '@codemirror/commands';
import { Tag, tagHighlighter } from '@lezer/highlight';
import words from './words.json';

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
});

// Where an error came from: {line, from, to}, the start of its line and
// its token's range (empty when the token is not found); any edit clears it.
const set_error = StateEffect.define();
const error_number = new (class extends GutterMarker { elementClass = 'error'; })();
const error_token = Decoration.mark({ class: 'cm-error-token' });
const error_place = StateField.define({
  create: () => null,
  update(place, transaction) {
    let marked = transaction.docChanged ? null : place;
    for (const effect of transaction.effects) if (effect.is(set_error)) marked = effect.value;
    return marked;
  },
  provide: (field) => [
    EditorView.decorations.from(field, (at) => (at === null ? Decoration.none
      : Decoration.set([Decoration.line({ class: 'cm-error-line' }).range(at.line),
        ...(at.from < at.to ? [error_token.range(at.from, at.to)] : [])]))),
    gutterLineClass.from(field, (at) => (at === null ? RangeSet.empty : RangeSet.of(error_number.range(at.line)))),
  ],
});

export class Editor {
  constructor(parent, { text, label, on_run, on_change }) {
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
          error_place,
          EditorView.lineWrapping,
          EditorView.updateListener.of((update) => { if (update.docChanged) on_change(); }),
          Prec.highest(keymap.of([{ key: 'Mod-Enter', run: () => { on_run(); return true; } }])),
          keymap.of([...defaultKeymap, ...historyKeymap]),
          EditorView.contentAttributes.of({ 'aria-labelledby': label, spellcheck: 'false', autocapitalize: 'off', autocorrect: 'off' }),
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
  // before the token (at the line's start when it is not found), ready to
  // be corrected: a selection would go with the next key pressed. The line
  // is scrolled to the middle of the editor, and the page not at all: on a
  // narrow screen the output, under the editor, is what stays in view.
  mark(number, token) {
    const { doc } = this.view.state;
    if (number < 1 || number > doc.lines) return;
    const line = doc.line(number);
    const parts = line.text.split(/(\s+)/);
    const index = parts.indexOf(token);
    const from = index < 0 ? line.from : line.from + parts.slice(0, index).join('').length;
    const to = index < 0 ? from : from + token.length;
    this.view.dispatch({ selection: { anchor: from }, effects: set_error.of({ line: line.from, from, to }) });
    const block = this.view.lineBlockAt(from);
    const scroller = this.view.scrollDOM;
    scroller.scrollTop = block.top - (scroller.clientHeight - block.height) / 2;
    this.view.contentDOM.focus({ preventScroll: true });
  }

  clear_mark() { this.view.dispatch({ effects: set_error.of(null) }); }
}
