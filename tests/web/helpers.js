// What the site's tests share: where things are (from the environment tests/web/CMakeLists
// sets), the native qv3, the corpus's manifest and the engine's WebAssembly in node.
'use strict';

const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

function need(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run these tests through ctest (cmake --workflow --preset web)`);
  return value;
}

const paths = {
  site: need('QV3_SITE'),
  engineJs: need('QV3_ENGINE_JS'),
  engineWasm: need('QV3_ENGINE_WASM'),
  qv3: need('QV3_NATIVE'),
  corpus: need('QV3_CORPUS'),
  samples: need('QV3_SAMPLES'),
  nodeModules: need('QV3_NODE_MODULES'),
  chromium: need('QV3_CHROMIUM'),
};

const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// Runs the native qv3 in folder; the password, when given, from a file beside the folder.
function qv3(folder, args, password) {
  const full = [...args];
  if (password !== undefined) {
    const file = path.join(folder, '..', `password-${crypto.randomUUID()}`);
    fs.writeFileSync(file, password, { flag: 'wx' });
    full.splice(1, 0, '--password-file', file);
    // qv3 takes an empty password only when told it is meant.
    if (password.length === 0) full.splice(1, 0, '--empty-password');
  }
  return spawnSync(paths.qv3, full, { cwd: folder, stdio: ['ignore', 'pipe', 'pipe'], timeout: 120000 });
}

function qv3Ok(folder, args, password) {
  const p = qv3(folder, args, password);
  if (p.status !== 0) throw new Error(`qv3 ${args.join(' ')}: exit ${p.status}: ${p.stderr}`);
  return p;
}

// The text escapes of the corpus's tables: \r \n \t \\.
function unescape(text) {
  return text.replace(/\\(.)/g, (_, c) => ({ r: '\r', n: '\n', t: '\t' })[c] || c);
}

function rows(file, fields) {
  return fs
    .readFileSync(path.join(paths.corpus, file), 'utf8')
    .split('\n')
    .filter((line) => line && !line.startsWith('#'))
    .map((line) => {
      const cells = line.split('\t');
      if (cells.length !== fields) throw new Error(`${file}: ${cells.length} fields in ${line}`);
      return cells;
    });
}

// The reader's message for a failure kind and a container name, as the corpus gives it.
function messages() {
  const table = new Map(rows('messages.tsv', 3).map(([kind, prefix, suffix]) => [kind, [unescape(prefix), unescape(suffix)]]));
  return (kind, name) => {
    const [prefix, suffix] = table.get(kind);
    return prefix + name + suffix;
  };
}

async function loadEngine() {
  const { Qv3Engine } = require(path.join(__dirname, '..', '..', 'web', 'engine_host.js'));
  return Qv3Engine.create(require(paths.engineJs), fs.readFileSync(paths.engineWasm));
}

// A file read through node, as the worker reads a picked file through the browser.
function fileSource(file) {
  const fd = fs.openSync(file, 'r');
  return {
    size: fs.fstatSync(fd).size,
    read: (view, position) => fs.readSync(fd, view, 0, view.length, position),
    close: () => fs.closeSync(fd),
  };
}

function bytesSource(bytes) {
  return {
    size: bytes.length,
    read: (view, position) => {
      const n = Math.min(view.length, bytes.length - position);
      view.set(bytes.subarray(position, position + n));
      return n;
    },
  };
}

// Runs a session to its end with steps of budget bytes; returns what it wrote, its
// outcome, its message, its output's name and the percentages it reported.
// given: the password's bytes are tried exactly first, as qv3 --password-file takes them
// (else they are a typed text, as the page gives it).
function runSession(engine, encrypt, source, name, password, budget = 4 << 20, given = false) {
  const parts = [];
  const sink = { write: (view) => parts.push(Buffer.from(view)) };
  const session = engine.open(encrypt, source, sink, name, password, given);
  const percents = [];
  let outcome = session.failed ? 'failed' : 'more';
  while (outcome === 'more') {
    outcome = session.step(budget);
    percents.push(session.percent);
  }
  const result = { outcome, bytes: Buffer.concat(parts), message: session.message, name: session.outputName, percents,
    refused: session.refused };
  session.free();
  return result;
}

// The site from a static server on 127.0.0.1, every request recorded: { server, url,
// requests }.
async function serveSite() {
  const http = require('node:http');
  const requests = [];
  const server = http.createServer((req, res) => {
    requests.push({ url: req.url, at: Date.now() });
    const name = path.basename(decodeURIComponent(new URL(req.url, 'http://x').pathname)) || 'index.html';
    const file = path.join(paths.site, name);
    if (!fs.existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    const types = { html: 'text/html', js: 'text/javascript', css: 'text/css', webmanifest: 'application/manifest+json' };
    res.writeHead(200, { 'Content-Type': `${types[path.extname(name).slice(1)] || 'application/octet-stream'}; charset=utf-8` });
    res.end(fs.readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, url: `http://127.0.0.1:${server.address().port}/`, requests };
}

module.exports = { serveSite, paths, sha256, tempDir, qv3, qv3Ok, rows, messages, loadEngine, fileSource, bytesSource, runSession };
