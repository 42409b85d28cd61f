'use strict';
// The qv3 package as a user installs it (from its npm pack tarball into an empty
// project, offline), against the container corpus qv3 itself is tested with, and against
// the native qv3 where QV3_NATIVE names one. Run by run-tests with node --test.

const test = require('node:test');
const assert = require('node:assert');
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { pipeline } = require('stream/promises');

const qv3 = require('qv3');

const corpus = process.env.QV3_CORPUS;
const native = process.env.QV3_NATIVE;

function table(name, fields) {
  return fs.readFileSync(path.join(corpus, name), 'utf8').split('\n')
    .filter((line) => line && !line.startsWith('#')).map((line) => {
      const cells = line.split('\t');
      assert.strictEqual(cells.length, fields, line);
      return cells;
    });
}
const unescape = (text) => text.replace(/\\(.)/g, (_, c) => ({ r: '\r', n: '\n', t: '\t' }[c] || c));
const messages = Object.fromEntries(table('messages.tsv', 3).map(([k, p, s]) => [k, [unescape(p), unescape(s)]]));
const kindCodes = {
  TooSmall: 'TOO_SMALL', TooSmallV2: 'TOO_SMALL_V2', BadSignature: 'BAD_SIGNATURE', BadVersion: 'BAD_VERSION',
  BadCipherLength: 'BAD_CIPHER_LENGTH', KeyBlockMac: 'WRONG_PASSWORD', BulkMacV0: 'WRONG_PASSWORD_OR_DAMAGED',
  BulkMac: 'DAMAGED', Unreadable: 'UNREADABLE',
};
const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
const temporaryFolder = () => fs.mkdtempSync(path.join(os.tmpdir(), 'qv3-node-'));

// Code page 949 bytes of a text, from the WHATWG decoder of its superset (euc-kr).
let cp949Table = null;
function cp949(text) {
  if (!cp949Table) {
    cp949Table = new Map();
    const decoder = new TextDecoder('euc-kr');
    for (let lead = 0x81; lead <= 0xfe; lead++)
      for (let trail = 0x41; trail <= 0xfe; trail++) {
        const c = decoder.decode(Buffer.from([lead, trail]));
        if (c.length === 1 && c !== '\ufffd' && !cp949Table.has(c)) cp949Table.set(c, [lead, trail]);
      }
  }
  return Buffer.from([...text].flatMap((c) => (c.charCodeAt(0) < 0x80 ? [c.charCodeAt(0)] : cp949Table.get(c))));
}

// The row's password as qv3 decrypt --password-file [--password-encoding cp949] takes it:
// bytes as given.
function passwordOf(hex, encoding) {
  if (hex === '-') return Buffer.alloc(0);
  // A password file's password: its bytes up to the first line end or NUL.
  const whole = Buffer.from(hex, 'hex');
  const end = whole.findIndex((b) => b === 0x0d || b === 0x0a || b === 0);
  const given = end < 0 ? whole : whole.subarray(0, end);
  return encoding === 'cp949' ? cp949(given.toString('utf8')) : given;
}

test('every corpus row: the outcome and message of qv3, from a buffer and from a file', () => {
  const folder = temporaryFolder();
  for (const [container, hex, encoding, outcome, detail] of table('manifest.tsv', 6)) {
    const bytes = fs.readFileSync(path.join(corpus, 'containers', container));
    const password = passwordOf(hex, encoding);
    const options = { name: container, emptyPassword: hex === '-' };
    const copy = path.join(folder, container);
    fs.writeFileSync(copy, bytes);
    if (outcome === 'ok') {
      assert.strictEqual(sha256(qv3.decrypt(bytes, password, options)), detail, container);
      const out = qv3.decrypt(copy, password, options);
      assert.strictEqual(out, copy.slice(0, -5));
      assert.strictEqual(sha256(fs.readFileSync(out)), detail, container);
      assert.strictEqual(fs.statSync(out).mode & 0o222, 0, container + ': the plaintext is writable');
      fs.rmSync(out, { force: true });
    } else {
      const [prefix, suffix] = messages[detail];
      for (const input of [bytes, copy]) {
        assert.throws(() => qv3.decrypt(input, password, options), (e) => {
          assert.ok(e instanceof qv3.Qv3Error);
          assert.strictEqual(e.codeName, kindCodes[detail], container);
          assert.strictEqual(e.exitStatus, 1);
          assert.strictEqual(e.message, prefix + (typeof input === 'string' ? copy : container) + suffix);
          return true;
        });
      }
    }
    assert.deepStrictEqual(fs.readdirSync(folder), [container], container + ': something was left');
    fs.rmSync(copy);
  }
});

test('containers made here open with the native qv3, and the reverse', { skip: !native }, () => {
  const folder = temporaryFolder();
  const passwordFile = path.join(folder, 'password');
  fs.writeFileSync(passwordFile, '가나다라마');
  for (const size of [0, 15, 16, 17, 4096, 1 << 20]) {
    const plain = crypto.randomBytes(size);
    const source = path.join(folder, `n${size}.bin`);
    fs.writeFileSync(source, plain);
    const made = qv3.encrypt(source, '가나다라마');
    fs.rmSync(source);
    execFileSync(native, ['decrypt', '--password-file', passwordFile, made], { env: { ...process.env, LC_ALL: 'C' } });
    assert.ok(fs.readFileSync(source).equals(plain), `qv3 decrypt of a ${size}-byte container made by node`);
    fs.rmSync(made);
    fs.chmodSync(source, 0o600);
    // Typed on a terminal it would be code page 949: the same bytes from a file.
    fs.writeFileSync(passwordFile, Buffer.from([0xb0, 0xa1, 0xb3, 0xaa, 0xb4, 0xd9, 0xb6, 0xf3, 0xb8, 0xb6]));
    execFileSync(native, ['encrypt', '--password-file', passwordFile, source]);
    fs.rmSync(source);
    assert.ok(fs.readFileSync(qv3.decrypt(made, '가나다라마')).equals(plain), `node decrypt of qv3's ${size}`);
    fs.rmSync(source);
    fs.rmSync(made);
    fs.writeFileSync(passwordFile, '가나다라마');
  }
});

test('outputs: never replaced without overwrite, nothing left by a failure, refusals write nothing', () => {
  const folder = temporaryFolder();
  const source = path.join(folder, 'a.txt');
  fs.writeFileSync(source, 'new');
  const made = qv3.encrypt(source, 'pw');
  assert.strictEqual(made, source + '.aqv3');
  assert.throws(() => qv3.encrypt(source, 'pw'), (e) => e.codeName === 'OUTPUT_NOT_CREATED');
  fs.writeFileSync(source, 'old');
  assert.throws(() => qv3.decrypt(made, 'pw'), (e) => e.codeName === 'OUTPUT_NOT_CREATED');
  assert.strictEqual(fs.readFileSync(source, 'utf8'), 'old');
  assert.throws(() => qv3.decrypt(made, 'wrong', { overwrite: true }), (e) => e.codeName === 'WRONG_PASSWORD');
  assert.strictEqual(fs.readFileSync(source, 'utf8'), 'old');
  qv3.decrypt(made, 'pw', { overwrite: true });
  assert.strictEqual(fs.readFileSync(source, 'utf8'), 'new');
  for (const [password, options, code] of [['東京😀', {}, 'PASSWORD_NOT_KEPT'], ['', {}, 'EMPTY_PASSWORD_REFUSED'],
    ['123456789012', {}, 'PASSWORD_TOO_LONG'], ['x', { emptyPassword: true }, 'PASSWORD_NOT_EMPTY']]) {
    fs.rmSync(made, { force: true });
    assert.throws(() => qv3.encrypt(source, password, options), (e) => e.codeName === code && e.exitStatus === 2);
    assert.deepStrictEqual(fs.readdirSync(folder), ['a.txt'], code);
  }
  assert.strictEqual(qv3.encrypt(source, '', { emptyPassword: true }), source + '.bqv3');
  assert.throws(() => qv3.decrypt(path.join(folder, 'missing.aqv3'), 'pw'), (e) => e.codeName === 'INPUT_MISSING');
});

test('streams: a big file through both, unauthenticated data only when asked, damage found at the end',
  async () => {
    const folder = temporaryFolder();
    const plain = crypto.randomBytes(5 * 1024 * 1024 + 7);
    const source = path.join(folder, 'big.bin');
    fs.writeFileSync(source, plain);
    const made = path.join(folder, 'big.bin.aqv3');
    await pipeline(fs.createReadStream(source), qv3.createEncryptStream('pw'), fs.createWriteStream(made));
    assert.ok(qv3.decrypt(fs.readFileSync(made), 'pw').equals(plain));
    assert.throws(() => qv3.createDecryptStream(made, 'pw'), TypeError);
    const pieces = [];
    for await (const piece of qv3.createDecryptStream(made, 'pw', { unauthenticated: true })) pieces.push(piece);
    assert.ok(Buffer.concat(pieces).equals(plain));

    const damaged = fs.readFileSync(made);
    damaged[damaged.length - 40] ^= 1;
    fs.writeFileSync(made, damaged);
    assert.throws(() => qv3.decrypt(damaged, 'pw'), (e) => e.codeName === 'DAMAGED');
    let caught = null;
    try {
      for await (const piece of qv3.createDecryptStream(made, 'pw', { unauthenticated: true })) void piece;
    } catch (e) {
      caught = e;
    }
    assert.ok(caught && caught.codeName === 'DAMAGED', 'the damaged stream ended without an error');
    fs.rmSync(source);
    assert.throws(() => qv3.decrypt(made, 'pw'), (e) => e.codeName === 'DAMAGED');
    assert.deepStrictEqual(fs.readdirSync(folder), ['big.bin.aqv3']);
  });

test('codes are the header\'s, exit statuses the command line\'s', () => {
  const header = fs.readFileSync(process.env.QV3_HEADER, 'utf8');
  const named = Object.fromEntries([...header.matchAll(/^\s+QV3_([A-Z0-9_]+) = (\d+)/gm)].map((m) => [m[1], +m[2]]));
  assert.deepStrictEqual({ ...qv3.codes }, named);
  for (const [name, code] of Object.entries(qv3.codes))
    assert.strictEqual(qv3.exitStatus(code), code === 0 ? 0 : code < 10 ? 2 : code === 10 ? 130 : 1, name);
});
