// Links that carry a program to the playground: `#code=` and its UTF-8
// text in base64url, `&input=` likewise for its input, `&run` to run it at
// once, and `&console` to type its lines into the console instead. The
// playground reads them; its Share link and the documentation make them.

export function encode(text) {
  let binary = '';
  for (const byte of new TextEncoder().encode(text)) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

export function decode(text) {
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  return new TextDecoder().decode(Uint8Array.from(binary, (c) => c.charCodeAt(0)));
}

// The fragment of such a link, without its #.
export function fragment({ code, input = '', run = false, console = false }) {
  return `code=${encode(code)}${input ? `&input=${encode(input)}` : ''}${run ? '&run' : ''}${console ? '&console' : ''}`;
}
