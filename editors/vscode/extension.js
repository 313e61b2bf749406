// Starts tolva-lsp for Tolva documents. Plain JavaScript, so that the folder
// is packaged as it is, with no compile step.
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function activate() {
  // Read when the extension starts: the server is a process of its own, so a
  // changed path takes effect at the next window reload.
  const command = vscode.workspace.getConfiguration('tolva').get('server.path', 'tolva-lsp');
  client = new LanguageClient('tolva', 'Tolva language server', { command },
    { documentSelector: [{ language: 'tolva' }] });
  // Returned so that a server that cannot start shows as a failed activation.
  return client.start();
}

function deactivate() {
  // The editor waits for the promise, so the server gets its shutdown and exit.
  return client && client.stop();
}

module.exports = { activate, deactivate };
