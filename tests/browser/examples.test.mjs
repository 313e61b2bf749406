// Every example program, chosen from the menu with its input, prints
// exactly its expected output and nothing on standard error; the menu
// describes each.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile, readdir } from 'node:fs/promises';
import { join } from 'node:path';
import { examples, open_playground, program_text } from './harness.mjs';

let playground;
before(async () => { playground = await open_playground(); });
after(() => playground.close());

const read = (file) => readFile(join(examples, file), 'utf8').catch(() => '');
const names = (await readdir(examples)).filter((file) => file.endsWith('.tv')).map((file) => file.slice(0, -3));

for (const name of names) {
  test(name, async () => {
    const { page, problems } = playground;
    await page.selectOption('#examples', name);
    await page.waitForFunction((name) => document.getElementById('status').textContent.startsWith(`Example ${name}`), name);
    assert.equal(await program_text(page), await read(`${name}.tv`));
    assert.equal(await page.inputValue('#input'), await read(`${name}.in`));
    await page.click('#run');
    await page.waitForSelector('body[data-running="false"]');
    assert.equal(await page.textContent('#output'), await read(`${name}.out`));
    assert.match(await page.textContent('#status'), /^Finished in (\d+ ms|\d+\.\d\d s)\.$/);
    assert.deepEqual(problems, []);
  });
}

test('the menu lists every example by its file name and first line', async () => {
  const options = await playground.page.$$eval('#examples option', (all) => all.slice(1).map((option) => option.textContent));
  const expected = await Promise.all(names.map(async (name) => `${name}.tv — ${(await read(`${name}.tv`)).split('\n')[0].slice(2).replace(/\.$/, '')}`));
  assert.deepEqual(options.sort(), expected.sort());
});
