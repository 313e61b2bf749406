// What the language client (@codemirror/lsp-client) asks of marked, for the
// documentation in its tooltips, made by the page's own renderer
// (markdown.js): the hovers are the reference's Markdown, which it renders,
// and the page is a Markdown library the lighter. walkTokens highlights
// fenced code, as the client sets it up.
import { escape, render } from './markdown.js';

export class Marked {
  constructor({ walkTokens }) {
    this.walk = walkTokens;
  }

  parse(text) {
    return render(text, {
      code: (lang, code) => {
        const token = { type: 'code', lang, text: code };
        this.walk(token);
        const kind = lang ? ` class="language-${escape(lang)}"` : '';
        return `<pre><code${kind}>${token.escaped ? token.text : escape(token.text)}</code></pre>`;
      },
    });
  }
}
