// The page as assistive technology and the keyboard meet it, in Debian's Chromium:
// axe-core (pinned in build/npm) finds no violation of the WCAG 2.1 A and AA rules in
// either language, in each state a user passes through, in light and dark schemes; the
// open and make flows work from the keyboard alone; what happens is announced; the page
// fits 320 CSS pixels and 200 % zoom without sideways scrolling.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, test } = require('node:test');
const h = require('./helpers.js');

const { chromium } = require(path.join(h.paths.nodeModules, 'playwright-core'));
const axeSource = fs.readFileSync(path.join(h.paths.nodeModules, 'axe-core', 'axe.min.js'), 'utf8');

const sample = path.join(h.paths.samples, 'welcome.txt.aqv3');
const samplePassword = fs.readFileSync(path.join(h.paths.samples, 'welcome.password'), 'utf8').trim();
const work = h.tempDir('qv3-web-access-');
let site;
let server;
const contexts = [];

before(async () => {
  ({ server, url: site } = await h.serveSite());
});

after(async () => {
  for (const c of contexts) await c.close();
  server.close();
  fs.rmSync(work, { recursive: true, force: true });
});

async function open({ locale = 'ko-KR', width = 1000, height = 760, scale = 1, colorScheme = 'light', reducedMotion = 'no-preference' } = {}) {
  const args = ['--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  const context = await chromium.launchPersistentContext(h.tempDir('qv3-chromium-'), {
    executablePath: h.paths.chromium, headless: true, args, locale, acceptDownloads: true,
    viewport: { width, height }, deviceScaleFactor: scale, colorScheme, reducedMotion,
  });
  contexts.push(context);
  const page = await context.newPage();
  // Playwright turns on the catching of file choosers when a listener is added, without
  // waiting for it: a key pressed right after waitForEvent('filechooser') could reach the
  // page first and open a chooser no one catches. Listening from the start leaves none.
  page.on('filechooser', () => {});
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e.message));
  await page.goto(site);
  await page.waitForSelector('body[data-ready="opfs"]');
  return page;
}

// The WCAG 2.1 A and AA rules of axe-core over the page as it stands: their violations.
async function violations(page) {
  await page.evaluate(axeSource); // through the driver: the page's own policy allows no script but its own
  const result = await page.evaluate(() => window.axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
  }));
  return result.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}

function settled(page, kind) {
  return page.waitForFunction((k) => document.getElementById(`${k}-cancel`).hidden &&
    [...document.querySelectorAll(`#${k}-list li`)].every((li) => !['waiting', 'working', 'checking'].includes(li.dataset.state)), kind);
}

test('no WCAG 2.1 A or AA violation in Korean or English, light or dark: first state, a wrong password, an open, a container made', async () => {
  const memo = path.join(fs.mkdtempSync(path.join(work, 'm-')), 'memo.txt');
  fs.writeFileSync(memo, '메모');
  for (const locale of ['ko-KR', 'en-US']) {
    for (const colorScheme of ['light', 'dark']) {
      const page = await open({ locale, colorScheme });
      const found = {};
      found.first = await violations(page);
      await page.setInputFiles('#open-files', sample);
      await settled(page, 'open');
      await page.fill('#open-password', 'wrong');
      await page.click('#open-start');
      await settled(page, 'open');
      found.wrong = await violations(page);
      await page.fill('#open-password', samplePassword);
      await page.click('#open-start');
      await settled(page, 'open');
      assert.equal(await page.getAttribute('#open-list li', 'data-state'), 'done');
      await page.click('#open-list li button.view');
      await page.waitForSelector('#view-text');
      found.opened = await violations(page);
      await page.setInputFiles('#make-files', memo);
      await page.fill('#make-password', 'pw');
      await page.fill('#make-again', 'pw');
      await page.click('#make-start');
      await settled(page, 'make');
      found.made = await violations(page);
      assert.deepEqual(found, { first: [], wrong: [], opened: [], made: [] }, `${locale}, ${colorScheme}`);
      assert.deepEqual(page.errors, []);
    }
  }
});

// Presses Tab until the element with id has the focus (at most 30 times).
async function tabTo(page, id) {
  for (let i = 0; i < 30; ++i) {
    if (await page.evaluate(() => document.activeElement && document.activeElement.id) === id) return;
    await page.keyboard.press('Tab');
  }
  throw new Error(`Tab never reached #${id}`);
}

test('from the keyboard alone: open the sample and save it, make a container and save it; every step announced', async () => {
  const page = await open();
  // No mouse event may reach the page: a click would be a test of something else.
  await page.evaluate(() => ['mousedown', 'mouseup', 'click'].forEach((type) => window.addEventListener(type, (e) => {
    if (e.isTrusted && e.detail > 0) window.qv3MouseUsed = true;
  }, true)));
  await tabTo(page, 'open-files');
  const [chooser] = await Promise.all([page.waitForEvent('filechooser'), page.keyboard.press('Space')]);
  await chooser.setFiles(sample);
  await settled(page, 'open');
  await page.waitForFunction(() => document.activeElement.id === 'open-password');
  assert.match(await page.textContent('#open-status'), /1/);
  await page.keyboard.type(samplePassword);
  await page.waitForFunction(() => !document.getElementById('open-start').disabled);
  await page.keyboard.press('Enter');
  await settled(page, 'open');
  assert.match(await page.textContent('#open-status'), /완료 1개/);
  // The focus lands on the result; Tab reaches Save.
  await page.waitForFunction(() => document.activeElement.classList.contains('view'));
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.className), 'save');
  const [download] = await Promise.all([page.waitForEvent('download'), page.keyboard.press('Enter')]);
  assert.equal(download.suggestedFilename(), 'welcome.txt');
  await page.waitForFunction(() => /welcome\.txt/.test(document.getElementById('open-status').textContent));

  const memo = path.join(fs.mkdtempSync(path.join(work, 'k-')), 'memo.txt');
  fs.writeFileSync(memo, '키보드');
  await tabTo(page, 'make-files');
  const [makeChooser] = await Promise.all([page.waitForEvent('filechooser'), page.keyboard.press('Space')]);
  await makeChooser.setFiles(memo);
  await page.waitForFunction(() => document.activeElement.id === 'make-password');
  await page.keyboard.type('pw');
  await page.keyboard.press('Tab');
  await page.keyboard.type('pw');
  await page.waitForFunction(() => !document.getElementById('make-start').disabled);
  await page.keyboard.press('Enter');
  await settled(page, 'make');
  await page.waitForFunction(() => document.activeElement.classList.contains('save'));
  const [made] = await Promise.all([page.waitForEvent('download'), page.keyboard.press('Enter')]);
  assert.equal(made.suggestedFilename(), 'memo.txt.aqv3');
  const folder = fs.mkdtempSync(path.join(work, 'd-'));
  fs.copyFileSync(await made.path(), path.join(folder, 'memo.txt.aqv3'));
  h.qv3Ok(folder, ['decrypt', 'memo.txt.aqv3'], Buffer.from('pw'));
  assert.equal(fs.readFileSync(path.join(folder, 'memo.txt'), 'utf8'), '키보드');
  assert.equal(await page.evaluate(() => window.qv3MouseUsed || false), false);

  // A failure is said at once, and the field it concerns says it too.
  await page.fill('#make-password', '가😀');
  await page.fill('#make-again', '가😀');
  await page.waitForFunction(() => document.getElementById('make-notice').textContent.includes('😀'));
  assert.equal(await page.getAttribute('#make-notice', 'role'), 'alert');
  assert.match(await page.getAttribute('#make-password', 'aria-describedby'), /make-notice/);
  assert.deepEqual(page.errors, []);
});

test('320 CSS pixels wide and 200 % zoom: nothing scrolls sideways; reduced motion: nothing moves', async () => {
  for (const [width, scale] of [[320, 1], [500, 2]]) {
    const page = await open({ width, height: 640, scale, reducedMotion: 'reduce' });
    await page.setInputFiles('#open-files', sample);
    await settled(page, 'open');
    await page.fill('#open-password', samplePassword);
    await page.click('#open-start');
    await settled(page, 'open');
    await page.click('#open-list li button.view');
    await page.waitForSelector('#view-text');
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
    assert.ok(overflow <= 0, `${width} px at ${scale}x: ${overflow} px to scroll sideways`);
    assert.equal(await page.evaluate(() => document.getAnimations().length), 0);
    assert.deepEqual(await violations(page), [], `${width} px at ${scale}x`);
  }
});
