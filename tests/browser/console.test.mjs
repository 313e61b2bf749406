// Console mode: the terminal session of the command-line program, line by
// line, with its banner, prompts, ok and error reports, history,
// completion, the example files, and Stop that keeps the session.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { enter as enter_line, open_playground } from './harness.mjs';

const banner = "Welcome to Tolva v4.1b (27 Feb 2024)\nWords: 64 Sigils: 9 Aliases: 2\nEnter code or 'bye' to exit:\n";

let playground;
before(async () => {
  playground = await open_playground();
  await playground.page.click('#mode-console');
  await playground.page.waitForSelector('#console-input:not([disabled])');
});
after(() => playground.close());

const enter = (line) => enter_line(playground.page, line);

const transcript = () => playground.page.textContent('#transcript');
const errors = () => playground.page.$$eval('#transcript .err', (lines) => lines.map((line) => line.textContent));

test('a session reads like the one on a terminal', async () => {
  assert.equal(await transcript(), banner);
  await enter(':sq dup * ;');
  await enter('3 sq . cr');
  await enter('4 sq .');
  await enter('1 2 drop drop drop');
  await enter('5 [ 1 2');
  assert.equal(await playground.page.textContent('#prompt'), '... ');
  await enter('3 ]');
  await enter('.s');
  assert.equal(await transcript(), `${banner}? :sq dup * ;\nok\n? 3 sq . cr\n9 \nok\n? 4 sq .\n16 ok\n`
    + '? 1 2 drop drop drop\nOut of range: stack underflow\n? 5 [ 1 2\nok\n... 3 ]\nok\n? .s\n5 \nok\n');
  assert.deepEqual(await errors(), ['Out of range: stack underflow\n']);
  assert.equal(await playground.page.textContent('#prompt'), '? ');
});

test('Up and Down step through earlier lines', async () => {
  const { page } = playground;
  await page.press('#console-input', 'ArrowUp');
  assert.equal(await page.inputValue('#console-input'), '.s');
  await page.press('#console-input', 'ArrowUp');
  assert.equal(await page.inputValue('#console-input'), '3 ]');
  await page.press('#console-input', 'ArrowDown');
  await page.press('#console-input', 'ArrowDown');
  assert.equal(await page.inputValue('#console-input'), '');
  await page.type('#console-input', 'half typed');
  await page.press('#console-input', 'Control+c');
  assert.equal(await page.inputValue('#console-input'), '');
  await page.press('#console-input', 'ArrowUp');
  await page.press('#console-input', 'Enter');
  await page.waitForSelector('#console-input:not([disabled])');
  assert.ok((await transcript()).endsWith('? .s\n5 \nok\n'));
});

test('Tab completes a name as a terminal does, and a second Tab lists the names that fit', async () => {
  const { page } = playground;
  await page.fill('#console-input', '3 s');
  await page.press('#console-input', 'Tab');
  await page.press('#console-input', 'Tab');
  await page.waitForFunction(() => document.getElementById('transcript').textContent.endsWith('\nsigils  space  spaces  sq  swap\n'));
  await page.type('#console-input', 'q');
  await page.press('#console-input', 'Tab');
  await page.waitForFunction(() => document.getElementById('console-input').value === '3 sq ');
  await page.press('#console-input', 'Enter');
  await page.waitForSelector('#console-input:not([disabled])');
  assert.ok((await transcript()).endsWith('? 3 sq \nok\n'));
});

test('the example programs are files to include', async () => {
  await enter('( primes.tv ) included');
  await enter('97 prime? . 91 prime? . cr');
  await enter('( nosuch.tv ) included');
  assert.ok((await transcript()).endsWith('25 primes below 100 \nok\n? 97 prime? . 91 prime? . cr\n1 0 \nok\n'
    + '? ( nosuch.tv ) included\nRuntime error: can\'t open file\n'));
});

test('accept reads the input box, each line once in a session', async () => {
  const { page } = playground;
  await page.click('#mode-program');
  await page.fill('#input', 'first\nsecond\n');
  await page.click('#mode-console');
  await enter('accept parse-name .. cr');
  await enter('accept parse-name .. cr');
  assert.ok((await transcript()).endsWith('? accept parse-name .. cr\nfirst \nok\n? accept parse-name .. cr\nsecond \nok\n'));
});

test('Stop ends an endless line and undoes it; what the lines before it did stays', async () => {
  const { page } = playground;
  await enter('clear 5 =x 7 [ 8');
  await page.fill('#console-input', '] 9 =x :sq ; { 1 drop } while { 1 } repeat');
  await page.press('#console-input', 'Enter');
  await page.waitForTimeout(300);
  const started = Date.now();
  await page.keyboard.press('Control+c');
  await page.waitForSelector('#console-input:not([disabled])', { timeout: 2000 });
  assert.ok(Date.now() - started < 2000);
  await enter(']');
  await enter('$x sq . 97 prime? . .s');
  const text = await transcript();
  assert.ok(text.endsWith('... ] 9 =x :sq ; { 1 drop } while { 1 } repeat\nInterrupted\n'
    + 'The line is undone; everything before it stays.\n... ]\nok\n? $x sq . 97 prime? . .s\n25 1 7 \nok\n'), text);
});

test('Stop while the session is being restored starts a new one', async () => {
  const { page } = playground;
  await page.fill('#console-input', '{ 1 drop } while { 1 } repeat');
  await page.press('#console-input', 'Enter');
  await page.waitForTimeout(300);
  // The second Stop as soon as the first is reported, while the new worker loads.
  await page.evaluate(() => {
    const shown = document.getElementById('transcript');
    new MutationObserver((changes, observer) => {
      if (!shown.textContent.endsWith('Interrupted\n')) return;
      observer.disconnect();
      document.getElementById('console-stop').click();
    }).observe(shown, { childList: true, subtree: true, characterData: true });
    document.getElementById('console-stop').click();
  });
  await page.waitForSelector('#console-input:not([disabled])');
  const text = await transcript();
  assert.ok(text.endsWith(`Interrupted\nThe session could not be restored; a new one starts.\n${banner}`), text);
});

test('bye ends the session, and a new one starts', async () => {
  await enter('7 bye');
  assert.ok((await transcript()).endsWith(`? 7 bye\nbye ended the session; a new one starts.\n${banner}`));
  await enter('.s');
  assert.ok((await transcript()).endsWith('? .s\n\nok\n'));
});

test('Restart session starts afresh', async () => {
  await enter(':sq dup * ;');
  await playground.page.click('#console-restart');
  await playground.page.waitForSelector('#console-input:not([disabled])');
  assert.equal(await transcript(), banner);
  await enter('2 sq');
  assert.deepEqual(await errors(), ['Domain error: unknown word - sq\n']);
  assert.deepEqual(playground.problems, []);
});
