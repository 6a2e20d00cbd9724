// The page: takes a text (opened, dropped, pasted or typed) as bytes, has the worker filter it
// with the chosen options, and shows what changes and every warning, each with its line in
// context; the result is downloaded under the file's own name or copied. Nothing is sent.
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const SHOWN_AT_ONCE = 500; // list entries added to the page at a time
  const TYPED_NAME = '-'; // a typed or pasted text is named as standard input is

  // The worker, made from the source of orvaneWorker (orvane-worker.js): a page opened from disk
  // may not start a worker from a script's path. client.js speaks its protocol.
  const client = createOrvaneClient(new Worker(URL.createObjectURL(
    new Blob(['(' + orvaneWorker.toString() + ')()'], { type: 'text/javascript' }))));
  client.ready.then(() => { document.body.dataset.ready = 'true'; });

  const state = {
    input: null, // { bytes: Uint8Array, name, typed }
    result: null, // { output: [ArrayBuffer], warnings, changes (records: length, at(i)), name }
    lineStarts: null, // offsets of the input's lines, made when a line is first shown
    ranges: null, // the name of the loaded export, or null for the built-in ranges
    run: 0,
  };

  // ---- Options, kept in the page's address so that a link or a reload keeps them.
  function readOptions() {
    const query = new URLSearchParams(location.search);
    $('bibtex').checked = query.get('bibtex') === '1';
    $('isbn13').checked = query.get('isbn13') === '1';
  }
  function keepOptions() {
    const query = new URLSearchParams();
    if ($('bibtex').checked) query.set('bibtex', '1');
    if ($('isbn13').checked) query.set('isbn13', '1');
    const search = query.toString();
    history.replaceState(null, '', location.pathname + (search ? '?' + search : '') + location.hash);
  }

  // A word of the command line, quoted for a POSIX shell where it needs it.
  function shellWord(word) {
    return /^[A-Za-z0-9_.,:+@%/=-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
  }
  function showCommand() {
    const words = ['orvane'];
    if ($('bibtex').checked) words.push('--bibtex');
    if ($('isbn13').checked) words.push('--isbn13');
    if (state.ranges !== null) words.push(shellWord('--ranges=' + state.ranges));
    // A file's result is what --in-place makes of it; a typed text is standard input.
    if (state.input && !state.input.typed) words.push('--in-place', shellWord(state.input.name));
    $('command').textContent = words.join(' ');
  }

  // ---- Input.
  // The body's data-inputs, data-requested and data-runs count the inputs taken, the filterings
  // asked for and those done, so that a reader (a test, an assistive script) can tell when the
  // result on the page is that of the latest input and options.
  let inputCount = 0;
  function setInput(bytes, name, typed) {
    state.input = { bytes, name, typed };
    document.body.dataset.inputs = String(++inputCount);
    state.lineStarts = null;
    $('input-summary').classList.remove('refused');
    $('input-summary').textContent = typed ? '' : `${name}: ${bytes.length.toLocaleString('en')} bytes`;
    if (!typed && /\.bib$/i.test(name) && !$('bibtex').checked) {
      $('bibtex').checked = true;
      keepOptions();
    }
    filter();
  }
  async function openFile(file) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    $('text').value = '';
    setInput(bytes, file.name, false);
  }
  $('file').addEventListener('change', () => {
    if ($('file').files.length) openFile($('file').files[0]);
    $('file').value = '';
  });
  const drop = $('drop');
  drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    const files = event.dataTransfer && event.dataTransfer.files;
    if (files && files.length) openFile(files[0]);
  });
  drop.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      $('file').click();
    }
  });
  // A large paste is taken as it comes without being put into the page.
  $('text').addEventListener('paste', (event) => {
    const pasted = event.clipboardData && event.clipboardData.getData('text/plain');
    if (pasted && pasted.length > (1 << 20)) {
      event.preventDefault();
      $('text').value = '';
      setInput(new TextEncoder().encode(pasted), TYPED_NAME, true);
      $('input-summary').textContent = `Pasted text: ${pasted.length.toLocaleString('en')} characters, not shown.`;
    }
  });
  let typing = 0;
  $('text').addEventListener('input', () => {
    clearTimeout(typing);
    typing = setTimeout(() => setInput(new TextEncoder().encode($('text').value), TYPED_NAME, true), 150);
  });

  // ---- Range exports: read with the command line's reader, refused in its words.
  $('ranges').addEventListener('change', async () => {
    const file = $('ranges').files[0];
    $('ranges').value = '';
    if (!file) return;
    const fault = await client.ranges(await file.arrayBuffer(), file.name);
    const status = $('ranges-status');
    if (fault) {
      status.classList.add('refused');
      status.setAttribute('role', 'alert');
      status.textContent = '?? ' + fault + (state.ranges === null ? ' (the built-in ranges stay)' : ` (the ranges of ${state.ranges} stay)`);
      return;
    }
    status.classList.remove('refused');
    status.setAttribute('role', 'status');
    state.ranges = file.name;
    status.textContent = `Ranges: ${file.name}.`;
    $('built-in').disabled = false;
    filter();
  });
  $('built-in').addEventListener('click', async () => {
    await client.builtIn();
    state.ranges = null;
    $('ranges-status').classList.remove('refused');
    $('ranges-status').textContent = 'Ranges: built in.';
    $('built-in').disabled = true;
    filter();
  });
  for (const id of ['bibtex', 'isbn13']) {
    $(id).addEventListener('change', () => {
      keepOptions();
      filter();
    });
  }

  // ---- Filtering, in the worker; a result that a newer request overtook is dropped.
  async function filter() {
    showCommand();
    if (!state.input) return;
    const run = ++state.run;
    const input = state.input;
    document.body.dataset.busy = 'true';
    document.body.dataset.requested = String(run);
    $('download').disabled = true;
    $('copy').disabled = true;
    $('progress').value = 0;
    $('progress-text').textContent = 'Working…';
    // The worker is handed a copy of its own: the page keeps the input for the lines in context.
    // A test may make the next request fail part-way (window.orvaneFailNext), as a request
    // that runs out of memory does.
    const extra = window.orvaneFailNext !== undefined ? { failAt: window.orvaneFailNext } : undefined;
    delete window.orvaneFailNext;
    const result = await client.filter(input.bytes.slice().buffer, input.name,
      { bibtex: $('bibtex').checked, isbn13: $('isbn13').checked }, (done, total) => {
        if (run !== state.run) return;
        $('progress').value = total ? (100 * done) / total : 100;
        $('progress-text').textContent = `${Math.floor((100 * done) / Math.max(total, 1))}%`;
      }, extra);
    if (run !== state.run) return;
    delete document.body.dataset.busy;
    // A run that did not end is no result: nothing of it is offered, nor kept on the page.
    if (!result.ok) {
      state.result = null;
      clearResult();
      $('progress-text').textContent = result.failed !== undefined
        ? 'The text could not be filtered here: ' + result.failed + '.'
        : `The text could not be filtered here: ${result.statusText}. Nothing is offered; ` +
          'the command line filters texts of any size.';
      document.body.dataset.runs = String(run);
      return;
    }
    state.result = { output: result.output, warnings: result.warnings, changes: result.changes, name: input.name,
      typed: input.typed };
    $('progress').value = 100;
    $('progress-text').textContent = `Done in ${result.milliseconds} ms.`;
    showResult();
    document.body.dataset.runs = String(run);
  }

  // Empties every view of a result.
  function clearResult() {
    $('counts').textContent = '';
    for (const id of ['changes', 'warnings']) {
      $(id).textContent = '';
      $('more-' + id).hidden = true;
    }
    $('context').textContent = '';
    $('download').disabled = true;
    $('copy').disabled = true;
  }

  // ---- Results: counts, lists, the line in context.
  const decoder = new TextDecoder('utf-8');
  const latin1 = new TextDecoder('windows-1252');
  // For showing only: UTF-8 where the bytes are UTF-8, else each byte as a character.
  function shown(bytes) {
    try {
      return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    } catch (error) {
      return latin1.decode(bytes);
    }
  }
  function showResult() {
    const { warnings, changes } = state.result;
    const notices = warnings.notices;
    const size = state.result.output.reduce((sum, part) => sum + part.byteLength, 0);
    $('counts').textContent = `${changes.length.toLocaleString('en')} ${changes.length === 1 ? 'change' : 'changes'}, ` +
      `${(warnings.length - notices).toLocaleString('en')} ${warnings.length - notices === 1 ? 'warning' : 'warnings'}` +
      (notices ? `, ${notices} about the table` : '') + `; ${size.toLocaleString('en')} bytes.`;
    fillList('changes', changes, (change) => [
      line(change.line), span('old', shown(change.old)), ' → ', span('new', shown(change.new))]);
    fillList('warnings', warnings, (w) => [line(w.line), span('warning', shown(w.message))]);
    $('download').disabled = false;
    $('copy').disabled = false;
    $('action-status').textContent = '';
  }
  function span(kind, text) {
    const element = document.createElement('span');
    element.className = kind;
    element.textContent = text;
    return element;
  }
  function line(number) {
    return span('line-number', `line ${number}: `);
  }
  // Adds entries to a list SHOWN_AT_ONCE at a time: a hundred thousand changes never reach the
  // page at once.
  function fillList(id, entries, parts) {
    const list = $(id);
    const more = $('more-' + id);
    list.textContent = '';
    let count = 0;
    const add = () => {
      const end = Math.min(entries.length, count + SHOWN_AT_ONCE);
      const fragment = document.createDocumentFragment();
      for (; count < end; ++count) {
        const entry = entries.at(count);
        const item = document.createElement('li');
        const button = document.createElement('button');
        button.type = 'button';
        button.setAttribute('aria-pressed', 'false');
        button.append(...parts(entry));
        button.addEventListener('click', () => select(button, entry));
        item.append(button);
        fragment.append(item);
      }
      list.append(fragment);
      more.hidden = count >= entries.length;
      more.textContent = `Show more (${(entries.length - count).toLocaleString('en')} left)`;
    };
    more.onclick = add;
    add();
  }
  let selected = null;
  function select(button, entry) {
    if (selected) selected.setAttribute('aria-pressed', 'false');
    button.setAttribute('aria-pressed', 'true');
    selected = button;
    showContext(entry.line);
  }
  // The input's lines around number (counted from 1; 0 names the whole text, as for a lone
  // argument), the line itself marked.
  function showContext(number) {
    const bytes = state.input.bytes;
    if (!state.lineStarts) {
      const starts = [0];
      for (let at = bytes.indexOf(10); at !== -1; at = bytes.indexOf(10, at + 1)) starts.push(at + 1);
      state.lineStarts = starts;
    }
    const starts = state.lineStarts;
    const target = Math.max(number, 1);
    const context = $('context');
    context.textContent = '';
    for (let n = Math.max(1, target - 2); n <= Math.min(starts.length, target + 2); ++n) {
      const end = n < starts.length ? starts[n] : bytes.length;
      const text = `${String(n).padStart(6)}  ${shown(bytes.subarray(starts[n - 1], end)).replace(/\r?\n$/, '')}\n`;
      if (n === target) {
        const mark = document.createElement('mark');
        mark.textContent = text;
        context.append(mark);
      } else {
        context.append(text);
      }
    }
  }

  // ---- Download under the file's own name, or copy.
  $('download').addEventListener('click', () => {
    const result = state.result;
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob(result.output, { type: 'application/octet-stream' }));
    link.download = result.typed ? 'orvane-output.txt' : result.name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    $('action-status').textContent = `Downloaded as ${link.download}.`;
  });
  $('copy').addEventListener('click', async () => {
    const text = decoder.decode(new Uint8Array(await new Blob(state.result.output).arrayBuffer()));
    try {
      await navigator.clipboard.writeText(text);
      $('action-status').textContent = 'Copied.';
    } catch (error) {
      $('action-status').textContent = 'The browser did not allow the copy.';
    }
  });

  readOptions();
  showCommand();
})();
