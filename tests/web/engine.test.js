// The engine's WebAssembly in node, held against the native qv3 built from the same
// sources: every row of the container corpus, containers made by each opened by the
// other, failures of the input and output, the password rule's table, what is told
// before a password is asked for (a long extension section a step at a time), and the
// language rule.
'use strict';

const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');
const { spawnSync } = require('node:child_process');
const { test } = require('node:test');
const h = require('./helpers.js');

const enginePromise = h.loadEngine();

// qv3 reads a password file up to its first CR, LF or NUL.
function passwordOfFile(bytes) {
  const end = bytes.findIndex((b) => b === 0x0d || b === 0x0a || b === 0);
  return end < 0 ? bytes : bytes.subarray(0, end);
}

test('every corpus row gives in WebAssembly the outcome it gives in qv3, and the one the manifest states', async () => {
  const engine = await enginePromise;
  const message = h.messages();
  const base = h.tempDir('qv3-web-corpus-');
  const problems = [];
  for (const [container, passwordHex, encoding, outcome, detail] of h.rows('manifest.tsv', 6)) {
    const file = path.join(h.paths.corpus, 'containers', container);
    const typed = passwordHex === '-' ? Buffer.alloc(0) : Buffer.from(passwordHex, 'hex');
    // The file's bytes exactly, then the forms of their text: what qv3 tries; with
    // --password-encoding cp949, the bytes it converts the text to.
    let password = passwordOfFile(typed);
    if (encoding === 'cp949') password = spawnSync('iconv', ['-f', 'UTF-8', '-t', 'CP949'], { input: password }).stdout;
    const source = h.fileSource(file);
    const web = h.runSession(engine, false, source, container, password, undefined, true);
    source.close();

    const folder = fs.mkdtempSync(path.join(base, 'row-'));
    fs.copyFileSync(file, path.join(folder, container));
    const args = ['decrypt', ...(encoding === 'cp949' ? ['--password-encoding', 'cp949'] : []), container];
    const native = h.qv3(folder, args, typed);

    const where = `${container} with ${passwordHex}${encoding === 'cp949' ? ' (cp949)' : ''}`;
    if (outcome === 'ok') {
      if (web.outcome !== 'done' || h.sha256(web.bytes) !== detail || web.name !== container.slice(0, -5))
        problems.push(`${where}: WebAssembly gave ${web.outcome} ${h.sha256(web.bytes)} ${web.message}`);
      if (native.status !== 0) problems.push(`${where}: qv3 exit ${native.status} ${native.stderr}`);
    } else {
      const expected = message(detail, container);
      if (web.outcome !== 'failed' || web.message !== expected)
        problems.push(`${where}: WebAssembly gave ${web.outcome} ${JSON.stringify(web.message)}, expected ${detail}`);
      // qv3 ends every line with "\n" alone here; the engine's text keeps its "\r\n".
      if (native.status !== 1 || native.stderr.toString() !== `qv3: error: ${web.message.replace(/\r\n/g, '\n')}\n`)
        problems.push(`${where}: qv3 exit ${native.status} ${JSON.stringify(native.stderr.toString())}`);
    }
  }
  fs.rmSync(base, { recursive: true, force: true });
  assert.deepEqual(problems, []);
});

test('containers made in WebAssembly open in qv3 and the reverse, at sizes around blocks and pieces', async () => {
  const engine = await enginePromise;
  const base = h.tempDir('qv3-web-roundtrip-');
  // 9 bytes of UTF-8 (what qv3 keys with from a password file), 7 of code page 949 (what
  // the engine keys with from the typed text): each opens the other's.
  const password = Buffer.from('비밀 pw');
  const cases = [
    ['empty.txt', 0], ['one.txt', 1], ['보고서.docx', 15], ['photo.JPG', 16], ['archive.tar.gz', 17],
    ['README', (1 << 20) - 1], ['data.bin', (3 << 20) + 5],
  ];
  for (const [name, size] of cases) {
    for (const typed of [password, Buffer.alloc(0)]) {
      const plaintext = crypto.randomBytes(size);
      const folder = fs.mkdtempSync(path.join(base, 'case-'));
      // Small steps as well as large ones: a step ends inside a piece and at its end.
      const budget = size % 2 ? 1 : 4 << 20;
      const made = h.runSession(engine, true, h.bytesSource(plaintext), name, typed, budget);
      assert.equal(made.outcome, 'done', made.message);
      assert.equal(made.bytes.length, 294 + Math.ceil(size / 16) * 16, `${name}: container size`);
      assert.deepEqual(made.percents.at(-1), 100);
      assert.ok(made.percents.every((p, i) => i === 0 || p >= made.percents[i - 1]), 'progress never goes back');

      // qv3 names its container for the same file by the same rule.
      fs.writeFileSync(path.join(folder, name), plaintext);
      h.qv3Ok(folder, ['encrypt', name], typed);
      const nativeName = fs.readdirSync(folder).find((f) => f !== name);
      assert.equal(made.name, nativeName, `${name}: the container's name`);

      // qv3's container opens here, this one in qv3.
      const opened = h.runSession(engine, false, h.fileSource(path.join(folder, nativeName)), nativeName, typed, budget);
      assert.equal(opened.outcome, 'done', opened.message);
      assert.equal(opened.percents.at(-1), 100);
      assert.ok(opened.bytes.equals(plaintext), `${name}: qv3's container decrypted here`);
      assert.equal(opened.name, name);
      fs.rmSync(path.join(folder, name));
      fs.writeFileSync(path.join(folder, nativeName), made.bytes);
      h.qv3Ok(folder, ['decrypt', nativeName], typed);
      assert.ok(fs.readFileSync(path.join(folder, name)).equals(plaintext), `${name}: this container decrypted by qv3`);
    }
  }
  fs.rmSync(base, { recursive: true, force: true });
});

test('a failing read or write ends the session with the engine\'s text, and the engine goes on working', async () => {
  const engine = await enginePromise;
  const plaintext = crypto.randomBytes(3 << 20);
  const container = h.runSession(engine, true, h.bytesSource(plaintext), 'big.bin', Buffer.from('pw')).bytes;
  const failAt = 2 << 20;
  const readFault = (fault) => ({
    size: container.length,
    read: (view, position) => {
      if (position + view.length > failAt) return fault();
      view.set(container.subarray(position, position + view.length));
      return view.length;
    },
  });
  const thrown = (name) => () => {
    throw Object.assign(new Error(name), { name });
  };
  const cases = [
    ['a read the browser refuses', readFault(thrown('NotReadableError')), null, '파일을 읽을 수 없습니다.\r\nbig.bin.aqv3:\nI/O error'],
    ['a file gone while read', readFault(thrown('NotFoundError')), null, '파일을 읽을 수 없습니다.\r\nbig.bin.aqv3:\nNo such file or directory'],
    ['a write over the quota', null, thrown('QuotaExceededError'), '다음 파일을 쓸 수 없습니다.\r\nbig.bin:\nNo space left on device'],
    ['a write that fails otherwise', null, thrown('InvalidStateError'), '다음 파일을 쓸 수 없습니다.\r\nbig.bin:\nI/O error'],
  ];
  for (const [what, source, write, expected] of cases) {
    let writes = 0;
    const sink = { write: () => ++writes > 1 && write && write() };
    const session = engine.open(false, source || h.bytesSource(container), sink, 'big.bin.aqv3', Buffer.from('pw'));
    let outcome = 'more';
    while (outcome === 'more') outcome = session.step(1 << 20);
    assert.equal(outcome, 'failed', what);
    assert.equal(session.message, expected, what);
    assert.equal(session.step(1 << 20), 'failed', `${what}: a failed session stays failed`);
    session.free();
    const again = h.runSession(engine, false, h.bytesSource(container), 'big.bin.aqv3', Buffer.from('pw'));
    assert.ok(again.outcome === 'done' && again.bytes.equals(plaintext), `${what}: the next session works`);
  }
});

// A container keyed with exactly these password bytes (qv3 from a password file).
function keyedContainer(base, name, plaintext, password) {
  const folder = fs.mkdtempSync(path.join(base, 'k-'));
  fs.writeFileSync(path.join(folder, name), plaintext);
  h.qv3Ok(folder, ['encrypt', '--delete-source', name], password);
  return path.join(folder, fs.readdirSync(folder)[0]);
}

test('the password rule\'s table, as a browser ("none") types: the forms that open, the form a container is keyed with or the refusal, and what the field says counts', async () => {
  const engine = await enginePromise;
  const base = h.tempDir('qv3-web-rule-');
  const plaintext = Buffer.from('rule');
  const general = engine.passwordHint(Buffer.from('a'), true).text;
  const table = fs.readFileSync(path.join(__dirname, '..', 'data', 'password_rule.tsv'), 'utf8')
    .split('\n').filter((line) => line && !line.startsWith('#')).map((line) => line.split('\t'))
    .filter((cells) => cells[1] === 'none');
  assert.ok(table.length >= 7, 'the table has its rows');
  for (const [typed, , opening, making, kept] of table) {
    const text = Buffer.from(typed);
    // Each form the table lists opens a container keyed with exactly those bytes.
    for (const hex of opening.split(',')) {
      const container = keyedContainer(base, 'k.txt', plaintext, Buffer.from(hex, 'hex'));
      const opened = h.runSession(engine, false, h.fileSource(container), path.basename(container), text);
      assert.equal(opened.outcome, 'done', `${typed}: the form ${hex} opens (${opened.message})`);
      assert.ok(opened.bytes.equals(plaintext));
    }
    const made = h.runSession(engine, true, h.bytesSource(plaintext), 'k.txt', text);
    const hint = engine.passwordHint(text, true);
    if (making.startsWith('refused:')) {
      assert.ok(made.outcome === 'failed' && made.refused, `${typed}: refused`);
      assert.equal(made.bytes.length, 0, `${typed}: nothing written`);
      for (const character of making.slice('refused:'.length)) assert.ok(made.message.includes(character), made.message);
      assert.deepEqual(hint, { text: made.message, refused: true }, `${typed}: the field says the refusal`);
      assert.equal(engine.passwordHint(text, false).text, general, `${typed}: opening keeps every character`);
    } else {
      // Keyed with the table's bytes: qv3 given exactly them (not UTF-8 text, so nothing
      // else is tried; or the cut ASCII itself) opens it.
      assert.equal(made.outcome, 'done', made.message);
      const folder = fs.mkdtempSync(path.join(base, 'm-'));
      fs.writeFileSync(path.join(folder, made.name), made.bytes);
      h.qv3Ok(folder, ['decrypt', made.name], Buffer.from(making, 'hex'));
      assert.ok(fs.readFileSync(path.join(folder, 'k.txt')).equals(plaintext), `${typed}: keyed with ${making}`);
      const [count, of] = kept.split('/');
      assert.equal(hint.refused, false);
      if (count === of) assert.equal(hint.text, general, `${typed}: every character counts`);
      else assert.ok(hint.text !== general && hint.text.includes(count) && hint.text.includes(of), `${typed}: ${hint.text}`);
      // Opening, the first form tried is the same form here: the same line.
      assert.equal(engine.passwordHint(text, false).text, hint.text, `${typed}: the opening field's line`);
    }
  }
  fs.rmSync(base, { recursive: true, force: true });
});

// A version 2 container of count extensions of 65,535 bytes (what no writer makes), its
// bytes made as they are read: nothing of its 268 MB is held.
function manyExtensions(count) {
  const head = 5;
  const each = 2 + 65535;
  const sectionEnd = head + count * each + 2;
  const size = sectionEnd + 16 + 48 + 32 + 16 + 1 + 32;
  let read = 0;
  return {
    size,
    read(view, position) {
      const n = Math.min(view.length, size - position);
      view.fill(0, 0, n);
      if (position < head) view.set(Buffer.from([0x41, 0x45, 0x53, 2, 0]).subarray(position, position + n));
      const first = Math.max(0, Math.floor((position - head) / each));
      for (let i = first; i < count; ++i) {
        const at = head + i * each;
        if (at >= position + n) break;
        for (const [k, byte] of [[0, 0xff], [1, 0xff]]) {
          if (at + k >= position && at + k < position + n) view[at + k - position] = byte;
        }
      }
      read += n;
      return n;
    },
    get bytesRead() {
      return read;
    },
  };
}

test('before a password is asked for: what the name, size, signature and version refuse, and what the empty password opens', async () => {
  const engine = await enginePromise;
  const message = h.messages();
  const probe = (source, name) => {
    const session = engine.probe(source, name);
    let outcome = session.failed ? 'failed' : 'more';
    while (outcome === 'more') outcome = session.step(8 << 20);
    const result = outcome === 'failed' ? session.message : session.opensWithoutPassword ? 'opens' : 'asks';
    session.free();
    return result;
  };
  // Every corpus row: a failure found before the key block is told now; every other
  // container asks for its password.
  const beforeKeyBlock = new Set(['TooSmall', 'TooSmallV2', 'BadSignature', 'BadVersion', 'BadCipherLength']);
  for (const [container, , , outcome, detail] of h.rows('manifest.tsv', 6)) {
    const file = path.join(h.paths.corpus, 'containers', container);
    const source = h.fileSource(file);
    const expected = outcome === 'fail' && beforeKeyBlock.has(detail) ? message(detail, container) : 'asks';
    assert.equal(probe(source, container), expected, container);
    source.close();
  }
  const plain = h.bytesSource(Buffer.from('x'));
  const refusedName = h.runSession(engine, false, plain, 'notes.txt', Buffer.from('pw')).message;
  assert.ok(refusedName.includes('notes.txt'));
  assert.equal(probe(plain, 'notes.txt'), refusedName, 'not a container\'s name: decryption\'s own text');

  // Made with the empty password: its category extension opens without one; the same
  // bytes named as a password's container ask; a category name made with a password asks
  // and opens with it.
  const empty = h.runSession(engine, true, h.bytesSource(Buffer.from('open')), 'memo.txt', Buffer.alloc(0));
  assert.equal(empty.name, 'memo.txt.bqv3');
  assert.equal(probe(h.bytesSource(empty.bytes), empty.name), 'opens');
  assert.equal(h.runSession(engine, false, h.bytesSource(empty.bytes), empty.name, Buffer.alloc(0)).bytes.toString(), 'open');
  assert.equal(probe(h.bytesSource(empty.bytes), 'memo.txt.aqv3'), 'asks');
  const keyed = h.runSession(engine, true, h.bytesSource(Buffer.from('shut')), 'memo.txt', Buffer.from('pw'));
  assert.equal(probe(h.bytesSource(keyed.bytes), 'memo.txt.bqv3'), 'asks');
  assert.equal(h.runSession(engine, false, h.bytesSource(keyed.bytes), 'memo.txt.bqv3', Buffer.from('pw')).bytes.toString(), 'shut');
});

test('a container of 4,096 extensions of 65,535 bytes is read a step at a time, with progress, and stops when its caller does', async () => {
  const engine = await enginePromise;
  const budget = 8 << 20;
  for (const road of ['probe', 'decrypt']) {
    const source = manyExtensions(4096);
    const session = road === 'probe' ? engine.probe(source, 'many.bin.aqv3')
      : engine.open(false, source, { write: () => {} }, 'many.bin.aqv3', Buffer.from('pw'));
    const percents = [];
    let outcome = 'more';
    let before = 0;
    while (outcome === 'more') {
      outcome = session.step(budget);
      // A step reads about its budget: at most one extension and the file IV beyond it.
      assert.ok(source.bytesRead - before <= budget + 65537 + 4096, `${road}: a step read ${source.bytesRead - before}`);
      before = source.bytesRead;
      percents.push(session.percent);
      if (road === 'decrypt' && percents.length === 3) break; // Cancel
    }
    if (road === 'probe') {
      assert.equal(outcome, 'done', session.message);
      assert.ok(percents.length >= 30, `${road}: ${percents.length} steps`);
      assert.ok(percents.some((p) => p > 0 && p < 100), 'progress moves while the extensions are read');
      assert.ok(percents.every((p, i) => i === 0 || p >= percents[i - 1]), 'progress never goes back');
    } else {
      assert.equal(outcome, 'more');
      session.free(); // what the worker does on Cancel between two steps
      assert.equal(source.bytesRead, before, 'nothing is read once the caller stops');
      assert.ok(before < 4 * budget, 'three steps read three budgets');
    }
    if (road === 'probe') session.free();
  }
});

test('the page\'s language follows the programs\' rule: Korean for Korean first or no language, English for English first or only others', async () => {
  const engine = await enginePromise;
  const preferred = vm.runInNewContext(`${fs.readFileSync(path.join(__dirname, '..', '..', 'web', 'texts.js'), 'utf8')}; qv3PreferredLanguage`);
  const cases = [
    [[], 'ko'], [['ko-KR'], 'ko'], [['ko'], 'ko'], [['KO-kr', 'en'], 'ko'], [['en-US', 'ko-KR'], 'en'],
    [['fr-FR', 'ko', 'en'], 'ko'], [['de-DE', 'en-GB', 'ko'], 'en'], [['ja-JP'], 'en'], [['zh-CN', 'ja'], 'en'],
    [['kok'], 'en'], [['eng'], 'en'],
  ];
  for (const [tags, expected] of cases) {
    assert.equal(engine.languageOf(tags), expected, `the engine's rule on ${tags}`);
    assert.equal(preferred(tags), expected, `the page on ${tags}`);
  }
});
