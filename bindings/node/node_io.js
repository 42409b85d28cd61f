// The module's sources and sinks, served by index.js through Module.qv3Io: read(id, view)
// fills the view and returns the count read (0 at the end) or -1; rewind(id) returns 0 or
// -1; write(id, view) returns 0 or -1. The views point into the module's memory and are
// valid only for the call.
mergeInto(LibraryManager.library, {
  qv3_node_read: function (id, buffer, size) {
    return Module['qv3Io'].read(id, HEAPU8.subarray(buffer, buffer + size));
  },
  qv3_node_rewind: function (id) {
    return Module['qv3Io'].rewind(id);
  },
  qv3_node_write: function (id, buffer, size) {
    return Module['qv3Io'].write(id, HEAPU8.subarray(buffer, buffer + size));
  },
});
