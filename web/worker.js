// The page's worker, after the module's glue: the WebAssembly module filters off the page's
// thread. This is the one statement of the worker's protocol; web/client.js is its one client,
// used by the page and the tests alike.
//
// Requests (each with an id, which its replies carry), carried out one at a time in order:
//   {type: 'open', file: Blob | bytes: ArrayBuffer (transferred), name, copyMax}
//       -> {type: 'opened', size, utf8}: the text is the worker's from now on (the page keeps no
//          copy), and utf8 says whether it is UTF-8 text of at most copyMax bytes, which a
//          clipboard holds exactly (the output is, where the input is: only digits and hyphens
//          change);
//       -> {type: 'opened', fault}: the file could not be read (too large for the browser, gone);
//          the worker then holds no text.
//   {type: 'filter', bibtex, isbn13[, failAt]} (failAt is for tests: the request fails after
//       that many pieces of output, as a failure part-way does)
//       -> {type: 'progress', done, total} now and then, at most a hundred times;
//       -> {type: 'filtered', status, statusText, output: [ArrayBuffer], changes, warnings,
//           milliseconds}: status 0 when the whole text was filtered, else orvane.h's status
//           (1: a line did not fit in memory); the output is then what was made before, and is
//           no result. changes and warnings are records, {numbers: Float64Array, texts:
//           Uint8Array}, which client.js reads (six numbers each; see orvane_wasm.cpp).
//   {type: 'context', offset, line, around, width}
//       -> {type: 'context', lines: [{number, bytes, cutBefore, cutAfter, marked}]}: the line
//          that holds offset (numbered line), with around lines before and after it, each at
//          most width bytes: the marked line's window centred on offset, the others their start.
//   {type: 'ranges', bytes: ArrayBuffer, name}
//       -> {type: 'ranges', fault}: fault is '' where the export is now the table of every later
//          filtering, else the refusal in the command line's words, and the table stays.
//   {type: 'built-in'} -> {type: 'built-in'}: the built-in ranges from now on.
//   {type: 'fail-allocations', after} -> {type: 'fail-allocations'}: for the tests' build of the
//       module alone (test_faults.cpp), which has the means: from the after-th allocation on,
//       every allocation ends the module, as memory running out does.
//   Any request that cannot be carried out -> {type: 'failed', message}, and nothing of it
//   stays: its run is freed, and where the module itself broke (it ran out of memory, say), a
//   new module is made with the same table, so the next request is answered as if this one had
//   never been.
// The worker says {type: 'ready'} once, when its module is first ready.
let orvaneModule = createOrvane();
let orvaneExport = null; // {bytes, name} of the loaded range export, or null for the built-in
let orvaneTable = 0; // the loaded table in the module, or 0
let orvaneInput = null; // {bytes: Uint8Array, name} of the text opened last

// Copies bytes into the module's memory; the caller frees the pointer.
function orvaneCopyIn(orvane, bytes) {
  const pointer = orvane._malloc(Math.max(bytes.length, 1));
  if (pointer === 0) throw new Error(`no memory for ${bytes.length.toLocaleString('en')} bytes`);
  orvane.HEAPU8.set(bytes, pointer);
  return pointer;
}

function orvaneString(orvane, text) {
  const size = orvane.lengthBytesUTF8(text) + 1;
  const pointer = orvane._malloc(size);
  if (pointer === 0) throw new Error('no memory for a name');
  orvane.stringToUTF8(text, pointer, size);
  return pointer;
}

// Makes the table of an export in the module; returns [table, fault]. What it put in the
// module's memory is freed however it ends.
function orvaneLoad(orvane, bytes, name) {
  const FAULT_SIZE = 4096;
  const held = [];
  try {
    const data = orvaneCopyIn(orvane, bytes);
    held.push(data);
    const text = orvaneString(orvane, name);
    held.push(text);
    const fault = orvane._malloc(FAULT_SIZE);
    if (fault === 0) throw new Error('no memory for a fault');
    held.push(fault);
    const table = orvane._orvane_web_load(data, bytes.length, text, fault, FAULT_SIZE);
    return [table, table ? '' : orvane.UTF8ToString(fault)];
  } finally {
    for (const pointer of held) orvane._free(pointer);
  }
}

// Filters the text a part at a time, written straight into the run's own buffer.
function orvaneFilter(orvane, request, reply) {
  if (!orvaneInput) throw new Error('no text is open');
  const input = orvaneInput.bytes;
  const output = [];
  let records = null;
  orvane.orvaneOutput = (bytes) => {
    output.push(bytes.buffer);
    if (request.failAt !== undefined && output.length > request.failAt) throw new Error('failed on purpose');
  };
  orvane.orvaneRecords = (changeNumbers, changeTexts, warningNumbers, warningTexts) => {
    records = {
      changes: { numbers: changeNumbers, texts: changeTexts },
      warnings: { numbers: warningNumbers, texts: warningTexts },
    };
  };
  const name = orvaneString(orvane, orvaneInput.name);
  const session = orvane._orvane_web_start(name, (request.bibtex ? 1 : 0) | (request.isbn13 ? 2 : 0), orvaneTable);
  orvane._free(name);
  if (session === 0) throw new Error('no memory for a run');
  try {
    const started = Date.now();
    let status = 0;
    let shown = -1;
    let lastTime = 0;
    for (let at = 0; status === 0 && at < input.length;) {
      const room = orvane._orvane_web_room(session);
      if (room === 0) break; // the status says why
      const part = input.subarray(at, Math.min(input.length, at + orvane._orvane_web_room_size(session)));
      orvane.HEAPU8.set(part, room);
      at += part.length;
      status = orvane._orvane_web_fed(session, part.length);
      // At most a hundred steps, and not more often than the page can show them.
      const step = Math.floor((100 * at) / input.length);
      const now = Date.now();
      if (step !== shown && (now - lastTime > 50 || at === input.length)) {
        shown = step;
        lastTime = now;
        reply({ type: 'progress', done: at, total: input.length });
      }
    }
    status = orvane._orvane_web_finish(session);
    const statusText = orvane.UTF8ToString(orvane._orvane_web_status_text(status));
    const transfer = output.concat([records.changes.numbers.buffer, records.changes.texts.buffer,
      records.warnings.numbers.buffer, records.warnings.texts.buffer]);
    reply(Object.assign({ type: 'filtered', status, statusText, output, milliseconds: Date.now() - started }, records),
      transfer);
  } finally {
    try {
      orvane._orvane_web_free(session);
    } catch (error) {
      // A module that broke is made anew; its memory goes with it.
    }
  }
}

// Whether bytes are UTF-8 text.
function orvaneIsUTF8(bytes) {
  try {
    new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    return true;
  } catch (error) {
    return false;
  }
}

async function orvaneOpen(request, reply) {
  orvaneInput = null;
  let bytes;
  try {
    bytes = new Uint8Array(request.file ? await request.file.arrayBuffer() : request.bytes);
  } catch (error) {
    reply({ type: 'opened', fault: String(error && error.message || error) });
    return;
  }
  orvaneInput = { bytes, name: request.name };
  // Only a text that the page would copy is looked at: a larger one is downloaded.
  reply({ type: 'opened', size: bytes.length, utf8: bytes.length <= request.copyMax && orvaneIsUTF8(bytes) });
}

// The lines around offset of the open text (logic.js cuts them).
function orvaneContext(request, reply) {
  const bytes = orvaneInput ? orvaneInput.bytes : new Uint8Array(0);
  reply({ type: 'context', lines: lineWindow(bytes, request.offset, request.line, request.around, request.width) });
}

async function orvaneHandle(orvane, request) {
  const reply = (message, transfer) => self.postMessage(Object.assign({ id: request.id }, message), transfer || []);
  if (request.type === 'open') {
    await orvaneOpen(request, reply);
  } else if (request.type === 'context') {
    orvaneContext(request, reply);
  } else if (request.type === 'filter') {
    orvaneFilter(orvane, request, reply);
  } else if (request.type === 'ranges') {
    const bytes = new Uint8Array(request.bytes);
    const [table, fault] = orvaneLoad(orvane, bytes, request.name);
    if (table) {
      if (orvaneTable) orvane._orvane_web_free_table(orvaneTable);
      orvaneTable = table;
      orvaneExport = { bytes, name: request.name };
    }
    reply({ type: 'ranges', fault });
  } else if (request.type === 'fail-allocations') {
    if (orvane._orvane_test_fail_after) orvane._orvane_test_fail_after(request.after);
    reply({ type: 'fail-allocations' });
  } else if (request.type === 'built-in') {
    if (orvaneTable) orvane._orvane_web_free_table(orvaneTable);
    orvaneTable = 0;
    orvaneExport = null;
    reply({ type: 'built-in' });
  }
}

// A module that broke is left behind for a new one, with the export that was in use.
function orvaneRenew() {
  orvaneTable = 0;
  orvaneModule = createOrvane().then((orvane) => {
    if (orvaneExport) [orvaneTable] = orvaneLoad(orvane, orvaneExport.bytes, orvaneExport.name);
    return orvane;
  });
}

// One request at a time, in order: an open reads its file before the filtering after it.
let orvaneQueue = Promise.resolve();
self.onmessage = (event) => {
  orvaneQueue = orvaneQueue.then(() => orvaneModule).then((orvane) => orvaneHandle(orvane, event.data)).catch((error) => {
    orvaneRenew();
    self.postMessage({ id: event.data.id, type: 'failed', message: String(error && error.message || error) });
  });
};
orvaneModule.then(() => self.postMessage({ type: 'ready' }));
