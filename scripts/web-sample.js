// scripts/run-sample --web: the page served at URL opens the sample in Debian's Chromium
// (headless) as a user would: the container picked, the password typed, the plaintext
// shown; prints what the page shows and saves a screenshot.
//
// usage: node scripts/web-sample.js URL CONTAINER PASSWORD SCREENSHOT
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [url, container, password, screenshot] = process.argv.slice(2);
const { chromium } = require(path.join(__dirname, '..', 'build', 'npm', 'node_modules', 'playwright-core'));

(async () => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qv3-sample-chromium-'));
  const args = ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'];
  if (process.getuid() === 0) args.push('--no-sandbox');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args, viewport: { width: 1000, height: 760 },
  });
  try {
    const page = await context.newPage();
    await page.goto(url);
    await page.waitForSelector('body[data-ready]');
    await page.setInputFiles('#open-files', container);
    await page.fill('#open-password', password);
    await page.click('#open-start');
    await page.waitForSelector('#open-list li:not([data-state="waiting"]):not([data-state="working"]):not([data-state="checking"])');
    if ((await page.getAttribute('#open-list li', 'data-state')) !== 'done') {
      throw new Error(await page.textContent('#open-list li'));
    }
    await page.click('#open-list li button.view');
    await page.waitForSelector('#view-text');
    console.log(`the page shows ${await page.textContent('#view-title')}:`);
    console.log(await page.textContent('#view-text'));
    await page.screenshot({ path: screenshot, fullPage: true });
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
})().catch((e) => {
  console.error(`web-sample.js: ${e.message}`);
  process.exit(1);
});
