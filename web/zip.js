// One .zip of many outputs, their folders kept: what the page offers for a folder's
// results where the browser cannot write into a folder itself. Stored (not compressed:
// containers do not compress, and plaintexts are saved as they were), names in UTF-8.
// Each entry is read once, to count its CRC-32; the archive is a Blob of the parts, so
// the entries' bytes are not copied into one buffer. Entries and the whole archive are
// limited to 4 GiB less one byte (no ZIP64): a larger tree is refused before anything is
// read.
'use strict';

var QV3_ZIP_LIMIT = 0xffffffff;

var qv3Crc32Table = (function () {
  var table = new Uint32Array(256);
  for (var n = 0; n < 256; ++n) {
    var c = n;
    for (var k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function qv3Crc32(crc, bytes) {
  var c = crc ^ 0xffffffff;
  for (var i = 0; i < bytes.length; ++i) c = qv3Crc32Table[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// entries: [{ path: 'folder/name.txt', blob }] (forward slashes, no leading one).
// Resolves to the archive's Blob; rejects (RangeError) when it would pass the limit.
function qv3Zip(entries, now) {
  var encoder = new TextEncoder();
  var date = now || new Date();
  var dosTime = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
  var dosDate = ((Math.max(1980, date.getFullYear()) - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  var total = 22;
  entries.forEach(function (e) {
    var name = encoder.encode(e.path).length;
    total += 30 + name + e.blob.size + 46 + name;
  });
  if (total > QV3_ZIP_LIMIT || entries.length > 0xffff) {
    return Promise.reject(new RangeError('the archive would pass 4 GiB or 65,535 entries'));
  }

  function header(size, fill) {
    var bytes = new Uint8Array(size);
    fill(new DataView(bytes.buffer));
    return bytes;
  }

  function crcOf(blob) {
    var crc = 0;
    var piece = 4 * 1024 * 1024;
    function from(at) {
      if (at >= blob.size) return Promise.resolve(crc);
      return blob.slice(at, at + piece).arrayBuffer().then(function (buffer) {
        crc = qv3Crc32(crc, new Uint8Array(buffer));
        return from(at + piece);
      });
    }
    return from(0);
  }

  var parts = [];
  var central = [];
  var offset = 0;
  function add(i) {
    if (i >= entries.length) return Promise.resolve();
    var e = entries[i];
    var name = encoder.encode(e.path);
    return crcOf(e.blob).then(function (crc) {
      var common = function (v, at) {
        v.setUint16(at, 20, true); // version needed
        v.setUint16(at + 2, 0x0800, true); // names in UTF-8
        v.setUint16(at + 4, 0, true); // stored
        v.setUint16(at + 6, dosTime, true);
        v.setUint16(at + 8, dosDate, true);
        v.setUint32(at + 10, crc, true);
        v.setUint32(at + 14, e.blob.size, true);
        v.setUint32(at + 18, e.blob.size, true);
        v.setUint16(at + 22, name.length, true);
      };
      parts.push(header(30, function (v) {
        v.setUint32(0, 0x04034b50, true);
        common(v, 4);
      }), name, e.blob);
      var at = offset;
      central.push(header(46, function (v) {
        v.setUint32(0, 0x02014b50, true);
        v.setUint16(4, 20, true); // made by
        common(v, 6);
        v.setUint32(42, at, true);
      }), name);
      offset += 30 + name.length + e.blob.size;
      return add(i + 1);
    });
  }
  return add(0).then(function () {
    var size = central.reduce(function (n, p) { return n + p.length; }, 0);
    var end = header(22, function (v) {
      v.setUint32(0, 0x06054b50, true);
      v.setUint16(8, entries.length, true);
      v.setUint16(10, entries.length, true);
      v.setUint32(12, size, true);
      v.setUint32(16, offset, true);
    });
    return new Blob(parts.concat(central, [end]), { type: 'application/zip' });
  });
}

if (typeof module !== 'undefined' && module.exports) module.exports = { qv3Zip: qv3Zip, qv3Crc32: qv3Crc32 };
