/* The extension module over libqv3: each call releases the GIL while the library works
 * and takes it back only to report progress, to let a pending signal (Ctrl-C) cancel the
 * work, and to raise the error. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <qv3.h>

static PyObject *raise_error = NULL; /* qv3._raise(code, system_code, path, message) */

/* Raises the Python exception for a failed call; always returns NULL. */
static PyObject *fail(int code, qv3_error *error) {
  PyObject *result;
  if (PyErr_Occurred()) { /* a callback raised (or a signal handler did): that wins */
    qv3_error_free(error);
    return NULL;
  }
  result = PyObject_CallFunction(raise_error, "iIss", code, error ? qv3_error_system_code(error) : 0u,
                                 error ? qv3_error_path(error) : "", error ? qv3_error_message(error) : "");
  qv3_error_free(error);
  Py_XDECREF(result);
  return NULL;
}

/* Progress: runs with the GIL released; takes it to call the caller's callable (if any)
 * and the signal handlers. A Python exception cancels the work and is raised after. */
typedef struct {
  PyObject *callable;
  PyThreadState *thread;
} progress_context;

static int on_progress(void *context, unsigned percent) {
  progress_context *p = (progress_context *)context;
  int cancel = 0;
  PyEval_RestoreThread(p->thread);
  if (PyErr_Occurred() || PyErr_CheckSignals() != 0) {
    cancel = 1;
  } else if (p->callable && p->callable != Py_None) {
    PyObject *result = PyObject_CallFunction(p->callable, "I", percent);
    if (!result)
      cancel = 1;
    else
      cancel = PyObject_IsTrue(result) == 1;
    Py_XDECREF(result);
  }
  p->thread = PyEval_SaveThread();
  return cancel;
}

static PyObject *py_inspect(PyObject *self, PyObject *args) {
  const char *path;
  qv3_info info;
  qv3_error *error = NULL;
  int status;
  (void)self;
  if (!PyArg_ParseTuple(args, "y", &path)) return NULL;
  memset(&info, 0, sizeof info);
  info.struct_size = sizeof info;
  Py_BEGIN_ALLOW_THREADS
  status = qv3_inspect(path, &info, &error);
  Py_END_ALLOW_THREADS
  if (status != QV3_OK) return fail(status, error);
  return Py_BuildValue("{s:I,s:K,s:K,s:K,s:I,s:s}", "version", info.version, "container_size",
                       (unsigned long long)info.container_size, "ciphertext_length",
                       (unsigned long long)info.ciphertext_length, "plaintext_length",
                       (unsigned long long)info.plaintext_length, "extension_count", info.extension_count,
                       "created_by", info.created_by);
}

static PyObject *py_decrypt(PyObject *self, PyObject *args) {
  const char *src, *dst, *password;
  Py_ssize_t password_len;
  unsigned int flags;
  PyObject *callable;
  qv3_error *error = NULL;
  progress_context context;
  qv3_progress progress;
  int status;
  (void)self;
  if (!PyArg_ParseTuple(args, "yyy#IO", &src, &dst, &password, &password_len, &flags, &callable)) return NULL;
  if (!*dst) dst = NULL; /* b"": beside the container */
  context.callable = callable;
  memset(&progress, 0, sizeof progress);
  progress.struct_size = sizeof progress;
  progress.callback = on_progress;
  progress.context = &context;
  context.thread = PyEval_SaveThread();
  status = qv3_decrypt_file(src, dst, password, (size_t)password_len, flags, &progress, &error);
  PyEval_RestoreThread(context.thread);
  if (status != QV3_OK || PyErr_Occurred()) return fail(status, error);
  Py_RETURN_NONE;
}

static PyObject *py_encrypt(PyObject *self, PyObject *args) {
  const char *src, *password;
  Py_ssize_t password_len;
  unsigned int flags;
  PyObject *callable, *result;
  qv3_error *error = NULL;
  progress_context context;
  qv3_progress progress;
  char *made = NULL;
  int status;
  (void)self;
  if (!PyArg_ParseTuple(args, "yy#IO", &src, &password, &password_len, &flags, &callable)) return NULL;
  context.callable = callable;
  memset(&progress, 0, sizeof progress);
  progress.struct_size = sizeof progress;
  progress.callback = on_progress;
  progress.context = &context;
  context.thread = PyEval_SaveThread();
  status = qv3_encrypt_file(src, password, (size_t)password_len, flags, &progress, &made, &error);
  PyEval_RestoreThread(context.thread);
  if (status != QV3_OK || PyErr_Occurred()) {
    qv3_free(made);
    return fail(status, error);
  }
  result = PyBytes_FromString(made);
  qv3_free(made);
  return result;
}

/* The reader, as a capsule the Python side wraps. */
static void reader_destructor(PyObject *capsule) {
  qv3_reader_close((qv3_reader *)PyCapsule_GetPointer(capsule, "qv3_reader"));
}

static PyObject *py_reader_open(PyObject *self, PyObject *args) {
  const char *path, *password;
  Py_ssize_t password_len;
  unsigned int flags;
  qv3_reader *reader = NULL;
  qv3_error *error = NULL;
  int status;
  (void)self;
  if (!PyArg_ParseTuple(args, "yy#I", &path, &password, &password_len, &flags)) return NULL;
  Py_BEGIN_ALLOW_THREADS
  status = qv3_reader_open_file(path, password, (size_t)password_len, flags, &reader, &error);
  Py_END_ALLOW_THREADS
  if (status != QV3_OK) return fail(status, error);
  return PyCapsule_New(reader, "qv3_reader", reader_destructor);
}

static qv3_reader *reader_of(PyObject *capsule) {
  return (qv3_reader *)PyCapsule_GetPointer(capsule, "qv3_reader");
}

/* Up to size bytes (at least 16 asked of the library); b"" at the end. */
static PyObject *py_reader_read(PyObject *self, PyObject *args) {
  PyObject *capsule, *buffer;
  Py_ssize_t size;
  size_t got = 0;
  qv3_reader *reader;
  qv3_error *error = NULL;
  int status;
  (void)self;
  if (!PyArg_ParseTuple(args, "On", &capsule, &size)) return NULL;
  if (!(reader = reader_of(capsule))) return NULL;
  if (size < 16) size = 16;
  buffer = PyBytes_FromStringAndSize(NULL, size);
  if (!buffer) return NULL;
  Py_BEGIN_ALLOW_THREADS
  status = qv3_reader_read(reader, PyBytes_AS_STRING(buffer), (size_t)size, &got, &error);
  Py_END_ALLOW_THREADS
  if (status != QV3_OK) {
    Py_DECREF(buffer);
    return fail(status, error);
  }
  if (_PyBytes_Resize(&buffer, (Py_ssize_t)got) != 0) return NULL;
  return buffer;
}

static PyObject *py_reader_finish(PyObject *self, PyObject *args) {
  PyObject *capsule;
  qv3_reader *reader;
  qv3_error *error = NULL;
  int status;
  (void)self;
  if (!PyArg_ParseTuple(args, "O", &capsule)) return NULL;
  if (!(reader = reader_of(capsule))) return NULL;
  Py_BEGIN_ALLOW_THREADS
  status = qv3_reader_finish(reader, &error);
  Py_END_ALLOW_THREADS
  if (status != QV3_OK) return fail(status, error);
  Py_RETURN_NONE;
}

static PyObject *py_exit_status(PyObject *self, PyObject *args) {
  int code;
  (void)self;
  if (!PyArg_ParseTuple(args, "i", &code)) return NULL;
  return PyLong_FromLong(qv3_exit_status(code));
}

static PyObject *py_container_extension(PyObject *self, PyObject *args) {
  const char *path;
  int empty;
  (void)self;
  if (!PyArg_ParseTuple(args, "yp", &path, &empty)) return NULL;
  return PyUnicode_FromString(qv3_container_extension(path, empty));
}

static PyMethodDef methods[] = {
    {"inspect", py_inspect, METH_VARARGS, NULL},
    {"decrypt", py_decrypt, METH_VARARGS, NULL},
    {"encrypt", py_encrypt, METH_VARARGS, NULL},
    {"reader_open", py_reader_open, METH_VARARGS, NULL},
    {"reader_read", py_reader_read, METH_VARARGS, NULL},
    {"reader_finish", py_reader_finish, METH_VARARGS, NULL},
    {"exit_status", py_exit_status, METH_VARARGS, NULL},
    {"container_extension", py_container_extension, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "qv3._qv3", NULL, -1, methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__qv3(void) {
  PyObject *m = PyModule_Create(&module), *errors;
  if (!m) return NULL;
  errors = PyImport_ImportModule("qv3._errors");
  if (!errors) return NULL;
  raise_error = PyObject_GetAttrString(errors, "_raise");
  Py_DECREF(errors);
  if (!raise_error) return NULL;
  PyModule_AddStringConstant(m, "library_version", qv3_version());
  PyModule_AddIntConstant(m, "OVERWRITE", QV3_OVERWRITE);
  PyModule_AddIntConstant(m, "DELETE_SOURCE", QV3_DELETE_SOURCE);
  PyModule_AddIntConstant(m, "LONG_PASSWORD", QV3_LONG_PASSWORD);
  PyModule_AddIntConstant(m, "EMPTY_PASSWORD", QV3_EMPTY_PASSWORD);
  PyModule_AddIntConstant(m, "PASSWORD_BYTES", QV3_PASSWORD_BYTES);
  return m;
}
