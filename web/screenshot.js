// Takes the screenshot of the page that the README shows: the shipped sample opened, a warning
// selected.
//
//   node web/screenshot.js docs/page.png        (ORVANE and ORVANE_WEB as for the tests)
'use strict';
const path = require('node:path');
const { SOURCE, launch, openPage, openInPage } = require('./tests/support');

(async () => {
  const browser = await launch();
  const context = await browser.newContext({ viewport: { width: 1000, height: 1300 } });
  const page = await openPage(context);
  await openInPage(page, path.join(SOURCE, 'examples', 'sample.bib'));
  await page.click('#warnings li button');
  await page.screenshot({ path: process.argv[2], fullPage: true });
  await browser.close();
})();
