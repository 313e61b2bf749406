// What the modes share of the page: finding its parts, and text views that
// grow as output comes.

export const $ = (id) => document.getElementById(id);

// Keeps the end of a growing box in sight, once a frame however often it grows.
const scrolling = new Set();
export function scroll_to_end(view) {
  if (scrolling.size === 0) {
    requestAnimationFrame(() => {
      for (const box of scrolling) box.scrollTop = box.scrollHeight;
      scrolling.clear();
    });
  }
  scrolling.add(view);
}

// Appends text to a <pre>, standard error (2) and the page's own notes (0)
// in spans of their own. The interpreter's warnings name a place of the
// program "program:2", which the page calls "line 2" everywhere.
export function append(view, stream, text) {
  if (stream === 2) text = text.replace(/\bprogram:(\d+)/g, 'line $1');
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

// Scrolls the page so that `box` is wholly in sight, from `start` on, when
// it is not: on a narrow screen the panes stand one under another.
export function bring_into_view(box, start = box) {
  const { top, bottom } = box.getBoundingClientRect();
  if (top < 0 || bottom > window.innerHeight) start.scrollIntoView({ block: 'start' });
}

// What a run that ends inside an open construct says of it: the closing
// word it waits for, and where its opening word was met.
export function left_open({ closing, opened }) {
  const where = opened?.source === 'program' ? ` on line ${opened.line}` : opened?.source ? ` in ${opened.source} on line ${opened.line}` : '';
  return `The program ends inside an open construct: it still waits for ${closing}, to close the ${opened?.token ?? 'construct'} opened${where}.`;
}

// A chain of places (the adapter's json_place), innermost first: "at
// line 2: drop", then "from line 5: fact" for each call that led there,
// and "… 40 more calls" for the calls a long chain leaves out. Places in
// the program are buttons that hand their place to `pick`.
export function show_chain(list, chain, pick) {
  list.replaceChildren();
  chain.forEach((place, index) => {
    const { source, line, token, times, left_out } = place;
    const where = source === 'program' ? `line ${line}: ` : source ? `${source}:${line}: ` : '';
    const text = left_out ? `… ${left_out} more calls` : `${index === 0 ? 'at' : 'from'} ${where}${token}${times > 1 ? ` (${times} times)` : ''}`;
    const item = document.createElement('li');
    if (source === 'program') {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = text;
      button.addEventListener('click', () => pick(place));
      item.append(button);
    } else {
      item.textContent = text;
    }
    list.append(item);
  });
  list.hidden = chain.length === 0;
}
