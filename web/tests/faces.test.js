// One answer from three faces: every end-to-end case with a text input goes through the command
// line, the WebAssembly module (the library face, run as the page's worker runs it) and the page;
// output bytes and warnings must be the command line's.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { SOURCE, TEST_MODULE, cli, moduleFace, noBrowser, launch, openPage, openInPage, setOption, download, listedWarnings,
  warningsOf } = require('./support');

const cases = spawnSync('python3', [path.join(SOURCE, 'tests', 'text_cases.py')], { encoding: 'utf8' })
  .stdout.trim().split('\n').map((line) => JSON.parse(line))
  .map((c) => Object.assign(c, { input: Buffer.from(c.input, 'base64') }));

// The lines of --check that say what would change, for a case.
function checkLines(c) {
  const check = cli(['--check', ...c.options], c.input, c.ranges);
  return check.stderr.toString('latin1').split('\n').filter((line) => line.includes(' would be written as '));
}

// The module's changes, worded as --check words them.
function changesOf(result) {
  const lines = [];
  for (let i = 0; i < result.changes.length; ++i) {
    const change = result.changes.at(i);
    lines.push(`-:${change.line}:${Buffer.from(change.old).toString('latin1')} would be written as ` +
      `${Buffer.from(change.new).toString('latin1')}.`);
  }
  return lines;
}

test('the cases are there', () => assert.ok(cases.length >= 50, `${cases.length} cases`));

test('the module gives the command line\'s bytes on every case', async () => {
  const face = moduleFace();
  for (const c of cases) {
    if (c.ranges) assert.strictEqual(await face.ranges(fs.readFileSync(c.ranges), path.basename(c.ranges)), '');
    const want = cli(c.options, c.input, c.ranges);
    const got = await face.filter(c.input, c.options);
    assert.deepStrictEqual([got.stdout.toString('latin1'), got.stderr.toString('latin1')],
      [want.stdout.toString('latin1'), want.stderr.toString('latin1')], c.name);
    // Each change, as --check words it, in order.
    assert.deepStrictEqual(changesOf(got.result), checkLines(c), c.name);
    if (c.ranges) await face.builtIn();
  }
});

// Every malformed export of the range-export table is refused by the module in the command
// line's words: the same reader, with expat built for WebAssembly as Debian builds it.
test('the module refuses every malformed export as the command line does', async () => {
  const exports = spawnSync('python3', [path.join(SOURCE, 'tests', 'range_export_faults.py'), '--exports', SOURCE],
    { encoding: 'utf8', maxBuffer: 1 << 30 }).stdout.trim().split('\n').map((line) => JSON.parse(line));
  assert.ok(exports.length >= 20, `${exports.length} exports`);
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-exports-'));
  const face = moduleFace();
  try {
    for (const { name, xml } of exports) {
      const file = path.join(directory, 'RangeMessage.xml');
      fs.writeFileSync(file, xml);
      const want = cli([], Buffer.from('0201633612\n'), file);
      assert.strictEqual(want.status, 1, name);
      const fault = await face.ranges(fs.readFileSync(file), 'RangeMessage.xml');
      assert.strictEqual('?? ' + fault + '\n', want.stderr.toString(), name);
    }
    // A refusal leaves the table as it was.
    assert.ok((await face.filter(Buffer.from('0201633612\n'), [])).stdout.equals(Buffer.from('0-201-63361-2\n')));
  } finally {
    fs.rmSync(directory, { recursive: true });
  }
});

// The module's requests never taint one another: one that fails part-way (with an export
// loaded, which the renewed module keeps) is followed by the command line's answer.
test('a request that fails part-way leaves the module as if it had never been', async () => {
  const face = moduleFace();
  const ranges = path.join(SOURCE, 'tests', 'fixtures', 'ranges', 'RangeMessage-small.xml');
  assert.strictEqual(await face.ranges(fs.readFileSync(ranges), path.basename(ranges)), '');
  const big = Buffer.from('a line with 0201633612 and 9789969500127 in it\n'.repeat(100000));
  const failed = await face.filter(big, [], '-', { failAt: 1 });
  assert.strictEqual(failed.result.failed, 'failed on purpose');
  const text = Buffer.from('second 0201633612 9789969500127\n');
  const want = cli([], text, ranges);
  const got = await face.filter(text, []);
  assert.ok(got.stdout.equals(want.stdout), got.stdout.toString());
  assert.ok(got.stderr.equals(want.stderr));
  // Changes and warnings cross in bulk, with the command line's offsets and lines.
  assert.strictEqual(got.result.changes.length, 2);
  const change = got.result.changes.at(1);
  assert.deepStrictEqual([change.line, change.offset, change.outputOffset, Buffer.from(change.new).toString()],
    [1, 18, 21, '978-9969-500-12-7']);
});

// In the module, as natively: a load that runs out of memory at any of its allocations, each in
// turn, leaves the table in use, whose answer the next request gives; the load that finally has
// the memory is the export's. The tests' build of the module can fail them. (Each failure ends
// a module, and the worker makes a new one, which in node adds listeners to the process and says
// "Aborted()".)
test('a load that runs out of memory at any allocation in the module leaves the table in use', async () => {
  process.setMaxListeners(0);
  const face = moduleFace(TEST_MODULE);
  const ranges = path.join(SOURCE, 'tests', 'fixtures', 'ranges');
  const small = path.join(ranges, 'RangeMessage-small.xml');
  const real = path.join(ranges, 'RangeMessage-2024-01-08.xml');
  const probe = Buffer.from('9789969500127 9786010000009 9791032305690 0201633612 9781234567897\n');
  const withSmall = cli([], probe, small).stdout;
  const withReal = cli([], probe, real).stdout;
  assert.ok(!withSmall.equals(withReal), 'the probe tells the two exports apart');
  assert.strictEqual(await face.ranges(fs.readFileSync(real), 'real.xml'), '');
  let failed = 0;
  for (let after = 0; ; ++after) {
    await face.client.failAllocations(after);
    const fault = await face.ranges(fs.readFileSync(small), 'small.xml');
    await face.client.failAllocations(-1);
    const got = await face.filter(probe, []);
    if (fault === '') {
      assert.ok(got.stdout.equals(withSmall), `the export's table after ${after} allocations`);
      break;
    }
    ++failed;
    assert.match(fault, /^small\.xml: /, fault);
    assert.ok(got.stdout.equals(withReal), `the table in use after a load that failed at allocation ${after}`);
  }
  assert.ok(failed > 100, `${failed} loads failed`);
});

// A line that does not fit in the module's memory ends the request with its status, and no
// result; the next request is answered in full.
test('a line that does not fit in the module\'s memory: no result, and the next one whole', async () => {
  const face = moduleFace(TEST_MODULE);
  const line = Buffer.alloc(80 << 20, 'x');
  line[line.length - 1] = 10;
  const got = await face.filter(line, []);
  assert.strictEqual(got.result.ok, false);
  assert.strictEqual(got.result.statusText, 'Out of memory for an input line');
  const next = Buffer.from('next 0201633612\n');
  assert.ok((await face.filter(next, [])).stdout.equals(cli([], next).stdout));
});

test('the page gives the command line\'s bytes and warnings on every case', { skip: noBrowser }, async () => {
  const browser = await launch();
  try {
    const context = await browser.newContext({ acceptDownloads: true });
    let page;
    for (const [index, c] of cases.entries()) {
      // A fresh page every ten cases: Chromium holds back a page's downloads after many.
      if (index % 10 === 0) {
        if (page) {
          assert.deepStrictEqual(page.errors, []);
          await page.close();
        }
        page = await openPage(context);
      }
      if (c.ranges) {
        await page.setInputFiles('#ranges', c.ranges);
        await page.waitForSelector('#ranges-status:has-text("Ranges: ' + path.basename(c.ranges) + '")');
      }
      await setOption(page, 'bibtex', c.options.includes('--bibtex'));
      await setOption(page, 'isbn13', c.options.includes('--isbn13'));
      await openInPage(page, { name: '-', mimeType: 'application/octet-stream', buffer: c.input });
      const want = cli(c.options, c.input, c.ranges);
      const got = await download(page).catch((error) => assert.fail(`${c.name}: ${error.message}`));
      assert.ok(got.bytes.equals(want.stdout), `${c.name}: output`);
      assert.deepStrictEqual(await listedWarnings(page), warningsOf(want.stderr), `${c.name}: warnings`);
      // The page's list of changes says what --check says, entry for entry.
      const listed = await page.$$eval('#changes li', (items) => items.map((item) => item.textContent));
      assert.deepStrictEqual(listed, checkLines(c).map((line) => {
        const [, number, old, now] = line.match(/^-:(\d+):(.*) would be written as (.*)\.$/);
        return `line ${number}: ${old} → ${now}`;
      }), `${c.name}: changes`);
      if (c.ranges) {
        await page.click('#built-in');
        await page.waitForSelector('#ranges-status:has-text("Ranges: built in.")');
      }
    }
    assert.deepStrictEqual(page.errors, []);
  } finally {
    await browser.close();
  }
});
