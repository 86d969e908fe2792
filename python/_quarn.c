/* SPDX-License-Identifier: Apache-2.0 */
/* _quarn: libquarn's C interface as Python objects, for the pure-Python package `quarn` above
 * it. Nothing here is meant for callers: the package checks arguments, turns events into dicts
 * and failures into its own exceptions.
 *
 * A scan runs with the GIL released, so scans on other threads run at once; the GIL is taken
 * back only to hand an event to the Python callback. Every failure of the library is raised as
 * LibraryError(status, message, target), which the package translates. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <quarn/quarn.h>

static PyObject* LibraryError;

/* Raises LibraryError for a status other than success, then frees the library's message. */
static PyObject* RaiseStatus(quarn_status status, char* message, PyObject* target) {
  PyObject* text =
      PyUnicode_DecodeUTF8(message ? message : "", message ? strlen(message) : 0, "replace");
  quarn_free_message(message);
  if (text == NULL) return NULL;
  PyObject* arguments = Py_BuildValue("(iNO)", status, text, target ? target : Py_None);
  if (arguments != NULL) {
    PyErr_SetObject(LibraryError, arguments);
    Py_DECREF(arguments);
  }
  return NULL;
}

/* ---------- Options ---------- */

typedef struct {
  PyObject_HEAD quarn_scan_options* options;
} OptionsObject;

static int Options_init(OptionsObject* self, PyObject* args, PyObject* kwargs) {
  static char* keywords[] = {NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":Options", keywords)) return -1;
  if (self->options != NULL) return 0;
  self->options = quarn_scan_options_new();
  if (self->options == NULL) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

static void Options_dealloc(OptionsObject* self) {
  quarn_scan_options_free(self->options);
  Py_TYPE(self)->tp_free((PyObject*)self);
}

static PyObject* Options_set(OptionsObject* self, PyObject* args) {
  const char* name;
  const char* value;
  if (!PyArg_ParseTuple(args, "ss:set", &name, &value)) return NULL;
  char* message = NULL;
  const quarn_status status = quarn_scan_options_set(self->options, name, value, &message);
  if (status != QUARN_OK) return RaiseStatus(status, message, NULL);
  Py_RETURN_NONE;
}

static PyMethodDef Options_methods[] = {
    {"set", (PyCFunction)Options_set, METH_VARARGS,
     "set(name, value): one option by quarnscan's name without the dashes."},
    {NULL, NULL, 0, NULL}};

static PyTypeObject OptionsType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "quarn._quarn.Options",
    .tp_basicsize = sizeof(OptionsObject),
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "The options of scans, set one by one; shared read-only by the scans using them.",
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)Options_init,
    .tp_dealloc = (destructor)Options_dealloc,
    .tp_methods = Options_methods,
};

/* ---------- Engine ---------- */

typedef struct {
  PyObject_HEAD quarn_engine* engine;
  /* Scans running, counted under the GIL: close() refuses while any runs, before the library
   * is even asked, so no scan can start on an engine being freed. */
  Py_ssize_t scans;
} EngineObject;

typedef struct {
  PyObject* callback;
  PyThreadState* thread;
  /* The callback raised: the scan is being stopped and the exception is raised at its end. */
  PyObject* failure_type;
  PyObject* failure_value;
  PyObject* failure_traceback;
} ScanContext;

/* Runs on the scanning thread with the GIL released; returns non-zero to stop the scan. */
static int DeliverEvent(const char* json_event, void* context) {
  ScanContext* scan = context;
  PyEval_RestoreThread(scan->thread);
  int stop = 1;
  if (scan->failure_type == NULL) {
    PyObject* text = PyUnicode_DecodeUTF8(json_event, strlen(json_event), "replace");
    PyObject* answer = text ? PyObject_CallOneArg(scan->callback, text) : NULL;
    Py_XDECREF(text);
    if (answer != NULL) {
      stop = PyObject_IsTrue(answer);
      Py_DECREF(answer);
    }
    if (stop < 0 || answer == NULL) {
      stop = 1;
      PyErr_Fetch(&scan->failure_type, &scan->failure_value, &scan->failure_traceback);
    }
  }
  scan->thread = PyEval_SaveThread();
  return stop;
}

static int Engine_init(EngineObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* folder = NULL;
  static char* keywords[] = {"data_dir", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Engine", keywords, &folder)) return -1;
  if (self->engine != NULL) {
    PyErr_SetString(PyExc_RuntimeError, "the engine is already open");
    return -1;
  }
  PyObject* encoded = NULL;
  if (folder != Py_None && !PyUnicode_FSConverter(folder, &encoded)) return -1;
  const char* data_dir = encoded ? PyBytes_AS_STRING(encoded) : NULL;
  char* message = NULL;
  quarn_engine* engine = NULL;
  /* Loading the databases takes a while: other threads go on meanwhile. */
  PyThreadState* thread = PyEval_SaveThread();
  const quarn_status status = quarn_engine_open(data_dir, &engine, &message);
  PyEval_RestoreThread(thread);
  Py_XDECREF(encoded);
  if (status != QUARN_OK) {
    RaiseStatus(status, message, folder);
    return -1;
  }
  quarn_free_message(message);
  self->engine = engine;
  return 0;
}

static void Engine_dealloc(EngineObject* self) {
  /* A running scan holds a reference to its engine: none runs here. */
  if (self->engine != NULL) quarn_engine_close(self->engine);
  Py_TYPE(self)->tp_free((PyObject*)self);
}

/* The engine and options of a scan about to start, or NULL with an exception set. */
static quarn_engine* BeginScan(EngineObject* self, PyObject* options, PyObject* callback,
                               const quarn_scan_options** chosen) {
  if (self->engine == NULL) {
    PyErr_SetString(PyExc_ValueError, "the engine is closed");
    return NULL;
  }
  if (options != Py_None && !PyObject_TypeCheck(options, &OptionsType)) {
    PyErr_SetString(PyExc_TypeError, "options must be _quarn.Options or None");
    return NULL;
  }
  if (!PyCallable_Check(callback)) {
    PyErr_SetString(PyExc_TypeError, "the callback must be callable");
    return NULL;
  }
  *chosen = options == Py_None ? NULL : ((OptionsObject*)options)->options;
  ++self->scans;
  return self->engine;
}

/* Ends a scan begun by BeginScan: True when it was cancelled by its callback, False when it
 * ran to its end, NULL with the callback's exception or the library's failure raised. */
static PyObject* EndScan(EngineObject* self, ScanContext* scan, quarn_status status, char* message,
                         PyObject* target) {
  --self->scans;
  if (scan->failure_type != NULL) {
    quarn_free_message(message);
    PyErr_Restore(scan->failure_type, scan->failure_value, scan->failure_traceback);
    return NULL;
  }
  if (status == QUARN_OK || status == QUARN_CANCELLED) {
    quarn_free_message(message);
    return PyBool_FromLong(status == QUARN_CANCELLED);
  }
  return RaiseStatus(status, message, target);
}

static PyObject* Engine_scan_path(EngineObject* self, PyObject* args) {
  PyObject *target, *options, *callback, *encoded = NULL;
  if (!PyArg_ParseTuple(args, "OOO:scan_path", &target, &options, &callback)) return NULL;
  if (!PyUnicode_FSConverter(target, &encoded)) return NULL;
  const quarn_scan_options* chosen;
  quarn_engine* engine = BeginScan(self, options, callback, &chosen);
  if (engine == NULL) {
    Py_DECREF(encoded);
    return NULL;
  }
  ScanContext scan = {callback, NULL, NULL, NULL, NULL};
  char* message = NULL;
  scan.thread = PyEval_SaveThread();
  const quarn_status status =
      quarn_scan_path(engine, PyBytes_AS_STRING(encoded), chosen, DeliverEvent, &scan, &message);
  PyEval_RestoreThread(scan.thread);
  Py_DECREF(encoded);
  return EndScan(self, &scan, status, message, target);
}

static PyObject* Engine_scan_paths(EngineObject* self, PyObject* args) {
  PyObject *targets, *options, *callback;
  if (!PyArg_ParseTuple(args, "OOO:scan_paths", &targets, &options, &callback)) return NULL;
  PyObject* sequence = PySequence_Fast(targets, "the paths must be a sequence");
  if (sequence == NULL) return NULL;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence);
  PyObject** encoded = PyMem_Calloc((size_t)count + 1, sizeof *encoded);
  const char** paths = PyMem_Calloc((size_t)count + 1, sizeof *paths);
  PyObject* result = NULL;
  if (encoded == NULL || paths == NULL) {
    PyErr_NoMemory();
    goto done;
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (!PyUnicode_FSConverter(PySequence_Fast_GET_ITEM(sequence, i), &encoded[i])) goto done;
    paths[i] = PyBytes_AS_STRING(encoded[i]);
  }
  const quarn_scan_options* chosen;
  quarn_engine* engine = BeginScan(self, options, callback, &chosen);
  if (engine == NULL) goto done;
  ScanContext scan = {callback, NULL, NULL, NULL, NULL};
  char* message = NULL;
  scan.thread = PyEval_SaveThread();
  const quarn_status status = quarn_scan_paths(engine, paths, (size_t)count, chosen,
                                               DeliverEvent, &scan, &message);
  PyEval_RestoreThread(scan.thread);
  result = EndScan(self, &scan, status, message, Py_None);
done:
  for (Py_ssize_t i = 0; encoded != NULL && i < count; ++i) Py_XDECREF(encoded[i]);
  PyMem_Free(encoded);
  PyMem_Free(paths);
  Py_DECREF(sequence);
  return result;
}

static PyObject* Engine_scan_fd(EngineObject* self, PyObject* args) {
  int descriptor;
  PyObject *options, *callback;
  if (!PyArg_ParseTuple(args, "iOO:scan_fd", &descriptor, &options, &callback)) return NULL;
  const quarn_scan_options* chosen;
  quarn_engine* engine = BeginScan(self, options, callback, &chosen);
  if (engine == NULL) return NULL;
  ScanContext scan = {callback, NULL, NULL, NULL, NULL};
  char* message = NULL;
  scan.thread = PyEval_SaveThread();
  const quarn_status status =
      quarn_scan_fd(engine, descriptor, chosen, DeliverEvent, &scan, &message);
  PyEval_RestoreThread(scan.thread);
  PyObject* target = PyUnicode_FromFormat("fd:%d", descriptor);
  PyObject* result = EndScan(self, &scan, status, message, target);
  Py_XDECREF(target);
  return result;
}

static PyObject* Engine_scan_buffer(EngineObject* self, PyObject* args) {
  Py_buffer data;
  PyObject *name, *options, *callback, *encoded = NULL;
  if (!PyArg_ParseTuple(args, "y*OOO:scan_buffer", &data, &name, &options, &callback)) {
    return NULL;
  }
  if (name != Py_None && !PyUnicode_FSConverter(name, &encoded)) {
    PyBuffer_Release(&data);
    return NULL;
  }
  const quarn_scan_options* chosen;
  quarn_engine* engine = BeginScan(self, options, callback, &chosen);
  if (engine == NULL) {
    Py_XDECREF(encoded);
    PyBuffer_Release(&data);
    return NULL;
  }
  ScanContext scan = {callback, NULL, NULL, NULL, NULL};
  char* message = NULL;
  scan.thread = PyEval_SaveThread();
  /* The exporter keeps the bytes where they are (a bytearray cannot be resized) until the
   * buffer is released. */
  const quarn_status status = quarn_scan_buffer(engine, data.buf, (size_t)data.len,
                                                encoded ? PyBytes_AS_STRING(encoded) : NULL, chosen,
                                                DeliverEvent, &scan, &message);
  PyEval_RestoreThread(scan.thread);
  PyBuffer_Release(&data);
  Py_XDECREF(encoded);
  return EndScan(self, &scan, status, message, name);
}

static PyObject* Engine_close(EngineObject* self, PyObject* unused) {
  (void)unused;
  if (self->engine == NULL) Py_RETURN_NONE;
  if (self->scans > 0) {
    char text[96];
    PyOS_snprintf(text, sizeof text, "%zd scan%s still running on the engine", self->scans,
                  self->scans == 1 ? " is" : "s are");
    PyObject* arguments = Py_BuildValue("(isO)", QUARN_EBUSY, text, Py_None);
    if (arguments != NULL) {
      PyErr_SetObject(LibraryError, arguments);
      Py_DECREF(arguments);
    }
    return NULL;
  }
  const quarn_status status = quarn_engine_close(self->engine);
  if (status != QUARN_OK) return RaiseStatus(status, NULL, NULL);
  self->engine = NULL;
  Py_RETURN_NONE;
}

static PyObject* Engine_get_closed(EngineObject* self, void* unused) {
  (void)unused;
  return PyBool_FromLong(self->engine == NULL);
}

static PyMethodDef Engine_methods[] = {
    {"scan_path", (PyCFunction)Engine_scan_path, METH_VARARGS,
     "scan_path(path, options, callback) -> cancelled"},
    {"scan_paths", (PyCFunction)Engine_scan_paths, METH_VARARGS,
     "scan_paths(paths, options, callback): each path in turn, in one scan with one summary."},
    {"scan_fd", (PyCFunction)Engine_scan_fd, METH_VARARGS,
     "scan_fd(fd, options, callback) -> cancelled"},
    {"scan_buffer", (PyCFunction)Engine_scan_buffer, METH_VARARGS,
     "scan_buffer(data, name, options, callback) -> cancelled"},
    {"close", (PyCFunction)Engine_close, METH_NOARGS, "close(): frees the databases."},
    {NULL, NULL, 0, NULL}};

static PyGetSetDef Engine_getset[] = {
    {"closed", (getter)Engine_get_closed, NULL, "True once close() succeeded.", NULL},
    {NULL, NULL, NULL, NULL, NULL}};

static PyTypeObject EngineType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "quarn._quarn.Engine",
    .tp_basicsize = sizeof(EngineObject),
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc =
        "Engine(data_dir or None): libquarn's engine; each scan calls callback(json_text) "
        "per event, a true answer stopping the scan after the current file.",
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)Engine_init,
    .tp_dealloc = (destructor)Engine_dealloc,
    .tp_methods = Engine_methods,
    .tp_getset = Engine_getset,
};

/* ---------- The module ---------- */

static PyObject* Version(PyObject* module, PyObject* unused) {
  (void)module;
  (void)unused;
  return PyUnicode_FromString(quarn_version());
}

static PyMethodDef module_methods[] = {
    {"version", Version, METH_NOARGS, "version() -> libquarn's version"}, {NULL, NULL, 0, NULL}};

static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    .m_name = "quarn._quarn",
    .m_doc = "libquarn's C interface, for the package quarn.",
    .m_size = -1,
    .m_methods = module_methods,
};

PyMODINIT_FUNC PyInit__quarn(void) {
  if (PyType_Ready(&OptionsType) < 0 || PyType_Ready(&EngineType) < 0) return NULL;
  PyObject* module = PyModule_Create(&module_definition);
  if (module == NULL) return NULL;
  LibraryError = PyErr_NewExceptionWithDoc(
      "quarn._quarn.LibraryError", "A status of libquarn: (status, message, target).", NULL, NULL);
  if (LibraryError == NULL || PyModule_AddObjectRef(module, "LibraryError", LibraryError) < 0 ||
      PyModule_AddObjectRef(module, "Options", (PyObject*)&OptionsType) < 0 ||
      PyModule_AddObjectRef(module, "Engine", (PyObject*)&EngineType) < 0 ||
      PyModule_AddIntConstant(module, "CANCELLED", QUARN_CANCELLED) < 0 ||
      PyModule_AddIntConstant(module, "EINVAL", QUARN_EINVAL) < 0 ||
      PyModule_AddIntConstant(module, "EBUSY", QUARN_EBUSY) < 0 ||
      PyModule_AddIntConstant(module, "EDATABASE", QUARN_EDATABASE) < 0 ||
      PyModule_AddIntConstant(module, "ETARGET", QUARN_ETARGET) < 0 ||
      PyModule_AddIntConstant(module, "EINTERNAL", QUARN_EINTERNAL) < 0) {
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
