// The page's flows in Debian's Chromium: open and drop a file, each option kept in the address,
// download and copy, a range export loaded and a hostile one refused in the command line's words,
// a large file with progress, and nothing requested but the page's own files; opened from disk
// and from a static host; usable by keyboard, light and dark, and small.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { PAGE, TEST_MODULE, SOURCE, cli, noBrowser, launch, pageURL, openPage, openInPage, inputCount, settled, setOption, download,
  listedWarnings, warningsOf, paste } = require('./support');

// Bytes that a text decoding would not bring back: Latin-1, mixed encodings, NUL, CRLF, a lone CR.
const AWKWARD = Buffer.concat([
  Buffer.from('@book{m\xfcller,\r\n  title = {\xc9tudes},\r\n  isbn = {0201633612},\r\n}\r\n', 'latin1'),
  Buffer.from('@book{ut,\n  title = {Ünïcödé},\n  isbn = {9780201896831},\n  note = {a\x00b\rc},\n'),
  Buffer.from('  isbn = {0201633613},\n}\n'),
]);
const RANGES = path.join(SOURCE, 'tests', 'fixtures', 'ranges', 'RangeMessage-small.xml');

let browser;
let context;
test.before(async () => {
  if (noBrowser) return;
  browser = await launch();
  context = await browser.newContext({ acceptDownloads: true });
});
test.after(async () => browser && browser.close());

// Every request of a page: its own files, or the blob of its worker; nothing else.
function onlyOwnFiles(page, origin) {
  for (const url of page.requests) {
    assert.ok(url.startsWith(origin) || url.startsWith('blob:') || url.startsWith('data:'), `requested ${url}`);
  }
}

test('a file opened through the picker comes back byte for byte, BibTeX mode on for .bib', { skip: noBrowser }, async () => {
  const page = await openPage(context);
  await openInPage(page, { name: 'refs.bib', mimeType: 'text/x-bibtex', buffer: AWKWARD });
  assert.ok(await page.isChecked('#bibtex'));
  assert.match(page.url(), /\?bibtex=1$/);
  const want = cli(['--bibtex'], AWKWARD);
  const got = await download(page);
  assert.strictEqual(got.name, 'refs.bib');
  assert.ok(got.bytes.equals(want.stdout));
  assert.deepStrictEqual(await listedWarnings(page), warningsOf(want.stderr));
  assert.strictEqual(await page.textContent('#command'), 'orvane --bibtex --in-place refs.bib');
  assert.match(await page.textContent('#counts'), /^2 changes, 1 warning;/);
  // Selecting a change shows its line among its neighbours.
  await page.click('#changes li:first-child button');
  assert.match(await page.textContent('#context mark'), /^ {5}3 {2}\s+isbn = \{0201633612\},/);
  onlyOwnFiles(page, 'file://');
  assert.deepStrictEqual(page.errors, []);
  await page.close();
});

// A request that fails part-way leaves nothing behind: nothing of it is offered, and the next
// file's download is the command line's bytes, under its own name.
test('a request that fails part-way, then a file: the file\'s bytes, nothing of the failure', { skip: noBrowser }, async () => {
  const page = await openPage(context);
  const big = Buffer.from('a line with 0201633612 in it\n'.repeat(100000));
  await page.evaluate(() => { window.orvaneFailNext = 0; });
  await openInPage(page, { name: 'big.txt', mimeType: 'text/plain', buffer: big });
  assert.match(await page.textContent('#progress-text'), /^The text could not be filtered here: failed on purpose\.$/);
  assert.ok(await page.isDisabled('#download'));
  assert.ok(await page.isDisabled('#copy'));
  assert.strictEqual(await page.textContent('#counts'), '');
  const second = Buffer.from('second 0201633612\n');
  await openInPage(page, { name: 'second.txt', mimeType: 'text/plain', buffer: second });
  const got = await download(page);
  assert.strictEqual(got.name, 'second.txt');
  assert.ok(got.bytes.equals(cli([], second).stdout), got.bytes.toString());
  assert.deepStrictEqual(page.errors, []);
  await page.close();
});

// Each new input clears every view of the last and sets BibTeX mode from its own name or content;
// the last input and the last options win, whatever order reads and runs end in.
test('inputs one after another: the last wins, each with its own mode, its line ends and its own context', { skip: noBrowser }, async () => {
  await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  const page = await openPage(context);
  // A .bib file turns BibTeX mode on; a plain list opened next has the default mode again.
  await openInPage(page, { name: 'refs.bib', mimeType: 'text/plain', buffer: Buffer.from('@book{k, doi = {10.1/9780201633610}, isbn = {0201633612}}\n') });
  assert.ok(await page.isChecked('#bibtex'));
  await page.click('#changes li button');
  assert.match(await page.textContent('#context'), /@book\{k/);
  const list = Buffer.from('Gamma 0201633612\nKnuth 9780201896831\n');
  await openInPage(page, { name: 'reading.txt', mimeType: 'text/plain', buffer: list });
  assert.ok(!(await page.isChecked('#bibtex')));
  assert.match(await page.textContent('#counts'), /^2 changes, 0 warnings;/);
  assert.strictEqual(await page.textContent('#context'), 'Select a change or a warning to see its line.');
  // A large file, then at once a small one: the page ends on the small one.
  const large = Buffer.from('a line with 0201633612 in it\n'.repeat(400000));
  const before = await inputCount(page);
  await page.setInputFiles('#file', { name: 'large.txt', mimeType: 'text/plain', buffer: large });
  await page.setInputFiles('#file', { name: 'small.txt', mimeType: 'text/plain', buffer: list });
  await settled(page, before + 1);
  const got = await download(page);
  assert.strictEqual(got.name, 'small.txt');
  assert.ok(got.bytes.equals(cli([], list).stdout));
  // A key typed, then at once a paste: the paste wins, its CRLF kept; pasted BibTeX turns
  // BibTeX mode on.
  const typed = await inputCount(page);
  await page.type('#text', 'x');
  await page.keyboard.press('Control+A'); // the paste takes the place of what is selected
  const pasted = '@book{p,\r\n  isbn = {0201633612},\r\n  doi = {10.1/9780201633610}}\r\n';
  await paste(page, pasted);
  await settled(page, typed);
  await page.waitForTimeout(300); // the typing's timer, had it not been cleared, would fire now
  await page.waitForFunction(() => document.body.dataset.busy === undefined && document.body.dataset.runs === document.body.dataset.requested);
  assert.ok(await page.isChecked('#bibtex'));
  assert.ok((await download(page)).bytes.equals(cli(['--bibtex'], Buffer.from(pasted)).stdout));
  await page.click('#copy');
  await page.waitForSelector('#action-status:has-text("Copied.")');
  assert.strictEqual(await page.evaluate(() => navigator.clipboard.readText()), cli(['--bibtex'], Buffer.from(pasted)).stdout.toString());
  // Text that is not UTF-8 is not offered to the clipboard, which would change it.
  await openInPage(page, { name: 'latin1.txt', mimeType: 'text/plain', buffer: AWKWARD });
  assert.ok(await page.isDisabled('#copy'));
  assert.match(await page.textContent('#action-status'), /not UTF-8 text.*use Download/);
  assert.deepStrictEqual(page.errors, []);
  await page.close();
});

// A line of megabytes: the line in context is a window around the change, and the page's
// thread is never held long; ten quick changes of an option end on the last one's result.
test('a long line shown as a window, quick option changes, and the address read as a user means it', { skip: noBrowser }, async () => {
  const page = await openPage(context, pageURL('?bibtex=true&isbn13=yes'));
  assert.ok(await page.isChecked('#bibtex'));
  assert.ok(await page.isChecked('#isbn13'));
  await setOption(page, 'bibtex', false);
  await setOption(page, 'isbn13', false);
  const line = Buffer.from('x'.repeat(10e6) + ' 0201633612 ' + 'y'.repeat(10e6) + '\n');
  // From disk, as a user opens a file: a buffer would be pushed through the page's own thread.
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-page-'));
  const file = path.join(directory, 'line.txt');
  fs.writeFileSync(file, line);
  await page.evaluate(() => {
    window.longest = 0;
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) window.longest = Math.max(window.longest, entry.duration);
    }).observe({ type: 'longtask', buffered: true });
  });
  await openInPage(page, file);
  await page.click('#changes li button');
  await page.waitForSelector('#context mark');
  const marked = await page.textContent('#context mark');
  assert.ok(marked.length < 400, `${marked.length} characters shown`);
  assert.match(marked, /^ {5}1 {2}…x+ 0201633612 y+…\n$/);
  for (let i = 0; i < 10; ++i) await page.click('#isbn13');
  await page.waitForFunction(() => document.body.dataset.busy === undefined && document.body.dataset.runs === document.body.dataset.requested);
  assert.ok((await download(page)).bytes.equals(cli([], line).stdout));
  const longest = await page.evaluate(() => window.longest);
  assert.ok(longest < 200, `the longest task on the page's thread took ${longest} ms`);
  fs.rmSync(directory, { recursive: true });
  await page.close();
});

// A line that does not fit in the module's memory: said, and nothing offered. The page runs with
// the tests' build of the module, whose memory ends at 64 MiB, so that 80 MB show it.
test('a line that does not fit in memory is said, and nothing is offered', { skip: noBrowser }, async () => {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-page-'));
  for (const file of fs.readdirSync(PAGE)) fs.copyFileSync(path.join(PAGE, file), path.join(directory, file));
  fs.copyFileSync(path.join(TEST_MODULE, 'orvane-worker.js'), path.join(directory, 'orvane-worker.js'));
  const line = path.join(directory, 'line.txt');
  const bytes = Buffer.alloc(80 << 20, 'x');
  bytes[bytes.length - 1] = 10;
  fs.writeFileSync(line, bytes);
  const page = await openPage(context, 'file://' + path.join(directory, 'index.html'));
  await openInPage(page, line);
  assert.strictEqual(await page.textContent('#progress-text'), 'The text could not be filtered here: Out of memory ' +
    'for an input line. Nothing is offered; the command line filters texts of any size.');
  assert.ok(await page.isDisabled('#download'));
  assert.ok(await page.isDisabled('#copy'));
  assert.strictEqual(await page.textContent('#counts'), '');
  const next = Buffer.from('next 0201633612\n');
  await openInPage(page, { name: 'next.txt', mimeType: 'text/plain', buffer: next });
  assert.ok((await download(page)).bytes.equals(cli([], next).stdout));
  fs.rmSync(directory, { recursive: true });
  await page.close();
});

// The time shown is the time waited, from the choice of the input to its result: here a small
// file waits behind a larger one, and its "Done in" counts the wait, not only its own run.
test('the time shown is the time waited', { skip: noBrowser }, async () => {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-page-'));
  const large = path.join(directory, 'large.txt');
  fs.writeFileSync(large, 'a line with 0201633612 in it\n'.repeat(5000000));
  const page = await openPage(context);
  const before = await inputCount(page);
  await page.setInputFiles('#file', large);
  await page.setInputFiles('#file', { name: 'small.txt', mimeType: 'text/plain', buffer: Buffer.from('0201633612\n') });
  const chosen = Date.now();
  await settled(page, before + 1);
  const waited = Date.now() - chosen;
  fs.rmSync(directory, { recursive: true });
  const shown = Number((await page.textContent('#progress-text')).match(/^Done in (\d+) ms\.$/)[1]);
  assert.ok(waited > 150, `the small file waited ${waited} ms only: the test shows nothing`);
  assert.ok(shown >= waited - 100, `shown ${shown} ms, waited at least ${waited} ms`);
  await page.close();
});

test('a dropped file, each option, and the options kept in the address', { skip: noBrowser }, async () => {
  const page = await openPage(context);
  const text = Buffer.from('0201633612 and 9780201633610\n@book{k, note = {0201633612}}\n');
  const before = await inputCount(page);
  await page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'list.txt'));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, [...text]);
  await settled(page, before);
  assert.ok(!(await page.isChecked('#bibtex')), 'a .txt file leaves BibTeX mode off');
  for (const options of [[], ['--isbn13'], ['--bibtex'], ['--bibtex', '--isbn13']]) {
    await setOption(page, 'bibtex', options.includes('--bibtex'));
    await setOption(page, 'isbn13', options.includes('--isbn13'));
    await page.waitForFunction(() => document.body.dataset.busy === undefined && document.body.dataset.runs === document.body.dataset.requested);
    assert.ok((await download(page)).bytes.equals(cli(options, text).stdout), options.join(' '));
    assert.strictEqual(await page.textContent('#command'), ['orvane', ...options, '--in-place', 'list.txt'].join(' '));
  }
  const kept = await openPage(context, page.url());
  assert.ok(await kept.isChecked('#bibtex'));
  assert.ok(await kept.isChecked('#isbn13'));
  await kept.close();
  await page.close();
});

test('typed text, and the result copied', { skip: noBrowser }, async () => {
  await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  const page = await openPage(context);
  const before = await inputCount(page);
  await page.fill('#text', 'see 0201633612 and 0201633613\n');
  await settled(page, before);
  assert.deepStrictEqual(await listedWarnings(page), [[1, 'invalid ISBN-10 value [0201633613]']]);
  assert.strictEqual(await page.textContent('#command'), 'orvane');
  await page.click('#copy');
  await page.waitForSelector('#action-status:has-text("Copied.")');
  assert.strictEqual(await page.evaluate(() => navigator.clipboard.readText()), 'see 0-201-63361-2 and 0201633613\n');
  // A warning selected shows its line.
  await page.click('#warnings li button');
  assert.match(await page.textContent('#context mark'), /^ {5}1 {2}see 0201633612 and 0201633613\n$/);
  // A small paste goes where the caret is, with its CRLF.
  await page.fill('#text', 'see \nend\n');
  await page.waitForFunction(() => document.body.dataset.busy === undefined && document.body.dataset.runs === document.body.dataset.requested);
  await page.evaluate(() => document.getElementById('text').setSelectionRange(4, 4));
  const small = await inputCount(page);
  await paste(page, '0201633612\r\n');
  await settled(page, small);
  assert.ok((await download(page)).bytes.equals(cli([], Buffer.from('see 0201633612\r\n\nend\n')).stdout));
  // A paste of more than a mebibyte is taken whole, and not put into the page.
  const pasted = 'x 0201633612\n'.repeat(100000);
  const again = await inputCount(page);
  await paste(page, pasted);
  await settled(page, again);
  assert.strictEqual(await page.inputValue('#text'), '');
  assert.match(await page.textContent('#counts'), /^100,000 changes, 0 warnings;/);
  assert.ok((await download(page)).bytes.equals(cli([], Buffer.from(pasted)).stdout));
  await page.close();
});

test('a range export is loaded, a hostile one refused in the command line\'s words', { skip: noBrowser }, async () => {
  const page = await openPage(context);
  const number = Buffer.from('9789969500127\n');
  await openInPage(page, { name: 'n.txt', mimeType: 'text/plain', buffer: number });
  assert.ok((await download(page)).bytes.equals(Buffer.from('9789969500127\n')));
  await page.setInputFiles('#ranges', RANGES);
  await page.waitForSelector('#ranges-status:has-text("Ranges: RangeMessage-small.xml.")');
  await page.waitForFunction(() => document.body.dataset.runs === document.body.dataset.requested && !document.body.dataset.busy);
  assert.ok((await download(page)).bytes.equals(cli([], number, RANGES).stdout));
  assert.match(await page.textContent('#command'), /--ranges=RangeMessage-small.xml/);
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-page-'));
  const hostile = path.join(directory, 'hostile.xml');
  fs.writeFileSync(hostile, fs.readFileSync(RANGES, 'utf8').replace('<ISBNRangeMessage>',
    '<!DOCTYPE ISBNRangeMessage [<!ENTITY a "aaaaaaaaaa">]>\n<ISBNRangeMessage>'));
  const refusal = cli([], number, hostile).stderr.toString().trim();
  assert.match(refusal, /^\?\? hostile.xml: line \d+: an entity declaration is not allowed$/);
  await page.setInputFiles('#ranges', hostile);
  await page.waitForSelector('#ranges-status.refused');
  // The command line's words, in a sentence of the page's rather than behind its "??".
  assert.strictEqual(await page.textContent('#ranges-status'),
    refusal.replace(/^\?\? /, 'Refused: ') + ' (the ranges of RangeMessage-small.xml stay)');
  await page.click('#built-in');
  await page.waitForSelector('#ranges-status:has-text("Ranges: built in.")');
  await page.waitForFunction(() => document.body.dataset.runs === document.body.dataset.requested && !document.body.dataset.busy);
  assert.ok((await download(page)).bytes.equals(number));
  fs.rmSync(directory, { recursive: true });
  await page.close();
});

test('100 MB in a worker: progress shown as it goes, never the whole text in the page', { skip: noBrowser }, async () => {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-page-'));
  const big = path.join(directory, 'big.bib');
  const entry = '@book{k%, title = {A title of some length, as real entries have}, isbn = {0201633612},\n  note = {0201633613}}\n';
  const block = Buffer.from(Array.from({ length: 1000 }, (_, i) => entry.replace('%', i)).join(''));
  const file = fs.openSync(big, 'w');
  for (let size = 0; size < 100e6; size += block.length) fs.writeSync(file, block);
  fs.closeSync(file);
  const page = await openPage(context);
  await page.evaluate(() => {
    window.seen = [];
    window.said = [];
    new MutationObserver(() => window.seen.push(document.getElementById('progress').value))
      .observe(document.getElementById('progress'), { attributes: true });
    new MutationObserver(() => window.said.push(document.getElementById('progress-text').textContent))
      .observe(document.getElementById('progress-text'), { childList: true, characterData: true, subtree: true });
    window.longest = 0;
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) window.longest = Math.max(window.longest, entry.duration);
    }).observe({ type: 'longtask', buffered: true });
  });
  await openInPage(page, big);
  const seen = await page.evaluate(() => window.seen);
  assert.ok(seen.filter((value) => value > 0 && value < 100).length >= 5, `progress ${seen}`);
  // A screen reader hears the start and the end, not every step.
  const said = await page.evaluate(() => window.said);
  assert.ok(said.length <= 3, `announced ${said.join(' | ')}`);
  // The page's own thread is never held long: the text is read and filtered in the worker.
  const longest = await page.evaluate(() => window.longest);
  assert.ok(longest < 200, `the longest task on the page's thread took ${longest} ms`);
  assert.ok((await page.content()).length < 1e6, 'the page holds no whole text');
  const want = cli(['--bibtex'], fs.readFileSync(big));
  const got = await download(page);
  assert.ok(got.bytes.equals(want.stdout), 'the same bytes as the command line');
  onlyOwnFiles(page, 'file://');
  fs.rmSync(directory, { recursive: true });
  await page.close();
});

test('served by a static host it works the same, and asks for nothing but its own files', { skip: noBrowser }, async () => {
  const server = http.createServer((request, response) => {
    // The path as a host that merges slashes takes it: //index.html is index.html.
    const file = path.join(PAGE, path.normalize(decodeURIComponent(request.url.split('?')[0])));
    if (!file.startsWith(path.resolve(PAGE)) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}/`;
  try {
    const page = await openPage(context, origin + 'index.html?bibtex=1');
    const sample = fs.readFileSync(path.join(SOURCE, 'examples', 'sample.bib'));
    await openInPage(page, { name: 'sample.bib', mimeType: 'text/plain', buffer: sample });
    assert.ok((await download(page)).bytes.equals(cli(['--bibtex'], sample).stdout));
    onlyOwnFiles(page, origin);
    assert.deepStrictEqual(page.errors, []);
    await page.close();
    // Reached as //index.html the address cannot be changed (the browser reads //index.html?…
    // as another host's), and the options work all the same.
    const merged = await openPage(context, origin + '/index.html?bibtex=1');
    await openInPage(merged, { name: 'sample.bib', mimeType: 'text/plain', buffer: sample });
    await setOption(merged, 'isbn13', true);
    await merged.waitForFunction(() => document.body.dataset.busy === undefined && document.body.dataset.runs === document.body.dataset.requested);
    assert.ok((await download(merged)).bytes.equals(cli(['--bibtex', '--isbn13'], sample).stdout));
    assert.deepStrictEqual(merged.errors, []);
    await merged.close();
  } finally {
    server.close();
  }
});

// A file that the browser can no longer read (changed on disk after it was chosen, here while
// the worker finished a larger one) is said, with what to do, and nothing is offered.
test('a file that cannot be read is said, and nothing of the last file stays', { skip: noBrowser }, async () => {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-page-'));
  const big = path.join(directory, 'big.txt');
  fs.writeFileSync(big, 'a line with 0201633612 in it\n'.repeat(2000000));
  const changing = path.join(directory, 'changing.txt');
  fs.writeFileSync(changing, 'x 0201633612\n');
  const page = await openPage(context);
  await openInPage(page, { name: 'first.txt', mimeType: 'text/plain', buffer: Buffer.from('first 0201633612\n') });
  const before = await inputCount(page);
  await page.setInputFiles('#file', big);
  await page.setInputFiles('#file', changing);
  fs.appendFileSync(changing, 'more text, after the file was chosen\n');
  await settled(page, before + 1);
  assert.match(await page.textContent('#progress-text'), /^The file could not be read, so there is no result\./);
  assert.match(await page.textContent('#input-summary'), /^changing\.txt could not be read: /);
  assert.ok(await page.isDisabled('#download'));
  assert.ok(await page.isDisabled('#copy'));
  assert.strictEqual(await page.textContent('#counts'), '');
  assert.strictEqual(await page.$$eval('#changes li', (items) => items.length), 0);
  fs.rmSync(directory, { recursive: true });
  await page.close();
});

test('keyboard, labels and roles; light and dark by the system', { skip: noBrowser }, async () => {
  const page = await openPage(context);
  const unlabelled = await page.$$eval('input, textarea, button', (elements) => elements
    .filter((e) => !(e.labels && e.labels.length) && !e.textContent.trim() && !e.getAttribute('aria-label'))
    .map((e) => e.id));
  assert.deepStrictEqual(unlabelled, []);
  assert.ok((await page.$$('[role="status"]')).length >= 4);
  // The drop zone is reached by Tab and opens the picker with Enter. The wait starts first, and
  // the focus's round trip lets the browser take over the picker before the key is pressed.
  const chosen = page.waitForEvent('filechooser');
  await page.focus('#drop');
  await page.keyboard.press('Enter');
  const chooser = await chosen;
  await chooser.setFiles({ name: 'k.bib', mimeType: 'text/plain', buffer: Buffer.from('@book{k, isbn = {0201633612}}\n') });
  await page.waitForSelector('#changes li button');
  await page.focus('#changes li button');
  await page.keyboard.press('Enter');
  assert.match(await page.textContent('#context mark'), /isbn = \{0201633612\}/);
  const background = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  await page.emulateMedia({ colorScheme: 'light' });
  const light = await background();
  await page.emulateMedia({ colorScheme: 'dark' });
  assert.notStrictEqual(await background(), light);
  await page.close();
});

// Keyboard alone, and what axe-core finds (nothing) in each state of the page: each list one tab
// stop moved with the arrow keys, the hidden file inputs out of the tab order, the drop zone a
// named button, distinct names for distinct controls.
test('keyboard alone, and axe-core in each state', { skip: noBrowser }, async () => {
  const axe = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
  const checked = await browser.newContext({ bypassCSP: true });
  const page = await openPage(checked);
  const violations = async (state) => {
    await page.evaluate(axe);
    const found = await page.evaluate(async () => (await axe.run(document)).violations
      .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
    assert.deepStrictEqual(found, [], state);
  };
  await violations('empty');
  assert.deepStrictEqual(await page.$$eval('#file, #ranges', (inputs) => inputs.map((input) => input.tabIndex)), [-1, -1]);
  assert.strictEqual(await page.getAttribute('#drop', 'role'), 'button');
  const lines = Array.from({ length: 800 }, (_, i) => `${i} 0201633612\n`).join('') + '0201633613\n';
  await openInPage(page, { name: 'many.txt', mimeType: 'text/plain', buffer: Buffer.from(lines) });
  await violations('a result with long lists');
  const names = await page.$$eval('button', (buttons) => buttons.filter((b) => !b.hidden).map((b) => b.textContent.trim()));
  assert.strictEqual(new Set(names.filter((n) => n.startsWith('Show more'))).size,
    names.filter((n) => n.startsWith('Show more')).length, 'the Show more buttons are named apart');
  // From Download to the first warning in a handful of Tabs: each list is one stop.
  await page.focus('#download');
  const stops = [];
  for (let i = 0; i < 6; ++i) {
    await page.keyboard.press('Tab');
    stops.push(await page.evaluate(() => {
      const e = document.activeElement;
      return e.closest('ol') ? e.closest('ol').id : e.id;
    }));
    if (stops[stops.length - 1] === 'warnings') break;
  }
  assert.deepStrictEqual(stops, ['copy', 'changes', 'more-changes', 'warnings']);
  // The arrow keys move within a list, and Enter selects.
  await page.keyboard.down('Shift');
  await page.keyboard.press('Tab');
  await page.keyboard.press('Tab');
  await page.keyboard.up('Shift');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Enter');
  assert.match(await page.textContent('#context mark'), /^ {5}3 {2}2 0201633612\n$/);
  assert.strictEqual(await page.getAttribute('#changes li:nth-child(3) button', 'aria-current'), 'true');
  await violations('an entry selected');
  await page.close();
  await checked.close();
});

test('the page is under 200 KB compressed in all', () => {
  let total = 0;
  for (const file of ['index.html', 'style.css', 'page.js', 'orvane-worker.js']) {
    total += zlib.gzipSync(fs.readFileSync(path.join(PAGE, file)), { level: 9 }).length;
  }
  assert.ok(total < 200 * 1024, `${total} bytes`);
});
