// A 4 GiB container through the page in Chromium (QV3_WEB_LARGE=1; scripts/test-all
// web-large runs it, CI does not): decrypted and made again straight into a picked
// folder, the output's SHA-256 checked, the renderer's resident memory sampled all along
// (it must stay a small part of the file: nothing is held whole); and the
// same size refused up front on the private-storage road where the browser's room is
// smaller. QV3_WEB_LARGE_MIB sets another size. Prints the figures the README gives.
'use strict';

const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');
const h = require('./helpers.js');

const large = process.env.QV3_WEB_LARGE === '1';
const mib = Number(process.env.QV3_WEB_LARGE_MIB || 4096);

// The resident memory (KiB) of the largest renderer process running: the page's, with its
// workers and the engine's linear memory (run with no other browser about).
function rendererMemory() {
  let most = 0;
  for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const cmdline = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (!cmdline.includes('--type=renderer')) continue;
      const m = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (m) most = Math.max(most, Number(m[1]));
    } catch (e) {
      // gone meanwhile
    }
  }
  return most;
}

// The one file of exactly size bytes under folder (the browser keeps a picked folder of
// its own storage among its profile's files, under names of its own).
function fileOfSize(folder, size) {
  const found = [];
  (function walk(dir) {
    for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, e.name);
      if (e.isDirectory()) walk(p);
      else if (e.isFile() && fs.statSync(p).size === size) found.push(p);
    }
  })(folder);
  assert.equal(found.length, 1, `one file of ${size} bytes`);
  return found[0];
}

function sha256Of(file) {
  const hash = crypto.createHash('sha256');
  const fd = fs.openSync(file, 'r');
  const buffer = Buffer.alloc(16 << 20);
  for (let n; (n = fs.readSync(fd, buffer)) > 0;) hash.update(buffer.subarray(0, n));
  fs.closeSync(fd);
  return hash.digest('hex');
}

test(`a ${mib} MiB container decrypted and made again into a picked folder in bounded memory; refused up front where the storage is smaller`, { skip: !large && 'set QV3_WEB_LARGE=1 (scripts/test-all web-large)' }, async () => {
  const { chromium } = require(path.join(h.paths.nodeModules, 'playwright-core'));
  const work = h.tempDir('qv3-web-large-');
  const { server, url } = await h.serveSite();
  const profile = h.tempDir('qv3-chromium-large-');
  const args = ['--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  const context = await chromium.launchPersistentContext(profile, { executablePath: h.paths.chromium, headless: true, args });
  try {
    // The plaintext: random bytes (no two pieces alike), and its container made by qv3.
    const plain = path.join(work, 'big.bin');
    const fd = fs.openSync(plain, 'wx');
    const piece = crypto.randomBytes(16 << 20);
    for (let i = 0; i < mib / 16; ++i) {
      piece.writeUInt32LE(i, 0);
      fs.writeSync(fd, piece);
    }
    fs.closeSync(fd);
    const plainSha = sha256Of(plain);
    const folder = path.join(work, 'c');
    fs.mkdirSync(folder);
    fs.linkSync(plain, path.join(folder, 'big.bin'));
    h.qv3Ok(folder, ['encrypt', '--delete-source', 'big.bin'], Buffer.from('pw'));
    const container = path.join(folder, 'big.bin.aqv3');
    const containerSize = fs.statSync(container).size;

    const page = await context.newPage();
    await page.goto(url);
    await page.waitForSelector('body[data-ready="opfs"]');
    // The picked folder: one of the page's own storage (the picker has no driver).
    await page.evaluate(() => {
      window.showDirectoryPicker = async () => (await navigator.storage.getDirectory()).getDirectoryHandle('picked', { create: true });
    });
    const idle = rendererMemory();
    let peak = idle;
    const sampler = setInterval(() => (peak = Math.max(peak, rendererMemory())), 200);
    const figures = {};
    for (const [kind, input, outputSize] of [['open', container, mib * 1048576], ['make', plain, containerSize]]) {
      await page.setInputFiles(`#${kind}-files`, input);
      await page.waitForFunction((k) => [...document.querySelectorAll(`#${k}-list li`)].every((li) => li.dataset.state !== 'checking'), kind, { timeout: 0 });
      await page.fill(`#${kind}-password`, 'pw');
      if (kind === 'make') await page.fill('#make-again', 'pw');
      const start = Date.now();
      await page.click(`#${kind}-start-into`);
      await page.waitForFunction((k) => ['written', 'failed'].includes(document.querySelector(`#${k}-list li`).dataset.state), kind,
        { timeout: 0, polling: 1000 });
      const seconds = (Date.now() - start) / 1000;
      assert.equal(await page.getAttribute(`#${kind}-list li`, 'data-state'), 'written', await page.textContent(`#${kind}-list li`));
      figures[kind] = { seconds, mbps: fs.statSync(input).size / seconds / 1e6 };
      const output = fileOfSize(profile, outputSize);
      if (kind === 'open') {
        assert.equal(sha256Of(output), plainSha, 'the plaintext written into the folder');
        await page.evaluate(async () => (await (await navigator.storage.getDirectory()).getDirectoryHandle('picked')).removeEntry('big.bin'));
      } else {
        const back = path.join(work, 'back');
        fs.mkdirSync(back);
        fs.linkSync(output, path.join(back, 'big.bin.aqv3'));
        h.qv3Ok(back, ['decrypt', 'big.bin.aqv3'], Buffer.from('pw'));
        assert.equal(sha256Of(path.join(back, 'big.bin')), plainSha, 'the container made there, decrypted by qv3');
      }
    }
    clearInterval(sampler);
    const grew = (peak - idle) / 1024;
    process.stdout.write(`web-large: ${mib} MiB; decrypt ${figures.open.seconds.toFixed(1)} s (${figures.open.mbps.toFixed(0)} MB/s), ` +
      `encrypt ${figures.make.seconds.toFixed(1)} s (${figures.make.mbps.toFixed(0)} MB/s); the renderer's resident memory ` +
      `${(idle / 1024).toFixed(0)} MiB idle, ${(peak / 1024).toFixed(0)} MiB at the peak (+${grew.toFixed(0)} MiB)\n`);
    // Bounded, not held: the renderer (page, workers, engine, and the browser's own buffers
    // between them) grows by a small part of the file, whatever its size.
    assert.ok(grew < 512, `the renderer grew by ${grew.toFixed(0)} MiB`);

    // The private-storage road: the same size refused before it starts where the room the
    // browser states is smaller.
    await page.evaluate((room) => {
      navigator.storage.estimate = async () => ({ quota: room, usage: 0 });
    }, Math.floor(containerSize / 2));
    await page.setInputFiles('#open-files', container);
    await page.waitForFunction(() => [...document.querySelectorAll('#open-list li')].every((li) => li.dataset.state !== 'checking'), null, { timeout: 0 });
    await page.fill('#open-password', 'pw');
    await page.waitForFunction(() => document.getElementById('open-notice').classList.contains('warn'));
    assert.match(await page.textContent('#open-notice'), /MiB|GiB/);
    assert.equal(await page.isDisabled('#open-start'), true, 'the private-storage road refused up front');
    assert.equal(await page.isDisabled('#open-start-into'), false, 'the picked folder still offered');
  } finally {
    await context.close();
    server.close();
    fs.rmSync(work, { recursive: true, force: true });
    fs.rmSync(profile, { recursive: true, force: true });
  }
});
