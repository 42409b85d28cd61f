'use strict';
// qv3 for Node: password-protected containers (*.aqv3 and the category extensions) on the
// same engine as the qv3 command, compiled to WebAssembly (qv3_wasm.js). Buffers in and
// out, files, and streams for files too big to hold.
//
// A password given as a string is text as a person types it (a container keyed with any
// form a system may have made of it opens; a new one is keyed with the form a Korean
// Windows system types); given as a Buffer or Uint8Array it is used as it is first.

const fs = require('fs');
const path = require('path');
const { Readable, Transform } = require('stream');

const Module = require('./qv3_wasm.js');

const OVERWRITE = 0x01;
const LONG_PASSWORD = 0x04;
const EMPTY_PASSWORD = 0x08;
const PASSWORD_BYTES = 0x10;
const PIECE = 1 << 20;

// Every code of qv3.h, by name; exitStatus() gives the qv3 command's status for one.
const codes = Object.freeze({
  OK: 0, INVALID_ARGUMENT: 1, EMPTY_PASSWORD_REFUSED: 2, PASSWORD_NOT_EMPTY: 3, PASSWORD_TOO_LONG: 4,
  PASSWORD_NOT_KEPT: 5, NOT_AVAILABLE: 6, CANCELLED: 10, SIZE_UNKNOWN: 100, TOO_SMALL: 101, TOO_SMALL_V2: 102,
  HEAD_UNREADABLE: 103, BAD_SIGNATURE: 104, BAD_VERSION: 105, EXTENSION_LENGTH_UNREADABLE: 106,
  EXTENSION_UNREADABLE: 107, BAD_CIPHER_LENGTH: 108, UNREADABLE: 109, WRONG_PASSWORD: 110,
  WRONG_PASSWORD_OR_DAMAGED: 111, DAMAGED: 112, WRITE_FAILED: 113, KEY_BLOCK_WRITE_FAILED: 114,
  NEXT_WRITE_FAILED: 115, INVALID_NAME: 116, ODD_NAME: 117, NOT_A_CONTAINER_NAME: 118, INPUT_MISSING: 119,
  DIRECTORY_NOT_DECRYPTED: 120, DIRECTORY_NOT_ENCRYPTED: 121, INPUT_NOT_OPENED: 122, OUTPUT_NOT_CREATED: 123,
  OUTPUT_NOT_OPENED: 124, TEMPORARY_NAMES_TAKEN: 125, SOURCE_NOT_DELETED: 126, SOURCE_IS_LINK: 127,
  NO_CRYPTO_PROVIDER: 128, NO_RANDOM_BYTES: 129, OUT_OF_MEMORY: 130, THREAD_NOT_CREATED: 131,
});
// Messages in the user's language, as the qv3 command decides it from the environment.
{
  const names = ['LANGUAGE', 'LC_ALL', 'LC_MESSAGES', 'LANG'];
  const values = names.map((name) => (process.env[name] === undefined ? null : Buffer.from(process.env[name] + '\0')));
  const at = values.map((v) => {
    if (!v) return 0;
    const p = Module._malloc(v.length);
    Module.HEAPU8.set(v, p);
    return p;
  });
  Module._qv3_node_set_language(...at);
  at.forEach((p) => p && Module._free(p));
}

const codeNames = Object.fromEntries(Object.entries(codes).map(([name, value]) => [value, name]));

// Every failure: code (a number of codes), codeName, exitStatus (qv3's: 1, 2 or 130),
// path, and the message as qv3 prints it.
class Qv3Error extends Error {
  constructor(code, message, filePath) {
    super(message);
    this.name = 'Qv3Error';
    this.code = code;
    this.codeName = codeNames[code] || String(code);
    this.exitStatus = Module._qv3_node_exit_status(code);
    this.path = filePath || '';
  }
}

function exitStatus(code) {
  return Module._qv3_node_exit_status(code);
}

function lastError(filePath) {
  return new Qv3Error(Module._qv3_node_error_code(), Module.UTF8ToString(Module._qv3_node_error_message()), filePath);
}

// Sources and sinks the module calls back, by id.
const ends = new Map();
let nextId = 1;
Module.qv3Io = {
  read(id, view) {
    try {
      return ends.get(id).read(view);
    } catch (e) {
      return -1;
    }
  },
  rewind(id) {
    try {
      return ends.get(id).rewind() ? 0 : -1;
    } catch (e) {
      return -1;
    }
  },
  write(id, view) {
    try {
      ends.get(id).write(view);
      return 0;
    } catch (e) {
      return -1;
    }
  },
};
function register(end) {
  const id = nextId++;
  ends.set(id, end);
  return id;
}

// Memory of the module for a copy of bytes (zeroed when released).
function withBytes(bytes, use) {
  const at = Module._malloc(bytes.length + 1);
  try {
    Module.HEAPU8.set(bytes, at);
    Module.HEAPU8[at + bytes.length] = 0;
    return use(at, bytes.length);
  } finally {
    Module.HEAPU8.fill(0, at, at + bytes.length + 1);
    Module._free(at);
  }
}
function withString(text, use) {
  return withBytes(Buffer.from(text, 'utf8'), (at) => use(at));
}

function passwordOf(password, options) {
  let bytes;
  let flags = 0;
  if (typeof password === 'string') {
    bytes = Buffer.from(password, 'utf8');
  } else if (password instanceof Uint8Array) {
    bytes = Buffer.from(password);
    flags |= PASSWORD_BYTES;
  } else {
    throw new TypeError('password must be a string, a Buffer or a Uint8Array');
  }
  if (options.emptyPassword) flags |= EMPTY_PASSWORD;
  if (options.longPassword) flags |= LONG_PASSWORD;
  return { bytes, flags };
}

// A reader over a source ({size, read(view), rewind()}), named name in messages.
function openReader(source, name, password, options) {
  const { bytes, flags } = passwordOf(password, options);
  const id = register(source);
  const reader = withString(name, (nameAt) =>
    withBytes(bytes, (at, length) => Module._qv3_node_reader_open(id, source.size, nameAt, at, length, flags)));
  bytes.fill(0);
  if (!reader) {
    ends.delete(id);
    throw lastError(name);
  }
  const buffer = Module._malloc(PIECE);
  let closed = false;
  return {
    // The next plaintext bytes, UNAUTHENTICATED until finish(); null at the end.
    read() {
      const got = Module._qv3_node_reader_read(reader, buffer, PIECE);
      if (got < 0) throw lastError(name);
      return got === 0 ? null : Buffer.from(Module.HEAPU8.subarray(buffer, buffer + got));
    },
    finish() {
      if (Module._qv3_node_reader_finish(reader) !== 0) throw lastError(name);
    },
    close() {
      if (closed) return;
      closed = true;
      Module.HEAPU8.fill(0, buffer, buffer + PIECE);
      Module._free(buffer);
      Module._qv3_node_reader_close(reader);
      ends.delete(id);
    },
  };
}

function bufferSource(buffer) {
  let at = 0;
  return {
    size: buffer.length,
    read(view) {
      const n = Math.min(view.length, buffer.length - at);
      view.set(buffer.subarray(at, at + n));
      at += n;
      return n;
    },
    rewind() {
      at = 0;
      return true;
    },
  };
}

function fileSource(fd) {
  let at = 0;
  return {
    size: fs.fstatSync(fd).size,
    read(view) {
      const n = fs.readSync(fd, view, 0, view.length, at);
      at += n;
      return n;
    },
    rewind() {
      at = 0;
      return true;
    },
  };
}

function openWriter(sink, name, password, options) {
  const { bytes, flags } = passwordOf(password, options);
  const id = register(sink);
  const writer = withString(name, (nameAt) =>
    withBytes(bytes, (at, length) => Module._qv3_node_writer_open(id, nameAt, at, length, flags)));
  bytes.fill(0);
  if (!writer) {
    ends.delete(id);
    throw lastError(name);
  }
  let closed = false;
  return {
    write(data) {
      for (let at = 0; at < data.length; at += PIECE) {
        const piece = data.subarray(at, Math.min(data.length, at + PIECE));
        const status = withBytes(piece, (p, n) => Module._qv3_node_writer_write(writer, p, n));
        if (status !== 0) throw lastError(name);
      }
    },
    finish() {
      if (Module._qv3_node_writer_finish(writer) !== 0) throw lastError(name);
    },
    close() {
      if (closed) return;
      closed = true;
      Module._qv3_node_writer_close(writer);
      ends.delete(id);
    },
  };
}

// An output written as the engine writes one: to a temporary created new beside it,
// owner-only, then put under its name, which is never replaced unless overwrite is set
// (a link refuses an existing name; a rename replaces). The temporary goes on failure.
function writeOutput(output, overwrite, fill, mode) {
  let temporary = null;
  let fd = -1;
  for (let attempt = 1; attempt <= 99 && fd < 0; attempt++) {
    const name = output + '.qv3part' + (attempt > 1 ? String(attempt) : '');
    try {
      fd = fs.openSync(name, fs.constants.O_WRONLY | fs.constants.O_CREAT | fs.constants.O_EXCL, 0o600);
      temporary = name;
    } catch (e) {
      if (e.code !== 'EEXIST') throw new Qv3Error(codes.OUTPUT_NOT_CREATED, e.message, output);
    }
  }
  if (fd < 0) throw new Qv3Error(codes.TEMPORARY_NAMES_TAKEN, 'every temporary name is taken', output + '.qv3part');
  try {
    fill((data) => {
      for (let at = 0; at < data.length;) at += fs.writeSync(fd, data, at, data.length - at);
    });
    fs.fsyncSync(fd);
    fs.fchmodSync(fd, mode);
    fs.closeSync(fd);
    fd = -1;
    if (overwrite) {
      fs.renameSync(temporary, output);
    } else {
      try {
        fs.linkSync(temporary, output);
      } catch (e) {
        throw new Qv3Error(codes.OUTPUT_NOT_CREATED, e.message, output);
      }
      fs.unlinkSync(temporary);
    }
    temporary = null;
  } finally {
    if (fd >= 0) fs.closeSync(fd);
    if (temporary) fs.rmSync(temporary, { force: true });
  }
}

function isContainerName(name) {
  return withString(name, (at) => Module._qv3_node_is_container_name(at)) === 1;
}

// decrypt(buffer, password) → the plaintext, a Buffer, once the container has
// authenticated. decrypt(path, password, {out, overwrite}) → the plaintext's path: written
// beside the container (its name less its extension) or to out, read-only, only once the
// container has authenticated.
function decrypt(input, password, options = {}) {
  if (typeof input !== 'string') {
    const reader = openReader(bufferSource(Buffer.from(input)), options.name || '', password, options);
    try {
      const pieces = [];
      for (let piece; (piece = reader.read()) !== null;) pieces.push(piece);
      reader.finish();
      return Buffer.concat(pieces);
    } finally {
      reader.close();
    }
  }
  let output = options.out;
  if (output === undefined) {
    if (!isContainerName(input)) throw new Qv3Error(codes.NOT_A_CONTAINER_NAME, 'not a container\'s name', input);
    output = input.slice(0, -5);
  }
  const fd = openInput(input, codes.INPUT_NOT_OPENED);
  try {
    const reader = openReader(fileSource(fd), input, password, options);
    try {
      writeOutput(output, !!options.overwrite, (write) => {
        for (let piece; (piece = reader.read()) !== null;) write(piece);
        reader.finish();
      }, fs.fstatSync(fd).mode & 0o555);
    } finally {
      reader.close();
    }
  } finally {
    fs.closeSync(fd);
  }
  return output;
}

function openInput(input, code) {
  try {
    return fs.openSync(input, 'r');
  } catch (e) {
    throw new Qv3Error(e.code === 'ENOENT' ? codes.INPUT_MISSING : code, e.message, input);
  }
}

// encrypt(buffer, password, {name}) → the container, a Buffer. encrypt(path, password) →
// the container's path: path + '.aqv3' (with the empty password, the kind's extension),
// which is never replaced.
function encrypt(input, password, options = {}) {
  const empty = (typeof password === 'string' || password instanceof Uint8Array) && password.length === 0;
  if (typeof input !== 'string') {
    const pieces = [];
    const writer = openWriter({ write: (view) => pieces.push(Buffer.from(view)) }, options.name || '', password,
      options);
    try {
      writer.write(Buffer.from(input));
      writer.finish();
    } finally {
      writer.close();
    }
    return Buffer.concat(pieces);
  }
  const extension = withString(input, (at) => Module.UTF8ToString(Module._qv3_node_container_extension(at, empty)));
  const output = input + '.' + extension;
  const fd = openInput(input, codes.INPUT_NOT_OPENED);
  try {
    if (fs.fstatSync(fd).isDirectory()) throw new Qv3Error(codes.DIRECTORY_NOT_ENCRYPTED, 'a folder', input);
    // The head is written as the writer opens (a refused password writes nothing); it
    // waits here until the temporary exists.
    const sink = {
      held: [],
      target: null,
      write(view) {
        if (this.target) this.target(Buffer.from(view));
        else this.held.push(Buffer.from(view));
      },
    };
    const writer = openWriter(sink, output, password, options);
    try {
      writeOutput(output, false, (write) => {
        for (const piece of sink.held) write(piece);
        sink.held = [];
        sink.target = write;
        const piece = Buffer.alloc(PIECE);
        for (let at = 0, n; (n = fs.readSync(fd, piece, 0, PIECE, at)) > 0; at += n) writer.write(piece.subarray(0, n));
        writer.finish();
        piece.fill(0);
      }, fs.fstatSync(fd).mode & 0o666);
    } finally {
      writer.close();
    }
  } finally {
    fs.closeSync(fd);
  }
  return output;
}

// A stream of the plaintext of the container at path, as it is decrypted: for files too
// big to hold. Its data is UNAUTHENTICATED until the stream ends without an error (the
// MAC is checked after the last byte; a damaged container then fails the stream with
// DAMAGED). It takes that choice in words: {unauthenticated: true}; without it, use
// decrypt(path, …), which puts the plaintext in place only once it has authenticated.
function createDecryptStream(input, password, options = {}) {
  if (options.unauthenticated !== true)
    throw new TypeError('createDecryptStream yields data before the container has authenticated: ' +
      'pass {unauthenticated: true} to accept that, or use decrypt(path, password)');
  const fd = openInput(input, codes.INPUT_NOT_OPENED);
  let reader;
  try {
    reader = openReader(fileSource(fd), input, password, options);
  } catch (e) {
    fs.closeSync(fd);
    throw e;
  }
  const end = () => {
    reader.close();
    fs.closeSync(fd);
  };
  let ended = false;
  return new Readable({
    read() {
      try {
        const piece = reader.read();
        if (piece) {
          this.push(piece);
          return;
        }
        reader.finish();
        ended = true;
        end();
        this.push(null);
      } catch (e) {
        ended = true;
        end();
        this.destroy(e);
      }
    },
    destroy(error, callback) {
      if (!ended) {
        ended = true;
        end();
      }
      callback(error);
    },
  });
}

// A stream that turns the plaintext written to it into a container: for files too big to
// hold. What it gives is a container once it has ended without an error.
function createEncryptStream(password, options = {}) {
  // The head, written as the writer opens, goes out first.
  const head = [];
  let transform = null;
  const sink = { write: (view) => (transform ? transform : { push: (b) => head.push(b) }).push(Buffer.from(view)) };
  const writer = openWriter(sink, options.name || '', password, options);
  transform = new Transform({
    transform(chunk, encoding, callback) {
      try {
        writer.write(chunk);
        callback();
      } catch (e) {
        writer.close();
        callback(e);
      }
    },
    flush(callback) {
      try {
        writer.finish();
        writer.close();
        callback();
      } catch (e) {
        writer.close();
        callback(e);
      }
    },
  });
  for (const piece of head) transform.push(piece);
  return transform;
}

module.exports = {
  decrypt, encrypt, createDecryptStream, createEncryptStream, isContainerName, exitStatus, codes, Qv3Error,
  libraryVersion: Module.UTF8ToString(Module._qv3_node_version()),
};
