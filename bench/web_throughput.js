// The engine's WebAssembly at work on one large file: in node, and in the page in Debian's
// Chromium (served from 127.0.0.1, results in the origin's private storage as a user gets
// them). Prints one JSON object: MB/s (10^6 bytes per second) of each, the best of the
// runs, and the resident memory of the browser's processes once the page has loaded and at
// its peak during the page's runs (summed over the processes, so pages they share count
// once in each).
// Also the seconds the page takes to open many small containers at once (picked, checked,
// password typed, every one decrypted), the best of the runs.
// Started by bench/throughput-web, which gives every path.
//
// The same page runs in Debian's Firefox ESR too (FIREFOX, through WebDriver BiDi with
// puppeteer-core), where it keeps results in the origin's private storage as well.
//
// usage: node web_throughput.js SITE ENGINE_JS ENGINE_WASM NODE_MODULES CHROMIUM PLAINTEXT CONTAINER PASSWORD RUNS SMALL_DIR FIREFOX
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');

const [site, engineJs, engineWasm, nodeModules, chromiumPath, plaintext, container, password, runsText, smallDir,
  firefoxPath] = process.argv.slice(2);
const runs = Number(runsText);
const { Qv3Engine } = require(path.join(__dirname, '..', 'web', 'engine_host.js'));

function seconds(start) {
  return Number(process.hrtime.bigint() - start) / 1e9;
}

function fileSource(file) {
  const fd = fs.openSync(file, 'r');
  return { fd, size: fs.fstatSync(fd).size, read: (view, position) => fs.readSync(fd, view, 0, view.length, position) };
}

// The plaintext or container written to a file, as the page writes it to its storage.
function fileSink(file) {
  const fd = fs.openSync(file, 'wx');
  return { fd, write: (view) => fs.writeSync(fd, view) };
}

async function inNode() {
  const engine = await Qv3Engine.create(require(engineJs), fs.readFileSync(engineWasm));
  const best = { decrypt: 0, encrypt: 0 };
  const scratch = fs.mkdtempSync(path.join(path.dirname(container), 'node-'));
  for (let i = 0; i < runs; ++i) {
    for (const [what, input, name] of [['decrypt', container, path.basename(container)], ['encrypt', plaintext, path.basename(plaintext)]]) {
      const source = fileSource(input);
      const out = path.join(scratch, `${what}-${i}`);
      const sink = fileSink(out);
      const start = process.hrtime.bigint();
      const session = engine.open(what === 'encrypt', source, sink, name, Buffer.from(password));
      let r = session.failed ? 'failed' : 'more';
      while (r === 'more') r = session.step(4 << 20);
      const mbps = source.size / seconds(start) / 1e6;
      if (r !== 'done') throw new Error(`node ${what}: ${session.message}`);
      session.free();
      fs.closeSync(source.fd);
      fs.closeSync(sink.fd);
      fs.rmSync(out);
      best[what] = Math.max(best[what], mbps);
    }
  }
  fs.rmSync(scratch, { recursive: true });
  return best;
}

// Resident memory (KiB) of every process started with the profile folder.
function browserMemory(profile) {
  let total = 0;
  for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      if (!fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes(profile)) continue;
      const m = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (m) total += Number(m[1]);
    } catch (e) {
      // gone meanwhile
    }
  }
  return total;
}

async function inPage() {
  const { chromium } = require(path.join(nodeModules, 'playwright-core'));
  const server = http.createServer((req, res) => {
    const name = path.basename(new URL(req.url, 'http://x').pathname) || 'index.html';
    const file = path.join(site, name);
    if (!fs.existsSync(file)) return res.writeHead(404).end();
    const type = { html: 'text/html', js: 'text/javascript', css: 'text/css' }[path.extname(name).slice(1)];
    res.writeHead(200, { 'Content-Type': `${type}; charset=utf-8` }).end(fs.readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qv3-bench-chromium-'));
  const args = ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'];
  if (process.getuid() === 0) args.push('--no-sandbox');
  const context = await chromium.launchPersistentContext(profile, { executablePath: chromiumPath, headless: true, args });
  let peak = 0;
  let idle = 0;
  let sampler = null;
  const best = { decrypt: 0, encrypt: 0 };
  try {
    for (let i = 0; i < runs; ++i) {
      for (const [what, kind, input] of [['decrypt', 'open', container], ['encrypt', 'make', plaintext]]) {
        const page = await context.newPage();
        await page.goto(`http://127.0.0.1:${server.address().port}/`);
        await page.waitForSelector('body[data-ready="opfs"]');
        if (!sampler) {
          // What the browser holds with the page loaded, before any work.
          await page.waitForTimeout(1000);
          idle = browserMemory(profile);
          sampler = setInterval(() => (peak = Math.max(peak, browserMemory(profile))), 100);
        }
        await page.setInputFiles(`#${kind}-files`, input);
        await page.fill(`#${kind}-password`, password);
        if (kind === 'make') await page.fill('#make-again', password);
        const start = process.hrtime.bigint();
        await page.click(`#${kind}-start`);
        await page.waitForSelector(`#${kind}-list li:not([data-state="waiting"]):not([data-state="working"])`, { timeout: 600000 });
        const mbps = fs.statSync(input).size / seconds(start) / 1e6;
        if ((await page.getAttribute(`#${kind}-list li`, 'data-state')) !== 'done') throw new Error(`page ${what} failed`);
        await page.close(); // its stored output goes with it
        best[what] = Math.max(best[what], mbps);
      }
    }
    // Many small containers: from the pick to the last row done.
    const small = fs.readdirSync(smallDir).map((name) => path.join(smallDir, name));
    for (let i = 0; i < runs; ++i) {
      const page = await context.newPage();
      await page.goto(`http://127.0.0.1:${server.address().port}/`);
      await page.waitForSelector('body[data-ready="opfs"]');
      const start = process.hrtime.bigint();
      await page.setInputFiles('#open-files', small);
      await page.fill('#open-password', password, { timeout: 600000 });
      await page.click('#open-start');
      await page.waitForFunction((n) => document.querySelectorAll('#open-list li[data-state="done"]').length === n,
        small.length, { timeout: 600000, polling: 100 });
      const took = seconds(start);
      await page.close();
      best.small = Math.min(best.small || Infinity, took);
    }
    best.smallCount = small.length;
  } finally {
    clearInterval(sampler);
    await context.close();
    server.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  return { ...best, idleMiB: idle / 1024, peakMiB: peak / 1024 };
}

// The page in Firefox: the same runs, the same clock (the click to the row done).
async function inFirefox() {
  const puppeteer = require(path.join(nodeModules, 'puppeteer-core'));
  const server = http.createServer((req, res) => {
    const name = path.basename(new URL(req.url, 'http://x').pathname) || 'index.html';
    const file = path.join(site, name);
    if (!fs.existsSync(file)) return res.writeHead(404).end();
    const type = { html: 'text/html', js: 'text/javascript', css: 'text/css' }[path.extname(name).slice(1)];
    res.writeHead(200, { 'Content-Type': `${type}; charset=utf-8` }).end(fs.readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qv3-bench-firefox-'));
  const browser = await puppeteer.launch({ browser: 'firefox', executablePath: firefoxPath, headless: true,
    protocol: 'webDriverBiDi', userDataDir: profile });
  const best = { decrypt: 0, encrypt: 0 };
  try {
    const cases = [['decrypt', 'open', [container]], ['encrypt', 'make', [plaintext]]];
    const small = fs.readdirSync(smallDir).map((name) => path.join(smallDir, name));
    for (let i = 0; i < runs; ++i) {
      for (const [what, kind, inputs] of cases.concat([['small', 'open', small]])) {
        const context = await browser.createBrowserContext();
        const page = await context.newPage();
        await page.goto(`http://127.0.0.1:${server.address().port}/`);
        await page.waitForSelector('body[data-ready="opfs"]');
        const input = await page.$(`#${kind}-files`);
        const start = process.hrtime.bigint();
        await input.uploadFile(...inputs);
        await page.waitForSelector(`#${kind}-form:not([hidden])`, { timeout: 600000 });
        await page.type(`#${kind}-password`, password);
        if (kind === 'make') await page.type('#make-again', password);
        await page.waitForFunction((k) => !document.getElementById(`${k}-start`).disabled, {}, kind);
        const clicked = process.hrtime.bigint();
        await page.click(`#${kind}-start`);
        await page.waitForFunction((k, n) => document.querySelectorAll(`#${k}-list li[data-state="done"]`).length === n ||
          document.querySelector(`#${k}-list li[data-state="failed"]`), { timeout: 600000, polling: 100 }, kind, inputs.length);
        if (await page.$(`#${kind}-list li[data-state="failed"]`)) throw new Error(`Firefox ${what} failed`);
        if (what === 'small') best.small = Math.min(best.small || Infinity, seconds(start));
        else best[what] = Math.max(best[what], fs.statSync(inputs[0]).size / seconds(clicked) / 1e6);
        await context.close();
      }
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  return best;
}

(async () => {
  const node = await inNode();
  const page = await inPage();
  const firefox = firefoxPath ? await inFirefox() : null;
  process.stdout.write(JSON.stringify({ node, page, firefox }) + '\n');
})().catch((e) => {
  process.stderr.write(`web_throughput.js: ${e.stack || e}\n`);
  process.exit(1);
});
