// Console mode: the terminal session of the command-line program, line by
// line, with its banner, prompts, ok and error reports, history,
// completion, the example files, accept, and Stop that keeps the session.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { enter, example, open_playground, stop } from './harness.mjs';

const banner = "Welcome to Tolva v4.1b (27 Feb 2024)\nWords: 64 Sigils: 9 Aliases: 2\nEnter code or 'bye' to exit:\n";

const { page, close } = await open_playground();
after(close);

const transcript = () => page.textContent('#transcript');

test('a session reads like the one on a terminal, with history, Tab, the example files, accept, and Stop that keeps it', async () => {
  // The line being typed after some keys.
  const keys = async (...pressed) => {
    for (const key of pressed) await page.press('#console-input', key);
    await page.waitForSelector('#console-input:not([disabled])');
    return page.inputValue('#console-input');
  };
  await page.click('#mode-console');
  await enter(page, ':sq dup * ;', '3 sq . cr', '4 sq .', '1 2 drop drop drop', '5 [ 1 2');
  await enter(page, '3 ]', '.s');
  assert.deepEqual([await keys('ArrowUp'), await keys('ArrowUp'), await keys('ArrowDown', 'ArrowDown')], ['.s', '3 ]', '']);
  await page.type('#console-input', 'half typed');
  assert.equal(await keys('Control+c'), '');
  await keys('ArrowUp', 'Enter');

  await page.fill('#console-input', '3 s');
  await keys('Tab', 'Tab');
  await page.waitForFunction(() => document.getElementById('transcript').textContent.endsWith('\nsigils  space  spaces  sq  swap\n'));
  await page.type('#console-input', 'q');
  await keys('Tab');
  await page.waitForFunction(() => document.getElementById('console-input').value === '3 sq ');
  await keys('Enter');

  await enter(page, '( primes.tv ) included', '97 prime? . 91 prime? . cr', '( nosuch.tv ) included');
  await page.click('#mode-program');
  await page.fill('#input', 'first\nsecond\n');
  await page.click('#mode-console');
  await enter(page, 'accept parse-name .. cr', 'accept parse-name .. cr', 'clear 5 =x 7 [ 8');
  await page.fill('#console-input', '] 9 =x :sq ; { 1 drop } while { 1 } repeat');
  await page.press('#console-input', 'Enter');
  await stop(page, 'Control+c');
  await enter(page, ']', '$x sq . 97 prime? . .s');

  assert.equal(await transcript(), `${banner}? :sq dup * ;\nok\n? 3 sq . cr\n9 \nok\n? 4 sq .\n16 ok\n`
    + '? 1 2 drop drop drop\nOut of range: stack underflow\n  drop takes 1 value from the stack, which was empty\n? 5 [ 1 2\nok\n... 3 ]\nok\n? .s\n5 \nok\n? .s\n5 \nok\n'
    + `sigils  space  spaces  sq  swap\n? 3 sq \nok\n? ( primes.tv ) included\n${await example('primes.out')}ok\n`
    + '? 97 prime? . 91 prime? . cr\n1 0 \nok\n? ( nosuch.tv ) included\nRuntime error: can\'t open file\n'
    + '  the file nosuch.tv cannot be opened: No such file or directory\n'
    + '? accept parse-name .. cr\nfirst \nok\n? accept parse-name .. cr\nsecond \nok\n? clear 5 =x 7 [ 8\nok\n'
    + '... ] 9 =x :sq ; { 1 drop } while { 1 } repeat\nInterrupted\nThe line is undone; everything before it stays.\n'
    + '... ]\nok\n? $x sq . 97 prime? . .s\n25 1 7 \nok\n');
  assert.deepEqual(await page.$$eval('#transcript .err', (lines) => lines.map((line) => line.textContent)),
    ['Out of range: stack underflow\n  drop takes 1 value from the stack, which was empty\n',
      'Runtime error: can\'t open file\n  the file nosuch.tv cannot be opened: No such file or directory\n', 'Interrupted\n']);
});

test('a session that Stop cannot restore, one that bye ends, and Restart session start afresh', async () => {
  await page.fill('#console-input', '{ 1 drop } while { 1 } repeat');
  await page.press('#console-input', 'Enter');
  await page.waitForTimeout(300);
  // The second Stop as soon as the first is reported, while the new worker loads.
  await page.evaluate(() => {
    const [shown, stop] = ['transcript', 'console-stop'].map((id) => document.getElementById(id));
    const observer = new MutationObserver(() => {
      if (shown.textContent.endsWith('Interrupted\n')) { observer.disconnect(); stop.click(); }
    });
    observer.observe(shown, { childList: true, subtree: true, characterData: true });
    stop.click();
  });
  await enter(page, '7 bye', '.s');
  const text = await transcript();
  assert.ok(text.endsWith(`Interrupted\nThe session could not be restored; a new one starts.\n${banner}`
    + `? 7 bye\nbye ended the session; a new one starts.\n${banner}? .s\n\nok\n`), text);

  await enter(page, ':sq dup * ;');
  await page.click('#console-restart');
  await enter(page, '2 sq');
  assert.equal(await transcript(),
    `${banner}? 2 sq\nDomain error: unknown word - sq\n  sq is no word defined here; words lists those that are\n`);
});
