// The one client of the page's worker (its protocol is in worker.js), for the page and the
// tests: requests as promises, and the records of changes and warnings read an entry at a time,
// only for what is shown.
'use strict';
// The records' readers of logic.js: in the page, its script comes first; in node, required.
const orvaneRecords = typeof module !== 'undefined' ? require('./logic.js') : { changeRecords, warningRecords };
function createOrvaneClient(worker) {
  let requestCount = 0;
  const waiting = new Map();
  let ready;
  const isReady = new Promise((resolve) => { ready = resolve; });
  function ask(request, transfer, onProgress) {
    const id = ++requestCount;
    return new Promise((resolve) => {
      waiting.set(id, { resolve, onProgress });
      worker.postMessage(Object.assign({ id }, request), transfer || []);
    });
  }
  worker.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'ready') {
      ready();
      return;
    }
    const asker = waiting.get(message.id);
    if (!asker) return;
    if (message.type === 'progress') {
      if (asker.onProgress) asker.onProgress(message.done, message.total);
      return;
    }
    waiting.delete(message.id);
    asker.resolve(message);
  };
  // Filterings wait for the one the worker is doing; of those waiting only the newest is asked
  // for, and the others end at once as superseded, so that quick changes of the options cost at
  // most one run that nobody waits for.
  let running = false;
  let waitingFilter = null;
  function nextFilter() {
    if (running || !waitingFilter) return;
    const { request, onProgress, resolve } = waitingFilter;
    waitingFilter = null;
    running = true;
    ask(request, [], onProgress).then((reply) => {
      running = false;
      resolve(reply);
      nextFilter();
    });
  }
  return {
    ready: isReady,
    // Hands the worker a text: a File or Blob (read in the worker), or an ArrayBuffer (handed
    // over). {size, utf8 (UTF-8 text of at most copyMax bytes)}, or {fault} where it could not
    // be read.
    async open(source, name, copyMax = 0) {
      const isBlob = typeof Blob !== 'undefined' && source instanceof Blob;
      const reply = await ask(Object.assign({ type: 'open', name, copyMax }, isBlob ? { file: source } : { bytes: source }),
        isBlob ? [] : [source]);
      return reply.type === 'failed' ? { fault: reply.message } : reply;
    },
    // Filters the open text with the options {bibtex, isbn13}: {ok, status, statusText, output:
    // [ArrayBuffer], changes, warnings, milliseconds}; {ok: false, failed: message}; or {ok:
    // false, superseded: true} where a newer filtering was asked for before this one started.
    filter(options, onProgress, extra) {
      if (waitingFilter) waitingFilter.resolve({ type: 'superseded' });
      return new Promise((resolve) => {
        waitingFilter = { request: Object.assign({ type: 'filter', bibtex: !!options.bibtex, isbn13: !!options.isbn13 },
          extra || {}), onProgress, resolve };
        nextFilter();
      }).then((reply) => {
        if (reply.type === 'superseded') return { ok: false, superseded: true };
        if (reply.type === 'failed') return { ok: false, failed: reply.message };
        return { ok: reply.status === 0, status: reply.status, statusText: reply.statusText, output: reply.output,
          changes: orvaneRecords.changeRecords(reply.changes), warnings: orvaneRecords.warningRecords(reply.warnings), milliseconds: reply.milliseconds };
      });
    },
    // The lines around offset of the open text, the one of offset numbered line: [{number, bytes,
    // cutBefore, cutAfter, marked}].
    async context(offset, line, around = 2, width = 240) {
      const reply = await ask({ type: 'context', offset, line, around, width });
      return reply.type === 'failed' ? [] : reply.lines;
    },
    // Loads an export: '' where it is the table from now on, else the fault in the command
    // line's words (the table stays).
    async ranges(bytes, name) {
      const reply = await ask({ type: 'ranges', bytes, name });
      return reply.type === 'failed' ? `${name}: ${reply.message}` : reply.fault;
    },
    async builtIn() {
      await ask({ type: 'built-in' });
    },
    // For the tests' build of the module alone: from the after-th allocation on, every one fails.
    async failAllocations(after) {
      await ask({ type: 'fail-allocations', after });
    },
  };
}
if (typeof module !== 'undefined') module.exports = { createOrvaneClient };
