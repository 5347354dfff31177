// Drives Debian's headless firefox-esr through puppeteer-core (WebDriver BiDi) for the report
// page's Python tests (firefox.py starts it). No browser is downloaded: the executable is given.
//
// Protocol: one JSON command a line on stdin, {"cmd": ..., ...}; one JSON answer a line on stdout,
// {"ok": value} or {"error": text}. Besides running commands it keeps what the tests check the
// page against: console errors, uncaught exceptions, Content-Security-Policy violations, every
// request other than the page's own file (aborted, so nothing leaves the machine) and every
// JavaScript dialog (dismissed at once, so that an alert() cannot hang the page).

import readline from 'node:readline';
import puppeteer from 'puppeteer-core';

const [executablePath = '/usr/bin/firefox-esr', width = '1280', height = '900'] = process.argv.slice(2);

const errors = [];
const dialogs = [];
let pageUrl = null;

const browser = await puppeteer.launch({
  browser: 'firefox',
  executablePath,
  headless: true,
  defaultViewport: {width: +width, height: +height},
  // No first-run pages, updates or telemetry: the page under test is all that loads.
  extraPrefsFirefox: {
    'browser.shell.checkDefaultBrowser': false,
    'app.update.disabledForTesting': true,
    'datareporting.policy.dataSubmissionEnabled': false,
    'toolkit.telemetry.reportingpolicy.firstRun': false,
  },
});
const page = await browser.newPage();

page.on('console', message => {
  if (message.type() === 'error' || message.type() === 'assert') errors.push(`console: ${message.text().slice(0, 500)}`);
});
page.on('pageerror', error => errors.push(`exception: ${String(error.message ?? error).slice(0, 500)}`));
page.on('dialog', async dialog => {
  dialogs.push({type: dialog.type(), message: dialog.message()});
  await dialog.dismiss().catch(() => {});
});
await page.setRequestInterception(true);
page.on('request', request => {
  if (request.url() === pageUrl) {
    request.continue().catch(() => {});
  } else {
    errors.push(`request: ${request.url().slice(0, 500)}`);
    request.abort().catch(() => {});
  }
});
page.on('requestfailed', request => {
  if (request.url() === pageUrl) errors.push(`request failed: ${request.url()}`);
});
// A request the page's policy blocks never reaches the network: report it as an error too.
await page.evaluateOnNewDocument(() => {
  document.addEventListener('securitypolicyviolation', e =>
    console.error(`Content-Security-Policy blocked ${e.blockedURI} (${e.violatedDirective})`));
});

// Given as text, the expression is evaluated by the browser itself, as the console does, so the
// page's policy (which forbids eval) does not apply to it; a promise is awaited.
const evaluate = expression => page.evaluate(expression);

// Polls a page state until it holds or the time is up.
async function waitFor(expression, timeout) {
  const deadline = Date.now() + timeout * 1000;
  for (;;) {
    try {
      if (await evaluate(expression)) return null;
    } catch (error) {
      if (Date.now() >= deadline) throw error;  // else a document being replaced
    }
    if (Date.now() >= deadline) throw new Error(`timed out waiting for ${expression}`);
    await new Promise(resolve => setTimeout(resolve, 20));
  }
}

const commands = {
  async open({url, ready, timeout}) {
    errors.length = 0;
    dialogs.length = 0;
    pageUrl = url;
    await page.goto(url, {waitUntil: 'load', timeout: timeout * 1000});
    return waitFor(ready, timeout);
  },
  evaluate: ({expression}) => evaluate(expression),
  wait_for: ({expression, timeout}) => waitFor(expression, timeout),
  async mouse({kind, x, y}) {
    if (!['mouseMoved', 'mousePressed', 'mouseReleased'].includes(kind)) throw new Error(`unknown pointer event ${kind}`);
    await page.mouse.move(x, y);
    if (kind === 'mousePressed') await page.mouse.down();
    if (kind === 'mouseReleased') await page.mouse.up();
    return null;
  },
  errors: () => errors.slice(),
  dialogs: () => dialogs.slice(),
  async close() {
    await browser.close();
    return null;
  },
};

const lines = readline.createInterface({input: process.stdin});
for await (const line of lines) {
  let answer;
  try {
    const request = JSON.parse(line);
    const run = commands[request.cmd];
    if (!run) throw new Error(`unknown command ${request.cmd}`);
    const value = await run(request);
    answer = {ok: value === undefined ? null : value};
  } catch (error) {
    answer = {error: String(error?.message ?? error)};
  }
  process.stdout.write(JSON.stringify(answer) + '\n');
  if (answer.ok === null && JSON.parse(line).cmd === 'close') break;
}
await browser.close().catch(() => {});
process.exit(0);
