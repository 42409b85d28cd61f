// The input and output of the page's worker, on a thread of their own: slices of picked
// files are read and outputs written here while the engine works on the worker's thread,
// which then does little but the engine (the bytes move between the two without a copy).
// The worker starts this function's text as a worker of its own.
//
// An output kept in the private file system is encrypted there (AES-GCM, one record a
// write) under the page's key, which is never stored and goes with the page: what a page
// leaves behind cannot be read by anyone, and the next visit removes it. Each record is
// its plaintext's length (4 bytes, big-endian) and its ciphertext with the tag; its IV is
// the output's number and the record's, so records cannot be moved or swapped unnoticed.
//
// Messages from the worker, each answered with the same op: read { source, index, file,
// start, end } with { buffer } or { error } (release { source }, unanswered: that file's
// reading is over); open { sink, dir, key } (dir null: in
// memory) with { name } or { error }; write { sink, buffer } with { bytes, error };
// finish { sink } with { file } (memory) or { stored: { name, size, number } }, or
// { error }; reveal { sink, dir, key, stored } with { file } (the plaintext) or { error };
// discard { sink }; drop { names, dir } removes stored outputs' files, unanswered. With into (a folder the user picked) and folder (the names of the
// folders under it), open writes the output there instead, under a temporary name;
// claim { sink, name } answers { error } when name is taken there; finish { sink, name }
// puts the output under that name, once it is complete, and answers { written }.
// How outputs are sealed in the page's storage, shared by the worker (which holds small
// outputs itself) and its helper (which writes the others to files); the helper is
// started with these functions' text before its own.

// The IV of an output's record: the output's number, then the record's.
function qv3RecordIv(number, record) {
  var iv = new Uint8Array(12);
  var view = new DataView(iv.buffer);
  view.setUint32(0, number);
  view.setUint32(4, Math.floor(record / 0x100000000));
  view.setUint32(8, record >>> 0);
  return iv;
}

// Resolves to the record of bytes: its length and its ciphertext with the tag. Wipes bytes.
function qv3SealRecord(key, number, record, bytes) {
  return self.crypto.subtle.encrypt({ name: 'AES-GCM', iv: qv3RecordIv(number, record) }, key, bytes).then(function (sealed) {
    var out = new Uint8Array(4 + sealed.byteLength);
    new DataView(out.buffer).setUint32(0, bytes.length);
    out.set(new Uint8Array(sealed), 4);
    bytes.fill(0);
    return out;
  });
}

// The plaintext of a stored output (a Blob of its records), as a Blob.
function qv3Unseal(blob, key, stored) {
  var parts = [];
  var total = 0;
  function next(at, record) {
    if (at >= blob.size) {
      if (total !== stored.size) throw new DOMException('stored output cut short', 'NotReadableError');
      return new Blob(parts);
    }
    return blob.slice(at, at + 4).arrayBuffer().then(function (head) {
      var length = new DataView(head).getUint32(0);
      return blob.slice(at + 4, at + 4 + length + 16).arrayBuffer().then(function (sealed) {
        return self.crypto.subtle.decrypt({ name: 'AES-GCM', iv: qv3RecordIv(stored.number, record) }, key, sealed);
      }).then(function (plain) {
        parts.push(plain);
        total += plain.byteLength;
        return next(at + 4 + length + 16, record + 1);
      });
    });
  }
  return next(0, 0);
}

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
        var file = new Blob([blob].concat(parts));
        return Promise.resolve({ file: file, size: file.size });
      },
      discard: function () {
        parts = [];
        blob = null;
        return Promise.resolve();
      },
    };
  }

  // A new file in the page's own folder, never one that exists, written through a
  // synchronous access handle, a record at a time in the order the writes came.
  function fileSink(dir, key, number) {
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
        var size = 0;
        var records = 0;
        var open = true;
        var chain = Promise.resolve();
        var close = function () {
          if (open) access.close();
          open = false;
        };
        var put = function (bytes) {
          var n = access.write(bytes, { at: offset });
          offset += n;
          if (n !== bytes.length) throw new DOMException('short write', 'QuotaExceededError');
        };
        return {
          name: name,
          // Resolves once the bytes are written (encrypted), in turn with the writes before.
          write: function (bytes) {
            var record = records++;
            var length = bytes.length;
            chain = chain.then(function () {
              return qv3SealRecord(key, number, record, bytes);
            }).then(function (sealed) {
              put(sealed);
              size += length;
            });
            return chain;
          },
          finish: function () {
            return chain.then(function () {
              access.flush();
              close();
              return { stored: { name: name, size: size, number: number }, size: size };
            });
          },
          discard: function () {
            return chain.catch(function () {}).then(function () {
              try {
                close();
              } catch (e) {
                // closed already
              }
              return dir.removeEntry(name).catch(function () {});
            });
          },
        };
      });
    });
  }

  function exists(dir, name) {
    return dir.getFileHandle(name).then(function () {
      return true;
    }, function (e) {
      if (e && (e.name === 'NotFoundError' || e.name === 'TypeMismatchError')) return e.name === 'TypeMismatchError';
      throw e;
    });
  }

  function taken(name) {
    return new DOMException('a file named ' + name + ' is there already', 'AlreadyExistsError');
  }

  // The output written straight into a folder the user picked (no copy kept anywhere else,
  // memory bounded by what the worker lets wait): under a temporary name made for it,
  // put under its own name only once the work succeeded (a name there already is never
  // replaced), removed on failure.
  function folderSink(into, folder) {
    var temporary = '.qv3part-' + self.crypto.randomUUID();
    var path = folder.join('/');
    return folder.reduce(function (at, part) {
      return at.then(function (dir) { return dir.getDirectoryHandle(part, { create: true }); });
    }, Promise.resolve(into)).then(function (dir) {
      return exists(dir, temporary).then(function (there) {
        if (there) throw taken(temporary);
        return dir.getFileHandle(temporary, { create: true });
      }).then(function (handle) {
        return handle.createWritable().then(function (writable) {
          var chain = Promise.resolve();
          var size = 0;
          var open = true;
          return {
            name: temporary,
            write: function (bytes) {
              chain = chain.then(function () {
                return writable.write(bytes);
              }).then(function () {
                size += bytes.length;
              });
              return chain;
            },
            claim: function (name) {
              return exists(dir, name).then(function (there) {
                if (there) throw taken(name);
              });
            },
            finish: function (name) {
              return chain.then(function () {
                open = false;
                return writable.close();
              }).then(function () {
                return exists(dir, name);
              }).then(function (there) {
                if (there) throw taken(name);
                return handle.move(name);
              }).then(function () {
                return { written: (path ? path + '/' : '') + name, size: size };
              }, function (e) {
                return dir.removeEntry(temporary).catch(function () {}).then(function () { throw e; });
              });
            },
            discard: function () {
              return chain.catch(function () {}).then(function () {
                if (open) return writable.abort().catch(function () {});
              }).then(function () {
                open = false;
                return dir.removeEntry(temporary).catch(function () {});
              });
            },
          };
        });
      });
    });
  }

  // Each picked file is read as one stream (Blob.stream()), in order: a slice asked for
  // where the stream stands is taken from it; one asked for elsewhere (a container read
  // again from its start) is read by itself.
  var streams = new Map();

  function readSlice(m) {
    var stream = streams.get(m.source);
    if (!stream) {
      stream = { reader: m.file.stream().getReader(), at: 0, left: null, chain: Promise.resolve() };
      streams.set(m.source, stream);
    }
    var result = stream.chain.then(function () {
      if (m.start !== stream.at) return m.file.slice(m.start, m.end).arrayBuffer();
      var out = new Uint8Array(Math.min(m.end, m.file.size) - m.start);
      var filled = 0;
      function fill() {
        while (stream.left && filled < out.length) {
          var take = Math.min(stream.left.length, out.length - filled);
          out.set(stream.left.subarray(0, take), filled);
          filled += take;
          stream.left = take < stream.left.length ? stream.left.subarray(take) : null;
        }
        if (filled === out.length) {
          stream.at += filled;
          return out.buffer;
        }
        return stream.reader.read().then(function (chunk) {
          if (chunk.done) throw new DOMException('the file ended early', 'NotReadableError');
          stream.left = chunk.value;
          return fill();
        });
      }
      return fill();
    });
    // A failed read leaves the stream where it is: the next slice asked for is read by itself.
    stream.chain = result.then(function () {}, function () { stream.at = -1; });
    return result;
  }

  // A stored output's plaintext, as a Blob for the page to save or show.
  function reveal(dir, key, stored) {
    return dir.getFileHandle(stored.name).then(function (handle) {
      return handle.getFile();
    }).then(function (file) {
      return qv3Unseal(file, key, stored);
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
      readSlice(m).then(function (buffer) {
        answer({ buffer: buffer }, [buffer]);
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'release') {
      var stream = streams.get(m.source);
      streams.delete(m.source);
      if (stream) stream.chain.then(function () { return stream.reader.cancel(); }).catch(function () {});
    } else if (m.op === 'open') {
      (m.into ? folderSink(m.into, m.folder) : m.dir ? fileSink(m.dir, m.key, m.sink) : Promise.resolve(memorySink()))
        .then(function (s) {
        sinks.set(m.sink, s);
        answer({ name: s.name });
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'write') {
      var bytes = m.buffer.byteLength;
      Promise.resolve().then(function () {
        return sink.write(new Uint8Array(m.buffer));
      }).then(function () {
        answer({ bytes: bytes, error: null });
      }, function (err) {
        answer({ bytes: bytes, error: errorOf(err) });
      });
    } else if (m.op === 'claim') {
      sink.claim(m.name).then(function () {
        answer({});
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'finish') {
      Promise.resolve().then(function () {
        return sink.finish(m.name);
      }).then(function (done) {
        sinks.delete(m.sink);
        answer(done);
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'reveal') {
      reveal(m.dir, m.key, m.stored).then(function (file) {
        answer({ file: file });
      }, function (err) {
        answer({ error: errorOf(err) });
      });
    } else if (m.op === 'drop') {
      // Stored outputs the page is done with.
      m.names.forEach(function (name) {
        m.dir.removeEntry(name).catch(function () {});
      });
    } else if (m.op === 'discard') {
      (sink ? sink.discard() : Promise.resolve()).then(function () {
        sinks.delete(m.sink);
        answer({});
      });
    }
  };
}
