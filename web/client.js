// The one client of the page's worker (its protocol is in worker.js), for the page and the
// tests: requests as promises, and the records of changes and warnings read an entry at a time,
// only for what is shown.
'use strict';
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
  // The records of a reply: length, and each entry made only when asked for.
  function changesOf(records) {
    const { numbers, texts } = records;
    return {
      length: numbers.length / 6,
      at(i) {
        const n = numbers.subarray(6 * i, 6 * i + 6);
        const oldEnd = n[3] + n[4];
        return { line: n[0], offset: n[1], outputOffset: n[2], old: texts.subarray(n[3], oldEnd),
          new: texts.subarray(oldEnd, oldEnd + n[5]) };
      },
    };
  }
  function warningsOf(records) {
    const { numbers, texts } = records;
    let notices = 0;
    for (let i = 5; i < numbers.length; i += 6) notices += numbers[i] === 0 ? 1 : 0;
    return {
      length: numbers.length / 6,
      notices, // warnings about the table, which do not count
      at(i) {
        const n = numbers.subarray(6 * i, 6 * i + 6);
        const textAt = n[2] + n[3];
        return { line: n[0], offset: n[1], message: texts.subarray(n[2], textAt),
          text: texts.subarray(textAt, textAt + n[4]), counted: n[5] === 1 };
      },
    };
  }
  return {
    ready: isReady,
    // Filters bytes (an ArrayBuffer, handed over to the worker) named name with the options
    // {bibtex, isbn13}: {ok, status, statusText, output: [ArrayBuffer], changes, warnings,
    // milliseconds}, or {ok: false, failed: message}.
    async filter(bytes, name, options, onProgress, extra) {
      const reply = await ask(Object.assign({ type: 'filter', bytes, name, bibtex: !!options.bibtex,
        isbn13: !!options.isbn13 }, extra || {}), [bytes], onProgress);
      if (reply.type === 'failed') return { ok: false, failed: reply.message };
      return { ok: reply.status === 0, status: reply.status, statusText: reply.statusText, output: reply.output,
        changes: changesOf(reply.changes), warnings: warningsOf(reply.warnings), milliseconds: reply.milliseconds };
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
  };
}
if (typeof module !== 'undefined') module.exports = { createOrvaneClient };
