// The engine's input and output, supplied by whoever runs it (the page's worker, or node
// in tests) as Module.qv3Io: read(source, view, position) fills the view from the source
// and returns the count read or minus a system error code; write(sink, view) returns 0 or
// a system error code. The views point into the engine's memory and are valid only for
// the call.
mergeInto(LibraryManager.library, {
  qv3_io_read: function (source, buffer, count, position) {
    return Module['qv3Io'].read(source, HEAPU8.subarray(buffer, buffer + count), position);
  },
  qv3_io_write: function (sink, buffer, count) {
    return Module['qv3Io'].write(sink, HEAPU8.subarray(buffer, buffer + count));
  },
});
