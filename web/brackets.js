// Bracket matching for the program editor: the construct under the cursor
// and its partner are marked, and the words of constructs that hold code
// are coloured by how deep they lie. Tokens are read as the interpreter
// reads them: they lie between blanks, a lone backslash ends its line, and
// an open construct only collects every token until its own closing word,
// so a `[` inside an open `[` opens nothing and brackets inside a string or
// a comment match nothing. What a quotation, a block or a definition
// collects is read by the same rules when it runs, one level deeper.

import { Decoration, ViewPlugin } from '@codemirror/view';

const closing = { '[': ']', '{': '}', '(': ')', '/*': '*/' };
const closing_of = (token) => closing[token] ?? (token.length > 1 && token[0] === ':' ? ';' : undefined);
const closers = new Set([...Object.values(closing), ';']);
// Constructs that collect code, rather than text.
const holds_code = new Set([']', '}', ';']);
const levels = 3;

// The tokens of a text, {text, from, to} each; blanks as C's isspace has them.
function tokens_of(text) {
  const tokens = [];
  let start = 0;
  for (const line of text.split('\n')) {
    for (const { 0: token, index } of line.matchAll(/[^ \t\r\v\f]+/g)) {
      if (token === '\\') break;
      tokens.push({ text: token, from: start + index, to: start + index + token.length });
    }
    start += line.length + 1;
  }
  return tokens;
}

// The constructs of a text, {open, close, level} each: close is missing for
// one left open; open is missing for a closing word met with none open.
function constructs_of(text) {
  const tokens = tokens_of(text);
  const found = [];
  const read = (from, to, level) => {
    for (let at = from; at < to; ++at) {
      const word = closing_of(tokens[at].text);
      if (!word) {
        if (closers.has(tokens[at].text)) found.push({ close: tokens[at], level });
        continue;
      }
      let end = at + 1;
      while (end < to && tokens[end].text !== word) ++end;
      found.push({ open: tokens[at], close: tokens[end < to ? end : -1], level });
      if (holds_code.has(word)) read(at + 1, end, level + 1);
      at = end;
    }
  };
  read(0, tokens.length, 0);
  return found;
}

const marks = Object.fromEntries(['match', 'unmatched', ...Array.from({ length: levels }, (_, level) => `level-${level}`)]
  .map((kind) => [kind, Decoration.mark({ class: `cm-bracket-${kind}` })]));

// The construct with a word at `position`, or ending right before it.
function construct_at(constructs, position) {
  const on = (token) => token && token.from <= position && position <= token.to;
  return constructs.find(({ open, close }) => on(open) || on(close));
}

// The colours, and the match of the construct at `position` (none: null).
function decorations(constructs, position) {
  const ranges = [];
  for (const { open, close, level } of constructs) {
    if (!open || !holds_code.has(closing_of(open.text))) continue;
    const colour = marks[`level-${level % levels}`];
    // Of `:name`, its colon: the name keeps a colour of its own.
    ranges.push(colour.range(open.from, open.text[0] === ':' ? open.from + 1 : open.to));
    if (close) ranges.push(colour.range(close.from, close.to));
  }
  const under = position === null ? undefined : construct_at(constructs, position);
  if (under) {
    const mark = under.open && under.close ? marks.match : marks.unmatched;
    for (const token of [under.open, under.close]) if (token) ranges.push(mark.range(token.from, token.to));
  }
  return Decoration.set(ranges, true);
}

// The match is shown while the cursor is in use: in the editor with the focus.
const cursor = (view) => (view.hasFocus ? view.state.selection.main.head : null);

export const brackets = ViewPlugin.fromClass(class {
  constructor(view) {
    this.constructs = constructs_of(view.state.doc.toString());
    this.decorations = decorations(this.constructs, cursor(view));
  }

  update(update) {
    if (update.docChanged) this.constructs = constructs_of(update.state.doc.toString());
    if (update.docChanged || update.selectionSet || update.focusChanged) this.decorations = decorations(this.constructs, cursor(update.view));
  }
}, { decorations: (plugin) => plugin.decorations });
