// The page's worker: runs the engine on the files the page hands over, one job at a time,
// so the page stays responsive. Its helper (io_worker.js) reads each input in slices ahead
// of the engine (which never holds a whole container) and keeps each output in the
// origin's private file system where the browser offers one, encrypted under the page's
// key (else in memory); an output reaches the page only once the work on it has
// succeeded: a plaintext only after its container's MAC has been checked.
//
// Messages from the page: init { folder, key }, probe { id, files, language }, run { id,
// encrypt, files, password, language }, hint { seq, making, password, language },
// reveal { seq, stored }, cancel { id }, discard { names }, leave {}. To the page: ready {
// storage, accept }, broken { message }, hint { seq, text, refused }, revealed { seq,
// file, error }, probed { id, index, outcome, message }, start { id, index }, progress {
// id, index, percent }, done { id, index, name, file, stored, size }, failed { id,
// index, message }, cancelled { id, index }, end { id }.
/* global createQv3Engine, Qv3Engine, QV3_WASM_BASE64, FileReaderSync, qv3IoMain, qv3RecordIv, qv3SealRecord,
   qv3Unseal */

var STEP_BYTES = 8 * 1024 * 1024; // work between two looks at the page's messages
var SLICE_BYTES = 4 * 1024 * 1024; // what one read of a picked file asks for
var SLICES_AHEAD = 4; // slices requested beyond those the next step needs
var WRITES_AHEAD_BYTES = 32 * 1024 * 1024; // output handed to the helper and not yet written

var enginePromise = Qv3Engine.create(createQv3Engine, decodeBase64(QV3_WASM_BASE64));
var storage = null; // { kind: 'opfs', root, folder, dir, key } or { kind: 'memory' }
var queue = [];
var running = false;
var cancelled = {};

// The helper and its answers: one awaited answer per key, and each sink's write reports.
var io = startHelper();
var waiting = new Map();
var sinks = new Map();
var nextId = 1;

function startHelper() {
  var text = [qv3RecordIv, qv3SealRecord, qv3Unseal].map(String).join('\n') + '\n(' + qv3IoMain.toString() + ')();';
  var url = URL.createObjectURL(new Blob([text], { type: 'text/javascript' }));
  var helper = new Worker(url);
  URL.revokeObjectURL(url);
  // Without its helper the worker can read and write nothing: the page is told.
  helper.onerror = function (e) {
    e.preventDefault();
    self.postMessage({ type: 'broken', message: String(e.message || 'the input and output worker stopped') });
  };
  helper.onmessage = function (e) {
    var m = e.data;
    if (m.op === 'write') {
      sinks.get(m.sink).written(m.bytes, m.error);
      return;
    }
    var key = keyOf(m);
    var resolve = waiting.get(key);
    waiting.delete(key);
    resolve(m);
  };
  return helper;
}

function keyOf(m) {
  return m.op + ':' + (m.op === 'read' ? m.source + ':' + m.index : m.sink);
}


// Sends message to the helper; resolves with its answer.
function ask(message) {
  return new Promise(function (resolve) {
    waiting.set(keyOf(message), resolve);
    io.postMessage(message);
  });
}

// The helper's report of a failure as the browser's error, whose name the engine reads.
function errorFrom(reported) {
  return Object.assign(new Error(reported.message), { name: reported.name });
}

function decodeBase64(text) {
  var raw = atob(text);
  var bytes = new Uint8Array(raw.length);
  for (var i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
  return bytes;
}

// Lets the page's messages (Cancel) in between two steps, without a timer's delay.
function yieldToMessages() {
  return new Promise(function (resolve) {
    var channel = new MessageChannel();
    channel.port1.onmessage = function () {
      channel.port1.close();
      resolve();
    };
    channel.port2.postMessage(0);
  });
}

// A picked file read ahead of the engine in slices by the helper (from one stream of the
// file) while the engine works on the one before: before each step the worker waits (prepare) until the slices that
// step can ask for have arrived, and the engine's reads are served from them. At most a
// few slices are held. A read past what was prepared (a container whose extensions run
// longer than that), or of a slice the helper could not read, is read directly, so the
// engine sees the browser's own failure.
function readAheadSource(file) {
  var id = nextId++;
  var slices = new Map(); // index: the promise of its bytes, then its bytes
  var direct = null;
  function request(i) {
    if (i * SLICE_BYTES >= file.size || slices.has(i)) return;
    if (file.size <= HELD_BYTES) {
      // A small file is read at once, here: asking the helper would cost more.
      try {
        direct = direct || new FileReaderSync();
        slices.set(i, new Uint8Array(direct.readAsArrayBuffer(file)));
      } catch (e) {
        // read again where the engine asks, and failed there in the engine's words
      }
      return;
    }
    var start = i * SLICE_BYTES;
    var read = ask({ op: 'read', source: id, index: i, file: file, start: start, end: start + SLICE_BYTES })
      .then(function (answer) {
        if (slices.get(i) !== read) return;
        if (answer.buffer) slices.set(i, new Uint8Array(answer.buffer));
        else slices.delete(i);
      });
    slices.set(i, read);
  }
  var source = {
    size: file.size,
    position: 0, // after the engine's last read
    // Resolves once the bytes up to until are in, or have failed to come.
    prepare: function (until) {
      var first = Math.floor(source.position / SLICE_BYTES);
      var last = Math.floor((Math.min(until, file.size) - 1) / SLICE_BYTES);
      for (var i = first; i <= last + SLICES_AHEAD; ++i) request(i);
      var waits = [];
      for (var j = first; j <= last; ++j) waits.push(slices.get(j));
      return Promise.all(waits);
    },
    read: function (view, position) {
      var n = 0;
      while (n < view.length && position + n < file.size) {
        var i = Math.floor((position + n) / SLICE_BYTES);
        var bytes = slices.get(i);
        if (!(bytes instanceof Uint8Array)) {
          direct = direct || new FileReaderSync();
          var rest = new Uint8Array(direct.readAsArrayBuffer(file.slice(position + n, position + view.length)));
          view.set(rest, n);
          n += rest.length;
          break;
        }
        var at = position + n - i * SLICE_BYTES;
        var take = Math.min(bytes.length - at, view.length - n);
        view.set(bytes.subarray(at, at + take), n);
        n += take;
      }
      source.position = position + n;
      slices.forEach(function (_, k) {
        if ((k + 1) * SLICE_BYTES <= source.position) slices.delete(k);
      });
      return n;
    },
    close: function () {
      slices.clear();
      io.postMessage({ op: 'release', source: id });
    },
  };
  return source;
}

// The head of a container or the first piece of a plaintext is what opening reads.
var OPEN_BYTES = 1024 * 1024;

// The origin's private file system, in a folder of this page's own that a lock held for
// the page's life marks as in use; folders of pages that are gone (whose key went with
// them: what they left cannot be read) are removed. Without a key to encrypt with, the
// outputs stay in memory.
function initStorage(folder, key) {
  if (!key || !self.navigator.storage || !self.navigator.storage.getDirectory) return Promise.resolve({ kind: 'memory' });
  return self.navigator.storage
    .getDirectory()
    .then(function (root) {
      return root.getDirectoryHandle(folder, { create: true }).then(function (dir) {
        var probe = 'probe-' + self.crypto.randomUUID();
        // Outputs are written through synchronous access handles: make sure they exist here.
        return dir
          .getFileHandle(probe, { create: true })
          .then(function (h) {
            return h.createSyncAccessHandle();
          })
          .then(function (access) {
            access.close();
            return dir.removeEntry(probe);
          })
          .then(function () {
            return { kind: 'opfs', root: root, folder: folder, dir: dir, key: key };
          });
      });
    })
    .catch(function () {
      return { kind: 'memory' };
    });
}

function holdFolderAndClean(s) {
  if (s.kind !== 'opfs' || !self.navigator.locks) return Promise.resolve();
  self.navigator.locks.request('qv3-' + s.folder, function () {
    return new Promise(function () {}); // held until the page goes
  });
  return self.navigator.locks.query().then(function (state) {
    var held = new Set((state.held || []).map(function (l) { return l.name; }));
    var stale = [];
    var entries = s.root.keys();
    function next() {
      return entries.next().then(function (r) {
        if (r.done) return;
        if (/^run-/.test(r.value) && r.value !== s.folder && !held.has('qv3-' + r.value)) stale.push(r.value);
        return next();
      });
    }
    return next().then(function () {
      return Promise.all(stale.map(function (name) {
        return s.root.removeEntry(name, { recursive: true }).catch(function () {});
      }));
    });
  }).catch(function () {});
}

// Where one output goes, written by the helper. write(view) is what the engine calls
// (view is valid only during the call; its bytes are moved to the helper); settle(limit)
// resolves once at most limit bytes wait to be written; finish() gives { file } (memory:
// the Blob) or { stored: { name, size, number } } (what reveal reads back) once the work
// succeeded; discard() removes what was written. A write the helper could
// not make fails the engine's next write, or finish().
// Outputs of inputs up to this size are held here in memory, sealed as the files of
// larger ones are: a file of its own, and the trips to the helper, cost more than a small
// output's work. By their output's number.
var HELD_BYTES = 256 * 1024;
var held = new Map();

// A small output of the private-storage road, sealed record by record, held here.
function heldSink(id) {
  var records = [];
  var size = 0;
  var failure = null;
  var chain = Promise.resolve();
  return {
    write: function (view) {
      if (failure) throw failure;
      var bytes = view.slice();
      var record = records.length;
      records.push(null);
      size += bytes.length;
      chain = chain.then(function () {
        return qv3SealRecord(storage.key, id, record, bytes);
      }).then(function (sealed) {
        records[record] = sealed;
      }, function (e) {
        failure = failure || e;
      });
    },
    settle: function () {
      return chain;
    },
    finish: function () {
      return chain.then(function () {
        if (failure) throw failure;
        held.set(id, new Blob(records));
        records = [];
        return { stored: { name: 'held-' + id, held: true, size: size, number: id }, size: size };
      });
    },
    discard: function () {
      return chain.then(function () {
        records = [];
      });
    },
  };
}

function makeSink(into, folder, size) {
  var id = nextId++;
  var opfs = storage.kind === 'opfs' && !into;
  if (opfs && size <= HELD_BYTES) return Promise.resolve(heldSink(id));
  return ask({ op: 'open', sink: id, dir: opfs ? storage.dir : null, key: opfs ? storage.key : null, into: into || null,
    folder: folder || [] }).then(function (answer) {
    if (answer.error) throw errorFrom(answer.error);
    var pending = 0;
    var failure = null;
    var settled = [];
    var sink = {
      storedName: answer.name,
      write: function (view) {
        if (failure) throw failure;
        var copy = view.slice();
        pending += copy.length;
        io.postMessage({ op: 'write', sink: id, buffer: copy.buffer }, [copy.buffer]);
      },
      written: function (bytes, error) {
        pending -= bytes;
        if (error && !failure) failure = errorFrom(error);
        settled = settled.filter(function (w) {
          if (pending > w.limit) return true;
          w.resolve();
          return false;
        });
      },
      settle: function (limit) {
        if (pending <= limit) return Promise.resolve();
        return new Promise(function (resolve) {
          settled.push({ limit: limit, resolve: resolve });
        });
      },
      // Into a picked folder: the output's name, refused when it is taken.
      claim: function (name) {
        return ask({ op: 'claim', sink: id, name: name }).then(function (answer) {
          if (answer.error) throw errorFrom(answer.error);
        });
      },
      finish: function (name) {
        return sink.settle(0).then(function () {
          if (failure) throw failure;
          return ask({ op: 'finish', sink: id, name: name });
        }).then(function (done) {
          if (done.error) throw errorFrom(done.error);
          sinks.delete(id);
          return done;
        });
      },
      discard: function () {
        return sink.settle(0).then(function () {
          return ask({ op: 'discard', sink: id });
        }).then(function () {
          sinks.delete(id);
        });
      },
    };
    sinks.set(id, sink);
    return sink;
  });
}

// One file: the engine a step at a time, each step once its input has arrived and its
// output has caught up; progress when it moves, Cancel between steps. Resolves to 'done',
// 'failed' or 'cancelled'.
function runOne(engine, job, index, password) {
  var file = job.files[index];
  var post = function (m) {
    m.id = job.id;
    m.index = index;
    self.postMessage(m);
  };
  post({ type: 'start' });
  var source = readAheadSource(file);
  var folder = job.folders ? job.folders[index] : [];
  return Promise.all([makeSink(job.into, folder, file.size), source.prepare(OPEN_BYTES)]).then(function (opened) {
    var sink = opened[0];
    var session = engine.open(job.encrypt, source, sink, file.name, password);
    var lastPercent = -1;
    // Written into a picked folder: its name there must be free before the work starts.
    var claimed = job.into && !session.failed ? sink.claim(session.outputName) : Promise.resolve();
    function end(outcome, message) {
      session.free();
      source.close();
      return sink.discard().then(function () {
        post({ type: outcome, message: message });
        return outcome;
      });
    }
    function step() {
      if (session.failed) return end('failed', session.message);
      if (cancelled[job.id]) return end('cancelled');
      var r = session.step(STEP_BYTES);
      if (r === 'failed') return end('failed', session.message);
      var percent = session.percent;
      if (percent !== lastPercent) {
        lastPercent = percent;
        post({ type: 'progress', percent: percent });
      }
      if (r === 'done') {
        var name = session.outputName;
        return sink.finish(name).then(function (out) {
          session.free();
          source.close();
          post({ type: 'done', name: name, file: out.file || null, stored: out.stored || null, written: out.written || null,
            size: out.size });
          return 'done';
        }, function (e) {
          // The output could not be completed (or its name was taken meanwhile): the
          // engine's words for it.
          var stage = e && e.name === 'AlreadyExistsError' ? 'create' : 'flush';
          return end('failed', engine.outputFailureText(job.encrypt, password.length > 0, stage, file.name, e));
        });
      }
      return Promise.all([
        source.prepare(source.position + STEP_BYTES + OPEN_BYTES),
        sink.settle(WRITES_AHEAD_BYTES),
        yieldToMessages(),
      ]).then(step);
    }
    return claimed.then(step, function (e) {
      session.free();
      source.close();
      return sink.discard().then(function () {
        post({ type: 'failed', message: engine.outputFailureText(job.encrypt, password.length > 0, 'create', file.name, e) });
        return 'failed';
      });
    });
  }, function (e) {
    // No room for the output in the page's storage.
    source.close();
    post({ type: 'failed', message: engine.outputFailureText(job.encrypt, password.length > 0, 'create', file.name, e) });
    return 'failed';
  });
}

// A run ends at its first failure or Cancel: the files after it are not started. The
// password is the typed text: the engine tries its forms on each container, or keys a new
// one with its making form.
function runJob(engine, job) {
  function from(index) {
    if (index >= job.files.length) return Promise.resolve();
    return runOne(engine, job, index, job.password).then(function (outcome) {
      if (outcome === 'done') return from(index + 1);
    });
  }
  return from(0).finally(function () {
    job.password.fill(0);
  });
}

// What each container tells before a password is asked for: 'refused' (with the
// engine's text: its name, size, signature, version or extensions), 'opens' (the empty
// password opens it) or 'asks'. A long extension section is read a step at a time, with
// progress and Cancel, as a run reads it.
function probeJob(engine, job) {
  function one(index) {
    var file = job.files[index];
    var post = function (m) {
      m.id = job.id;
      m.index = index;
      self.postMessage(m);
    };
    var source = readAheadSource(file);
    return source.prepare(OPEN_BYTES).then(function () {
      var session = engine.probe(source, file.name);
      var lastPercent = -1;
      function end(outcome, message) {
        session.free();
        source.close();
        post({ type: 'probed', outcome: outcome, message: message });
        return outcome;
      }
      function step() {
        if (session.failed) return end('refused', session.message);
        if (cancelled[job.id]) return end('cancelled');
        var r = session.step(STEP_BYTES);
        if (r === 'failed') return end('refused', session.message);
        if (r === 'done') return end(session.opensWithoutPassword ? 'opens' : 'asks');
        if (session.percent !== lastPercent) {
          lastPercent = session.percent;
          post({ type: 'progress', percent: lastPercent });
        }
        return Promise.all([source.prepare(source.position + STEP_BYTES + OPEN_BYTES), yieldToMessages()]).then(step);
      }
      return step();
    });
  }
  function from(index) {
    if (index >= job.files.length || cancelled[job.id]) return Promise.resolve();
    return one(index).then(function () {
      return from(index + 1);
    });
  }
  return from(0);
}

function pump() {
  if (running || !queue.length || !storage) return;
  running = true;
  var job = queue.shift();
  enginePromise
    .then(function (engine) {
      engine.setLanguage(job.language);
      return job.type === 'probe' ? probeJob(engine, job) : runJob(engine, job);
    })
    .catch(function (e) {
      self.postMessage({ type: 'failed', id: job.id, index: -1, message: String(e && e.message || e) });
    })
    .then(function () {
      delete cancelled[job.id];
      self.postMessage({ type: 'end', id: job.id });
      running = false;
      pump();
    });
}

// A stored output read back for the page (to save or view it), decrypted with the key.
function reveal(m) {
  if (m.stored.held) {
    var sealed = held.get(m.stored.number);
    (sealed ? qv3Unseal(sealed, storage.key, m.stored) : Promise.reject(new DOMException('gone', 'NotFoundError')))
      .then(function (file) {
        self.postMessage({ type: 'revealed', seq: m.seq, file: file, error: null });
      }, function (e) {
        self.postMessage({ type: 'revealed', seq: m.seq, file: null, error: { name: e.name, message: String(e.message) } });
      });
    return;
  }
  var id = nextId++;
  ask({ op: 'reveal', sink: id, dir: storage.dir, key: storage.key, stored: m.stored }).then(function (answer) {
    self.postMessage({ type: 'revealed', seq: m.seq, file: answer.file || null, error: answer.error || null });
  });
}

self.onmessage = function (e) {
  var m = e.data;
  if (m.type === 'init') {
    initStorage(m.folder, m.key).then(function (s) {
      storage = s;
      return holdFolderAndClean(s);
    }).then(function () {
      return enginePromise;
    }).then(function (engine) {
      self.postMessage({ type: 'ready', storage: storage.kind, accept: engine.containerAccept() });
      pump();
    }, function (err) {
      self.postMessage({ type: 'broken', message: String(err && err.message || err) });
    });
  } else if (m.type === 'run' || m.type === 'probe') {
    queue.push(m);
    pump();
  } else if (m.type === 'hint') {
    enginePromise.then(function (engine) {
      engine.setLanguage(m.language);
      var hint = engine.passwordHint(m.password, m.making);
      m.password.fill(0);
      self.postMessage({ type: 'hint', seq: m.seq, text: hint.text, refused: hint.refused });
    });
  } else if (m.type === 'reveal') {
    reveal(m);
  } else if (m.type === 'cancel') {
    cancelled[m.id] = true;
  } else if (m.type === 'discard' && storage && storage.kind === 'opfs') {
    var files = m.names.filter(function (name) {
      if (!/^held-\d+$/.test(name)) return true;
      held.delete(Number(name.slice(5)));
      return false;
    });
    if (files.length) io.postMessage({ op: 'drop', names: files, dir: storage.dir });
  } else if (m.type === 'leave' && storage && storage.kind === 'opfs') {
    held.clear();
    // The page is going: everything it kept goes now (a later visit removes whatever
    // this could not, unreadable without the key that goes with the page).
    storage.root.removeEntry(storage.folder, { recursive: true }).catch(function () {});
  }
};
