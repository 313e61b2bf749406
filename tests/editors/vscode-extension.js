// The bundled VS Code extension, loaded by Node.js with a stand-in for the
// editor's vscode module, its language client talking to the real server:
//   node vscode-extension.js BUNDLE SERVER
// The bundle is loaded from a folder with no node_modules, so it must hold
// everything but vscode.
const assert = require('assert');
const fs = require('fs');
const Module = require('module');
const os = require('os');
const path = require('path');

const [bundle, server] = process.argv.slice(2);

// Whatever the language client asks of the editor that the test does not
// watch: a function answering the same, iterable and empty, never a promise.
function anything() {
  return new Proxy(function () {}, {
    get(_, key) {
      if (key === 'then') return undefined;
      if (key === Symbol.iterator) return function* () {};
      if (key === Symbol.toPrimitive) return () => '';
      return key === 'length' ? 0 : anything();
    },
    apply: () => anything(),
    construct: () => anything(),
  });
}
const overlay = (known) => new Proxy(known, { get: (_, key) => (key in known ? known[key] : anything()) });

const settings = {};
const errors = [];
const executed = [];
const commands = {};
// The client listens for changes too.
const listeners = [];
// A client that has started registers the server's features.
let hovers = 0;
const vscode = overlay({
  version: '1.82.0',
  languages: overlay({ registerHoverProvider: () => { hovers += 1; return { dispose() {} }; } }),
  workspace: overlay({
    getConfiguration: (section) => overlay({ get: (key) => settings[`${section}.${key}`] }),
    onDidChangeConfiguration: (listener) => { listeners.push(listener); return { dispose() {} }; },
  }),
  window: overlay({
    // The button is pressed.
    showErrorMessage: (message, ...items) => { errors.push({ message, items }); return Promise.resolve(items[0]); },
  }),
  commands: overlay({
    registerCommand: (name, run) => { commands[name] = run; return { dispose() {} }; },
    executeCommand: (...args) => { executed.push(args); return Promise.resolve(); },
  }),
});
const resolve = Module._resolveFilename;
Module._resolveFilename = function (request, ...rest) {
  return request === 'vscode' ? 'vscode' : resolve.call(this, request, ...rest);
};
require.cache.vscode = { id: 'vscode', filename: 'vscode', loaded: true, exports: vscode };

// The servers this process runs, by process id.
function servers() {
  return fs.readdirSync('/proc').filter((pid) => {
    try {
      const [, name, parent] = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').match(/^\d+ \((.*)\) \S+ (\d+)/);
      return name === 'tolva-lsp' && Number(parent) === process.pid;
    } catch {
      return false;
    }
  });
}
async function until(done) {
  for (let waited = 0; !done() && waited < 5000; waited += 50) await new Promise((later) => setTimeout(later, 50));
}
async function settle(wanted) {
  await until(() => servers().length === wanted);
  return servers();
}
const change = (section) => {
  for (const listener of listeners) listener({ affectsConfiguration: (wanted) => section.startsWith(wanted) });
};
const tick = () => new Promise((done) => setImmediate(done));

// The editor logs a promise rejected with no one waiting for it. The
// client's own, when its server ends during its start, are let pass there.
let rejections = [];
process.on('unhandledRejection', (reason) => rejections.push(reason));

async function main() {
  setTimeout(() => { console.error('FAIL: the checks took over 30 s'); process.exit(1); }, 30000).unref();
  const extension = require(bundle);
  const context = { subscriptions: [] };

  // A server that cannot be started: the extension's own message names what
  // was tried, its button opens the setting, and activation does not fail.
  process.env.PATH = '/nonexistent';
  await extension.activate(context);
  await tick();
  assert.deepStrictEqual(errors, [{
    message: 'Tolva: the language server did not start: "tolva-lsp", the setting tolva.server.path, is not on the PATH.',
    items: ['Open Settings'],
  }]);
  assert.deepStrictEqual(executed, [['workbench.action.openSettings', 'tolva.server.path']]);
  settings['tolva.server.path'] = '/nonexistent/tolva-lsp';
  await commands['tolva.restartServer']();
  assert.match(errors[1].message, /"\/nonexistent\/tolva-lsp", the setting tolva.server.path, does not exist/);

  // The setting changed: the server starts; a change elsewhere leaves it
  // alone, the command starts another in its place.
  settings['tolva.server.path'] = server;
  change('tolva.server.path');
  const [first] = await settle(1);
  await until(() => hovers === 1);
  assert.ok(first && hovers === 1, 'a server and its client run once the setting names it');
  change('editor.fontSize');
  await new Promise((done) => setTimeout(done, 500));
  assert.deepStrictEqual(servers(), [first], 'another setting changed: the same server runs');
  await commands['tolva.restartServer']();
  const running = await settle(1);
  assert.strictEqual(running.length, 1, `one server runs: ${running}`);
  assert.notStrictEqual(running[0], first, 'the command restarted the server');
  await until(() => hovers === 2);
  assert.strictEqual(hovers, 2, 'and its client');

  // Two restarts at once: the server the first starts is stopped once it
  // has started, in good order.
  commands['tolva.restartServer']();
  await commands['tolva.restartServer']();
  await until(() => hovers === 4);
  assert.strictEqual((await settle(1)).length, 1, 'one server runs after two restarts');

  // Set to a missing program, the running server ends and the new path is named.
  settings['tolva.server.path'] = '/nonexistent/other';
  change('tolva');
  assert.deepStrictEqual(await settle(0), []);
  assert.match(errors[errors.length - 1].message, /"\/nonexistent\/other"/);

  // A server that never answers: a restart ends it and starts the next, and
  // the client that was stopped starts no other.
  const silent = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'tolva-')), 'tolva-lsp');
  fs.writeFileSync(silent, '#!/bin/sh\nwhile read -r line; do :; done\n', { mode: 0o755 });
  settings['tolva.server.path'] = silent;
  await commands['tolva.restartServer']();
  const [hung] = await settle(1);
  settings['tolva.server.path'] = server;
  assert.strictEqual(errors.length, 3, `only the extension's messages: ${JSON.stringify(errors)}`);
  assert.deepStrictEqual(rejections, []);
  await commands['tolva.restartServer']();
  await until(() => hovers === 5);
  await new Promise((done) => setTimeout(done, 500));
  const last = servers();
  assert.ok(hung && last.length === 1 && last[0] !== hung && hovers === 5, `the silent server replaced: ${last}`);
  fs.rmSync(path.dirname(silent), { recursive: true });
  // The client has said that the silent server's start failed.
  errors.length = 0;
  rejections = [];

  await extension.deactivate();
  assert.deepStrictEqual(servers(), [], 'deactivate ends the server');
  assert.deepStrictEqual(errors, []);
  assert.deepStrictEqual(rejections, []);
}

main().then(() => process.exit(0), (error) => {
  console.error(`FAIL: ${error.stack}`);
  process.exit(1);
});
