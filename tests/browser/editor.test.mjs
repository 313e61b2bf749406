// The language server in the program editor, as a newcomer meets it: slips
// underlined as they are typed and explained on hover, the effects of
// built-in and defined words, completion, Ctrl-click to a definition, and
// screenshots of it on a screen and on a phone.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { open_playground, program_text, shots, type_program } from './harness.mjs';

const { page, url, open, close } = await open_playground({ viewport: { width: 1280, height: 800 } });
after(close);

const slips = '\\ Squares, with three slips\n:sq dup *\n5 sq . $x .\nnosuch';
const fixed = '\\ Squares and cubes\n:sq dup * ;\n:cube dup sq * ;\n5 =x $x cube . cr\n';

// Waits up to 5 s for `read` in the page to give `want`, and fails with what it gave last.
async function settles(page, read, want) {
  let found;
  for (let tries = 0; tries < 50; ++tries) {
    found = await page.evaluate(read);
    if (JSON.stringify(found) === JSON.stringify(want)) return;
    await page.waitForTimeout(100);
  }
  assert.deepEqual(found, want);
}

// The tokens underlined, each with its severity.
const underlined = () => [...document.querySelectorAll('#editor .cm-lintRange')]
  .map((range) => `${range.className.match(/cm-lintRange-(\w+)/)[1]} ${range.textContent}`);

// The lines with an effect shown, the effect in brackets where it stands.
const hinted = () => [...document.querySelectorAll('#editor .cm-effect-hint')]
  .map((hint) => hint.closest('.cm-line').textContent.replace(hint.textContent, `[${hint.textContent}]`));

// The middle of the first `token` on the line that holds `line`: a token
// may be split among elements, or have none of its own.
const middle = (page, line, token) => page.evaluate(([line, token]) => {
  const holder = [...document.querySelectorAll('#editor .cm-line')].find((element) => element.textContent.includes(line));
  const start = ` ${holder.textContent} `.indexOf(` ${token} `);
  const range = document.createRange();
  const walker = document.createTreeWalker(holder, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(), before = 0; node; before += node.length, node = walker.nextNode()) {
    if (start >= before && start < before + node.length) range.setStart(node, start - before);
    if (start + token.length > before && start + token.length <= before + node.length) range.setEnd(node, start + token.length - before);
  }
  const { x, y, width, height } = range.getBoundingClientRect();
  return { x: x + width / 2, y: y + height / 2 };
}, [line, token]);

// The text of the tooltip `selector` once the pointer rests on `token`.
async function hover(page, line, token, selector) {
  await page.mouse.move(0, 0);
  const { x, y } = await middle(page, line, token);
  await page.mouse.move(x, y);
  return page.locator(selector).textContent();
}

test('slips are underlined as they are typed, and hovering one says what is wrong', async () => {
  await type_program(page, slips);
  await settles(page, underlined, ['error :sq', 'warning $x', 'warning nosuch']);
  assert.match(await hover(page, 'nosuch', 'nosuch', '.cm-tooltip-lint'), /`nosuch` is neither built in nor defined/);
  assert.match(await hover(page, '$x', '$x', '.cm-tooltip-lint'), /nothing in this file .* stores the variable `x`/);
  assert.match(await hover(page, ':sq', ':sq', '.cm-tooltip-lint'), /never closed/);
  await page.screenshot({ path: join(shots, 'editor-slip.png') });
});

test('an underline goes as soon as its token is edited, rather than stay on part of the token typed on', async () => {
  await type_program(page, '5 n');
  await settles(page, underlined, ['error n']);
  await page.keyboard.type('an');
  assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('#editor span[class^="tm-"]')]
    .map((span) => `${span.className}:${span.textContent}`)), ['tm-constant:5', 'tm-constant:nan']);
  assert.deepEqual(await page.evaluate(underlined), []);
});

test('a program that never ends is stopped by the budget of its run, and the server goes on', async () => {
  await type_program(page, '{ 1 drop } while { true } repeat');
  await page.waitForSelector('#editor .cm-lintPoint-info', { state: 'attached' });
  await page.keyboard.type(' nosuch');
  await settles(page, underlined, ['warning nosuch']);
});

test('the effects of words: after each :name, on hover, and in completion; Ctrl-click goes to a definition', async () => {
  await type_program(page, fixed);
  await settles(page, hinted, [':sq[( a -- b )] dup * ;', ':cube[( a -- b )] dup sq * ;']);
  await settles(page, underlined, []);
  assert.match(await hover(page, ':sq', 'dup', '.cm-lsp-hover-tooltip'), /^dup\s*\( x -- x x \) Pushes a copy of the top value/);
  await page.screenshot({ path: join(shots, 'editor-hover.png') });

  await page.keyboard.type('s');
  await page.waitForSelector('.cm-tooltip-autocomplete');
  const offered = await page.$$eval('.cm-tooltip-autocomplete li', (items) => items.map((item) => item.textContent));
  assert.ok(['sq( a -- b ) dup *', 'swap( x y -- y x )'].every((item) => offered.includes(item)), offered.join(', '));
  await page.screenshot({ path: join(shots, 'editor-completion.png') });
  await page.keyboard.press('Escape');

  const { x, y } = await middle(page, '$x cube', 'cube');
  await page.keyboard.down('Control');
  await page.mouse.click(x, y);
  await page.keyboard.up('Control');
  await page.waitForFunction(() => getSelection().anchorNode.parentElement.closest('.cm-line').textContent.startsWith(':cube'));
  assert.equal(await program_text(page), `${fixed}s`, 'the click changed nothing');
});

test('on a phone: underlines, effects and completion fit the screen', async () => {
  const phone = await open(url, { viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true });
  await type_program(phone, `${fixed}nosuch\n`);
  await settles(phone, hinted, [':sq[( a -- b )] dup * ;', ':cube[( a -- b )] dup sq * ;']);
  await phone.keyboard.type('cu');
  await phone.waitForSelector('.cm-tooltip-autocomplete');
  await settles(phone, underlined, ['error nosuch', 'warning cu']);
  assert.ok(await phone.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth));
  await phone.screenshot({ path: join(shots, 'phone-editor.png') });
});
