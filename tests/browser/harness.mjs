// Serves the playground's folder on a local port, opens it in Chromium, and
// reads what its modes show.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

export const { TOLVA_SITE: site, TOLVA_EXAMPLES: examples, TOLVA_SCREENSHOTS: shots } = process.env;
export const example = (file) => readFile(join(examples, file), 'utf8').catch(() => '');
const types = { '.html': 'text/html; charset=utf-8', '.css': 'text/css', '.js': 'text/javascript', '.wasm': 'application/wasm' };

// The server, a browser and a page that may use the clipboard; open() opens
// more. A page must load the interpreter within 5 s, and any request it
// makes elsewhere, or error it logs, fails the file when it closes.
export async function open_playground(options = {}) {
  const server = createServer(async (request, response) => {
    let path = normalize(decodeURIComponent(new URL(request.url, 'http://localhost').pathname));
    if (path.endsWith('/')) path += 'index.html';
    const body = await readFile(join(site, path)).catch(() => null);
    if (!body) return response.writeHead(404).end();
    return response.writeHead(200, { 'Content-Type': types[extname(path)] ?? 'text/plain; charset=utf-8' }).end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const url = `http://127.0.0.1:${server.address().port}/`;
  // Nothing in the background: no requests but the page's own.
  const browser = await chromium.launch({ executablePath: process.env.TOLVA_CHROMIUM ?? '/usr/bin/chromium', args: ['--disable-gpu',
    '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'] });
  const context = await browser.newContext({ permissions: ['clipboard-read', 'clipboard-write'], ...options });
  const problems = [];
  const open = async (address = url, page_options = null) => {
    const page = await (page_options ? browser.newPage(page_options) : context.newPage());
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('console', (message) => message.type() === 'error' && problems.push(`console: ${message.text()}`));
    page.on('request', (request) => request.url().startsWith(url) || problems.push(`outside request: ${request.url()}`));
    await page.goto(address, { waitUntil: 'commit' });
    await page.waitForSelector('body[data-ready="true"]', { timeout: 5000 });
    return page;
  };
  const close = async () => { await browser.close(); server.close(); assert.deepEqual(problems, []); };
  return { page: await open(), url, open, close };
}

// Types a program in place of the editor's as a person would, in Program
// mode. A line may end in a word whose completion is offered by then, which
// Enter would take instead of ending the line: Escape closes the offer.
export async function type_program(page, code) {
  await page.click('#mode-program');
  await page.click('#editor .cm-content');
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Backspace');
  for (const [index, line] of code.split('\n').entries()) {
    if (index > 0) {
      await page.keyboard.press('Escape');
      await page.keyboard.press('Enter');
    }
    await page.keyboard.type(line);
  }
}

// The program, without the effects the editor shows after each :name.
export const program_text = (page) => page.$$eval('#editor .cm-line', (lines) => lines.map((line) => {
  const text = line.cloneNode(true);
  for (const hint of text.querySelectorAll('.cm-effect-hint')) hint.remove();
  return text.textContent;
}).join('\n'));

// What Program mode shows of a run: its output with the page's notes,
// standard error, the status (a clean run's time as T), the stack, the
// calls that led to an error, and the line number, line and token marked.
export const shown = (page) => page.evaluate(() => {
  const texts = (selector) => [...document.querySelectorAll(selector)].map((element) => element.textContent);
  return {
    out: texts('#output > span:not(.err)').join(''),
    err: texts('#output > span.err').join(''),
    status: document.getElementById('status').textContent.replace(/^Finished in (\d+ ms|\d+\.\d\d s)\./, 'Finished in T.'),
    stack: document.getElementById('stack').textContent,
    chain: document.getElementById('failed-at').hidden ? [] : texts('#chain li'),
    marks: texts('#editor .cm-gutterElement.error, #editor .cm-error-line, #editor .cm-error-token'),
  };
});

// Types a program and its input, and runs it with Ctrl-Enter.
export async function run(page, code, input = '') {
  await page.fill('#input', input);
  await type_program(page, code);
  await page.keyboard.press('Control+Enter');
  await page.waitForSelector('body[data-running="false"]');
  return shown(page);
}

// Lets what runs go on a moment, then ends it with a key or a button within 2 s.
export async function stop(page, how) {
  await page.waitForTimeout(500);
  assert.equal(await page.getAttribute('body', 'data-running'), 'true');
  const started = Date.now();
  await (how.startsWith('#') ? page.click(how) : page.keyboard.press(how));
  await page.waitForSelector('body[data-running="false"]', { timeout: 2000 });
  assert.ok(Date.now() - started < 2000);
}

// Enters lines at the console, each once the one before has ended.
export async function enter(page, ...lines) {
  for (const line of lines) {
    await page.fill('#console-input', line);
    await page.press('#console-input', 'Enter');
    await page.waitForSelector('#console-input:not([disabled])');
  }
}

// What Step mode shows of its step: where it is, the token marked with
// the column it starts at, the chain of calls, the stack before and after
// it ([value] for a value changed) and the output.
export const step_shown = (page) => page.evaluate(() => {
  const token = document.querySelector('#step-editor .cm-step-token');
  const before_token = document.createRange();
  before_token.setStart(token.closest('.cm-line'), 0);
  before_token.setEnd(token, 0);
  return [document.getElementById('step-position').textContent, `${before_token.toString().length}: ${token.textContent}`,
    [...document.querySelectorAll('#step-chain li')].map((item) => item.textContent),
    [...document.querySelectorAll('#step-stack .stack-row')].map((row) => [...row.querySelectorAll('.cell')]
      .map((cell) => (cell.classList.contains('changed') ? `[${cell.textContent}]` : cell.textContent)).join(' ')),
    document.getElementById('step-output').textContent];
});

// The variables Step mode shows of its step, a row each: the name, the
// value before and after it, then * when the step changed it; or the note
// in their place.
export const step_variables = (page) => page.evaluate(() => [...document.querySelectorAll('#step-variables tbody tr')]
  .map((row) => [...row.cells].map((cell) => cell.textContent).join(' ') + (row.classList.contains('changed') ? ' *' : ''))
  .concat(document.getElementById('step-variables-note').textContent || []));
