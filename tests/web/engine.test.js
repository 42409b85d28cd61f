// The engine's WebAssembly in node, held against the native qv3 built from the same
// sources: every row of the container corpus, containers made by each opened by the
// other, failures of the input and output, and the code page 949 form of passwords.
'use strict';

const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
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
    let password = passwordOfFile(typed);
    if (encoding === 'cp949') password = Buffer.from(engine.cp949Form(password));
    const source = h.fileSource(file);
    const web = h.runSession(engine, false, source, container, password);
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
  const password = Buffer.from('비밀 pass');
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

test('the code page 949 form of a password is what iconv makes of it, and nothing where iconv fails', async () => {
  const engine = await enginePromise;
  const inputs = [
    '', 'abc', '한글', '똠방각하', '가나다 ABC 123', '①②㈜', '漢字', 'é', '€', '𝄞', '\u00a0', '\ufeff한',
  ].map((s) => Buffer.from(s)).concat([
    [0xff], [0xc0, 0xaf], [0xed, 0xa0, 0x80], [0xe2, 0x82], [0xea, 0xb0], [0xf4, 0x90, 0x80, 0x80], [0x80],
  ].map((b) => Buffer.from(b)));
  for (const input of inputs) {
    const iconv = spawnSync('iconv', ['-f', 'UTF-8', '-t', 'CP949'], { input });
    const expected = iconv.status === 0 ? iconv.stdout : null;
    const form = engine.cp949Form(input);
    assert.deepEqual(form && Buffer.from(form), expected, `${input.toString('hex')}`);
  }
});
