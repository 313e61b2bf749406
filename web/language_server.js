// The language server (src/lsp) in a worker of its own, the same script and
// module as the interpreters': a program that runs long keeps no answer of
// the editor's waiting. It speaks JSON-RPC as text, the Transport that
// @codemirror/lsp-client asks for.

// The server bounds each run of a document; a worker that still does not
// answer in this long is ended and another takes its place.
const patience = 5000;  // ms

export class LanguageServer {
  constructor() {
    this.handlers = [];
    this.on_restart = () => {};
    this.start();
  }

  start() {
    const worker = new Worker('worker.js');
    this.worker = worker;
    this.queued = [];  // messages sent before the module is ready
    this.waiting = 0;
    // A server that fails is replaced; one that cannot be loaded is not
    // tried again and again: the editor goes on without it.
    worker.onerror = (event) => {
      event.preventDefault();
      if (this.worker === worker && this.queued === null) this.restart();
    };
    worker.onmessage = ({ data }) => {
      if (this.worker !== worker) return;
      if (data.kind === 'ready') {
        const queued = this.queued;
        this.queued = null;
        for (const message of queued) this.send(message);
      } else if (data.kind === 'lsp') {
        if (--this.waiting === 0) clearTimeout(this.watchdog);
        for (const message of data.messages) for (const handler of this.handlers) handler(JSON.stringify(message));
      }
    };
  }

  // A fresh server knows no document: the client connects again and opens them.
  restart() {
    clearTimeout(this.watchdog);
    this.worker.terminate();
    this.start();
    this.on_restart();
  }

  send(message) {
    if (this.queued) {
      this.queued.push(message);
      return;
    }
    if (this.waiting++ === 0) this.watchdog = setTimeout(() => this.restart(), patience);
    this.worker.postMessage({ kind: 'lsp', message });
  }

  subscribe(handler) { this.handlers.push(handler); }

  unsubscribe(handler) { this.handlers = this.handlers.filter((other) => other !== handler); }
}
