// The input and output of the page's worker, on a thread of their own: slices of picked
// files are read and outputs written here while the engine works on the worker's thread,
// which then does little but the engine (the bytes move between the two without a copy).
// The worker starts this function's text as a worker of its own.
//
// Messages from the worker, each answered with the same op: read { source, index, file,
// start, end } with { buffer } or { error }; open { sink, dir } (dir null: in memory)
// with { name } or { error }; write { sink, buffer } with { bytes, error }; finish
// { sink } with { file } or { error }; discard { sink }.
function qv3IoMain() {
  'use strict';

  var MEMORY_PART_BYTES = 64 * 1024 * 1024; // memory outputs are gathered into Blobs this size
  var sinks = new Map();

  function errorOf(e) {
    return { name: (e && e.name) || 'Error', message: String((e && e.message) || e) };
  }

  function memorySink() {
    var parts = [];
    var pending = 0;
    var blob = new Blob([]);
    return {
      name: null,
      write: function (bytes) {
        parts.push(bytes);
        pending += bytes.length;
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
    };
  }

  // A new file in the page's own folder, never one that exists, written through a
  // synchronous access handle.
  function fileSink(dir) {
    var name = 'out-' + self.crypto.randomUUID();
    return dir.getFileHandle(name).then(
      function () {
        throw new Error('name taken: ' + name);
      },
      function (e) {
        if (!e || e.name !== 'NotFoundError') throw e;
        return dir.getFileHandle(name, { create: true });
      }
    ).then(function (handle) {
      return handle.createSyncAccessHandle().then(function (access) {
        var offset = 0;
        var open = true;
        var close = function () {
          if (open) access.close();
          open = false;
        };
        return {
          name: name,
          write: function (bytes) {
            var n = access.write(bytes, { at: offset });
            offset += n;
            if (n !== bytes.length) throw new DOMException('short write', 'QuotaExceededError');
          },
          finish: function () {
            access.flush();
            close();
            return handle.getFile();
          },
          discard: function () {
            try {
              close();
            } catch (e) {
              // closed already
            }
            return dir.removeEntry(name).catch(function () {});
          },
        };
      });
    });
  }

  self.onmessage = function (e) {
    var m = e.data;
    var answer = function (reply, transfer) {
      reply.op = m.op;
      reply.source = m.source;
      reply.index = m.index;
      reply.sink = m.sink;
      self.postMessage(reply, transfer || []);
    };
    var sink = sinks.get(m.sink);
    if (m.op === 'read') {
      m.file.slice(m.start, m.end).arrayBuffer().then(function (buffer) {
        answer({ buffer: buffer }, [buffer]);
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'open') {
      (m.dir ? fileSink(m.dir) : Promise.resolve(memorySink())).then(function (s) {
        sinks.set(m.sink, s);
        answer({ name: s.name });
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'write') {
      var error = null;
      try {
        sink.write(new Uint8Array(m.buffer));
      } catch (err) {
        error = errorOf(err);
      }
      answer({ bytes: m.buffer.byteLength, error: error });
    } else if (m.op === 'finish') {
      Promise.resolve().then(function () {
        return sink.finish();
      }).then(function (file) {
        sinks.delete(m.sink);
        answer({ file: file });
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'discard') {
      (sink ? sink.discard() : Promise.resolve()).then(function () {
        sinks.delete(m.sink);
        answer({});
      });
    }
  };
}
