// Console mode: the terminal session of the command-line program, line by
// line, with its banner, prompts, ok and error reports, and history.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { open_playground } from './harness.mjs';

const banner = "Welcome to Tolva v4.1b (27 Feb 2024)\nWords: 64 Sigils: 9 Aliases: 2\nEnter code or 'bye' to exit:\n";

let playground;
before(async () => {
  playground = await open_playground();
  await playground.page.click('#mode-console');
  await playground.page.waitForSelector('#console-input:not([disabled])');
});
after(() => playground.close());

async function enter(line) {
  const { page } = playground;
  await page.fill('#console-input', line);
  await page.press('#console-input', 'Enter');
  await page.waitForSelector('#console-input:not([disabled])');
}

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

test('accept reads the input box, each line once in a session', async () => {
  const { page } = playground;
  await page.click('#mode-program');
  await page.fill('#input', 'first\nsecond\n');
  await page.click('#mode-console');
  await enter('accept parse-name .. cr');
  await enter('accept parse-name .. cr');
  assert.ok((await transcript()).endsWith('? accept parse-name .. cr\nfirst \nok\n? accept parse-name .. cr\nsecond \nok\n'));
});

test('Stop ends an endless line; the session starts again and says so', async () => {
  const { page } = playground;
  await page.fill('#console-input', '[ 1 drop ] 1000000000 times');
  await page.press('#console-input', 'Enter');
  await page.waitForTimeout(300);
  const started = Date.now();
  await page.keyboard.press('Control+c');
  await page.waitForSelector('#console-input:not([disabled])', { timeout: 2000 });
  assert.ok(Date.now() - started < 2000);
  const text = await transcript();
  assert.ok(text.endsWith(`? [ 1 drop ] 1000000000 times\nInterrupted\n`
    + `The session was restarted: its definitions, variables and stack are gone.\n${banner}`), text);
  await enter('3 sq');
  assert.ok((await transcript()).endsWith('? 3 sq\nDomain error: unknown word - sq\n'));
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
