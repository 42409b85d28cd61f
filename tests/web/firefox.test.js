// The page in the second browser engine: Debian's Firefox ESR, driven through WebDriver
// BiDi by puppeteer-core (pinned in build/npm). Firefox has no File System Access API, so
// the page takes its fallback roads there, and this test says which: results in the
// origin's private storage (encrypted under the page's key), no "into a folder" buttons,
// folders as a .zip. The flows of the Chromium tests that need no such API run here too:
// the sample opened and shown, a wrong password and a refused container with the engine's
// text, a container made here opened by qv3, the password rule, and the WCAG 2.1 A and AA
// rules of axe-core in both languages.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, test } = require('node:test');
const h = require('./helpers.js');

const puppeteer = require(path.join(h.paths.nodeModules, 'puppeteer-core'));
const axeSource = fs.readFileSync(path.join(h.paths.nodeModules, 'axe-core', 'axe.min.js'), 'utf8');
const firefox = process.env.QV3_FIREFOX || '/usr/bin/firefox-esr';

const sample = path.join(h.paths.samples, 'welcome.txt.aqv3');
const samplePassword = fs.readFileSync(path.join(h.paths.samples, 'welcome.password'), 'utf8').trim();
const work = h.tempDir('qv3-web-firefox-');
let served;
let browser;

before(async () => {
  served = await h.serveSite();
  browser = await puppeteer.launch({
    browser: 'firefox', executablePath: firefox, headless: true, protocol: 'webDriverBiDi',
    userDataDir: h.tempDir('qv3-firefox-'),
    extraPrefsFirefox: { 'intl.accept_languages': 'ko-KR, ko' },
  });
});

after(async () => {
  if (browser) await browser.close();
  served.server.close();
  fs.rmSync(work, { recursive: true, force: true });
});

function place(name, bytes) {
  const file = path.join(fs.mkdtempSync(path.join(work, 'f-')), name);
  fs.writeFileSync(file, bytes, { flag: 'wx' });
  return file;
}

async function open() {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e.message));
  await page.goto(served.url);
  await page.waitForSelector('body[data-ready]');
  // What the page offers to save is caught as it is offered (Firefox's downloads have no
  // BiDi driver): each Blob the page makes a URL of, by that URL.
  await page.evaluate(() => {
    window.qv3Offered = new Map();
    const make = URL.createObjectURL;
    URL.createObjectURL = (blob) => {
      const url = make.call(URL, blob);
      window.qv3Offered.set(url, blob);
      return url;
    };
    HTMLAnchorElement.prototype.click = function () {
      window.qv3Saved = { name: this.download, blob: window.qv3Offered.get(this.href) };
    };
  });
  return page;
}

async function settled(page, kind) {
  await page.waitForFunction((k) => document.getElementById(`${k}-cancel`).hidden &&
    [...document.querySelectorAll(`#${k}-list li`)].every((li) => !['waiting', 'working', 'checking'].includes(li.dataset.state)), {}, kind);
}

function states(page, kind) {
  return page.$$eval(`#${kind}-list li`, (rows) => rows.map((li) => li.dataset.state));
}

async function type(page, selector, text) {
  await page.$eval(selector, (e) => { e.value = ''; });
  await page.type(selector, text);
}

async function run(page, kind, files, password) {
  const input = await page.$(`#${kind}-files`);
  await input.uploadFile(...[].concat(files));
  await settled(page, kind);
  if (await page.$eval(`#${kind}-form`, (f) => f.hidden)) return states(page, kind);
  await type(page, `#${kind}-password`, password);
  if (kind === 'make') await type(page, '#make-again', password);
  await page.waitForFunction((k) => !document.getElementById(`${k}-start`).disabled, {}, kind);
  await page.click(`#${kind}-start`);
  await settled(page, kind);
  return states(page, kind);
}

async function save(page, kind, index) {
  await page.evaluate(() => { window.qv3Saved = null; });
  await page.click(`#${kind}-list li[data-index="${index}"] button.save`);
  await page.waitForFunction(() => window.qv3Saved !== null);
  const saved = await page.evaluate(async () => ({
    name: window.qv3Saved.name,
    bytes: Array.from(new Uint8Array(await window.qv3Saved.blob.arrayBuffer())),
  }));
  return { name: saved.name, bytes: Buffer.from(saved.bytes) };
}

async function violations(page) {
  await page.evaluate(axeSource);
  const result = await page.evaluate(() => window.axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
  }));
  return result.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}

test('Firefox takes the fallback roads: the private storage, encrypted; no folder to write into', async () => {
  const page = await open();
  assert.equal(await page.$eval('body', (b) => b.dataset.ready), 'opfs', 'results in the private storage');
  assert.equal(await page.evaluate(() => typeof window.showDirectoryPicker), 'undefined');
  assert.equal(await page.$eval('#open-start-into', (b) => b.hidden), true);
  assert.equal(await page.$eval('#make-start-into', (b) => b.hidden), true);
  assert.equal(await page.$eval('#open-files', (i) => i.accept.split(',').length), 14);
  assert.equal(await page.$eval('h1', (e) => e.textContent), '타르베신 외부암호파일 뷰어');
  assert.deepEqual(page.errors, []);
});

test('Firefox: the sample opened, shown and saved; a wrong password and a refused container in the engine\'s words', async () => {
  const page = await open();
  assert.deepEqual(await run(page, 'open', sample, samplePassword), ['done']);
  const folder = path.dirname(place('welcome.txt.aqv3', fs.readFileSync(sample)));
  h.qv3Ok(folder, ['decrypt', 'welcome.txt.aqv3'], Buffer.from(samplePassword));
  const expected = fs.readFileSync(path.join(folder, 'welcome.txt'));
  await page.click('#open-list li button.view');
  await page.waitForSelector('#view-text');
  assert.equal(await page.$eval('#view-text', (e) => e.textContent), new TextDecoder().decode(expected));
  const saved = await save(page, 'open', 0);
  assert.equal(saved.name, 'welcome.txt');
  assert.ok(saved.bytes.equals(expected));

  const message = h.messages();
  assert.deepEqual(await run(page, 'open', sample, 'wrong'), ['failed']);
  assert.equal(await page.$eval('#open-list li .failure', (e) => e.textContent), message('KeyBlockMac', 'welcome.txt.aqv3').replace(/\r\n/g, '\n'));
  const cut = place('welcome.txt.aqv3', fs.readFileSync(sample).subarray(0, 40));
  assert.deepEqual(await run(page, 'open', cut, samplePassword), ['refused']);
  assert.equal(await page.$eval('#open-list li .failure', (e) => e.textContent), message('TooSmall', 'welcome.txt.aqv3').replace(/\r\n/g, '\n'));
  assert.deepEqual(page.errors, []);
});

test('Firefox: made here with 가나다라마, keyed with its code page 949 bytes; a password no form keeps refused', async () => {
  const page = await open();
  assert.deepEqual(await run(page, 'make', place('memo.txt', Buffer.from('메모')), '가나다라마'), ['done']);
  const made = await save(page, 'make', 0);
  assert.equal(made.name, 'memo.txt.aqv3');
  const folder = path.dirname(place(made.name, made.bytes));
  h.qv3Ok(folder, ['decrypt', made.name], Buffer.from('b0a1b3aab4d9b6f3b8b6', 'hex'));
  assert.equal(fs.readFileSync(path.join(folder, 'memo.txt'), 'utf8'), '메모');
  await type(page, '#make-password', '가😀');
  await type(page, '#make-again', '가😀');
  await page.waitForFunction(() => document.getElementById('make-notice').textContent.includes('😀'));
  assert.equal(await page.$eval('#make-start', (b) => b.disabled), true);
  assert.deepEqual(page.errors, []);
});

test('Firefox: no WCAG 2.1 A or AA violation in Korean or English, first state and after an open', async () => {
  const page = await open();
  const found = { ko: await violations(page) };
  assert.deepEqual(await run(page, 'open', sample, samplePassword), ['done']);
  found.koOpened = await violations(page);
  await page.click('#language');
  assert.equal(await page.$eval('html', (e) => e.lang), 'en');
  found.en = await violations(page);
  assert.deepEqual(found, { ko: [], koOpened: [], en: [] });
});
