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
// in spans of their own.
export function append(view, stream, text) {
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

// A chain of places, innermost first, given as pairs of a place's number
// in `places` and how many times the call was made: "at line 2: drop",
// then "from line 5: fact" for each call that led there. Places in the
// program are buttons that hand their place to `pick`.
export function show_chain(list, chain, places, pick) {
  list.replaceChildren();
  for (let index = 0; index < chain.length; index += 2) {
    const place = places[chain[index]];
    const times = chain[index + 1];
    const where = place.source === 'program' ? `line ${place.line}: ` : place.source ? `${place.source}:${place.line}: ` : '';
    const text = chain[index] === 0 ? `… ${times} more calls`
      : `${index === 0 ? 'at' : 'from'} ${where}${place.token}${times > 1 ? ` (${times} times)` : ''}`;
    const item = document.createElement('li');
    if (place.source === 'program') {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = text;
      button.addEventListener('click', () => pick(place));
      item.append(button);
    } else {
      item.textContent = text;
    }
    list.append(item);
  }
  list.hidden = chain.length === 0;
}
