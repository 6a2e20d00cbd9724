// What the browser tests share: the command line's answer, the WebAssembly module run in node as
// the page's worker runs it (the library face), and the page itself in Debian's Chromium.
'use strict';
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { chromium } = require('playwright-core');
const { createOrvaneClient } = require('../client.js');

// The command line, built natively, and the page's directory, built under Emscripten: by default
// where the README's commands build them in this checkout.
const SOURCE = path.resolve(__dirname, '..', '..');
const ORVANE = process.env.ORVANE || path.join(SOURCE, 'build', 'orvane');
const PAGE = process.env.ORVANE_WEB || path.join(SOURCE, 'build-wasm', 'page');
// The tests' build of the module, beside the page's: allocations that can be made to fail, and a
// memory of 64 MiB.
const TEST_MODULE = process.env.ORVANE_TEST_MODULE || path.join(PAGE, '..', 'test-module');
for (const [what, where, variable] of [
  ['the command line', ORVANE, 'ORVANE'],
  ['the page', path.join(PAGE, 'index.html'), 'ORVANE_WEB'],
]) {
  if (!fs.existsSync(where))
    throw new Error(`${what} is not built at ${where}: run ./test.sh page, or set ${variable}`);
}

// The command line on standard input, with --ranges naming the export by the name the page
// gives it (run where the export lies).
function cli(options, input, ranges) {
  const args = [...options];
  let cwd;
  if (ranges) {
    args.push('--ranges=' + path.basename(ranges));
    cwd = path.dirname(ranges);
  }
  const run = spawnSync(ORVANE, args, { input, cwd, maxBuffer: 1 << 30 });
  return { stdout: run.stdout, stderr: run.stderr, status: run.status };
}

// The page's worker script, run in node: the same module, the same requests and the same client
// as in the page. filter() gives the output and standard error's text as the command line's
// streams would hold them, and the client's result.
function moduleFace(directory = PAGE) {
  const source = fs.readFileSync(path.join(directory, 'orvane-worker.js'), 'utf8');
  globalThis.require = require;
  globalThis.__dirname = PAGE;
  // The worker's global scope and the client's worker, joined: each message is delivered on a
  // later turn, as between threads.
  const worker = {
    postMessage(message) { setImmediate(() => self.onmessage({ data: message })); },
  };
  const self = {
    postMessage(message) { setImmediate(() => worker.onmessage({ data: message })); },
  };
  globalThis.self = self;
  const client = createOrvaneClient(worker);
  new Function(source + '\nreturn orvaneWorker;')()();
  const copy = (bytes) => bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
  return {
    client,
    async filter(input, options, name = '-', extra) {
      const opened = await client.open(copy(input), name);
      if (opened.fault) return { result: { failed: opened.fault } };
      const result = await client.filter({ bibtex: options.includes('--bibtex'), isbn13: options.includes('--isbn13') },
        null, extra);
      if (result.failed !== undefined) return { result };
      const warnings = [];
      for (let i = 0; i < result.warnings.length; ++i) warnings.push(Buffer.from(result.warnings.at(i).text));
      return {
        stdout: Buffer.concat(result.output.map((part) => Buffer.from(part))),
        stderr: Buffer.concat(warnings),
        result,
      };
    },
    async ranges(bytes, name) {
      return client.ranges(copy(bytes), name);
    },
    async builtIn() {
      await client.builtIn();
    },
  };
}

// Debian's Chromium, headless, with nothing of its own reaching out; where it is missing the
// browser's tests are skipped with this reason.
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const noBrowser = fs.existsSync(CHROMIUM) ? false : `${CHROMIUM} is not installed (Debian's chromium)`;
async function launch() {
  return chromium.launch({
    executablePath: CHROMIUM,
    args: ['--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--no-first-run', '--disable-sync', '--disable-default-apps'],
  });
}

const pageURL = (query = '') => 'file://' + path.join(path.resolve(PAGE), 'index.html') + query;

// A page, loaded, with every request it makes recorded.
async function openPage(context, url = pageURL()) {
  const page = await context.newPage();
  page.requests = [];
  page.errors = [];
  page.on('request', (request) => page.requests.push(request.url()));
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}

// Waits until the page shows the result of an input taken after inputs and of the last options.
async function settled(page, inputs) {
  await page.waitForFunction((before) => {
    const data = document.body.dataset;
    return Number(data.inputs || 0) > before && data.busy === undefined && data.runs === data.requested;
  }, inputs, { timeout: 120000 });
}

const inputCount = (page) => page.evaluate(() => Number(document.body.dataset.inputs || 0));

// Opens a file in the page through its picker: bytes under name, or a file on disk.
async function openInPage(page, file) {
  const before = await inputCount(page);
  await page.setInputFiles('#file', file);
  await settled(page, before);
}

// Pastes text into the page's text box, as the clipboard would hand it over.
async function paste(page, text) {
  await page.evaluate((pasted) => {
    const transfer = new DataTransfer();
    transfer.setData('text/plain', pasted);
    document.getElementById('text').dispatchEvent(new ClipboardEvent('paste', { clipboardData: transfer, bubbles: true,
      cancelable: true }));
  }, text);
}

async function setOption(page, id, on) {
  const box = page.locator('#' + id);
  if ((await box.isChecked()) !== on) await box.setChecked(on);
}

// The result's bytes, as the Download button hands them over.
async function download(page) {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  return { name: file.suggestedFilename(), bytes: fs.readFileSync(await file.path()) };
}

// The warnings as the page lists them, and as standard error words them: [line, message].
const listedWarnings = (page) => page.$$eval('#warnings li', (items) => items.map((item) => {
  const text = item.textContent;
  const at = text.indexOf(': ');
  return [Number(text.slice(5, at)), text.slice(at + 2)];
}));
function warningsOf(stderr, name = '-') {
  return stderr.toString('latin1').split('\n').filter(Boolean).map((line) => {
    const rest = line.slice(name.length + 1);
    const at = rest.indexOf(':');
    return [Number(rest.slice(0, at)), rest.slice(at + 1, -1)];
  });
}

module.exports = { ORVANE, PAGE, TEST_MODULE, SOURCE, cli, moduleFace, noBrowser, launch, pageURL, openPage, settled, inputCount,
  openInPage, setOption, download, listedWarnings, warningsOf, paste };
