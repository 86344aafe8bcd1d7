/*
 * _ostrelapi_speedups: the programming calls of the ostrelapi package
 * without ctypes' per-call cost. Optional: the package makes the same
 * calls through ctypes when this module is missing.
 *
 * It links no library of ours. The package loads the libraries through
 * ctypes (which is how it chooses the platform when the client is made)
 * and hands this module the addresses of the entry points, of the
 * library's did_yarl_send flag and of the client's message record
 * (configure). The calls then go to exactly the functions ctypes would
 * have called, with the same arguments; the GIL is released around them.
 *
 * Arguments are checked as the Python side checks them: VLAN 1-4094, an
 * interface or port channel within 32 bits, qual 0-65535, addresses as 6
 * bytes or "00:11:22:33:44:55" text; anything else is a ValueError (a
 * TypeError for a missing or unknown keyword) before any call is made.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdint.h>
#include <string.h>

#include "ostrelapi.h"

typedef uint32_t (*program_fn)(yarl_handle_t, const uint8_t *, const uint8_t *,
                               uint32_t, uint32_t, uint32_t, yarl_msg *,
                               uint32_t);
typedef uint32_t (*delete_fn)(yarl_handle_t, const uint8_t *, const uint8_t *,
                              uint32_t, uint32_t, uint32_t, yarl_msg *);
typedef uint32_t (*drain_fn)(yarl_handle_t, yarl_msg *);
typedef uint32_t (*bulk_fn)(yarl_handle_t, const ostrel_api_acl_change_t *,
                            uint32_t, uint32_t *, yarl_msg *);

static struct {
    program_fn program, pc_program;
    delete_fn delete_acl;
    drain_fn drain;
    bulk_fn bulk;
    const uint32_t *pending;
    yarl_msg *msg;
    uint32_t handle;
    PyObject *status_error; /* ostrelapi.StatusError */
} the;

enum { VLAN_MAX = 4094, QUAL_LIMIT = 1 << 16 };
enum change_kind { KIND_ADD, KIND_DELETE, KIND_PC_ADD, KIND_PC_DELETE };

/* ---- arguments ---- */

typedef struct {
    uint32_t vlan, intf, qual;
    uint8_t addr1[6], addr2[6];
} change_args;

static int hex_digit(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

static int address(PyObject *value, uint8_t out[6], const char *name) {
    if (PyBytes_Check(value) || PyByteArray_Check(value)) {
        Py_ssize_t n = PyBytes_Check(value) ? PyBytes_GET_SIZE(value)
                                            : PyByteArray_GET_SIZE(value);
        if (n == 6) {
            memcpy(out,
                   PyBytes_Check(value) ? PyBytes_AS_STRING(value)
                                        : PyByteArray_AS_STRING(value),
                   6);
            return 0;
        }
        PyErr_Format(PyExc_ValueError, "%s: an address is 6 bytes, not %zd",
                     name, n);
        return -1;
    }
    Py_ssize_t n = 0;
    const char *text =
        PyUnicode_Check(value) ? PyUnicode_AsUTF8AndSize(value, &n) : NULL;
    if (text != NULL && n == 17) {
        int ok = 1;
        for (int i = 0; i < 6 && ok; ++i) {
            int hi = hex_digit(text[3 * i]), lo = hex_digit(text[3 * i + 1]);
            char sep = i < 5 ? text[3 * i + 2] : ':';
            ok = hi >= 0 && lo >= 0 && (sep == ':' || sep == '-');
            out[i] = (uint8_t)(hi << 4 | lo);
        }
        if (ok)
            return 0;
    }
    PyErr_Clear();
    PyErr_Format(PyExc_ValueError, "%s: malformed address %R", name, value);
    return -1;
}

static int number(PyObject *value, uint32_t low, uint64_t limit,
                  const char *name, uint32_t *out) {
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        PyErr_Format(PyExc_ValueError, "%s must be an integer, not %s", name,
                     Py_TYPE(value)->tp_name);
        return -1;
    }
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0 || v < (long long)low || (uint64_t)v >= limit) {
        PyErr_Format(PyExc_ValueError, "%s %R is outside %u-%llu", name, value,
                     low, (unsigned long long)(limit - 1));
        return -1;
    }
    *out = (uint32_t)v;
    return 0;
}

/* The keywords vlan, intf (or pc), addr1, addr2, qual, each exactly once. */
static int parse_change(PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames, int port_channel, change_args *out) {
    static const char *names[2][5] = {
        {"vlan", "intf", "addr1", "addr2", "qual"},
        {"vlan", "pc", "addr1", "addr2", "qual"}};
    PyObject *values[5] = {NULL, NULL, NULL, NULL, NULL};
    Py_ssize_t nkw = kwnames != NULL ? PyTuple_GET_SIZE(kwnames) : 0;
    if (PyVectorcall_NARGS(nargs) != 0 || nkw != 5) {
        PyErr_SetString(
            PyExc_TypeError,
            "takes the keyword arguments vlan, intf (pc), addr1, addr2, qual");
        return -1;
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        const char *key = PyUnicode_AsUTF8(PyTuple_GET_ITEM(kwnames, k));
        int slot = -1;
        for (int i = 0; i < 5 && key != NULL; ++i)
            if (strcmp(key, names[port_channel][i]) == 0)
                slot = i;
        if (slot < 0 || values[slot] != NULL) {
            PyErr_Format(PyExc_TypeError, "unexpected or repeated keyword %s",
                         key != NULL ? key : "?");
            return -1;
        }
        values[slot] = args[k];
    }
    const char *where = names[port_channel][1];
    if (number(values[0], 1, VLAN_MAX + 1, "vlan", &out->vlan) != 0 ||
        number(values[1], 0, (uint64_t)1 << 32, where, &out->intf) != 0 ||
        number(values[4], 0, QUAL_LIMIT, "qual", &out->qual) != 0 ||
        address(values[2], out->addr1, "addr1") != 0 ||
        address(values[3], out->addr2, "addr2") != 0)
        return -1;
    return 0;
}

/* ---- calls ---- */

static PyObject *status_error(uint32_t status, const char *call) {
    PyObject *error = PyObject_CallFunction(the.status_error, "ks",
                                            (unsigned long)status, call);
    if (error != NULL) {
        PyErr_SetObject(the.status_error, error);
        Py_DECREF(error);
    }
    return NULL;
}

static int configured(void) {
    if (the.msg != NULL)
        return 1;
    PyErr_SetString(PyExc_RuntimeError, "the speedups are not configured");
    return 0;
}

/* Drains a reply left by the previous call, as the Python side does. */
static int drain_pending(void) {
    if (*the.pending == 0)
        return 0;
    uint32_t status;
    Py_BEGIN_ALLOW_THREADS status = the.drain(the.handle, the.msg);
    Py_END_ALLOW_THREADS if (status != 0) {
        status_error(status, "brisel_api_yarl_gobble");
        return -1;
    }
    return 0;
}

static PyObject *single(enum change_kind kind, PyObject *const *args,
                        Py_ssize_t nargs, PyObject *kwnames) {
    change_args a;
    int pc = kind == KIND_PC_ADD || kind == KIND_PC_DELETE;
    if (!configured() || parse_change(args, nargs, kwnames, pc, &a) != 0 ||
        drain_pending() != 0)
        return NULL;
    uint32_t status;
    const char *call;
    Py_BEGIN_ALLOW_THREADS switch (kind) {
    case KIND_ADD:
        status = the.program(the.handle, a.addr1, a.addr2, a.vlan, a.intf,
                             a.qual, the.msg, 1);
        break;
    case KIND_DELETE:
        status = the.delete_acl(the.handle, a.addr1, a.addr2, a.vlan, a.intf,
                                a.qual, the.msg);
        break;
    default:
        status = the.pc_program(the.handle, a.addr1, a.addr2, a.vlan, a.intf,
                                a.qual, the.msg, kind == KIND_PC_ADD);
        break;
    }
    Py_END_ALLOW_THREADS if (status == 0) Py_RETURN_NONE;
    call = kind == KIND_ADD      ? "ostrel_api_program_acl"
           : kind == KIND_DELETE ? "ostrel_api_del_acl"
                                 : "ostrel_api_pc_program_acl";
    return status_error(status, call);
}

#define SINGLE(name, kind)                                                     \
    static PyObject *name(PyObject *self, PyObject *const *args,               \
                          Py_ssize_t nargs, PyObject *kwnames) {               \
        (void)self;                                                            \
        return single(kind, args, nargs, kwnames);                             \
    }
SINGLE(add, KIND_ADD)
SINGLE(delete_, KIND_DELETE)
SINGLE(pc_add, KIND_PC_ADD)
SINGLE(pc_delete, KIND_PC_DELETE)

/* ---- bulk changes ---- */

typedef struct {
    PyObject_HEAD ostrel_api_acl_change_t *changes;
    Py_ssize_t count, capacity;
} Changes;

static void changes_dealloc(Changes *self) {
    PyMem_Free(self->changes);
    Py_TYPE(self)->tp_free((PyObject *)self);
}

static PyObject *append(Changes *self, enum change_kind kind,
                        PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    change_args a;
    int pc = kind == KIND_PC_ADD || kind == KIND_PC_DELETE;
    if (parse_change(args, nargs, kwnames, pc, &a) != 0)
        return NULL;
    if (self->count == UINT32_MAX) {
        PyErr_SetString(PyExc_ValueError,
                        "a bulk call takes at most 2**32 - 1 changes");
        return NULL;
    }
    if (self->count == self->capacity) {
        Py_ssize_t grown = self->capacity ? self->capacity * 2 : 256;
        ostrel_api_acl_change_t *more =
            PyMem_Realloc(self->changes, (size_t)grown * sizeof *more);
        if (more == NULL)
            return PyErr_NoMemory();
        self->changes = more;
        self->capacity = grown;
    }
    ostrel_api_acl_change_t *c = &self->changes[self->count++];
    memcpy(c->addr1, a.addr1, 6);
    memcpy(c->addr2, a.addr2, 6);
    c->vlan_id = a.vlan;
    c->if_index = a.intf;
    c->qualifier = a.qual;
    c->add = kind == KIND_ADD || kind == KIND_PC_ADD;
    c->on_port_channel = (uint32_t)pc;
    Py_RETURN_NONE;
}

#define APPEND(name, kind)                                                     \
    static PyObject *name(Changes *self, PyObject *const *args,                \
                          Py_ssize_t nargs, PyObject *kwnames) {               \
        return append(self, kind, args, nargs, kwnames);                       \
    }
APPEND(changes_add, KIND_ADD)
APPEND(changes_delete, KIND_DELETE)
APPEND(changes_pc_add, KIND_PC_ADD)
APPEND(changes_pc_delete, KIND_PC_DELETE)

/* apply(): one bulk call over the changes; returns (status, statuses). */
static PyObject *changes_apply(Changes *self, PyObject *unused) {
    (void)unused;
    if (!configured() || drain_pending() != 0)
        return NULL;
    uint32_t *statuses = PyMem_Malloc((size_t)(self->count ? self->count : 1) *
                                      sizeof *statuses);
    if (statuses == NULL)
        return PyErr_NoMemory();
    uint32_t status;
    Py_BEGIN_ALLOW_THREADS status = the.bulk(
        the.handle, self->changes, (uint32_t)self->count, statuses, the.msg);
    Py_END_ALLOW_THREADS PyObject *list =
        PyList_New(status != 0 ? self->count : 0);
    for (Py_ssize_t i = 0; list != NULL && status != 0 && i < self->count; ++i)
        PyList_SET_ITEM(list, i, PyLong_FromUnsignedLong(statuses[i]));
    PyMem_Free(statuses);
    if (list == NULL)
        return NULL;
    return Py_BuildValue("kN", (unsigned long)status, list);
}

static Py_ssize_t changes_len(Changes *self) {
    return self->count;
}

static PyMethodDef changes_methods[] = {
    {"add", (PyCFunction)(void (*)(void))changes_add,
     METH_FASTCALL | METH_KEYWORDS, NULL},
    {"delete", (PyCFunction)(void (*)(void))changes_delete,
     METH_FASTCALL | METH_KEYWORDS, NULL},
    {"pc_add", (PyCFunction)(void (*)(void))changes_pc_add,
     METH_FASTCALL | METH_KEYWORDS, NULL},
    {"pc_delete", (PyCFunction)(void (*)(void))changes_pc_delete,
     METH_FASTCALL | METH_KEYWORDS, NULL},
    {"apply", (PyCFunction)changes_apply, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL}};

static PySequenceMethods changes_sequence = {.sq_length = (lenfunc)changes_len};

static PyTypeObject ChangesType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "_ostrelapi_speedups.Changes",
    .tp_basicsize = sizeof(Changes),
    .tp_dealloc = (destructor)changes_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Changes of a bulk call, checked and packed as they are added.",
    .tp_methods = changes_methods,
    .tp_as_sequence = &changes_sequence,
    .tp_new = PyType_GenericNew,
};

/* ---- set-up ---- */

/* configure(program, del, pc_program, drain, bulk, pending, msg, handle,
 * StatusError): addresses as ints. */
static PyObject *configure(PyObject *self, PyObject *args) {
    (void)self;
    unsigned long long p[7];
    unsigned int handle;
    PyObject *error;
    if (!PyArg_ParseTuple(args, "KKKKKKKIO", &p[0], &p[1], &p[2], &p[3], &p[4],
                          &p[5], &p[6], &handle, &error))
        return NULL;
    the.program = (program_fn)(uintptr_t)p[0];
    the.delete_acl = (delete_fn)(uintptr_t)p[1];
    the.pc_program = (program_fn)(uintptr_t)p[2];
    the.drain = (drain_fn)(uintptr_t)p[3];
    the.bulk = (bulk_fn)(uintptr_t)p[4];
    the.pending = (const uint32_t *)(uintptr_t)p[5];
    the.msg = (yarl_msg *)(uintptr_t)p[6];
    the.handle = handle;
    Py_XSETREF(the.status_error, Py_NewRef(error));
    Py_RETURN_NONE;
}

static PyMethodDef methods[] = {{"configure", configure, METH_VARARGS, NULL},
                                {"add", (PyCFunction)(void (*)(void))add,
                                 METH_FASTCALL | METH_KEYWORDS, NULL},
                                {"delete", (PyCFunction)(void (*)(void))delete_,
                                 METH_FASTCALL | METH_KEYWORDS, NULL},
                                {"pc_add", (PyCFunction)(void (*)(void))pc_add,
                                 METH_FASTCALL | METH_KEYWORDS, NULL},
                                {"pc_delete",
                                 (PyCFunction)(void (*)(void))pc_delete,
                                 METH_FASTCALL | METH_KEYWORDS, NULL},
                                {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {
    PyModuleDef_HEAD_INIT,
    "_ostrelapi_speedups",
    "The ostrelapi package's programming calls without ctypes' per-call cost.",
    -1,
    methods,
    NULL,
    NULL,
    NULL,
    NULL};

PyMODINIT_FUNC PyInit__ostrelapi_speedups(void) {
    if (PyType_Ready(&ChangesType) < 0)
        return NULL;
    PyObject *m = PyModule_Create(&module);
    if (m != NULL &&
        PyModule_AddObjectRef(m, "Changes", (PyObject *)&ChangesType) < 0) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
