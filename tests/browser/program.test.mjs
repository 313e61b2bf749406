// Program mode: input for accept, errors and their line, the calls that
// led there, the stack, the example files, an open construct at the end,
// Stop, links that carry a program, and the draft kept over a reload. Step
// mode: a run gone through token by token, Stop, and Step to here.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { examples, open_playground, program_text, record, run, step_shown, type_program } from './harness.mjs';

let playground;
before(async () => { playground = await open_playground(); });
after(() => playground.close());

const texts = (selector) => playground.page.$$eval(selector, (all) => all.map((element) => element.textContent));

describe('a run', () => {
  test('accept reads the lines of the input box, one per call', async () => {
    const result = await run(playground.page,
      'accept parse-name .. number number + . cr\naccept parse-name .. cr\naccept number . cr',
      'sum 2 3\nnext\n');
    assert.equal(result.stdout, 'sum 5 \nnext \n0 \n');
    assert.equal(result.stderr, '');
  });

  test('an error is reported, its line and token marked with the cursor before it, and the stack shown as it was left', async () => {
    const { page } = playground;
    const result = await run(page, `1 2 + . cr\n7 8\n  9 nosuch 10\n11 . cr${'\n'.repeat(60)}`);
    assert.equal(result.stdout, '3 \n');
    assert.equal(result.stderr, 'Domain error: unknown word - nosuch\n');
    assert.equal(result.status, 'Error on line 3, at nosuch: Domain error: unknown word - nosuch');
    assert.equal(result.stack.trim(), '7 8 9');
    assert.deepEqual(await page.$$eval('#editor .cm-gutterElement.error', (marked) => marked.map((line) => line.textContent)), ['3']);
    assert.deepEqual(await page.$$eval('#editor .cm-error-line', (marked) => marked.map((line) => line.textContent)), ['  9 nosuch 10']);
    assert.equal(await page.textContent('#editor .cm-error-token'), 'nosuch');
    await page.keyboard.type('X');
    assert.equal((await program_text(page)).split('\n')[2], '  9 Xnosuch 10');

    const error_at_end = await run(page, `${'\n'.repeat(60)}1 nosuch`);
    assert.equal(error_at_end.status, 'Error on line 61, at nosuch: Domain error: unknown word - nosuch');
    assert.ok(await page.$eval('#editor .cm-scroller', (box) => box.querySelector('.cm-error-line').getBoundingClientRect().bottom
      <= box.getBoundingClientRect().bottom), 'the line is scrolled into the editor\'s view');
  });

  test('the example programs are files to include; an error in one is placed in it', async () => {
    const { page } = playground;
    const included = await run(page, '( gcd.tv ) included ( nosuch.tv ) included');
    assert.equal(included.stdout, await readFile(join(examples, 'gcd.out'), 'utf8'));
    assert.equal(included.status, 'Error on line 1, at included: Runtime error: can\'t open file');
    const inside = await run(page, ':2dup ;\n( gcd.tv ) included');
    assert.equal(inside.status, 'Error in gcd.tv on line 11, at -rot: Out of range: Stack underflow in -rot');
    assert.deepEqual(await texts('#chain li'), ['at gcd.tv:11: -rot', 'from gcd.tv:16: lcm', 'from gcd.tv:18: show',
      'from line 2: included']);
    assert.deepEqual(await texts('#chain button'), ['from line 2: included']);
    assert.equal(await page.$$eval('#editor .cm-error-line', (marked) => marked.length), 0);
  });

  test('an error inside a word marks its token there, lists the calls that led to it as links, and Step to here steps to it', async () => {
    const { page } = playground;
    const result = await run(page, ':pop drop drop ;\n:twice pop pop ;\n1 2 3 twice');
    assert.equal(result.status, 'Error on line 1, at drop: Out of range: stack underflow');
    const chain = ['at line 1: drop', 'from line 2: pop', 'from line 3: twice'];
    assert.deepEqual(await texts('#chain li'), chain);
    await page.click('#step-here');
    await page.waitForFunction(() => document.getElementById('step-status').textContent.endsWith('(at step 18)'));
    assert.deepEqual(await step_shown(page), { position: 'Step 18 of 18', token: 'drop', column: 10, chain, stack: ['', ''], output: '' });
    await page.click('#mode-program');
    await page.click('#chain li:first-child button');
    await page.keyboard.type('X');
    await page.click('#chain li:nth-child(2) button');
    await page.keyboard.type('Y');
    assert.deepEqual((await program_text(page)).split('\n'), [':pop drop Xdrop ;', ':twice pop Ypop ;', '1 2 3 twice']);
  });

  test('editing clears the mark; a clean run shows its time and stack, a deep stack its depth and top values', async () => {
    const { page } = playground;
    await page.keyboard.type(' ');
    assert.equal(await page.$$eval('#editor .cm-gutterElement.error, #editor .cm-error-line', (marked) => marked.length), 0);
    const result = await run(page, '6 7');
    assert.match(result.status, /^Finished in (\d+ ms|\d+\.\d\d s)\.$/);
    assert.equal(result.stack.trim(), '6 7');
    assert.equal((await run(page, '')).stack, '(empty)');
    const values = Array.from({ length: 100 }, (_, index) => 999900 + index).join(' ');
    assert.equal((await run(page, '[ $i ] 1000000 times')).stack, `1000000 values, the top 100 of them:\n${values} `);
  });

  test('a program that ends inside a construct says so', async () => {
    const result = await run(playground.page, '1 [ 2 3');
    assert.equal(result.stderr, '');
    assert.match(result.status, /^Finished in (\d+ ms|\d+\.\d\d s)\. The program ends inside an open construct: it still waits for ]$/);
    assert.equal(result.stack.trim(), '1');
  });

  test('bye ends the program where it stands', async () => {
    const { page } = playground;
    const result = await run(page, '1 . cr bye 2 . cr');
    assert.equal(result.output, '1 \n');
    assert.equal(result.status, 'The program ended with bye.');
    assert.equal((await run(page, '3 . cr')).output, '3 \n');
  });

  test('native recursion as deep as the browser allows is an error report, not a failure', async () => {
    const { page } = playground;
    // Closing words that close their own construct, and files included inside one another.
    for (const code of [':] ] ; [ 1 ]', ':} } ; { 1 }', ':) ) ; ( 1 )', ':*/ */ ; /* 1 */',
      ':swap ( gcd.tv ) included ;\n( gcd.tv ) included']) {
      const result = await run(page, code);
      assert.equal(result.stderr, 'Runtime error: recursion too deep\n', code);
      assert.match(result.status, /^Error (in gcd\.tv )?on line \d+, at \S+: Runtime error: recursion too deep/);
    }
  });

  test('a program runs in a fresh session each time', async () => {
    const { page } = playground;
    await run(page, ':twice 2 * ; 5');
    const result = await run(page, '3 twice');
    assert.equal(result.stderr, 'Domain error: unknown word - twice\n');
    assert.equal(result.stack.trim(), '3');
  });
});

describe('Stop', () => {
  test('ends an endless loop within 2 s, and the page keeps working', async () => {
    const { page } = playground;
    await type_program(page, '( before ) .. cr [ 1 drop ] 1000000000 times');
    await page.click('#run');
    await page.waitForTimeout(500);
    assert.equal(await page.getAttribute('body', 'data-running'), 'true');
    const started = Date.now();
    await page.click('#stop');
    await page.waitForSelector('body[data-running="false"]', { timeout: 2000 });
    assert.ok(Date.now() - started < 2000);
    assert.match(await page.textContent('#status'), /^Stopped\./);
    assert.equal(await page.textContent('#output'), 'before \n[stopped]\n');
    const result = await run(page, '1 2 + . cr');
    assert.equal(result.output, '3 \n');
  });

  test('Escape stops too, and a runaway output is cut off', async () => {
    const { page } = playground;
    await type_program(page, '[ 12345 . ] 1000000000 times');
    await page.click('#run');
    await page.waitForTimeout(500);
    await page.press('#editor .cm-content', 'Escape');
    await page.waitForSelector('body[data-running="false"]', { timeout: 2000 });
    const shown = await page.textContent('#output');
    assert.ok(shown.length <= (1 << 20) + 100, `${shown.length} characters`);
    assert.ok(shown.startsWith('12345 12345 '), shown.slice(0, 100));
    assert.ok(shown.endsWith('\n[output cut off after its first million characters]\n[stopped]\n'), shown.slice(-100));
  });
});

describe('Step mode', () => {
  test('goes through a recursive word token by token, back and forth, with the calls that led there and what each changed', async () => {
    const { page } = playground;
    await type_program(page, ':fact dup 1 > { dup 1- fact * } iftrue ;\n3 fact . cr');
    await record(page);
    assert.equal(await page.textContent('#step-status'), 'Finished after 54 steps.');
    assert.deepEqual(await step_shown(page), {
      position: 'Step 1 of 54', token: ':fact', column: 0, chain: ['at line 1: :fact'], stack: ['', ''], output: '' });
    for (let step = 1; step < 28; ++step) await page.keyboard.press('ArrowRight');
    const inner_dup = {
      position: 'Step 28 of 54',
      token: 'dup',
      column: 6,
      chain: ['at line 1: dup', 'from line 1: fact', 'from line 1: iftrue', 'from line 2: fact'],
      stack: ['3 2', '3 2 [2]'],
      output: '',
    };
    assert.deepEqual(await step_shown(page), inner_dup);
    await page.click('#step-back');
    assert.deepEqual(await step_shown(page), {
      position: 'Step 27 of 54', token: 'fact', column: 23, chain: ['at line 1: fact', 'from line 1: iftrue', 'from line 2: fact'],
      stack: ['3 2', '3 2'], output: '' });
    await page.click('#step-forward');
    assert.deepEqual(await step_shown(page), inner_dup);
    await page.click('#step-end');
    assert.deepEqual(await step_shown(page), {
      position: 'Step 54 of 54', token: 'cr', column: 9, chain: ['at line 2: cr'], stack: ['', ''], output: '6 \n' });
    await page.keyboard.press('ArrowLeft');
    assert.equal((await step_shown(page)).output, '6 ');
  });

  test('Stop ends an endless program within 2 s, and its last steps are kept', async () => {
    const { page } = playground;
    await page.click('#mode-program');
    await type_program(page, '[ $i . ] 1000000000 times');
    await page.click('#mode-step');
    await page.waitForFunction(() => /^Recording… [\d,]+ steps so far\.$/.test(document.getElementById('step-status').textContent));
    const started = Date.now();
    await page.click('#step-stop');
    await page.waitForSelector('body[data-running="false"]', { timeout: 2000 });
    assert.ok(Date.now() - started < 2000);
    const taken = Number((await page.textContent('#step-status')).match(/^Stopped after ([\d,]+) steps or more\.$/)[1].replace(/,/g, ''));
    const count = (number) => number.toLocaleString('en');
    const shown = await step_shown(page);
    assert.equal(shown.position, `Step ${count(taken)} of ${count(taken)} (showing steps ${count(taken - 9999)}–${count(taken)} of `
      + `${count(taken)}: the earlier ones are not kept)`);
    assert.deepEqual(shown.chain.slice(1), ['from line 1: times']);
    assert.match(shown.output, /^0 1 2 3 (\d+ )+$/);
    await page.keyboard.press('Home');
    assert.match((await step_shown(page)).position, new RegExp(`^Step ${count(taken - 9999)} of`));
    await page.click('#mode-program');
  });
});

describe('links', () => {
  const code = '\\ grüße ✓\n( Ünïcödé: ✓ ) .. cr\naccept parse-name .. 6 7 * . cr';

  test('carry the program as base64url UTF-8, and &run runs it at once', async () => {
    const { page } = playground;
    await type_program(page, code);
    await page.fill('#input', 'fourty-two\n');
    await page.click('#share');
    await page.waitForFunction(() => document.getElementById('share').textContent === 'Copied');
    const link = await page.inputValue('#link');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), link);
    const url = new URL(link);
    assert.equal(url.hash, `#code=${Buffer.from(code).toString('base64url')}&input=${Buffer.from('fourty-two\n').toString('base64url')}`);

    const other = await playground.browser.newPage();
    await other.goto(`${link}&run`);
    await other.waitForFunction(() => document.getElementById('status').textContent.startsWith('Finished'));
    assert.equal(await other.textContent('#output'), 'Ünïcödé: ✓ \nfourty-two 42 \n');
    assert.equal(await program_text(other), code);
    await other.close();
  });

  test('without &run the program waits; a broken link says so', async () => {
    const { url } = playground;
    const other = await playground.browser.newPage();
    await other.goto(`${url}#code=${Buffer.from('1 . cr').toString('base64url')}`);
    await other.waitForSelector('body[data-ready="true"]');
    assert.equal(await program_text(other), '1 . cr');
    assert.equal(await other.textContent('#output'), '');
    await other.goto(`${url}#code=%%%`);
    await other.waitForFunction(() => document.getElementById('status').textContent !== '');
    assert.equal(await other.textContent('#status'), 'This link does not carry a readable program.');
    await other.close();
  });
});

test('the draft, its input and the mode survive a reload and Back; a link shows its program and keeps the draft', async () => {
  const { page, url } = playground;
  const shows = async (tab, code, input, mode) => {
    await tab.waitForSelector('body[data-ready="true"]');
    assert.equal(await program_text(tab), code);
    assert.equal(await tab.inputValue('#input'), input);
    assert.equal(await tab.getAttribute(`#mode-${mode}`, 'aria-pressed'), 'true');
  };
  await type_program(page, 'my draft');
  await page.fill('#input', 'its input');
  await page.click('#mode-console');
  await page.reload();
  await shows(page, 'my draft', 'its input', 'console');
  await page.goto(`${url}docs.html#tutorial.md`);
  await page.goBack();
  await shows(page, 'my draft', 'its input', 'console');
  await page.click('#mode-program');

  const other = await page.context().newPage();
  await other.goto(`${url}#code=${Buffer.from('from a link').toString('base64url')}`);
  await shows(other, 'from a link', '', 'program');
  await other.goto(url);
  await shows(other, 'my draft', 'its input', 'program');
  await other.goBack();
  await shows(other, 'from a link', '', 'program');
  await other.click('#editor .cm-content');
  await other.keyboard.press('Control+End');
  await other.keyboard.type(', edited');
  assert.equal(new URL(other.url()).hash, '');
  await other.reload();
  await shows(other, 'from a link, edited', '', 'program');
  await other.close();
});

describe('the editor', () => {
  test('colours tokens as the grammar of editors/ does', async () => {
    const { page } = playground;
    await type_program(page, ':sq dup * ; \\ squares\n( two\nlines ) .. 0x1F =n $n [ 1 ] iftrue /* a\nb */ \'sq -5 nan');
    const spans = await page.$$eval('#editor .cm-line span', (all) => all.map((span) => `${span.className}:${span.textContent}`));
    assert.deepEqual(spans, ['tm-keyword::', 'tm-entity:sq', 'tm-support:dup', 'tm-keyword:*', 'tm-keyword:;',
      'tm-comment:\\ squares', 'tm-string:( two', 'tm-string:lines )', 'tm-support:..', 'tm-constant:0x1F',
      'tm-keyword:=', 'tm-variable:n', 'tm-keyword:$', 'tm-variable:n', 'tm-punctuation:[', 'tm-constant:1',
      'tm-punctuation:]', 'tm-keyword:iftrue', 'tm-comment:/* a', 'tm-comment:b */', "tm-keyword:'", 'tm-entity:sq',
      'tm-keyword:-', 'tm-variable:5', 'tm-constant:nan']);
  });

  test('colours every word the interpreter lists', async () => {
    const { page } = playground;
    const listed = (await run(page, 'words aliases')).stdout.split(/\s+/).filter(Boolean);
    // These open and close comments and strings, coloured as such above.
    const words = listed.filter((word) => !['\\', '/*', '*/', '(', ')'].includes(word));
    assert.ok(words.includes('parse-name') && words.length > 40, listed.join(' '));
    await type_program(page, words.join('\n'));
    const plain = await page.$$eval('#editor .cm-line', (lines) => lines
      .filter((line) => !line.querySelector('span[class^="tm-"]')).map((line) => line.textContent));
    assert.deepEqual(plain, []);
  });
});

test('Ctrl-Enter runs, and nothing is fetched from elsewhere', async () => {
  const { page, problems } = playground;
  await type_program(page, '2 3 * . cr');
  await page.keyboard.press('Control+Enter');
  await page.waitForFunction(() => document.getElementById('output').textContent === '6 \n');
  assert.equal(await program_text(page), '2 3 * . cr');
  assert.deepEqual(problems, []);
});
