// The page's worker: runs the engine on the files the page hands over, one run at a time,
// so the page stays responsive. It reads each input a chunk at a time (the engine never
// holds a whole container), keeps each output in the origin's private file system where
// the browser offers one (else in memory), and hands an output to the page only once the
// work on it has succeeded: a plaintext only after its container's MAC has been checked.
//
// Messages from the page: init { folder }, run { id, encrypt, files, password },
// cancel { id }, discard { names }. To the page: ready { storage }, password { form },
// start { id, index }, progress { id, index, percent }, done { id, index, name, file,
// size }, failed { id, index, message }, cancelled { id, index }, end { id }.
/* global createQv3Engine, Qv3Engine, QV3_WASM_BASE64, FileReaderSync */

var STEP_BYTES = 4 * 1024 * 1024; // work between two looks at the page's messages
var MEMORY_PART_BYTES = 64 * 1024 * 1024; // memory outputs are gathered into Blobs this size

var enginePromise = Qv3Engine.create(createQv3Engine, decodeBase64(QV3_WASM_BASE64));
var storage = null; // { kind: 'opfs', folder } or { kind: 'memory' }
var queue = [];
var running = false;
var cancelled = {};

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

// A picked file read a chunk at a time, synchronously, as the engine asks.
function blobSource(file) {
  var reader = new FileReaderSync();
  return {
    size: file.size,
    read: function (view, position) {
      var chunk = reader.readAsArrayBuffer(file.slice(position, position + view.length));
      view.set(new Uint8Array(chunk));
      return chunk.byteLength;
    },
  };
}

// The origin's private file system, in a folder of this page's own that a lock held for
// the page's life marks as in use; folders of pages that are gone are removed.
function initStorage(folder) {
  if (!self.navigator.storage || !self.navigator.storage.getDirectory) return Promise.resolve({ kind: 'memory' });
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
            return { kind: 'opfs', root: root, folder: folder, dir: dir };
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

// Where one output goes. write(view) is what the engine calls; finish() gives the File
// or Blob once the work succeeded; discard() removes what was written.
function makeSink() {
  if (storage.kind === 'opfs') {
    var name = 'out-' + self.crypto.randomUUID();
    var dir = storage.dir;
    // A name that is taken is never written through.
    return dir
      .getFileHandle(name)
      .then(
        function () { throw new Error('name taken'); },
        function (e) {
          if (e && e.name === 'NotFoundError') return dir.getFileHandle(name, { create: true });
          throw e;
        }
      )
      .then(function (handle) {
        return handle.createSyncAccessHandle().then(function (access) {
          var offset = 0;
          return {
            write: function (view) {
              var n = access.write(view, { at: offset });
              offset += n;
              if (n !== view.length) throw new DOMException('short write', 'QuotaExceededError');
            },
            finish: function () {
              access.flush();
              access.close();
              return handle.getFile();
            },
            discard: function () {
              try { access.close(); } catch (e) { /* closed already */ }
              return dir.removeEntry(name).catch(function () {});
            },
            storedName: name,
          };
        });
      });
  }
  var parts = [];
  var pending = 0;
  var blob = new Blob([]);
  return Promise.resolve({
    write: function (view) {
      parts.push(view.slice());
      pending += view.length;
      if (pending >= MEMORY_PART_BYTES) {
        blob = new Blob([blob].concat(parts));
        parts = [];
        pending = 0;
      }
    },
    finish: function () {
      return Promise.resolve(new Blob([blob].concat(parts)));
    },
    discard: function () {
      parts = [];
      blob = null;
      return Promise.resolve();
    },
    storedName: null,
  });
}

// The typed password, or its code page 949 form when that opens the first container whose
// key block can tell and the typed form does not (containers made on Korean Windows).
function choosePassword(engine, files, typed) {
  var ascii = typed.every(function (b) { return b < 0x80; });
  if (ascii) return typed;
  var alternate = engine.cp949Form(typed);
  if (!alternate) return typed;
  for (var i = 0; i < files.length; ++i) {
    var answer = engine.checkPassword(blobSource(files[i]), files[i].name, typed);
    if (answer === 'opens') break;
    if (answer === 'wrong') {
      if (engine.checkPassword(blobSource(files[i]), files[i].name, alternate) === 'opens') {
        typed.fill(0);
        self.postMessage({ type: 'password', form: 'cp949' });
        return alternate;
      }
      break;
    }
  }
  alternate.fill(0);
  return typed;
}

// One file: the engine a step at a time, progress when it moves, Cancel between steps.
// Resolves to 'done', 'failed' or 'cancelled'.
function runOne(engine, job, index, password) {
  var file = job.files[index];
  var post = function (m) {
    m.id = job.id;
    m.index = index;
    self.postMessage(m);
  };
  post({ type: 'start' });
  return makeSink().then(function (sink) {
    var session = engine.open(job.encrypt, blobSource(file), sink, file.name, password);
    var lastPercent = -1;
    function fail() {
      var message = session.message;
      session.free();
      return sink.discard().then(function () {
        post({ type: 'failed', message: message });
        return 'failed';
      });
    }
    function loop() {
      if (session.failed) return fail();
      if (cancelled[job.id]) {
        session.free();
        return sink.discard().then(function () {
          post({ type: 'cancelled' });
          return 'cancelled';
        });
      }
      var r = session.step(STEP_BYTES);
      if (r === 'failed') return fail();
      var percent = session.percent;
      if (percent !== lastPercent) {
        lastPercent = percent;
        post({ type: 'progress', percent: percent });
      }
      if (r === 'done') {
        var name = session.outputName;
        session.free();
        return sink.finish().then(function (out) {
          post({ type: 'done', name: name, file: out, size: out.size, storedName: sink.storedName });
          return 'done';
        });
      }
      return yieldToMessages().then(loop);
    }
    return loop();
  }, function (e) {
    post({ type: 'failed', message: String(e && e.message || e) });
    return 'failed';
  });
}

// A run ends at its first failure or Cancel: the files after it are not started.
function runJob(job) {
  return enginePromise.then(function (engine) {
    var password = job.encrypt ? job.password : choosePassword(engine, job.files, job.password);
    function from(index) {
      if (index >= job.files.length) return Promise.resolve();
      return runOne(engine, job, index, password).then(function (outcome) {
        if (outcome === 'done') return from(index + 1);
      });
    }
    return from(0).finally(function () {
      password.fill(0);
    });
  });
}

function pump() {
  if (running || !queue.length || !storage) return;
  running = true;
  var job = queue.shift();
  runJob(job)
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

self.onmessage = function (e) {
  var m = e.data;
  if (m.type === 'init') {
    initStorage(m.folder).then(function (s) {
      storage = s;
      return holdFolderAndClean(s);
    }).then(function () {
      return enginePromise;
    }).then(function () {
      self.postMessage({ type: 'ready', storage: storage.kind });
      pump();
    }, function (err) {
      self.postMessage({ type: 'broken', message: String(err && err.message || err) });
    });
  } else if (m.type === 'run') {
    queue.push(m);
    pump();
  } else if (m.type === 'cancel') {
    cancelled[m.id] = true;
  } else if (m.type === 'discard' && storage && storage.kind === 'opfs') {
    m.names.forEach(function (name) {
      storage.dir.removeEntry(name).catch(function () {});
    });
  }
};
