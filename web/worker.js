// The page's worker, after the module's glue: the WebAssembly module filters off the page's
// thread and hands back the output in pieces, the warnings and changes as data, and its progress.
const orvaneModule = createOrvane();

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
  orvane.stringToUTF8(text, pointer, size);
  return pointer;
}

// One request: filter a text, load a range export, or put the built-in ranges back.
function orvaneHandle(orvane, request) {
  const reply = (message, transfer) => self.postMessage(Object.assign({ id: request.id }, message), transfer || []);
  if (request.type === 'filter') {
    const input = new Uint8Array(request.bytes);
    const output = [];
    const warnings = [];
    const changes = [];
    let shown = -1;
    let lastTime = 0;
    orvane.orvaneOutput = (bytes) => output.push(bytes.buffer);
    orvane.orvaneWarning = (line, message, text, counted) => warnings.push({ line, message, text, counted });
    orvane.orvaneChange = (line, oldText, newText) => changes.push({ line, old: oldText, new: newText });
    // At most a hundred steps, and not more often than the page can show them.
    orvane.orvaneProgress = (done, total) => {
      const step = Math.floor((100 * done) / total);
      const now = Date.now();
      if (step !== shown && (now - lastTime > 50 || done === total)) {
        shown = step;
        lastTime = now;
        reply({ type: 'progress', done, total });
      }
    };
    // The text stays here; the module reads it a block at a time.
    let at = 0;
    orvane.orvaneInput = (pointer, count) => {
      const part = input.subarray(at, Math.min(input.length, at + count));
      orvane.HEAPU8.set(part, pointer);
      at += part.length;
      return part.length;
    };
    const name = orvaneString(orvane, request.name);
    const started = Date.now();
    const status = orvane._orvane_filter(input.length, name, (request.bibtex ? 1 : 0) | (request.isbn13 ? 2 : 0));
    orvane._free(name);
    reply({ type: 'filtered', status, output, warnings, changes, milliseconds: Date.now() - started }, output);
  } else if (request.type === 'ranges') {
    const bytes = orvaneCopyIn(orvane, new Uint8Array(request.bytes));
    const name = orvaneString(orvane, request.name);
    const fault = orvane.UTF8ToString(orvane._orvane_load_ranges(bytes, request.bytes.byteLength, name));
    orvane._free(bytes);
    orvane._free(name);
    reply({ type: 'ranges', fault });
  } else if (request.type === 'built-in') {
    orvane._orvane_built_in_ranges();
    reply({ type: 'built-in' });
  }
}

// A request that fails (memory runs out) is answered as failed, and the worker goes on.
self.onmessage = (event) => {
  orvaneModule.then((orvane) => orvaneHandle(orvane, event.data)).catch((error) => {
    self.postMessage({ id: event.data.id, type: 'failed', message: String(error && error.message || error) });
  });
};
orvaneModule.then(() => self.postMessage({ type: 'ready' }));
