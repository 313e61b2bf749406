// One interpreter in a worker of its own (worker.js), and the request it is
// answering. Output, and a recording's progress, arrive while the request
// runs; the answer ends it.

// The interpreters answering a request. While there is one, the page runs
// something (body's data-running), and Ctrl-C stops the mode shown.
const answering = new Set();

export class Interpreter {
  constructor(on_output, on_progress = () => {}) {
    this.on_output = on_output;
    this.on_progress = on_progress;
    this.start();
  }

  start() {
    this.set_answer(null);
    const worker = new Worker('worker.js');
    this.worker = worker;
    this.ready = new Promise((resolve, reject) => {
      // A worker ended while it loads may still report an error; what
      // comes from a worker that was replaced concerns nobody.
      worker.onerror = (event) => {
        event.preventDefault();
        if (this.worker !== worker) return;
        reject(new Error('The interpreter could not be loaded.'));
        this.finish({ kind: 'crashed', message: event.message });
      };
      worker.onmessage = ({ data }) => {
        if (data.kind === 'ready') {
          resolve();
        } else if (data.kind === 'output') {
          for (const [stream, text] of data.chunks) this.on_output(stream, text);
        } else if (data.kind === 'progress') {
          if (this.worker === worker) this.on_progress(data);
        } else {
          this.finish(data);
        }
      };
    });
  }

  get busy() { return this.answer !== null; }

  // The one place the page's running state is set.
  set_answer(answer) {
    this.answer = answer;
    if (answer) answering.add(this);
    else answering.delete(this);
    document.body.dataset.running = answering.size > 0;
  }

  async request(message) {
    const answered = new Promise((resolve) => { this.set_answer(resolve); });
    const { worker } = this;
    // A worker stopped before it was ready never will be; stop answers then.
    await Promise.race([this.ready, answered]);
    if (this.worker === worker) worker.postMessage(message);
    return answered;
  }

  finish(result) {
    const answer = this.answer;
    this.set_answer(null);
    if (answer) answer(result);
  }

  // Code that runs cannot be asked to stop from here: the worker ends, and
  // a new one with a fresh session takes its place.
  stop() {
    this.worker.terminate();
    const answer = this.answer;
    this.start();
    if (answer) answer({ kind: 'stopped' });
  }
}
