// The engine's WebAssembly module as JavaScript sees it: sources and sinks by number,
// passwords copied into the module's memory and wiped after use, sessions that work a step
// at a time. Shared by the page's worker and by node (the tests, the benchmark); it knows
// nothing of files or pages itself.
'use strict';

// What a browser or node reports while reading or writing, as the engine's system error
// codes (0 not found, 1 input or output, 2 access denied, 3 no space left, 4 exists; the
// engine adds their text to its message).
function qv3ErrorKind(error) {
  var name = error && (error.name || error.code);
  if (name === 'NotFoundError' || name === 'ENOENT') return 0;
  if (name === 'NotAllowedError' || name === 'SecurityError' || name === 'EACCES') return 2;
  if (name === 'QuotaExceededError' || name === 'ENOSPC') return 3;
  if (name === 'AlreadyExistsError' || name === 'EEXIST') return 4;
  return 1;
}

function Qv3Engine(module, io) {
  this.module = module;
  this.io = io;
}

// wasmBinary: the module's bytes (the page carries them inside its own script, node reads
// the .wasm file), so nothing is ever fetched.
Qv3Engine.create = function (createModule, wasmBinary) {
  var module = null;
  var code = function (error) {
    return module._qv3_system_error(qv3ErrorKind(error));
  };
  var io = {
    next: 1,
    sources: new Map(),
    sinks: new Map(),
    // A thrown exception must not unwind through the engine's frames: every failure
    // becomes a code.
    read: function (id, view, position) {
      try {
        return io.sources.get(id).read(view, position);
      } catch (e) {
        return -code(e);
      }
    },
    write: function (id, view) {
      try {
        io.sinks.get(id).write(view);
        return 0;
      } catch (e) {
        return code(e);
      }
    },
  };
  return createModule({ wasmBinary: wasmBinary, qv3Io: io }).then(function (m) {
    module = m;
    return new Qv3Engine(m, io);
  });
};

// source: { size, read(view, position) } filling view from position and returning the
// count read (0 only at the end); sink: { write(view) } writing all of view. Either
// throws when it fails (a DOMException or a node error; its name tells the code).
// Returns their numbers for the sessions; release them with forget().
Qv3Engine.prototype.register = function (source, sink) {
  var ids = {};
  if (source) {
    ids.source = this.io.next++;
    this.io.sources.set(ids.source, source);
  }
  if (sink) {
    ids.sink = this.io.next++;
    this.io.sinks.set(ids.sink, sink);
  }
  return ids;
};

Qv3Engine.prototype.forget = function (ids) {
  this.io.sources.delete(ids.source);
  this.io.sinks.delete(ids.sink);
};

// Calls fn with the bytes and the name as zero-terminated copies in the module's memory,
// wiping and freeing both however fn ends.
Qv3Engine.prototype.withBytes = function (bytes, name, fn) {
  var m = this.module;
  var bytesAt = m._malloc(bytes.length + 1);
  var nameSize = m.lengthBytesUTF8(name) + 1;
  var nameAt = m._malloc(nameSize);
  try {
    m.HEAPU8.set(bytes, bytesAt);
    m.HEAPU8[bytesAt + bytes.length] = 0;
    m.stringToUTF8(name, nameAt, nameSize);
    return fn(bytesAt, nameAt);
  } finally {
    m.HEAPU8.fill(0, bytesAt, bytesAt + bytes.length + 1);
    m._free(bytesAt);
    m._free(nameAt);
  }
};

// The language of the engine's texts from now on: 'en' or 'ko'.
Qv3Engine.prototype.setLanguage = function (language) {
  this.module._qv3_set_language(language === 'en' ? 1 : 0);
};

// A decryption (encrypt false) or encryption of source into sink. name: the container's
// name (decryption) or the plaintext's (encryption), as the messages give it. password:
// the typed text's UTF-8 bytes, which the engine turns into the bytes it hashes by the
// password rule (every form a container may have been keyed with; the one form a new
// one is keyed with, or a refusal); with given, bytes to try exactly first (a password
// file's, as qv3 --password-file takes them).
Qv3Engine.prototype.open = function (encrypt, source, sink, name, password, given) {
  var self = this;
  var ids = this.register(source, sink);
  var m = this.module;
  var handle = this.withBytes(password, name, function (passwordAt, nameAt) {
    if (encrypt) return m._qv3_encrypt_open(ids.source, source.size, ids.sink, nameAt, passwordAt, password.length);
    return m._qv3_decrypt_open(ids.source, source.size, ids.sink, nameAt, passwordAt, password.length, given ? 1 : 0);
  });
  return new Qv3Session(m, handle, function () {
    self.forget(ids);
  });
};

// What can be told of the container before a password is asked for, a step at a time
// like a decryption: its steps fail with the engine's text (the name, the size, the
// signature, the version, the extensions), or end with opensWithoutPassword telling
// whether the empty password opens it (a category extension's container).
Qv3Engine.prototype.probe = function (source, name) {
  var self = this;
  var ids = this.register(source, null);
  var m = this.module;
  var handle = this.withBytes(new Uint8Array(0), name, function (_, nameAt) {
    return m._qv3_probe_open(ids.source, source.size, nameAt);
  });
  return new Qv3Session(m, handle, function () {
    self.forget(ids);
  });
};

// The line under a password field on what counts of what is typed (bytes: its UTF-8),
// in the engine's language: { text, refused } (refused: a new password no form keeps,
// text naming the characters).
Qv3Engine.prototype.passwordHint = function (bytes, making) {
  var m = this.module;
  var refusedAt = m._malloc(4);
  try {
    var text = this.withBytes(bytes, '', function (at) {
      return m.UTF8ToString(m._qv3_password_hint(at, bytes.length, making ? 1 : 0, refusedAt));
    });
    return { text: text, refused: m.HEAPU8[refusedAt] !== 0 };
  } finally {
    m._free(refusedAt);
  }
};

// The containers' extensions as a file picker's accept list (".aqv3,.pqv3,...").
Qv3Engine.prototype.containerAccept = function () {
  return this.module.UTF8ToString(this.module._qv3_container_accept());
};

// The language the programs' rule gives for the browser's languages (best first): 'ko'
// or 'en'.
Qv3Engine.prototype.languageOf = function (tags) {
  var m = this.module;
  var text = tags.join(',');
  return this.withBytes(new Uint8Array(0), text, function (_, at) {
    return m._qv3_language_of(at) ? 'en' : 'ko';
  });
};

// The engine's text for an output that could not be created ('create') or completed
// ('flush') for the input named name, made with a password (generic) or without; error
// is what the browser threw.
Qv3Engine.prototype.outputFailureText = function (encrypt, generic, stage, name, error) {
  var m = this.module;
  var code = m._qv3_system_error(qv3ErrorKind(error));
  return this.withBytes(new Uint8Array(0), name, function (_, nameAt) {
    return m.UTF8ToString(m._qv3_output_failure(encrypt ? 1 : 0, generic ? 1 : 0, stage === 'flush' ? 1 : 0, nameAt, code));
  });
};

function Qv3Session(module, handle, release) {
  this.module = module;
  this.handle = handle;
  this.release = release;
  this.outputName = module.UTF8ToString(module._qv3_session_output_name(handle));
}

// Works for about budget bytes: 'more', 'done' (for a decryption: authenticated) or
// 'failed' (then message holds the engine's text).
Qv3Session.prototype.step = function (budget) {
  var r = this.handle ? this.module._qv3_session_step(this.handle, budget) : -1;
  return r > 0 ? 'done' : r === 0 ? 'more' : 'failed';
};

Object.defineProperties(Qv3Session.prototype, {
  failed: {
    get: function () {
      return this.module._qv3_session_failed(this.handle) !== 0;
    },
  },
  message: {
    get: function () {
      return this.module.UTF8ToString(this.module._qv3_session_message(this.handle));
    },
  },
  refused: {
    get: function () {
      return this.module._qv3_session_refused(this.handle) !== 0;
    },
  },
  opensWithoutPassword: {
    get: function () {
      return this.module._qv3_session_probe(this.handle) !== 0;
    },
  },
  failureKind: {
    get: function () {
      return this.module._qv3_session_failure_kind(this.handle);
    },
  },
  percent: {
    get: function () {
      return this.module._qv3_session_percent(this.handle);
    },
  },
});

// Wipes the session's keys and releases it.
Qv3Session.prototype.free = function () {
  if (!this.handle) return;
  this.module._qv3_session_free(this.handle);
  this.handle = 0;
  this.release();
};

if (typeof module !== 'undefined' && module.exports) module.exports = { Qv3Engine: Qv3Engine };
