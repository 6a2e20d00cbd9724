// The page's benchmark: time to result in Chromium for 1, 20 and 100 MB of the BibTeX corpus
// (from the file's choice to the result on the page), and the module's whole request in node
// (the page's bytes handed to the worker, filtered, the output and the records of changes and
// warnings back) against the native build writing a file from a file, on 100 MB, in both modes.
// Medians of rounds; prints tables.
//
//   node web/bench.js CORPUS/bib.txt [ROUNDS]      (ORVANE and ORVANE_WEB as for the tests)
'use strict';
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { ORVANE, moduleFace, launch, openPage, openInPage } = require('./tests/support');

const corpus = fs.readFileSync(process.argv[2]);
const rounds = Number(process.argv[3] || 5);
const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];
// The corpus's first size bytes, ended at a line.
const prefix = (size) => corpus.subarray(0, corpus.lastIndexOf(10, size) + 1);

(async () => {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-bench-'));
  const browser = await launch();
  const context = await browser.newContext();
  console.log('| size | time to result in the page (median) | longest task on the page\'s thread (most) |\n| --- | --- | --- |');
  for (const megabytes of [1, 20, 100]) {
    const file = path.join(directory, `bib-${megabytes}.bib`);
    fs.writeFileSync(file, prefix(megabytes * 1e6));
    const times = [];
    let longest = 0;
    for (let round = 0; round < rounds; ++round) {
      const page = await openPage(context);
      await page.evaluate(() => {
        window.longest = 0;
        new PerformanceObserver((list) => {
          for (const entry of list.getEntries()) window.longest = Math.max(window.longest, entry.duration);
        }).observe({ type: 'longtask', buffered: true });
      });
      const start = process.hrtime.bigint();
      await openInPage(page, file);
      times.push(Number(process.hrtime.bigint() - start) / 1e6);
      longest = Math.max(longest, await page.evaluate(() => window.longest));
      await page.close();
    }
    console.log(`| ${megabytes} MB | ${median(times).toFixed(0)} ms | ${longest.toFixed(0)} ms |`);
  }
  await browser.close();

  const input = prefix(100e6);
  const file = path.join(directory, 'bib-100.bib');
  fs.writeFileSync(file, input);
  const face = moduleFace();
  console.log('\n| mode | changes | warnings | module: the filter call | module: the whole request | native, file to file | ' +
    'whole request / native |\n| --- | --- | --- | --- | --- | --- | --- |');
  for (const options of [[], ['--bibtex']]) {
    const call = [];
    const whole = [];
    const native = [];
    let counts = null;
    // Warm: V8 compiles the module's hot functions anew, optimised, after their first runs.
    for (let round = 0; round < 4; ++round) await face.filter(input, options);
    // Not interleaved: while spawnSync blocks node, V8 does not finish the optimised code.
    // The whole request as the page makes it: the page's bytes handed to the worker (which the
    // page, keeping no copy, does without one), filtered, and the output and records back.
    for (let round = 0; round < rounds; ++round) {
      const bytes = input.buffer.slice(input.byteOffset, input.byteOffset + input.byteLength);
      const start = process.hrtime.bigint();
      await face.client.open(bytes, 'bib.txt');
      const result = await face.client.filter({ bibtex: options.includes('--bibtex') });
      whole.push(Number(process.hrtime.bigint() - start) / 1e6);
      call.push(result.milliseconds);
      counts = [result.changes.length, result.warnings.length];
    }
    for (let round = 0; round < rounds; ++round) {
      const from = fs.openSync(file, 'r');
      const to = fs.openSync(path.join(directory, 'out'), 'w');
      const start = process.hrtime.bigint();
      spawnSync(ORVANE, options, { stdio: [from, to, 'ignore'] });
      native.push(Number(process.hrtime.bigint() - start) / 1e6);
      fs.closeSync(from);
      fs.closeSync(to);
    }
    console.log(`| ${options.join(' ') || 'default'} | ${counts[0].toLocaleString('en')} | ${counts[1].toLocaleString('en')} | ` +
      `${median(call).toFixed(0)} ms | ${median(whole).toFixed(0)} ms | ${median(native).toFixed(0)} ms | ` +
      `${(median(whole) / median(native)).toFixed(2)}x |`);
  }
  fs.rmSync(directory, { recursive: true });
})();
