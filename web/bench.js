// The page's benchmark: time to result in Chromium for 1, 20 and 100 MB of the BibTeX corpus
// (from the file's choice to the result on the page), and the WebAssembly module's throughput in
// node against the native build on 100 MB, in both modes. Medians of rounds; prints a table.
//
//   ORVANE=build/orvane ORVANE_WEB=build-wasm/web node web/bench.js CORPUS/bib.txt [ROUNDS]
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
  console.log('| size | time to result in the page (median) |\n| --- | --- |');
  for (const megabytes of [1, 20, 100]) {
    const file = path.join(directory, `bib-${megabytes}.bib`);
    fs.writeFileSync(file, prefix(megabytes * 1e6));
    const times = [];
    for (let round = 0; round < rounds; ++round) {
      const page = await openPage(context);
      const start = process.hrtime.bigint();
      await openInPage(page, file);
      times.push(Number(process.hrtime.bigint() - start) / 1e6);
      await page.close();
    }
    console.log(`| ${megabytes} MB | ${median(times).toFixed(0)} ms |`);
  }
  await browser.close();

  const input = prefix(100e6);
  const face = moduleFace();
  // The module's filter call alone, and with the copies into its memory and out of it that the
  // worker makes; the native build reading the same bytes from a pipe.
  console.log('\n| mode | module: the filter call | module: with its copies | native | filter call / native |\n' +
    '| --- | --- | --- | --- | --- |');
  for (const options of [[], ['--bibtex']]) {
    const call = [];
    const whole = [];
    const native = [];
    // Warm: V8 compiles the module's hot functions anew, optimised, after their first runs.
    for (let round = 0; round < 4; ++round) await face.filter(input, options);
    // Not interleaved: while spawnSync blocks node, V8 does not finish the optimised code.
    for (let round = 0; round < rounds; ++round) {
      const start = process.hrtime.bigint();
      const result = await face.filter(input, options);
      whole.push(Number(process.hrtime.bigint() - start) / 1e6);
      call.push(result.reply.milliseconds);
    }
    for (let round = 0; round < rounds; ++round) {
      const start = process.hrtime.bigint();
      spawnSync(ORVANE, options, { input, stdio: ['pipe', 'ignore', 'ignore'] });
      native.push(Number(process.hrtime.bigint() - start) / 1e6);
    }
    console.log(`| ${options.join(' ') || 'default'} | ${median(call).toFixed(0)} ms | ${median(whole).toFixed(0)} ms | ` +
      `${median(native).toFixed(0)} ms | ${(median(call) / median(native)).toFixed(2)}x |`);
  }
  fs.rmSync(directory, { recursive: true });
})();
