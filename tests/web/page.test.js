// The page as a user drives it, in Debian's Chromium: served from a static server on
// 127.0.0.1 and opened straight from the folder. Every plaintext is checked against what
// the native qv3 makes of the same container; every failure shows the engine's own text;
// nothing is requested once the page has loaded. With QV3_SCREENSHOTS=FOLDER set, the
// pictures of the README are taken on the way.
'use strict';

const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, test } = require('node:test');
const h = require('./helpers.js');

let chromium;
try {
  ({ chromium } = require(path.join(h.paths.nodeModules, 'playwright-core')));
} catch (e) {
  throw new Error(`playwright-core is not in ${h.paths.nodeModules}: run scripts/install-deps (${e.message})`);
}

const SHOTS = process.env.QV3_SCREENSHOTS;
const sample = path.join(h.paths.samples, 'welcome.txt.aqv3');
const samplePassword = fs.readFileSync(path.join(h.paths.samples, 'welcome.password'));
const message = h.messages();
const work = h.tempDir('qv3-web-page-');

// The site from a static server that records every request it gets.
let server;
let site;
let requests;
let browsers = [];

before(async () => {
  ({ server, url: site, requests } = await h.serveSite());
});

after(async () => {
  for (const b of browsers) await b.close();
  server.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// A new browser with an empty profile of its own (so nothing is shared between tests).
async function browser(locale = 'ko-KR') {
  const args = ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  const context = await chromium.launchPersistentContext(h.tempDir('qv3-chromium-'), {
    executablePath: h.paths.chromium, headless: true, args, locale, acceptDownloads: true,
    viewport: { width: 1000, height: 760 },
  });
  browsers.push(context);
  return context;
}

async function open(context, url = site) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.errors = errors;
  await page.goto(url);
  await page.waitForSelector('body[data-ready]');
  assert.notEqual(await page.getAttribute('body', 'data-ready'), 'broken');
  return page;
}

// Waits until nothing in the list is being checked or run.
function settled(page, kind) {
  return page.waitForFunction((k) => document.getElementById(`${k}-cancel`).hidden &&
    [...document.querySelectorAll(`#${k}-list li`)].every((li) => !['waiting', 'working', 'checking'].includes(li.dataset.state)), kind);
}

// Runs the open (or make) list on files and waits until the run has ended; returns the
// rows' states. Containers refused before a password is asked for are never run: with
// none left, no password is asked for.
async function run(page, kind, files, password, again = password) {
  await page.setInputFiles(`#${kind}-files`, files);
  await settled(page, kind);
  if (await page.isHidden(`#${kind}-form`)) return states(page, kind);
  await page.fill(`#${kind}-password`, password);
  if (kind === 'make') await page.fill('#make-again', again);
  await page.click(`#${kind}-start`);
  await settled(page, kind);
  return states(page, kind);
}

function states(page, kind) {
  return page.$$eval(`#${kind}-list li`, (rows) => rows.map((li) => li.dataset.state));
}

async function save(page, kind, index) {
  const [download] = await Promise.all([
    page.waitForEvent('download'),
    page.click(`#${kind}-list li[data-index="${index}"] button.save`),
  ]);
  return { name: download.suggestedFilename(), bytes: fs.readFileSync(await download.path()) };
}

// Every file in the page's private storage: only outputs the page offers may be there.
function storedFiles(page) {
  return page.evaluate(async () => {
    const names = [];
    async function walk(dir) {
      for await (const [name, handle] of dir.entries()) {
        if (handle.kind === 'directory') await walk(handle);
        else names.push(name);
      }
    }
    await walk(await navigator.storage.getDirectory());
    return names;
  });
}

// The bytes of every file in the page's private storage.
async function storedBytes(page) {
  const all = await page.evaluate(async () => {
    const found = [];
    async function walk(dir) {
      for await (const [, handle] of dir.entries()) {
        if (handle.kind === 'directory') await walk(handle);
        else found.push(Array.from(new Uint8Array(await (await handle.getFile()).arrayBuffer())));
      }
    }
    await walk(await navigator.storage.getDirectory());
    return found;
  });
  return all.map((bytes) => Buffer.from(bytes));
}

// A copy of a file in the test's folder, under a name of our choosing.
function place(name, bytes) {
  const folder = fs.mkdtempSync(path.join(work, 'f-'));
  const file = path.join(folder, name);
  fs.writeFileSync(file, bytes, { flag: 'wx' });
  return file;
}

// A container made by qv3 from bytes; returns its path.
function nativeContainer(name, bytes, password, extra = []) {
  const plain = place(name, bytes);
  const folder = path.dirname(plain);
  h.qv3Ok(folder, ['encrypt', ...extra, name], password);
  fs.rmSync(plain);
  return path.join(folder, fs.readdirSync(folder)[0]);
}

function nativePlaintext(container, password) {
  const folder = path.dirname(place(path.basename(container), fs.readFileSync(container)));
  h.qv3Ok(folder, ['decrypt', path.basename(container)], password);
  return fs.readFileSync(path.join(folder, path.basename(container).slice(0, -5)));
}

const shown = (text) => text.replace(/\r\n/g, '\n');

test('the bundled sample: shown in the page and saved as qv3 decrypts it; the page in the browser\'s language', async () => {
  const context = await browser('ko-KR');
  const page = await open(context);
  assert.equal(await page.getAttribute('body', 'data-ready'), 'opfs');
  assert.equal(await page.textContent('h1'), '타르베신 외부암호파일 뷰어');
  if (SHOTS) await page.screenshot({ path: path.join(SHOTS, 'web-empty.png') });
  await page.setInputFiles('#open-files', sample);
  await page.type('#open-password', 'tarves');
  if (SHOTS) await page.screenshot({ path: path.join(SHOTS, 'web-password.png') });
  assert.deepEqual(await run(page, 'open', sample, samplePassword.toString()), ['done']);

  const expected = nativePlaintext(sample, samplePassword);
  assert.deepEqual(await storedFiles(page), [], 'a small output is held in the page\'s memory only');
  await page.click('#open-list li button.view');
  await page.waitForSelector('#view-text');
  assert.equal(await page.textContent('#view-text'), new TextDecoder().decode(expected));
  if (SHOTS) await page.screenshot({ path: path.join(SHOTS, 'web-decrypted.png') });
  const saved = await save(page, 'open', 0);
  assert.equal(saved.name, 'welcome.txt');
  assert.ok(saved.bytes.equals(expected));
  assert.deepEqual(await storedFiles(page), [], 'removed once saved');

  // A larger output is kept in the page's storage, encrypted under a key that cannot
  // leave the page; what a page keeps goes with it, and what it could not remove, the
  // next page removes.
  const larger = crypto.randomBytes(1 << 20);
  assert.deepEqual(await run(page, 'open', nativeContainer('larger.bin', larger, 'pw'), 'pw'), ['done']);
  const kept = await storedBytes(page);
  assert.equal(kept.length, 1, 'the one plaintext is kept');
  assert.ok(kept[0].length > larger.length && !kept[0].includes(larger.subarray(0, 16)) &&
    !kept[0].includes(larger.subarray(larger.length - 16)), 'kept encrypted');
  await page.close();
  let later;
  let left = ['?'];
  for (let tries = 0; tries < 10 && left.length; ++tries) {
    later = await open(context);
    left = await storedFiles(later);
    if (left.length) await later.close(); // the gone page's lock may not be released yet
  }
  assert.deepEqual(left, [], 'the next page removed what the closed one kept');

  await later.click('#language');
  assert.equal(await later.textContent('h1'), 'Tarvessin container viewer');
  const english = await open(await browser('en-US'));
  assert.equal(await english.textContent('h1'), 'Tarvessin container viewer');
  assert.equal(await english.getAttribute('html', 'lang'), 'en');
  // The engine speaks the page's language too.
  assert.deepEqual(await run(english, 'open', sample, 'wrong'), ['failed']);
  assert.equal(await english.textContent('#open-list li .failure'),
    shown('The file cannot be opened:\r\nwelcome.txt.aqv3\r\nThe file was changed, or the password is wrong.'));
  assert.deepEqual([...page.errors, ...later.errors, ...english.errors], []);
});

test('a wrong password, a damaged or cut container, too little storage: the engine\'s text or the room said up front, nothing offered, nothing kept', async () => {
  const page = await open(await browser());
  const bytes = fs.readFileSync(sample);
  const damaged = Buffer.from(bytes);
  damaged[bytes.length - 40] ^= 1; // the last ciphertext block
  // What the container's name, size and head tell is said before a password is asked for.
  const cases = [
    ['a wrong password', sample, 'wrong', 'KeyBlockMac', 'failed'],
    ['a changed ciphertext byte', place('welcome.txt.aqv3', damaged), samplePassword.toString(), 'BulkMac', 'failed'],
    ['five bytes cut off', place('welcome.txt.aqv3', bytes.subarray(0, bytes.length - 5)), samplePassword.toString(), 'BadCipherLength', 'refused'],
    ['a wrong signature', place('welcome.txt.aqv3', Buffer.concat([Buffer.from('BES'), bytes.subarray(3)])), samplePassword.toString(), 'BadSignature', 'refused'],
    ['a file too small', place('welcome.txt.aqv3', bytes.subarray(0, 40)), samplePassword.toString(), 'TooSmall', 'refused'],
  ];
  for (const [what, file, password, kind, state] of cases) {
    assert.deepEqual(await run(page, 'open', file, password), [state], what);
    assert.equal(await page.isHidden('#open-form'), state === 'refused', `${what}: a password is asked for only where it can help`);
    assert.equal(await page.textContent('#open-list li .failure'), shown(message(kind, path.basename(file))), what);
    assert.equal(await page.$$eval('#open-list li a.save, #open-list li button.view', (e) => e.length), 0, what);
    assert.deepEqual(await storedFiles(page), [], `${what}: nothing kept`);
    if (SHOTS && kind === 'KeyBlockMac') await page.screenshot({ path: path.join(SHOTS, 'web-error.png') });
  }
  // Not room enough in the page's storage for the result, as the browser states its room:
  // said before anything starts, with the room there is.
  const large = nativeContainer('large.bin', crypto.randomBytes(3 << 20), 'pw');
  const estimate = await page.evaluateHandle(() => navigator.storage.estimate);
  await page.evaluate(() => {
    navigator.storage.estimate = async () => ({ quota: 1 << 20, usage: 0 });
  });
  await page.setInputFiles('#open-files', large);
  await settled(page, 'open');
  await page.fill('#open-password', 'pw');
  await page.waitForFunction(() => /3\.0 MiB/.test(document.getElementById('open-notice').textContent));
  assert.match(await page.textContent('#open-notice'), /1\.0 MiB/, 'the room there is');
  assert.equal(await page.isDisabled('#open-start'), true, 'nothing starts');
  await page.evaluate((original) => {
    navigator.storage.estimate = original;
  }, estimate);
  // The storage full all the same while the work goes on (Chromium's quota, lowered through
  // DevTools, which its estimate does not tell): the engine's text, nothing kept.
  const session = await page.context().newCDPSession(page);
  await session.send('Storage.overrideQuotaForOrigin', { origin: new URL(site).origin, quotaSize: 2 << 20 });
  assert.deepEqual(await run(page, 'open', large, 'pw'), ['failed']);
  assert.match(await page.textContent('#open-list li .failure'), /^(다음 )?파일을 쓸 수 없습니다\.\nlarge\.bin:\nNo space left on device$/);
  assert.deepEqual(await storedFiles(page), [], 'nothing kept when the storage is full');
  await session.send('Storage.overrideQuotaForOrigin', { origin: new URL(site).origin });

  // The engine's name rule: a plaintext name must remain once the extension is cut.
  const short = place('.aqv3', bytes);
  assert.deepEqual(await run(page, 'open', short, samplePassword.toString()), ['refused']);
  assert.equal(await page.textContent('#open-list li .failure'), shown('엉뚱한 파일명입니다.\r\n.aqv3'));
  assert.deepEqual(page.errors, []);
});

test('several containers with one password; a failure or Cancel ends the run, later ones are not started', async () => {
  const page = await open(await browser());
  const first = crypto.randomBytes(300000); // kept in a file of the page's storage
  const third = crypto.randomBytes(5000);
  const a = nativeContainer('a.bin', first, 'same');
  const b = nativeContainer('b.bin', crypto.randomBytes(10), 'other');
  const c = nativeContainer('c.bin', third, 'same');

  assert.deepEqual(await run(page, 'open', [a, c], 'same'), ['done', 'done']);
  assert.ok((await save(page, 'open', 0)).bytes.equals(first));
  assert.ok((await save(page, 'open', 1)).bytes.equals(third));

  assert.deepEqual(await run(page, 'open', [a, b, c], 'same'), ['done', 'failed', 'notStarted']);
  assert.equal((await storedFiles(page)).length, 1, 'the file before the failure is kept');
  assert.ok((await save(page, 'open', 0)).bytes.equals(first));
  assert.deepEqual(await storedFiles(page), [], 'a saved output is removed from the page\'s storage');

  // Cancel while the large one is under way.
  const big = nativeContainer('big.bin', crypto.randomBytes(128 << 20), 'same');
  await page.setInputFiles('#open-files', [a, big, c]);
  await page.fill('#open-password', 'same');
  await page.click('#open-start');
  await page.waitForSelector('#open-list li[data-index="1"] progress');
  await page.waitForFunction(() => document.querySelector('#open-list li[data-index="1"] progress').value > 0);
  await page.click('#open-cancel');
  await page.waitForSelector('#open-cancel', { state: 'hidden' });
  assert.deepEqual(await states(page, 'open'), ['done', 'cancelled', 'notStarted']);
  assert.equal((await storedFiles(page)).length, 1, 'the cancelled output is removed');

  // Files chosen again while the ones before are still being checked: only the new list
  // counts, and what the old check still says is not heard.
  await page.setInputFiles('#open-files', [big, a, b]);
  await page.setInputFiles('#open-files', [c]);
  await settled(page, 'open');
  await page.waitForTimeout(500);
  assert.deepEqual(await states(page, 'open'), ['new']);
  assert.deepEqual(await run(page, 'open', [c], 'same'), ['done']);
  assert.deepEqual(page.errors, []);
});

test('a worker that dies mid-run: the run ends with a message, nothing left waiting', async () => {
  const page = await open(await browser());
  const big = nativeContainer('big.bin', crypto.randomBytes(64 << 20), 'pw');
  const small = nativeContainer('small.bin', crypto.randomBytes(100), 'pw');
  await page.setInputFiles('#open-files', [big, small]);
  await settled(page, 'open');
  await page.fill('#open-password', 'pw');
  await page.click('#open-start');
  await page.waitForSelector('#open-list li[data-state="working"]');
  // An error nothing in the worker catches ends it, as a crash of its code would.
  const [worker] = page.workers();
  await worker.evaluate(() => setTimeout(() => { throw new Error('stopped by the test'); }, 0));
  await page.waitForSelector('body[data-ready="broken"]');
  await settled(page, 'open');
  assert.deepEqual(await states(page, 'open'), ['failed', 'failed']);
  assert.match(await page.textContent('#open-list li .failure'), /stopped by the test/);
  assert.match(await page.textContent('#storage'), /^엔진이 멈추어.*stopped by the test/);
  assert.equal(await page.isHidden('#open-cancel'), true);
  assert.match(await page.textContent('#open-alert'), /stopped by the test/);
});

test('containers made in the page open in qv3 under the engine\'s names, and qv3\'s open in the page', async () => {
  const page = await open(await browser());
  const report = Buffer.from('보고서 내용\n'.repeat(5000));
  const photo = crypto.randomBytes(70000);
  const files = [place('보고서.txt', report), place('photo.JPG', photo)];
  const password = '비밀pw'; // 8 bytes of UTF-8

  await page.setInputFiles('#make-files', files);
  await page.fill('#make-password', password);
  await page.fill('#make-again', password + 'x');
  assert.equal(await page.isDisabled('#make-start'), true, 'two different passwords make nothing');
  assert.deepEqual(await run(page, 'make', files, password), ['done', 'done']);
  for (const [index, plaintext] of [report, photo].entries()) {
    const container = await save(page, 'make', index);
    assert.equal(container.name, path.basename(files[index]) + '.aqv3');
    assert.ok(nativePlaintext(place(container.name, container.bytes), password).equals(plaintext));
  }

  // A file dropped on the page is taken as a picked one.
  const dropped = await page.evaluateHandle(() => {
    const transfer = new DataTransfer();
    transfer.items.add(new File(['떨어뜨린 파일'], 'dropped.txt'));
    return transfer;
  });
  await page.dispatchEvent('#make-drop', 'drop', { dataTransfer: dropped });
  await page.fill('#make-password', password);
  await page.fill('#make-again', password);
  await page.click('#make-start');
  await page.waitForSelector('#make-list li[data-state="done"]');
  const fromDrop = await save(page, 'make', 0);
  assert.equal(fromDrop.name, 'dropped.txt.aqv3');
  assert.equal(nativePlaintext(place(fromDrop.name, fromDrop.bytes), password).toString(), '떨어뜨린 파일');

  const notes = crypto.randomBytes(33333);
  const fromQv3 = nativeContainer('notes.txt', notes, password);
  assert.deepEqual(await run(page, 'open', fromQv3, password), ['done']);
  const opened = await save(page, 'open', 0);
  assert.equal(opened.name, 'notes.txt');
  assert.ok(opened.bytes.equals(notes));
  assert.deepEqual(page.errors, []);
});

// A container of bytes keyed with exactly the password's bytes (qv3, from a file).
function keyedContainer(name, bytes, passwordBytes) {
  const plain = place(name, bytes);
  h.qv3Ok(path.dirname(plain), ['encrypt', '--delete-source', name], passwordBytes);
  return path.join(path.dirname(plain), fs.readdirSync(path.dirname(plain))[0]);
}

test('the password rule in the page: the whole text typed, each container tried with its forms, new ones keyed in code page 949 or refused, the empty password without asking', async () => {
  const page = await open(await browser());
  // Keyed with the code page 949 bytes of the text (Korean Windows), and with the first
  // 11 bytes of its UTF-8 (what earlier builds of this page keyed with): typing the text
  // opens both, in either order.
  const typed = '가나다라마';
  const first = crypto.randomBytes(2000);
  const second = crypto.randomBytes(3000);
  const k = keyedContainer('k.bin', first, Buffer.from('b0a1b3aab4d9b6f3b8b6', 'hex'));
  const u = keyedContainer('u.bin', second, Buffer.from('eab080eb8298eb8ba4', 'hex'));
  for (const order of [[k, u], [u, k]]) {
    assert.deepEqual(await run(page, 'open', order, typed), ['done', 'done']);
    for (const index of [0, 1]) {
      assert.ok((await save(page, 'open', index)).bytes.equals(order[index] === k ? first : second));
    }
  }

  // The field keeps whatever is typed; its line counts in the form hashed.
  await page.setInputFiles('#open-files', k);
  await settled(page, 'open');
  await page.type('#open-password', '가나다라마바');
  assert.equal(await page.inputValue('#open-password'), '가나다라마바');
  await page.waitForFunction(() => /6/.test(document.getElementById('open-count').textContent));
  assert.match(await page.textContent('#open-count'), /6.*5/);

  // Made here with the text: keyed with its code page 949 bytes.
  const memo = place('memo.txt', Buffer.from('메모'));
  assert.deepEqual(await run(page, 'make', [memo], typed), ['done']);
  const made = await save(page, 'make', 0);
  const folder = path.dirname(place(made.name, made.bytes));
  h.qv3Ok(folder, ['decrypt', made.name], Buffer.from('b0a1b3aab4d9b6f3b8b6', 'hex'));
  assert.equal(fs.readFileSync(path.join(folder, 'memo.txt'), 'utf8'), '메모');

  // A text code page 949 cannot keep: refused, the characters named, nothing made.
  await page.setInputFiles('#make-files', memo);
  await page.fill('#make-password', '가😀');
  await page.fill('#make-again', '가😀');
  await page.waitForFunction(() => document.getElementById('make-notice').textContent.includes('😀'));
  assert.equal(await page.isDisabled('#make-start'), true, 'a refused password makes nothing');
  assert.deepEqual(await states(page, 'make'), ['new']);
  assert.equal(await page.getAttribute('#make-password', 'aria-invalid'), 'true');

  // Made with the empty password (a category extension): opened with no password typed.
  const withoutPassword = nativeContainer('open.txt', Buffer.from('열림'), '');
  assert.match(withoutPassword, /\.bqv3$/);
  await page.fill('#open-password', '');
  await page.setInputFiles('#open-files', withoutPassword);
  await settled(page, 'open');
  assert.match(await page.textContent('#open-notice'), /암호 없이/);
  assert.equal(await page.isDisabled('#open-start'), false, 'Open works with the field empty');
  await page.click('#open-start');
  await settled(page, 'open');
  assert.equal((await save(page, 'open', 0)).bytes.toString(), '열림');
  assert.deepEqual(page.errors, []);
});

// Extracts a .zip with Python's zipfile (an implementation apart from the page's): each
// member's name and bytes.
function unzip(bytes) {
  const file = path.join(fs.mkdtempSync(path.join(work, 'zip-')), 'a.zip');
  fs.writeFileSync(file, bytes);
  const p = require('node:child_process').spawnSync('python3', ['-c', `
import base64, json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
print(json.dumps({i.filename: base64.b64encode(z.read(i)).decode() for i in z.infolist()}))`, file]);
  if (p.status !== 0) throw new Error(p.stderr.toString());
  return Object.fromEntries(Object.entries(JSON.parse(p.stdout)).map(([k, v]) => [k, Buffer.from(v, 'base64')]));
}

test('a folder: every file under it in the walk\'s order, containers left out and counted; the outputs as one .zip of the tree or into a picked folder', async () => {
  const page = await open(await browser());
  const top = path.join(fs.mkdtempSync(path.join(work, 'tree-')), '프로젝트');
  const tree = {
    'b.txt': crypto.randomBytes(100), 'a.txt': crypto.randomBytes(5000), 'sub/보고서.docx': crypto.randomBytes(70000),
    'sub/deeper/it\'s a "name".txt': Buffer.from('quoted'),
  };
  for (const [name, bytes] of Object.entries(tree)) {
    fs.mkdirSync(path.dirname(path.join(top, name)), { recursive: true });
    fs.writeFileSync(path.join(top, name), bytes);
  }
  fs.mkdirSync(path.join(top, 'empty'));
  const already = nativeContainer('old.txt', Buffer.from('old'), 'pw');
  fs.copyFileSync(already, path.join(top, 'sub', 'old.txt.aqv3'));

  await page.setInputFiles('#make-folder', top);
  assert.match(await page.textContent('#make-summary'), /4.*1/);
  assert.deepEqual(await page.$$eval('#make-list li .name', (names) => names.map((n) => n.firstChild.textContent)),
    ['프로젝트/a.txt', '프로젝트/b.txt', '프로젝트/sub/deeper/it\'s a "name".txt', '프로젝트/sub/보고서.docx']);
  await page.fill('#make-password', 'pw');
  await page.fill('#make-again', 'pw');
  await page.click('#make-start');
  await settled(page, 'make');
  assert.deepEqual(await states(page, 'make'), ['done', 'done', 'done', 'done']);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#make-zip')]);
  assert.equal(download.suggestedFilename(), '프로젝트.zip');
  const zipped = unzip(fs.readFileSync(await download.path()));
  assert.deepEqual(Object.keys(zipped).sort(), Object.keys(tree).map((n) => `프로젝트/${n}.aqv3`).sort());
  const containers = fs.mkdtempSync(path.join(work, 'containers-'));
  for (const [name, bytes] of Object.entries(zipped)) {
    fs.mkdirSync(path.dirname(path.join(containers, name)), { recursive: true });
    fs.writeFileSync(path.join(containers, name), bytes);
    assert.ok(nativePlaintext(path.join(containers, name), Buffer.from('pw')).equals(tree[name.slice('프로젝트/'.length, -5)]), name);
  }
  assert.deepEqual(await storedFiles(page), [], 'saved: the copies kept are gone');

  // Opening the containers' tree (beside a file that is none), written into a folder
  // picked for it (here one of the page's own storage: the browser's picker has no
  // driver); a second time, nothing there is replaced.
  fs.writeFileSync(path.join(containers, '프로젝트', 'notes.txt'), 'not a container');
  await page.evaluate(() => {
    window.showDirectoryPicker = async () => (await navigator.storage.getDirectory()).getDirectoryHandle('picked', { create: true });
  });
  for (const round of [1, 2]) {
    await page.setInputFiles('#open-folder', path.join(containers, '프로젝트'));
    await settled(page, 'open');
    assert.match(await page.textContent('#open-summary'), /4.*1/);
    await page.fill('#open-password', 'pw');
    await page.click('#open-start');
    await settled(page, 'open');
    await page.click('#open-into');
    await page.waitForFunction(() => [...document.querySelectorAll('#open-list li')].every((li) => li.dataset.state !== 'done'));
    const states2 = await states(page, 'open');
    assert.deepEqual(states2, round === 1 ? ['saved', 'saved', 'saved', 'saved'] : ['failed', 'failed', 'failed', 'failed']);
  }
  const written = await page.evaluate(async () => {
    const out = {};
    async function walk(dir, prefix) {
      for await (const [name, handle] of dir.entries()) {
        if (handle.kind === 'directory') await walk(handle, `${prefix}${name}/`);
        else out[prefix + name] = Array.from(new Uint8Array(await (await handle.getFile()).arrayBuffer()));
      }
    }
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle('picked'), '');
    return out;
  });
  assert.deepEqual(Object.keys(written).sort(), Object.keys(tree).map((n) => `프로젝트/${n}`).sort());
  for (const [name, bytes] of Object.entries(written)) assert.ok(Buffer.from(bytes).equals(tree[name.slice('프로젝트/'.length)]), name);
  assert.deepEqual(page.errors, []);
});

// Every file under a folder of the page's private storage: its path, and its SHA-256
// (its bytes cross the driver only when small).
function folderFiles(page, folder) {
  return page.evaluate(async (name) => {
    const out = {};
    const hex = (buffer) => Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, '0')).join('');
    async function walk(dir, prefix) {
      for await (const [entry, handle] of dir.entries()) {
        if (handle.kind === 'directory') {
          await walk(handle, `${prefix}${entry}/`);
        } else {
          const bytes = await (await handle.getFile()).arrayBuffer();
          out[prefix + entry] = { sha256: hex(await crypto.subtle.digest('SHA-256', bytes)),
            bytes: bytes.byteLength < 65536 ? Array.from(new Uint8Array(bytes)) : null };
        }
      }
    }
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle(name), '');
    return out;
  }, folder);
}

test('into a picked folder: each output streamed there, under its own name only once complete; a name there is never replaced; a failure leaves nothing', async () => {
  const page = await open(await browser());
  // The browser's picker has no driver: a folder of the page's own storage stands for it.
  await page.evaluate(() => {
    window.showDirectoryPicker = async () => (await navigator.storage.getDirectory()).getDirectoryHandle('picked', { create: true });
  });
  const big = crypto.randomBytes(20 << 20);
  const small = crypto.randomBytes(1000);
  const containers = [nativeContainer('big.bin', big, 'pw'), nativeContainer('small.bin', small, 'pw')];
  const into = async (kind, files, password) => {
    await page.setInputFiles(`#${kind}-files`, files);
    await settled(page, kind);
    await page.fill(`#${kind}-password`, password);
    if (kind === 'make') await page.fill('#make-again', password);
    await page.click(`#${kind}-start-into`);
    // The picker answers first; then the run starts.
    await page.waitForFunction((k) => [...document.querySelectorAll(`#${k}-list li`)].every((li) => li.dataset.state !== 'new'), kind);
    await settled(page, kind);
    return states(page, kind);
  };
  assert.deepEqual(await into('open', containers, 'pw'), ['written', 'written']);
  let there = await folderFiles(page, 'picked');
  assert.deepEqual(Object.keys(there).sort(), ['big.bin', 'small.bin'], 'no temporary left');
  assert.equal(there['big.bin'].sha256, h.sha256(big));
  assert.equal(there['small.bin'].sha256, h.sha256(small));
  assert.deepEqual(await folderFiles(page, (await page.evaluate(async () => {
    for await (const [name] of (await navigator.storage.getDirectory()).entries()) if (name.startsWith('run-')) return name;
  }))), {}, 'nothing kept in the page\'s own storage');

  // Again: the name is taken, so nothing is written and the file there stays.
  assert.deepEqual(await into('open', containers, 'pw'), ['failed', 'notStarted']);
  assert.match(await page.textContent('#open-list li .failure'), /big\.bin:\nFile exists$/);
  there = await folderFiles(page, 'picked');
  assert.deepEqual(Object.keys(there).sort(), ['big.bin', 'small.bin']);
  assert.equal(there['big.bin'].sha256, h.sha256(big));

  // Damaged after 10 MiB: the MAC fails at the end, and nothing of it is left.
  const damaged = fs.readFileSync(nativeContainer('damaged.bin', big, 'pw'));
  damaged[10 << 20] ^= 1;
  assert.deepEqual(await into('open', [place('damaged.bin.aqv3', damaged)], 'pw'), ['failed']);
  assert.deepEqual(Object.keys(await folderFiles(page, 'picked')).sort(), ['big.bin', 'small.bin']);

  // Made there the same way.
  assert.deepEqual(await into('make', [place('memo.txt', Buffer.from('메모'))], 'pw'), ['written']);
  const made = Buffer.from((await folderFiles(page, 'picked'))['memo.txt.aqv3'].bytes);
  assert.equal(nativePlaintext(place('memo.txt.aqv3', made), Buffer.from('pw')).toString(), '메모');
  assert.deepEqual(page.errors, []);
});

test('opened straight from the folder, as the site or as its one-file page: it works, keeps results in memory and says so', async () => {
  const context = await browser();
  for (const file of ['index.html', 'tarvessin-viewer.html']) {
    const page = await open(context, 'file://' + path.join(h.paths.site, file));
    assert.equal(await page.getAttribute('body', 'data-ready'), 'memory', file);
    assert.match(await page.textContent('#storage'), /메모리/);
    assert.deepEqual(await run(page, 'open', sample, samplePassword.toString()), ['done'], file);
    assert.ok((await save(page, 'open', 0)).bytes.equals(nativePlaintext(sample, samplePassword)), file);
    const files = [place('memo.txt', Buffer.from('메모'))];
    assert.deepEqual(await run(page, 'make', files, 'pw'), ['done'], file);
    const made = await save(page, 'make', 0);
    assert.ok(nativePlaintext(place(made.name, made.bytes), 'pw').equals(Buffer.from('메모')), file);

    // A file too large to be sure of memory is warned of before anything starts.
    const huge = place('huge.bin.aqv3', Buffer.alloc(0));
    fs.truncateSync(huge, 600 << 20); // sparse: nothing is written
    await page.setInputFiles('#open-files', huge);
    assert.match(await page.textContent('#open-notice'), /512 MiB/, file);
    assert.deepEqual(page.errors, [], file);
  }
});

test('installed like an application: the manifest\'s file handlers are the engine\'s extensions, it installs, and with the network gone the page still opens the sample', async () => {
  const context = await browser();
  const page = await open(context);
  await page.evaluate(() => navigator.serviceWorker.ready);
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  const cdp = await context.newCDPSession(page);
  const manifest = await cdp.send('Page.getAppManifest');
  assert.deepEqual(manifest.errors, [], 'the manifest parses');
  const handlers = JSON.parse(manifest.data).file_handlers;
  const accept = await page.getAttribute('#open-files', 'accept');
  assert.equal(accept.split(',').length, 14);
  assert.deepEqual(handlers[0].accept['application/x-tarvessin-container'], accept.split(','));
  assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, [], 'installable');

  // No server, no network: the page comes from the service worker's cache.
  await context.setOffline(true);
  const offline = await context.newPage();
  offline.errors = [];
  offline.on('pageerror', (e) => offline.errors.push(e.message));
  const before = requests.length;
  await offline.goto(site);
  await offline.waitForSelector('body[data-ready="opfs"]');
  assert.deepEqual(await run(offline, 'open', sample, samplePassword.toString()), ['done']);
  assert.ok((await save(offline, 'open', 0)).bytes.equals(nativePlaintext(sample, samplePassword)));
  assert.equal(requests.length, before, 'the server heard nothing');
  await context.setOffline(false);
  assert.deepEqual([...page.errors, ...offline.errors], []);
});

test('nothing is requested once the page has loaded, and the page cannot connect anywhere', async () => {
  const context = await browser();
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const late = [];
  let loaded = false;
  page.on('request', (r) => loaded && late.push(r.url()));
  await page.goto(site);
  await page.waitForSelector('body[data-ready]');
  // The service worker's first visit keeps the site's files: that is part of the load.
  await page.evaluate(() => navigator.serviceWorker.ready);
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  loaded = true;
  const since = requests.length;

  assert.deepEqual(await run(page, 'open', sample, samplePassword.toString()), ['done']);
  await page.click('#open-list li button.view');
  await page.waitForSelector('#view-text');
  await save(page, 'open', 0);
  await run(page, 'make', [place('a.txt', Buffer.from('a'))], 'pw');
  await save(page, 'make', 0);
  assert.deepEqual(late.filter((url) => !url.startsWith('blob:')), [], 'no request but the page\'s own blob: URLs');

  // What the page's policy forbids, from the page and from its worker: none may reach
  // the server.
  const target = `${site}probe`;
  const refused = await page.evaluate(async (url) => {
    navigator.sendBeacon(url, 'x');
    const img = new Image();
    await new Promise((resolve) => {
      img.onload = img.onerror = resolve;
      img.src = url;
    });
    return fetch(url).then(() => false, () => true);
  }, target);
  assert.ok(refused, 'fetch is refused');
  const [worker] = page.workers();
  assert.equal(await worker.evaluate((url) => fetch(url).then(() => false, () => true), target), true);
  await page.waitForTimeout(500);

  // The browser's own look at whether the service worker changed is the only request
  // the server may hear: the page itself requests nothing.
  assert.deepEqual(requests.slice(since).map((r) => r.url).filter((url) => url !== '/sw.js'), [],
    'the server heard nothing after the load');
  assert.deepEqual(errors, []);
});
