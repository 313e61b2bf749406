// The little Markdown that docs/ uses, and the language server's hovers
// taken from it: headings, paragraphs, lists, tables, quotes, fenced code,
// and inline code, emphasis and links. The documentation page and the
// editor's tooltips (marked.js) render it alike.

export function escape(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

function slug(text) {
  return text.toLowerCase().replace(/<[^>]*>/g, '').replace(/[^\w\- ]/g, '').replace(/ /g, '-');
}

function plain(text) {
  return text.split(/(`+)([^]*?)\1/).map((part, index) => {
    if (index % 3 === 2) return `<code>${escape(part)}</code>`;
    if (index % 3 === 1) return '';
    return escape(part)
      .replace(/\*\*(.+?)\*\*/g, '<strong>$1</strong>')
      .replace(/(^|[\s(])\*([^*\s][^*]*?)\*/g, '$1<em>$2</em>');
  }).join('');
}

// The HTML of `markdown`. A link's target is what `link` makes of it; a
// fenced block is what `code` makes of its kind (the word after the fence)
// and its lines.
export function render(markdown, { link = (target) => target, code = (kind, text) => `<pre><code>${escape(text)}</code></pre>` } = {}) {
  // Links first, since their labels may hold code.
  const inline = (text) => text.split(/\[((?:`[^`]*`|[^\]])+)\]\(([^)\s]+)\)/).map((part, index, parts) => {
    if (index % 3 === 1) return `<a href="${escape(link(parts[index + 1]))}">${plain(part)}</a>`;
    if (index % 3 === 2) return '';
    return plain(part);
  }).join('');
  const lines = markdown.split('\n');
  const html = [];
  let paragraph = [];
  const end_paragraph = () => {
    if (paragraph.length) html.push(`<p>${inline(paragraph.join(' '))}</p>`);
    paragraph = [];
  };
  for (let i = 0; i < lines.length; ++i) {
    const line = lines[i];
    let match;
    if ((match = line.match(/^( *)```(.*)$/))) {
      // Fences indented in a list item hold lines indented as much.
      end_paragraph();
      const block = [];
      while (++i < lines.length && !/^ *```/.test(lines[i])) block.push(lines[i].slice(match[1].length));
      html.push(code(match[2].trim(), block.join('\n')));
    } else if ((match = line.match(/^(#{1,6}) (.*)$/))) {
      end_paragraph();
      const level = match[1].length;
      html.push(`<h${level} id="${slug(match[2])}">${inline(match[2])}</h${level}>`);
    } else if (/^\s*([-*]|\d+\.) /.test(line)) {
      end_paragraph();
      const ordered = /^\s*\d+\./.test(line);
      const items = [];
      for (; i < lines.length && lines[i].trim(); ++i) {
        if (/^\s*([-*]|\d+\.) /.test(lines[i])) items.push(lines[i].replace(/^\s*([-*]|\d+\.) /, ''));
        else items[items.length - 1] += ` ${lines[i].trim()}`;
      }
      const tag = ordered ? 'ol' : 'ul';
      html.push(`<${tag}>${items.map((item) => `<li>${inline(item)}</li>`).join('')}</${tag}>`);
    } else if (line.startsWith('|')) {
      end_paragraph();
      const rows = [];
      for (; i < lines.length && lines[i].startsWith('|'); ++i) {
        if (!/^\|[\s:|-]+\|$/.test(lines[i])) rows.push(lines[i].slice(1, -1).split(/(?<!\\)\|/));
      }
      --i;
      const [head, ...body] = rows;
      const cells = (row, tag) => `<tr>${row.map((cell) => `<${tag}>${inline(cell.trim().replace(/\\\|/g, '|'))}</${tag}>`).join('')}</tr>`;
      html.push(`<table>${cells(head, 'th')}${body.map((row) => cells(row, 'td')).join('')}</table>`);
    } else if (line.startsWith('> ') || line === '>') {
      end_paragraph();
      const quoted = [];
      for (; i < lines.length && lines[i].startsWith('>'); ++i) quoted.push(lines[i].replace(/^> ?/, ''));
      --i;
      html.push(`<blockquote><pre>${escape(quoted.join('\n'))}</pre></blockquote>`);
    } else if (!line.trim()) {
      end_paragraph();
    } else {
      paragraph.push(line.trim());
    }
  }
  end_paragraph();
  return html.join('\n');
}
