// The page's logic that is not drawing, in node, in milliseconds: each function against a table
// of cases.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const { looksLikeBibTeX, namedBibTeX, shellWord, commandLine, lineWindow, changeRecords, warningRecords } =
  require('../logic.js');

test('the mode a name or a text implies', () => {
  for (const [name, bib] of [['refs.bib', true], ['REFS.BIB', true], ['refs.bib.txt', false], ['bib', false],
    ['list.txt', false], ['.bib', true], ['a.bibtex', false]])
    assert.strictEqual(namedBibTeX(name), bib, name);
  for (const [text, bib] of [['@book{k,\n isbn = {0201633612}}', true], ['  @Article (k, x = 1)', true],
    ['write to me@example.org {now}', false], ['@book', false], ['text\n@misc{m}', true], ['', false],
    ['\t@string{a = "b"}', true], ['x'.repeat(70000) + '\n@book{k}', false]])
    assert.strictEqual(looksLikeBibTeX(text), bib, text.slice(0, 40));
});

// Every word, however awkward, is one word to a POSIX shell and comes back as it was.
test('a shell word is the word to the shell', () => {
  const words = ['refs.bib', 'my refs.bib', "O'Brien.bib", '$HOME.bib', '`x`.bib', 'a"b.bib', '<b>.bib', 'a;b',
    '-n', 'é.bib', '*.bib', 'a\\b', 'x\ny', '', "''"];
  const script = words.map((word) => `printf '%s\\0' ${shellWord(word)}`).join('; ');
  const run = spawnSync('/bin/sh', ['-c', script], { encoding: 'utf8' });
  assert.strictEqual(run.status, 0, run.stderr);
  assert.deepStrictEqual(run.stdout.split('\0').slice(0, -1), words);
  assert.strictEqual(shellWord('refs.bib'), 'refs.bib');
});

test('the command line the page stands for', () => {
  const cases = [
    [{ bibtex: false, isbn13: false, ranges: null, input: null }, 'orvane'],
    [{ bibtex: true, isbn13: true, ranges: null, input: { name: '-', typed: true } }, 'orvane --bibtex --isbn13'],
    [{ bibtex: true, isbn13: false, ranges: 'Range Message.xml', input: { name: "it's.bib", typed: false } },
      "orvane --bibtex '--ranges=Range Message.xml' --in-place 'it'\\''s.bib'"],
  ];
  for (const [options, want] of cases) assert.strictEqual(commandLine(options), want);
});

test('the window of a line in context', () => {
  const bytes = Buffer.from('one\ntwo\n' + 'x'.repeat(1000) + 'ISBN' + 'y'.repeat(1000) + '\nfour\nfive\nsix\n');
  const at = bytes.indexOf('ISBN');
  const lines = lineWindow(bytes, at, 3, 2, 40);
  assert.deepStrictEqual(lines.map((l) => [l.number, Buffer.from(l.bytes).toString(), l.cutBefore, l.cutAfter, l.marked]), [
    [1, 'one', false, false, false],
    [2, 'two', false, false, false],
    [3, 'x'.repeat(20) + 'ISBN' + 'y'.repeat(16), true, true, true],
    [4, 'four', false, false, false],
    [5, 'five', false, false, false],
  ]);
  // At the text's edges: the first line, and a last line without its newline.
  const edges = Buffer.from('a 0201633612\nb\nc 0201633612');
  assert.deepStrictEqual(lineWindow(edges, 2, 1, 2, 40).map((l) => [l.number, Buffer.from(l.bytes).toString()]),
    [[1, 'a 0201633612'], [2, 'b'], [3, 'c 0201633612']]);
  assert.deepStrictEqual(lineWindow(edges, 17, 3, 2, 40).map((l) => [l.number, Buffer.from(l.bytes).toString()]),
    [[1, 'a 0201633612'], [2, 'b'], [3, 'c 0201633612']]);
  // A long line's start is shown where the offset lies near it, its end near its end.
  const long = Buffer.from('ISBN' + 'z'.repeat(100) + 'END');
  assert.strictEqual(Buffer.from(lineWindow(long, 0, 1, 0, 10)[0].bytes).toString(), 'ISBNzzzzzz');
  assert.strictEqual(Buffer.from(lineWindow(long, 104, 1, 0, 10)[0].bytes).toString(), 'zzzzzzzEND');
});

test('the entries of the records', () => {
  const texts = Buffer.from('0201633612' + '0-201-63361-2' + 'msg' + '-:1:msg.\n' + 'note' + '-:2:note.\n');
  const changes = changeRecords({ numbers: new Float64Array([1, 2, 2, 0, 10, 13]), texts });
  assert.strictEqual(changes.length, 1);
  const change = changes.at(0);
  assert.deepStrictEqual([change.line, change.offset, change.outputOffset, Buffer.from(change.old).toString(),
    Buffer.from(change.new).toString()], [1, 2, 2, '0201633612', '0-201-63361-2']);
  const warnings = warningRecords({ numbers: new Float64Array([1, 0, 23, 3, 9, 1, 2, 40, 35, 4, 10, 0]), texts });
  assert.strictEqual(warnings.length, 2);
  assert.strictEqual(warnings.notices, 1);
  assert.deepStrictEqual([Buffer.from(warnings.at(1).message).toString(), Buffer.from(warnings.at(1).text).toString(),
    warnings.at(1).counted], ['note', '-:2:note.\n', false]);
});
