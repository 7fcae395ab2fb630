// The qualification's report page in a real browser (Debian's Chromium, driven by playwright-core):
// opened from a file, as a lab opens it years later, it must show no console or script error and ask
// for nothing from anywhere (its CSS and pictures are inside it), and it must lay out for A4.
//
//   node report_page_test.mjs WRITE_SAMPLE_REPORT_PAGE OUTPUT_FOLDER
//
// WRITE_SAMPLE_REPORT_PAGE writes the sample report's page (tests/host/qualification_sample.h) to a
// file in a fresh temporary folder. Prints one line per failure; exit 0 when all is well, 1 on a
// failure, 77 (a skip) when there is no Chromium. Writes report-page.png (the whole page, 1100 wide)
// and report-page.pdf (as printed on A4) to OUTPUT_FOLDER.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { chromiumOrExit, launchChromium } from './chromium.mjs';

const [writerArg, outputArg] = process.argv.slice(2);
if (!writerArg || !outputArg) {
  console.error('usage: node report_page_test.mjs WRITE_SAMPLE_REPORT_PAGE OUTPUT_FOLDER');
  process.exit(2);
}
const chromium = await chromiumOrExit("the report page's browser test");

const failures = [];
const fail = (line) => {
  failures.push(line);
  console.error(`FAIL: ${line}`);
};
const output = path.resolve(outputArg);
fs.mkdirSync(output, { recursive: true });
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'dorvane-report-page-'));
const pageFile = path.join(scratch, 'qualification.html');
const written = spawnSync(path.resolve(writerArg), [pageFile], { encoding: 'utf8' });
if (written.status !== 0) {
  console.error(`FAIL: ${writerArg} did not write the page (${written.status ?? written.error}): ${written.stderr.trim()}`);
  process.exit(1);
}
const pageUrl = pathToFileURL(pageFile).href;

// A file, replaced whole: another run of this test may be writing the same one.
function keep(name, bytes) {
  const file = path.join(output, name);
  const partial = `${file}.${process.pid}.partial`;
  fs.writeFileSync(partial, bytes);
  fs.renameSync(partial, file);
}

let browser = null;
try {
  browser = await launchChromium(chromium, 120000);
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 } });
  const page = await context.newPage();
  page.on('pageerror', (error) => fail(`script error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') fail(`console ${message.type()}: ${message.text()}`);
  });
  // Every request but the page's own file is one that leaves the page.
  page.on('request', (request) => {
    if (request.url() !== pageUrl) fail(`the page asked for ${request.url()}`);
  });
  await page.goto(pageUrl, { waitUntil: 'load' });

  const verdict = await page.locator('h1 .outcome').textContent();
  if (verdict !== 'FAIL') fail(`the verdict shown is ${JSON.stringify(verdict)}, not "FAIL"`);
  const failureCount = await page.locator('.failures li').count();
  if (failureCount !== 2) fail(`the page lists ${failureCount} failures, not 2`);
  // Each picture drawn with room: a chart squeezed to nothing is a layout fault.
  const charts = await page.locator('svg.plot').evaluateAll((all) => all.map((svg) => svg.getBoundingClientRect().width));
  if (charts.length < 10) fail(`the page has ${charts.length} charts, fewer than 10`);
  if (charts.some((width) => width < 150)) fail(`a chart is drawn narrower than 150 px: ${charts.join(', ')}`);
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  if (overflow > 0) fail(`the page is ${overflow} px wider than the window`);
  keep('report-page.png', await page.screenshot({ fullPage: true }));

  // As printed: A4, and no chart wider than the paper.
  await page.emulateMedia({ media: 'print' });
  const printOverflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  if (printOverflow > 0) fail(`printed, the page is ${printOverflow} px wider than the paper`);
  keep('report-page.pdf', await page.pdf({ format: 'A4', printBackground: true, preferCSSPageSize: true }));
} catch (error) {
  fail(`the report page in Chromium: ${error.message.split('\n')[0]}`);
} finally {
  if (browser) await browser.close().catch(() => {});
}
if (failures.length) console.error(`the page is kept: ${pageFile}`);
else fs.rmSync(scratch, { recursive: true, force: true });
console.log(`${failures.length ? 'FAILED' : 'passed'}: the qualification's report page in Chromium`);
process.exit(failures.length ? 1 : 0);
