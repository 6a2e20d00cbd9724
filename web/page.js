// The page: hands a text (opened, dropped, pasted or typed) to the worker, which keeps it and
// filters it with the chosen options, and shows what changes and every warning, each with a
// window of its line in context; the result is downloaded under the file's own name or copied.
// Nothing is sent, and the page's own thread never holds or scans the text.
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const SHOWN_AT_ONCE = 500; // list entries added to the page at a time
  const TYPED_NAME = '-'; // a typed or pasted text is named as standard input is
  const SHOWN_IN_THE_BOX = 1 << 20; // a longer paste is taken without being put into the page
  const COPY_MAX = 16 << 20; // a longer result is downloaded, not copied: the clipboard is slow

  // The worker, made from the source of orvaneWorker (orvane-worker.js): a page opened from disk
  // may not start a worker from a script's path. client.js speaks its protocol.
  const client = createOrvaneClient(new Worker(URL.createObjectURL(
    new Blob(['(' + orvaneWorker.toString() + ')()'], { type: 'text/javascript' }))));
  client.ready.then(() => { document.body.dataset.ready = 'true'; });

  const state = {
    input: null, // { name, typed, size, utf8 } of the text the worker holds, once it is read
    result: null, // { output: [ArrayBuffer], warnings, changes (records: length, at(i)), name }
    ranges: null, // the name of the loaded export, or null for the built-in ranges
    run: 0,
    waitingSince: 0, // when the user chose the input or the options that the next result is for
  };

  // ---- Options, kept in the page's address so that a link or a reload keeps them. The query is
  // read as a user would mean it: 1, true, yes or on turn an option on.
  // BibTeX mode follows each new input until the user chooses it (in the address, or with its
  // box); then the choice stands, shown in the box.
  let bibtexChosen = false;
  function readOptions() {
    const query = new URLSearchParams(location.search);
    const on = (name) => /^(1|true|yes|on)$/i.test(query.get(name) || '');
    $('bibtex').checked = on('bibtex');
    $('isbn13').checked = on('isbn13');
    bibtexChosen = query.has('bibtex');
  }
  // Where the address cannot be changed (a host that merges slashes makes a path that
  // replaceState refuses), the options are still used; only the address keeps the old ones.
  function keepOptions() {
    const query = new URLSearchParams();
    if ($('bibtex').checked) query.set('bibtex', '1');
    if ($('isbn13').checked) query.set('isbn13', '1');
    const search = query.toString();
    try {
      history.replaceState(null, '', location.pathname + (search ? '?' + search : '') + location.hash);
    } catch (error) {
      // The options work all the same.
    }
  }

  function showCommand() {
    $('command').textContent = commandLine({ bibtex: $('bibtex').checked, isbn13: $('isbn13').checked,
      ranges: state.ranges, input: state.input });
  }

  // ---- Input.
  // The body's data-inputs, data-requested and data-runs count the inputs taken, the filterings
  // asked for and those done, so that a reader (a test, an assistive script) can tell when the
  // result on the page is that of the latest input and options.
  let inputCount = 0;
  // Takes a text: a File or Blob, which the worker reads, or an ArrayBuffer, which it is handed.
  // Every view of the last input goes at once; BibTeX mode follows the new input's own name or
  // content. Whatever order reads and runs finish in, the last input wins.
  async function setInput(source, name, typed, bibtex) {
    const number = ++inputCount;
    document.body.dataset.inputs = String(number);
    state.waitingSince = performance.now();
    state.input = null;
    state.result = null;
    const run = ++state.run;
    document.body.dataset.busy = 'true';
    document.body.dataset.requested = String(run);
    clearResult();
    $('input-summary').classList.remove('refused');
    if (!bibtexChosen && $('bibtex').checked !== bibtex) {
      $('bibtex').checked = bibtex;
      keepOptions();
    }
    $('progress').value = 0;
    $('progress-text').textContent = typed ? 'Working…' : `Reading ${name}…`;
    const opened = await client.open(source, name, COPY_MAX);
    if (number !== inputCount) return;
    if (opened.fault) {
      $('input-summary').classList.add('refused');
      $('input-summary').textContent = `${name} could not be read: ${opened.fault}`;
      $('progress-text').textContent = 'The file could not be read, so there is no result. Choose it again (it may ' +
        'have been moved or changed), or use the command line for a file this large.';
      delete document.body.dataset.busy;
      document.body.dataset.runs = String(run);
      showCommand();
      return;
    }
    state.input = { name, typed, size: opened.size, utf8: opened.utf8 };
    if (!typed) $('input-summary').textContent = `${name}: ${opened.size.toLocaleString('en')} bytes`;
    filter();
  }
  function openFile(file) {
    clearTimeout(typing);
    $('text').value = '';
    setInput(file, file.name, false, namedBibTeX(file.name));
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
  // The drop zone is a button: a click, Enter or the space bar opens the picker.
  drop.addEventListener('click', () => $('file').click());
  drop.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      $('file').click();
    }
  });
  $('ranges-button').addEventListener('click', () => $('ranges').click());
  // A paste is taken as the clipboard has it, its line ends included (a text box would make each
  // CR a LF), in the place of the box's selection; it is shown in the box only where it is not
  // large, and a large one stands alone.
  let typing = 0;
  $('text').addEventListener('paste', (event) => {
    const pasted = event.clipboardData && event.clipboardData.getData('text/plain');
    if (!pasted) return;
    event.preventDefault();
    clearTimeout(typing);
    const box = $('text');
    const large = pasted.length > SHOWN_IN_THE_BOX;
    const text = large ? pasted : box.value.slice(0, box.selectionStart) + pasted + box.value.slice(box.selectionEnd);
    const caret = box.selectionStart + pasted.length;
    box.value = large ? '' : text;
    if (!large) box.setSelectionRange(caret, caret);
    setInput(new TextEncoder().encode(text).buffer, TYPED_NAME, true, looksLikeBibTeX(text));
    if (large)
      $('input-summary').textContent = `Pasted text: ${pasted.length.toLocaleString('en')} characters, not shown.`;
  });
  $('text').addEventListener('input', () => {
    clearTimeout(typing);
    typing = setTimeout(() => {
      const text = $('text').value;
      setInput(new TextEncoder().encode(text).buffer, TYPED_NAME, true, looksLikeBibTeX(text));
    }, 150);
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
      status.textContent = 'Refused: ' + fault + (state.ranges === null ? ' (the built-in ranges stay)' : ` (the ranges of ${state.ranges} stay)`);
      return;
    }
    status.classList.remove('refused');
    status.setAttribute('role', 'status');
    state.ranges = file.name;
    status.textContent = `Ranges: ${file.name}.`;
    $('built-in').disabled = false;
    state.waitingSince = performance.now();
    filter();
  });
  $('built-in').addEventListener('click', async () => {
    await client.builtIn();
    state.ranges = null;
    $('ranges-status').classList.remove('refused');
    $('ranges-status').textContent = 'Ranges: built in.';
    $('built-in').disabled = true;
    state.waitingSince = performance.now();
    filter();
  });
  for (const id of ['bibtex', 'isbn13']) {
    $(id).addEventListener('change', () => {
      if (id === 'bibtex') bibtexChosen = true;
      keepOptions();
      state.waitingSince = performance.now();
      filter();
    });
  }

  // ---- Filtering, in the worker; a result that a newer request overtook is dropped.
  async function filter() {
    showCommand();
    if (!state.input) return;
    const run = ++state.run;
    document.body.dataset.busy = 'true';
    document.body.dataset.requested = String(run);
    $('download').disabled = true;
    $('copy').disabled = true;
    $('progress').value = 0;
    $('progress-text').textContent = 'Working…';
    // A test may make the next request fail part-way (window.orvaneFailNext), as a request
    // that runs out of memory does.
    const extra = window.orvaneFailNext !== undefined ? { failAt: window.orvaneFailNext } : undefined;
    delete window.orvaneFailNext;
    // The bar moves with the worker's progress; only the start and the end are announced.
    const result = await client.filter({ bibtex: $('bibtex').checked, isbn13: $('isbn13').checked },
      (done, total) => {
        if (run === state.run) $('progress').value = total ? (100 * done) / total : 100;
      }, extra);
    if (run !== state.run || result.superseded) return;
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
    state.result = { output: result.output, warnings: result.warnings, changes: result.changes, name: state.input.name,
      typed: state.input.typed };
    $('progress').value = 100;
    $('progress-text').textContent = `Done in ${Math.round(performance.now() - state.waitingSince)} ms.`;
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
    $('context').textContent = 'Select a change or a warning to see its line.';
    $('download').disabled = true;
    $('copy').disabled = true;
    $('action-status').textContent = '';
    selected = null;
  }

  // ---- Results: counts, lists, the line in context.
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
    // The clipboard holds text: a result that is not UTF-8 would come back changed.
    const copyable = state.input.utf8 && size <= COPY_MAX;
    $('copy').disabled = !copyable;
    $('action-status').textContent = copyable ? ''
      : size > COPY_MAX ? `The result is too large to copy (${size.toLocaleString('en')} bytes): use Download.`
        : 'The result is not UTF-8 text, which the clipboard cannot hold exactly: use Download.';
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
        // One tab stop for the whole list, on its first entry until another is chosen.
        button.tabIndex = count === 0 ? 0 : -1;
        button.append(...parts(entry));
        button.addEventListener('click', () => select(button, entry));
        item.append(button);
        fragment.append(item);
      }
      list.append(fragment);
      more.hidden = count >= entries.length;
      more.textContent = `Show more ${id} (${(entries.length - count).toLocaleString('en')} left)`;
    };
    more.onclick = add;
    add();
  }
  let selected = null;
  function select(button, entry) {
    if (selected) selected.removeAttribute('aria-current');
    button.setAttribute('aria-current', 'true');
    selected = button;
    moveStop(button);
    showContext(entry, button);
  }
  // The list's one tab stop moves to button.
  function moveStop(button) {
    for (const other of button.closest('ol').querySelectorAll('button[tabindex="0"]')) other.tabIndex = -1;
    button.tabIndex = 0;
  }
  // In a list, the arrow keys, Home and End move among its entries; Tab leaves it.
  for (const id of ['changes', 'warnings']) {
    $(id).addEventListener('keydown', (event) => {
      const buttons = [...$(id).querySelectorAll('li button')];
      const at = buttons.indexOf(document.activeElement);
      if (at === -1) return;
      const to = { ArrowDown: at + 1, ArrowUp: at - 1, Home: 0, End: buttons.length - 1 }[event.key];
      if (to === undefined || to < 0 || to >= buttons.length) return;
      event.preventDefault();
      moveStop(buttons[to]);
      buttons[to].focus();
    });
  }
  // The lines around the entry's place, its own line marked: each a window of the line, which
  // the worker cuts, so that a line of megabytes costs the page nothing.
  async function showContext(entry, button) {
    const lines = await client.context(entry.offset, Math.max(entry.line, 1));
    if (selected !== button) return;
    const context = $('context');
    context.textContent = '';
    for (const { number, bytes, cutBefore, cutAfter, marked } of lines) {
      const text = `${String(number).padStart(6)}  ${cutBefore ? '…' : ''}${shown(bytes).replace(/\r$/, '')}` +
        `${cutAfter ? '…' : ''}\n`;
      if (marked) {
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
    const text = new TextDecoder('utf-8').decode(new Uint8Array(await new Blob(state.result.output).arrayBuffer()));
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
