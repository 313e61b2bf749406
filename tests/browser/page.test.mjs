// What a visitor gets: the size of what loads, how soon the interpreter is
// ready, a phone-sized touch screen, the documentation with examples that
// run in the playground, and screenshots in the build folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { launch, open_playground, record, run, serve, site, type_program } from './harness.mjs';

const shots = process.env.TOLVA_SCREENSHOTS;

test('what the page loads is under 500 KB gzip-compressed', async () => {
  let total = 0;
  const sizes = [];
  for (const file of ['index.html', 'playground.css', 'playground.js', 'worker.js', 'tolva.js', 'tolva.wasm']) {
    const size = gzipSync(await readFile(join(site, file)), { level: 9 }).length;
    sizes.push(`${file} ${size}`);
    total += size;
  }
  console.log(`gzip-compressed bytes: ${sizes.join(', ')}; total ${total}`);
  assert.ok(total < 500 * 1000, `${total} bytes`);
});

test('the interpreter is ready within 5 s of opening the page', async () => {
  const { server, url } = await serve();
  const browser = await launch();
  try {
    const page = await browser.newPage();
    const started = Date.now();
    await page.goto(url);
    await page.waitForSelector('body[data-ready="true"]', { timeout: 5000 });
    console.log(`ready after ${Date.now() - started} ms`);
  } finally {
    await browser.close();
    server.close();
  }
});

let playground;
before(async () => { playground = await open_playground({ viewport: { width: 1280, height: 800 } }); });
after(() => playground.close());

async function fits(page) {
  return page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth);
}

// Screenshots PREFIXerror.png of an error inside a word and PREFIXstep.png
// of Step mode in the middle of a recursion; back in Program mode after.
async function error_and_step(page, prefix) {
  await run(page, '\\ The mean of two values\n:average + 2 / ;\n:report ( mean: ) .. average . cr ;\n4 6 report\n7 report');
  await page.screenshot({ path: join(shots, `${prefix}error.png`) });
  await type_program(page, '\\ Factorial, by recursion: n! = n * (n - 1)!\n:fact dup 1 > { dup 1- fact * } iftrue ;\n( 5! = ) .. 5 fact . cr');
  await record(page);
  for (let step = 1; step < 43; ++step) await page.keyboard.press('ArrowRight');
  assert.ok(await fits(page), 'step');
  await page.screenshot({ path: join(shots, `${prefix}step.png`) });
  await page.click('#mode-program');
}

test('screenshots of the program, step and console modes, and of an error inside a word', async () => {
  const { page } = playground;
  await page.selectOption('#examples', 'collatz');
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Example'));
  await page.click('#run');
  await page.waitForSelector('body[data-running="false"]');
  await page.screenshot({ path: join(shots, 'program.png') });
  await error_and_step(page, '');
  await page.click('#mode-console');
  await page.waitForSelector('#console-input:not([disabled])');
  for (const line of [':sq dup * ;', '7 sq . cr', '1 nosuch', '[ 1 2']) {
    await page.fill('#console-input', line);
    await page.press('#console-input', 'Enter');
    await page.waitForSelector('#console-input:not([disabled])');
  }
  await page.screenshot({ path: join(shots, 'console.png') });
});

test('a phone: no sideways scrolling, the output in sight after Run and Stop, no keys in the console\'s hint', async () => {
  const phone = await playground.browser.newPage({ viewport: { width: 375, height: 740 }, hasTouch: true, isMobile: true });
  await phone.goto(playground.url);
  await phone.waitForSelector('body[data-ready="true"]');
  // The output wholly on the screen, scrolled to its end.
  const in_sight = (box) => {
    const { top, bottom } = box.getBoundingClientRect();
    return top >= 0 && bottom <= window.innerHeight && box.scrollTop + box.clientHeight >= box.scrollHeight - 1;
  };
  await type_program(phone, `( ${'a-long-line-of-text '.repeat(10)}) .. cr`);
  await phone.click('#share');
  await phone.click('#run');
  await phone.waitForSelector('body[data-running="false"]');
  assert.ok(await fits(phone), 'program');
  await phone.waitForFunction(in_sight, await phone.$('#output'), { timeout: 2000 });
  await phone.screenshot({ path: join(shots, 'phone.png') });

  await phone.evaluate(() => window.scrollTo(0, 0));
  await type_program(phone, '[ $i . cr ] 100000000 times');
  await phone.click('#run');
  await phone.waitForTimeout(500);
  await phone.click('#stop');
  await phone.waitForSelector('body[data-running="false"]');
  await phone.waitForFunction(in_sight, await phone.$('#output'), { timeout: 2000 });
  assert.ok((await phone.textContent('#output')).endsWith('[stopped]\n'));
  await error_and_step(phone, 'phone-');

  await phone.click('#mode-console');
  await phone.waitForSelector('#console-input:not([disabled])');
  assert.ok(await fits(phone), 'console');
  assert.deepEqual(await phone.$$eval('#console .hint', (hints) => hints.filter((hint) => hint.offsetParent)
    .map((hint) => /Escape|Ctrl|Tab/.test(hint.textContent))), [false]);
  await phone.screenshot({ path: join(shots, 'phone-console.png') });
  await phone.close();
});

test('the documentation pages render the Markdown of docs/, and Run this runs an example in the playground', async () => {
  const { page } = playground;
  await page.goto(`${playground.url}docs.html#language.md`);
  await page.waitForSelector('article h1');
  assert.equal(await page.textContent('article h1'), 'The Tolva language');
  assert.ok(await page.$$eval('article pre + .run a', (links) => links.length) > 90);
  await page.click('article a[href="#language.md#first-steps"]');
  await page.waitForFunction(() => window.scrollY > 0);

  // A session, indented in a list, is typed into the console.
  await page.click('article pre:has-text("? 10 -5 $5 . cr") + .run a');
  await page.waitForFunction(() => document.getElementById('transcript').textContent.endsWith('? 10 -5 $5 . cr\n-10 \nok\n'));
  assert.match(await page.textContent('#transcript'), /\n\? -5\nOut of range: stack underflow\n\? 5 negate \. 0 5 - \. cr\n-5 -5 \nok\n/);
  // A shell command runs as a program with the input piped to it.
  await page.goBack();
  await page.click('article pre:has-text("echo \'6 7 * . cr\' | tolva -e \'accept interpret\'") + .run a');
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Finished'));
  assert.equal(await page.textContent('#output'), '42 \n');
  assert.deepEqual(playground.problems, []);
});
