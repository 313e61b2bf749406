// Serves the playground's folder on a local port and opens it in Chromium.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { chromium } from 'playwright-core';

export const site = process.env.TOLVA_SITE;
export const examples = process.env.TOLVA_EXAMPLES;

const types = {
  '.html': 'text/html; charset=utf-8',
  '.css': 'text/css',
  '.js': 'text/javascript',
  '.wasm': 'application/wasm',
  '.json': 'application/json',
};

export async function serve() {
  const server = createServer(async (request, response) => {
    let path = normalize(decodeURIComponent(new URL(request.url, 'http://localhost').pathname));
    if (path.endsWith('/')) path += 'index.html';
    try {
      const body = await readFile(join(site, path));
      response.writeHead(200, { 'Content-Type': types[extname(path)] ?? 'text/plain; charset=utf-8' });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, url: `http://127.0.0.1:${server.address().port}/` };
}

// Chromium may reach nothing but the local server: no background requests.
export function launch() {
  return chromium.launch({
    executablePath: process.env.TOLVA_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// A browser, the server, and a page that has loaded the interpreter and
// may use the clipboard; every request the page makes elsewhere, and every
// error it logs, is recorded.
export async function open_playground(options = {}) {
  const { server, url } = await serve();
  const browser = await launch();
  const context = await browser.newContext({ permissions: ['clipboard-read', 'clipboard-write'], ...options });
  const page = await context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console: ${message.text()}`);
  });
  page.on('request', (request) => {
    if (!request.url().startsWith(url)) problems.push(`outside request: ${request.url()}`);
  });
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  return {
    browser,
    page,
    url,
    problems,
    async close() {
      await browser.close();
      server.close();
    },
  };
}

// Types a program in place of the editor's as a person would: a click
// into it, Ctrl-A, Backspace, then the keys.
export async function type_program(page, code) {
  await page.click('#editor .cm-content');
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Backspace');
  await page.keyboard.type(code);
}

// The program as the editor shows it, line by line.
export function program_text(page) {
  return page.$$eval('#editor .cm-line', (lines) => lines.map((line) => line.textContent).join('\n'));
}

// Enters a line at the console and waits for its end.
export async function enter(page, line) {
  await page.fill('#console-input', line);
  await page.press('#console-input', 'Enter');
  await page.waitForSelector('#console-input:not([disabled])');
}

// Types a program and its input, runs it with Ctrl-Enter and waits for its end.
export async function run(page, code, input = '') {
  await page.fill('#input', input);
  await type_program(page, code);
  await page.keyboard.press('Control+Enter');
  await page.waitForSelector('body[data-running="false"]');
  return {
    output: await page.textContent('#output'),
    stdout: (await page.$$eval('#output > span:not(.err):not(.note)', (spans) => spans.map((s) => s.textContent))).join(''),
    stderr: (await page.$$eval('#output > span.err', (spans) => spans.map((s) => s.textContent))).join(''),
    status: await page.textContent('#status'),
    stack: await page.textContent('#stack'),
  };
}

// Shows Step mode, which records the program of Program mode when it has
// none of it yet, and waits for the recording.
export async function record(page) {
  await page.click('#mode-step');
  await page.waitForFunction(() => !/^(Recording|$)/.test(document.getElementById('step-status').textContent));
}

// What Step mode shows of its step: the token marked and its column, the
// chain of calls, the stack before and after it ([value] for a value
// changed) and the output.
export function step_shown(page) {
  return page.evaluate(() => {
    const token = document.querySelector('#step-editor .cm-step-token');
    const before_token = document.createRange();
    if (token) {
      before_token.setStart(token.closest('.cm-line'), 0);
      before_token.setEnd(token, 0);
    }
    return {
      position: document.getElementById('step-position').textContent,
      token: token?.textContent,
      column: before_token.toString().length,
      chain: [...document.querySelectorAll('#step-chain li')].map((item) => item.textContent),
      stack: [...document.querySelectorAll('#step-stack .stack-row')].map((row) => [...row.querySelectorAll('.cell')]
        .map((cell) => (cell.classList.contains('changed') ? `[${cell.textContent}]` : cell.textContent)).join(' ')),
      output: document.getElementById('step-output').textContent,
    };
  });
}
