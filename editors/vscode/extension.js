// Starts tolva-lsp for Tolva documents, and starts it anew when a tolva.*
// setting changes or on the command Tolva: Restart Language Server. Bundled
// with its language client into dist/extension.js by package.sh.
const child_process = require('child_process');
const vscode = require('vscode');
const { CloseAction, LanguageClient } = require('vscode-languageclient/node');

let client;
// Settles when the client has started or failed to.
let starting;
// The server's process: the extension starts it, so the extension ends it.
let server;
// Stops and starts run one after the other, so that settings changed in
// quick succession never leave two servers running.
let queue = Promise.resolve();

// The running process, or the error that starting it gave.
function spawn_server(command) {
  return new Promise((resolve, reject) => {
    const started = child_process.spawn(command, [], { stdio: 'pipe' });
    started.once('spawn', () => resolve(started));
    started.once('error', reject);
  });
}

function failure_message(command, error) {
  const why = error.code !== 'ENOENT' ? `cannot be run (${error.message})`
    : /[\\/]/.test(command) ? 'does not exist' : 'is not on the PATH';
  return `Tolva: the language server did not start: "${command}", the setting tolva.server.path, ${why}.`;
}

async function start() {
  const command = vscode.workspace.getConfiguration('tolva').get('server.path') || 'tolva-lsp';
  // Started here rather than by the client, whose own report of a failed
  // start says only that it could not connect.
  try {
    server = await spawn_server(command);
  } catch (error) {
    // Not awaited: activation goes on, and the button works whenever it is pressed.
    vscode.window.showErrorMessage(failure_message(command, error), 'Open Settings').then((choice) => {
      if (choice === 'Open Settings') vscode.commands.executeCommand('workbench.action.openSettings', 'tolva.server.path');
    });
    return;
  }
  // The client takes the process just started, and asks for another after a crash.
  let first = server;
  const next = async () => {
    server = first || await spawn_server(command);
    first = undefined;
    return server;
  };
  const started = new LanguageClient('tolva', 'Tolva language server', next, {
    documentSelector: [{ language: 'tolva' }],
    // A client that was stopped does not start its server again when it
    // sees the process ended.
    errorHandler: {
      error: (...args) => crashes.error(...args),
      closed: () => (started === client ? crashes.closed() : { action: CloseAction.DoNotRestart, handled: true }),
    },
  });
  const crashes = started.createDefaultErrorHandler();
  client = started;
  // Not waited for here, so that a restart can end a server that never
  // answers. A start that fails is the client's to show, in a message and
  // its output.
  starting = client.start().catch(() => {});
}

const delay = (ms) => new Promise((done) => setTimeout(done, ms));

async function stop() {
  const [stopping, running] = [client, server];
  client = server = undefined;
  if (!running) return;
  const exited = new Promise((done) => {
    if (running.exitCode !== null || running.signalCode !== null) done();
    else running.once('exit', done);
  });
  // A running client stops its server with shutdown and exit. A server
  // still silent two seconds into its start, or still running two seconds
  // after its exit, is ended.
  await Promise.race([starting, delay(2000)]);
  if (stopping.isRunning()) {
    await stopping.stop().catch(() => {});
    await Promise.race([exited, delay(2000)]);
  }
  running.kill();
  await exited;
}

function restart() {
  // An error is the caller's to report; the next restart goes on regardless.
  queue = queue.catch(() => {}).then(stop).then(start);
  return queue;
}

function activate(context) {
  context.subscriptions.push(
    vscode.commands.registerCommand('tolva.restartServer', restart),
    vscode.workspace.onDidChangeConfiguration((change) => {
      if (change.affectsConfiguration('tolva')) restart();
    }));
  return restart();
}

function deactivate() {
  // The editor waits for the promise, so the server gets its shutdown and exit.
  queue = queue.catch(() => {}).then(stop);
  return queue;
}

module.exports = { activate, deactivate };
