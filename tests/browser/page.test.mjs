// What a visitor gets: the size of what loads, every example and mode on a
// screen and on a phone, and the documentation with examples to run.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile, readdir } from 'node:fs/promises';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { enter, example, examples, open_playground, program_text, run, shots, shown, site, step_shown, type_program } from './harness.mjs';

const { page, url, open, close } = await open_playground({ viewport: { width: 1280, height: 800 } });
after(close);

test('what the page loads is under 400 KB gzip-compressed', async () => {
  const files = ['index.html', 'playground.css', 'playground.js', 'worker.js', 'tolva.js', 'tolva.wasm'];
  const sizes = await Promise.all(files.map(async (file) => gzipSync(await readFile(join(site, file)), { level: 9 }).length));
  const total = sizes.reduce((sum, size) => sum + size);
  console.log(`gzip-compressed bytes: ${files.map((file, index) => `${file} ${sizes[index]}`).join(', ')}; total ${total}`);
  assert.ok(total < 400 * 1000, `${total} bytes`);
});

// Runs every example, chosen from the menu by its file name and first line,
// with its input, and takes screenshots PREFIXprogram.png of one,
// PREFIXerror.png of an error inside a word, PREFIXopen.png of a construct
// left open, PREFIXbrackets.png of the partner of a bracket marked,
// PREFIXstep.png of Step mode in a recursion and PREFIXconsole.png. The
// page never scrolls sideways nor has more than two rows of buttons, the
// output is in sight after Run and after Stop, the menu names an example
// until it is edited, and the console's hint names keys only where there
// are keys.
async function tour(page, prefix, keys) {
  const shot = (name) => page.screenshot({ path: join(shots, `${prefix}${name}.png`) });
  const fits = async (mode) => {
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth), mode);
    const tops = await page.$$eval('main:not([hidden]) .toolbar > :is(button, label)', (all) => all.filter((item) => item.offsetParent)
      .map((item) => item.getBoundingClientRect().top).sort((a, b) => a - b));
    assert.ok(tops.filter((top, index) => index > 0 && top - tops[index - 1] > 16).length <= 1, `${mode}: ${tops}`);
  };
  // The output wholly on the screen, scrolled to its end.
  const in_sight = () => page.waitForFunction(() => {
    const box = document.getElementById('output');
    const { top, bottom } = box.getBoundingClientRect();
    return top >= 0 && bottom <= window.innerHeight && box.scrollTop + box.clientHeight >= box.scrollHeight - 1;
  }, null, { timeout: 2000 });
  const names = (await readdir(examples)).filter((file) => file.endsWith('.tv')).map((file) => file.slice(0, -3));
  const options = await page.$$eval('#examples option', (all) => all.slice(1).map((option) => option.textContent));
  assert.deepEqual(options.sort(), await Promise.all(names.map(async (name) => `${name}.tv — ${(await example(`${name}.tv`))
    .split('\n')[0].slice(2).replace(/\.$/, '')}`)));
  for (const name of names) {
    const files = await Promise.all(['tv', 'in', 'out'].map((extension) => example(`${name}.${extension}`)));
    await page.selectOption('#examples', name);
    await page.waitForFunction((name) => document.getElementById('status').textContent.startsWith(`Example ${name}`), name);
    assert.equal(await page.inputValue('#examples'), name);
    await page.click('#run');
    await page.waitForSelector('body[data-running="false"]');
    const { out, err, status } = await shown(page);
    assert.deepEqual([await program_text(page), await page.inputValue('#input'), out, err, status], [...files, '', 'Finished in T.']);
    await in_sight();
    if (name === 'collatz') await shot('program');
  }
  await page.evaluate(() => window.scrollTo(0, 0));
  await type_program(page, `[ ( ${'a-long-line-of-text '.repeat(10)}) .. cr ] 100000000 times`);
  assert.equal(await page.inputValue('#examples'), '');
  await page.click('#share');
  await page.click('#run');
  await page.waitForTimeout(500);
  await page.click('#stop');
  await page.waitForSelector('body[data-running="false"]');
  await in_sight();
  await fits('program');
  assert.ok((await page.textContent('#output')).endsWith('[stopped]\n'));

  await run(page, '\\ The mean of two values\n:average + 2 / ;\n:report ( mean: ) .. average . cr ;\n4 6 report\n7 report');
  await shot('error');
  await run(page, '\\ Squares, from a list\n:sq dup * ;\n:squares [ $i sq . ]\ntimes cr ;\n5 squares [ 6 7\n8 sq . cr');
  assert.match(await page.textContent('#status'), /still waits for \], to close the \[ opened on line 5\.$/);
  await shot('open');
  for (const key of ['Control+Home', 'ArrowDown', 'ArrowDown', 'End']) await page.keyboard.press(key);
  await shot('brackets');
  await type_program(page, '\\ Factorial, by recursion: n! = n * (n - 1)!\n:fact dup 1 > { dup 1- fact * } iftrue ;\n( 5! = ) .. 5 fact . cr');
  await page.click('#mode-step');
  await page.waitForFunction(() => !/^(Recording|$)/.test(document.getElementById('step-status').textContent));
  assert.equal(await page.textContent('#step-status'), 'Finished after 87 steps.');
  // Three calls deep, a token collected into a block: step 52, with the definition's 12 steps one.
  for (let step = 1; step < 41; ++step) await page.keyboard.press('ArrowRight');
  assert.equal(await page.textContent('#step-buffer'), '{ dup 1- fact … }');
  // The token collected is apart from the call made at the same place.
  assert.deepEqual((await step_shown(page))[2].slice(0, 3), ['at line 2: fact', 'from line 2: fact', 'from line 2: iftrue']);
  await fits('step');
  await shot('step');
  await page.click('#mode-console');
  await enter(page, ':sq dup * ;', '7 sq . cr', '1 nosuch', '[ 1 2');
  await fits('console');
  assert.deepEqual(await page.$$eval('#console .hint', (hints) => hints.filter((hint) => hint.offsetParent)
    .map((hint) => /Escape|Ctrl|Tab/.test(hint.textContent))), [keys]);
  await shot('console');
}

test('every example and every mode, on a screen and on a phone, with screenshots', async () => {
  await tour(page, '', true);
  await tour(await open(url, { viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true }), 'phone-', false);
});

test('the documentation pages render the Markdown of docs/, and Run this runs an example in the playground', async () => {
  await page.goto(`${url}docs.html#language.md`);
  await page.waitForSelector('article h1');
  assert.equal(await page.textContent('article h1'), 'The Tolva language');
  assert.ok(await page.$$eval('article pre + .run a', (links) => links.length) > 90);
  await page.click('article a[href="#language.md#first-steps"]');
  await page.waitForFunction(() => window.scrollY > 0);

  // A session, indented in a list, is typed into the console.
  await page.click('article pre:has-text("? 10 -5 $5 . cr") + .run a');
  await page.waitForFunction(() => document.getElementById('transcript').textContent.endsWith('? 10 -5 $5 . cr\n-10 \nok\n'));
  assert.match(await page.textContent('#transcript'), /\n\? -5\nOut of range: stack underflow\n  -5 takes 1 value from the stack, which was empty\n\? 5 negate \. 0 5 - \. cr\n-5 -5 \nok\n/);
  // A shell command runs as a program with the input piped to it.
  await page.goBack();
  await page.click('article pre:has-text("echo \'6 7 * . cr\' | tolva -e \'accept interpret\'") + .run a');
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Finished'));
  assert.equal(await page.textContent('#output'), '42 \n');
});
