// Profile in Program mode: the run as Run runs it, a flame graph of where
// its steps went that zooms, the words that took the most, and collapsed
// stacks to download that speedscope reads; screenshots on a screen and on
// a phone.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { open_playground, run, shots, shown, type_program } from './harness.mjs';

const { page, url, open, close } = await open_playground({ viewport: { width: 1280, height: 800 } });
after(close);

async function profile(page, code) {
  if (code !== undefined) await type_program(page, code);
  await page.click('#profile-run');
  await page.waitForSelector('body[data-running="false"]');
  await page.waitForSelector('#profile:not([hidden])');
  return shown(page);
}

// The frames drawn, each {name, level, x, width}, the root's level 0.
const frames = (page) => page.$$eval('#flame g', (all) => all.map((frame) => {
  const rect = frame.querySelector('rect');
  const [x, y, width] = ['x', 'y', 'width'].map((name) => Number(rect.getAttribute(name)));
  return { name: frame.querySelector('title').textContent.replace(/: [\d,]+ steps, .*$/, ''), level: y / 20, x, width };
}));
const widths = async (page) => Object.fromEntries((await frames(page)).map(({ name, level, width }) => [`${level}:${name}`, width]));
const near = (actual, expected, slack, what) => assert.ok(Math.abs(actual - expected) <= slack, `${what}: ${actual}, not ${expected}`);

// The table's rows: word, calls, self steps, self %, total %, where defined.
const words = (page) => page.$$eval('#profile-words tbody tr', (rows) => rows.map((row) => [...row.cells].map((cell) => cell.textContent)));

// Clicks the frame of `name` at `level`, as a person does.
async function click_frame(page, name, level) {
  const index = (await frames(page)).findIndex((frame) => frame.name === name && frame.level === level);
  assert.ok(index >= 0, `${level}:${name}`);
  await page.locator('#flame g').nth(index).click();
}

const work = ':work [ 1 drop ] times ;\n:a 3000 work ;\n:b 1000 work ;\na b 1 . cr';
const fib = ':fib dup 2 < not { dup 1- fib swap 2 - fib + } iftrue ;\n10 fib . cr';

test('Profile runs the program as Run does: the same output, stack and errors', async () => {
  for (const code of [work, ':f nosuch ;\n1 2 . f 3']) {
    const ran = await run(page, code);
    assert.equal(await page.isHidden('#profile'), true, 'Run shows no profile');
    assert.deepEqual(await profile(page), ran, code);
  }
});

test('the flame graph is as wide as the steps, nests calls under their callers, and zooms', async () => {
  await profile(page, work);
  const width = await page.$eval('#flame', (svg) => svg.viewBox.baseVal.width);
  const drawn = await widths(page);
  assert.deepEqual(Object.keys(drawn).sort(), ['0:program', '1:a', '1:b', '2:work'], 'work is drawn twice, once under each caller');
  near(drawn['0:program'], width - 1, 1, 'the root fills the width');
  near(drawn['1:a'] / (drawn['1:a'] + drawn['1:b']), 0.75, 0.02, 'a does three times the work of b');
  // Each work under its caller, the heaviest first, with nearly all of its caller's steps.
  const under = (await frames(page)).filter(({ level }) => level === 2);
  assert.deepEqual(under.map(({ x }) => Math.round(x)), [0, Math.round(drawn['1:a'] + 1)]);
  assert.ok(under[0].width > 0.95 * drawn['1:a'] && under[1].width > 0.95 * drawn['1:b']);
  assert.equal(await page.isDisabled('#flame-reset'), true);

  // Zoomed into b, it fills the width under its caller, drawn faded; a is not drawn.
  await click_frame(page, 'b', 1);
  const zoomed = await widths(page);
  assert.deepEqual(Object.keys(zoomed).sort(), ['0:program', '1:b', '2:work']);
  near(zoomed['1:b'], width - 1, 1, 'b fills the width');
  near(zoomed['2:work'] / zoomed['1:b'], under[1].width / drawn['1:b'], 0.01, 'what b called keeps its share of b');
  assert.equal(await page.$eval('#flame g:first-child', (frame) => frame.classList.contains('faded')), true);
  assert.match(await page.textContent('#flame-note'), /^b: [\d,]+ steps, 2\d\.\d% of all\. Click the root to zoom out\.$/);
  // The root zooms out, as Zoom out does.
  await click_frame(page, 'program', 0);
  assert.deepEqual(await widths(page), drawn);
  await click_frame(page, 'work', 2);
  await page.click('#flame-reset');
  assert.deepEqual(await widths(page), drawn);
});

test('a recursion nests as deep as it calls, and the table counts its calls', async () => {
  await profile(page, fib);
  assert.equal(await page.textContent('#output'), '55 \n');
  // fib 10 calls down to fib 1: ten frames deep under the root, each narrower than its caller.
  const drawn = await frames(page);
  assert.deepEqual([...new Set(drawn.map(({ name, level }) => `${level}:${name}`))],
    ['0:program', ...Array.from({ length: 10 }, (_, index) => `${index + 1}:fib`)]);
  const heaviest = Array.from({ length: 11 }, (_, level) => Math.max(...drawn.filter((frame) => frame.level === level).map((frame) => frame.width)));
  assert.ok(heaviest.every((width, level) => level === 0 || width < heaviest[level - 1]), `${heaviest}`);
  // All of fib's steps are its own, counted once however deep it recursed; the rest are the top level's.
  const [[name, calls, , self, total, defined], top] = await words(page);
  assert.deepEqual([name, calls, defined, self], ['fib', '177', 'line 1', total]);
  assert.deepEqual([top[0], top[1], top[4], top[5]], ['program', '1', '100.0%', 'top level']);
});

test('the table lists the 20 words that took the most steps themselves, the numbers grouped by thousands', async () => {
  // w1 loops 1,001 times, w2 1,002 times and so on; main calls each of them, twice.
  const names = Array.from({ length: 24 }, (_, index) => `w${index + 1}`);
  const code = [...names.map((name, index) => `:${name} [ 1 drop ] ${1001 + index} times ;`), `:main ${names.join(' ')} ;`, 'main main'];
  await profile(page, code.join('\n'));
  const rows = await words(page);
  assert.deepEqual(rows.map(([name, calls, , , , defined]) => `${name} ${calls} ${defined}`),
    names.slice(4).reverse().map((name) => `${name} 2 line ${name.slice(1)}`));
  assert.ok(rows.every(([, , self]) => /^\d{1,3}(,\d{3})+$/.test(self)), 'steps are grouped by thousands');
  const steps = rows.map(([, , self]) => Number(self.replaceAll(',', '')));
  const shares = rows.map(([, , , self]) => Number(self.slice(0, -1)));
  assert.ok(steps.every((self, index) => index === 0 || (self < steps[index - 1] && shares[index] <= shares[index - 1])), `${steps} ${shares}`);
  assert.equal(await page.textContent('#profile-more'), '6 more words not shown.', 'w1 to w4, main and the top level');
});

// The collapsed stacks, downloaded as a visitor downloads them.
async function download(page) {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click('#profile-download')]);
  assert.equal(file.suggestedFilename(), 'program.folded');
  return readFile(await file.path(), 'utf8');
}

test('the collapsed stacks to download hold every stack with its steps, and speedscope reads them', async () => {
  await profile(page, work);
  const stacks = await download(page);
  const lines = stacks.trimEnd().split('\n');
  assert.ok(lines.every((line) => /^program(;(a|b|work))* [1-9]\d*$/.test(line)), stacks);
  const steps = Object.fromEntries(lines.map((line) => line.split(' ')));
  near(steps['program;a;work'] / steps['program;b;work'], 3, 0.1, 'a\'s work against b\'s');
  const total = lines.reduce((sum, line) => sum + Number(line.split(' ')[1]), 0);
  assert.equal(await page.textContent('#profile-total'), `${total.toLocaleString('en')} steps`);

  // speedscope's page, served from its package at an address of its own, loads them from there.
  const release = join('node_modules', 'speedscope', 'dist', 'release');
  const viewer = await page.context().newPage();
  const problems = [];
  viewer.on('pageerror', (error) => problems.push(error.message));
  await viewer.route('http://speedscope.test/**', async (route) => {
    const path = new URL(route.request().url()).pathname;
    if (path === '/program.folded') return route.fulfill({ body: stacks, contentType: 'text/plain' });
    const body = await readFile(join(release, path === '/' ? 'index.html' : path)).catch(() => null);
    return body ? route.fulfill({ body, contentType: path.endsWith('.css') ? 'text/css' : undefined }) : route.fulfill({ status: 404 });
  });
  await viewer.goto('http://speedscope.test/#profileURL=http%3A%2F%2Fspeedscope.test%2Fprogram.folded&title=program.folded');
  // Its table of every frame with its steps, the root's all of them.
  await viewer.getByText('Sandwich').click();
  for (const name of ['program', 'a', 'b', 'work']) await viewer.getByText(name, { exact: true }).waitFor();
  await viewer.getByText(`${total.toLocaleString('en')} (100%)`, { exact: true }).waitFor();
  // Its flame chart, drawn in a canvas by the next frame.
  await viewer.getByText('Left Heavy').click();
  await viewer.evaluate(() => new Promise((resolve) => { requestAnimationFrame(() => requestAnimationFrame(resolve)); }));
  await viewer.screenshot({ path: join(shots, 'profile-speedscope.png') });
  await viewer.close();
  assert.deepEqual(problems, []);
});

// The collatz example profiled, as a person sees it: the profile in sight
// once it is there, nothing wider than the screen.
async function look(page, name) {
  await page.selectOption('#examples', 'collatz');
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Example collatz'));
  await profile(page);
  assert.ok(await page.$eval('#flame-graph', (box) => box.getBoundingClientRect().top >= 0
    && box.getBoundingClientRect().bottom <= window.innerHeight), 'the flame graph is scrolled into sight');
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth), name);
  // No label runs out of its frame.
  const spills = await page.$$eval('#flame g', (all) => all.filter((frame) => {
    const text = frame.querySelector('text').getBBox();
    const rect = frame.querySelector('rect').getBBox();
    return text.width > 0 && text.x + text.width > rect.x + rect.width;
  }).length);
  assert.equal(spills, 0);
  const drawn = (await frames(page)).map(({ name, level }) => `${level}:${name}`);
  assert.deepEqual(drawn.slice(0, 3), ['0:program', '1:walk', '2:step']);
  await page.screenshot({ path: join(shots, `${name}.png`) });
}

test('the profile of an example on a screen and on a phone, with screenshots', async () => {
  await look(page, 'profile');
  // step, called from the top level too, is a sliver there: zoomed into, it fills the width, labelled.
  await click_frame(page, 'step', 1);
  assert.deepEqual((await frames(page)).map(({ name, level }) => `${level}:${name}`), ['0:program', '1:step']);
  assert.equal(await page.textContent('#flame g:nth-child(2) text'), 'step');
  await look(await open(url, { viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true }), 'phone-profile');
});
