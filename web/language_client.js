// The program editor's side of the language server (language_server.js):
// diagnostics as the program is typed, hover, completion, Ctrl- or Cmd-click
// (and F12) to a definition, and each :name's stack effect after it.

import { autocompletion } from '@codemirror/autocomplete';
import { forEachDiagnostic, setDiagnostics } from '@codemirror/lint';
import { EditorState, StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView, WidgetType, keymap } from '@codemirror/view';
import {
  LSPClient, LSPPlugin, hoverTooltips, jumpToDefinition, jumpToDefinitionKeymap, serverCompletion, serverDiagnostics,
} from '@codemirror/lsp-client';

// Hover and completion texts are Markdown the server builds partly from the
// program's comments, which a shared link may carry: of the HTML made from
// it only plain formatting is kept, so that nothing in it runs or loads.
const formatting = new Set(['p', 'pre', 'code', 'span', 'em', 'strong', 'ul', 'ol', 'li', 'br', 'hr', 'blockquote',
  'table', 'thead', 'tbody', 'tr', 'th', 'td', 'h1', 'h2', 'h3', 'h4', 'h5', 'h6']);

function plain_html(html) {
  const template = document.createElement('template');
  template.innerHTML = html;  // a template's content is inert
  for (const element of template.content.querySelectorAll('*')) {
    if (!formatting.has(element.localName)) {
      element.replaceWith(element.textContent);
      continue;
    }
    for (const { name } of [...element.attributes]) if (name !== 'class') element.removeAttribute(name);
  }
  return template.innerHTML;
}

// ---- The effects after each :name, as the server's inlay hints: asked for
// whenever it has read the document again, that is, when it publishes
// diagnostics.

const set_hints = StateEffect.define();

class EffectHint extends WidgetType {
  constructor(label) {
    super();
    this.label = label;
  }

  eq(other) { return other.label === this.label; }

  toDOM() {
    const element = document.createElement('span');
    element.className = 'cm-effect-hint';
    element.textContent = this.label;
    return element;
  }
}

const hints = StateField.define({
  create: () => Decoration.none,
  update(shown, transaction) {
    for (const effect of transaction.effects) if (effect.is(set_hints)) return effect.value;
    return shown.map(transaction.changes);
  },
  provide: (field) => EditorView.decorations.from(field),
});

function show_hints(client, uri) {
  const file = client.workspace.getFile(uri);
  const view = file?.getView();
  if (!view || !LSPPlugin.get(view)) return;
  // Not synced first: the hints are of the text the server has (file.doc),
  // as the diagnostics handled after this are. A request the server never
  // answers, being replaced, leaves the hints as they were.
  client.withMapping((mapping) => client.request('textDocument/inlayHint', {
    textDocument: { uri }, range: { start: { line: 0, character: 0 }, end: { line: file.doc.lines, character: 0 } },
  }).then((found) => {
    const widgets = (found ?? []).map(({ position, label }) => Decoration.widget({ widget: new EffectHint(label), side: 1 })
      .range(mapping.mapPosition(uri, position, 1)));
    view.dispatch({ effects: set_hints.of(Decoration.set(widgets, true)) });
  }, () => {}));
}

// A diagnostic is of a token as the server read it: once the token is
// edited it no longer holds, and it goes, rather than stay on part of what
// now stands there (the `n` of a `nan` typed on) until the next sync
// brings the diagnostics of the new text. So both when the text changes
// under one shown, and when one arrives for a text edited since.
const edited = (changes, from, to) => changes.touchesRange(from, to) !== false;

const drop_edited = EditorState.transactionExtender.of((transaction) => {
  if (!transaction.docChanged) return null;
  const kept = [];
  let dropped = false;
  forEachDiagnostic(transaction.startState, (diagnostic, from, to) => {
    if (edited(transaction.changes, from, to)) dropped = true;
    else kept.push({ ...diagnostic, from: transaction.changes.mapPos(from), to: transaction.changes.mapPos(to) });
  });
  return dropped ? setDiagnostics(transaction.startState, kept) : null;
});

function current_diagnostics() {
  const diagnostics = serverDiagnostics();
  const publish = diagnostics.notificationHandlers['textDocument/publishDiagnostics'];
  return {
    ...diagnostics,
    notificationHandlers: {
      'textDocument/publishDiagnostics': (client, params) => {
        const view = client.workspace.getFile(params.uri)?.getView();
        const plugin = view && LSPPlugin.get(view);
        if (!plugin) return publish(client, params);
        const position = (at) => plugin.fromPosition(at, plugin.syncedDoc);
        return publish(client, { ...params, diagnostics: params.diagnostics.filter(({ range }) =>
          !edited(plugin.unsyncedChanges, position(range.start), position(range.end))) });
      },
    },
  };
}

// Ctrl-click, or Cmd-click on a Mac, goes to where the clicked word is defined.
const definition_on_click = EditorView.domEventHandlers({
  mousedown(event, view) {
    if (!(event.ctrlKey || event.metaKey) || event.button !== 0) return false;
    const at = view.posAtCoords({ x: event.clientX, y: event.clientY });
    if (at === null) return false;
    event.preventDefault();
    view.dispatch({ selection: { anchor: at } });
    return jumpToDefinition(view);
  },
});

// The extensions that connect an editor holding the document `uri` to the
// server, which `transport` reaches. A server that is started again hears of
// the document again.
export function language_support(transport, uri) {
  const client = new LSPClient({
    extensions: [current_diagnostics()],
    sanitizeHTML: plain_html,
    notificationHandlers: {
      'textDocument/publishDiagnostics': (_, { uri: published }) => {
        show_hints(client, published);
        return false;
      },
    },
  }).connect(transport);
  transport.on_restart = () => client.connect(transport);
  // No icons by kind: the page's fonts have none for some kinds.
  return [client.plugin(uri, 'tolva'), serverCompletion(), autocompletion({ icons: false }), hoverTooltips(), hints, drop_edited,
    definition_on_click, keymap.of(jumpToDefinitionKeymap)];
}
