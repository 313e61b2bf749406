// Colours program text with the TextMate grammar of editors/, so the page
// knows the words the editors know: rules that match within a line, and
// regions (comments, strings) that run from a begin to an end, across lines.

// The scope's first part names the colour: comment, string, keyword, ...
function scope_class(scope) { return `tm-${scope.split('.')[0]}`; }

// The grammar's rules in the order it tries them, includes resolved.
function flatten(grammar, patterns = grammar.patterns) {
  return patterns.flatMap((rule) => {
    if (rule.include) return flatten(grammar, grammar.repository[rule.include.slice(1)].patterns);
    // Oniguruma's (?i:...) spelled for a JavaScript pattern that ignores case.
    const source = (rule.match ?? rule.begin).replace(/\(\?i:/g, '(?:');
    const flags = /\(\?i:/.test(rule.match ?? rule.begin) ? 'gi' : 'g';
    return [{ ...rule, pattern: new RegExp(source, flags), end: rule.end && new RegExp(rule.end, 'g') }];
  });
}

function escape(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

function span(scope, text) {
  return scope ? `<span class="${scope_class(scope)}">${escape(text)}</span>` : escape(text);
}

// HTML for the text of one match: its captures coloured, the rest as it is.
function match_html(rule, match) {
  if (!rule.captures) return span(rule.name, match[0]);
  let html = '';
  let at = 0;
  for (let group = 1; group < match.length; ++group) {
    if (match[group] === undefined) continue;
    const start = match[0].indexOf(match[group], at);
    html += escape(match[0].slice(at, start)) + span(rule.captures[group]?.name, match[group]);
    at = start + match[group].length;
  }
  return html + escape(match[0].slice(at));
}

export function highlighter(grammar) {
  const rules = flatten(grammar);
  return (text) => {
    let region = null;  // the begin/end rule whose end is still to come
    return text.split('\n').map((line) => {
      let html = '';
      let at = 0;
      let from = 0;  // where the region's text on this line starts: its begin, or the line
      while (at <= line.length) {
        if (region) {
          region.end.lastIndex = at;
          const end = region.end.exec(line);
          const stop = end ? end.index + end[0].length : line.length;
          html += span(region.name, line.slice(from, stop));
          at = stop;
          if (!end) break;
          region = null;
          continue;
        }
        let first = null;
        for (const rule of rules) {
          rule.pattern.lastIndex = at;
          const match = rule.pattern.exec(line);
          if (match && match[0] && (!first || match.index < first.match.index)) first = { rule, match };
        }
        if (!first) {
          html += escape(line.slice(at));
          break;
        }
        const { rule, match } = first;
        html += escape(line.slice(at, match.index));
        at = match.index + match[0].length;
        if (rule.end) {
          region = rule;
          from = match.index;
        } else {
          html += match_html(rule, match);
        }
      }
      return html;
    }).join('\n');
  };
}
