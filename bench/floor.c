/* The benchmark's floor: the least work any consumer of a dataset handed over
 * as Python lists must do. touch(columns) walks the same (name, type, values)
 * tuples the module takes and reads every cell object's type and value once:
 * a float's double, an int's 64-bit value, a str's UTF-8 pointer and length and
 * its first byte, a bool's identity, each through the cheapest exact reading
 * the C API offers. It copies nothing, allocates nothing and
 * returns a checksum so the compiler cannot drop the reads.
 *
 * Built by bench/build_floor.py into a folder under build/; never installed. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdint.h>
#include <string.h>

static int touch_cell(PyObject *cell, uint64_t *sum) {
    PyTypeObject *type = Py_TYPE(cell);
    if (type == &PyFloat_Type) {
        double value = PyFloat_AS_DOUBLE(cell);
        uint64_t bits;
        memcpy(&bits, &value, sizeof bits);
        *sum += bits;
        return 0;
    }
    if (cell == Py_None) {
        *sum += 1;
        return 0;
    }
    if (type == &PyBool_Type) {
        *sum += cell == Py_True ? 3 : 5;
        return 0;
    }
    if (type == &PyLong_Type) {
        /* The cheapest exact reading the C API offers: inline for one-digit
         * ints, a short digit loop for the rest. */
        const PyLongObject *number = (const PyLongObject *)cell;
        if (PyUnstable_Long_IsCompact(number)) {
            *sum += (uint64_t)PyUnstable_Long_CompactValue(number);
            return 0;
        }
        int overflow = 0;
        long long value = PyLong_AsLongLongAndOverflow(cell, &overflow);
        if (overflow != 0 || (value == -1 && PyErr_Occurred())) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_OverflowError, "int beyond 64 bits");
            return -1;
        }
        *sum += (uint64_t)value;
        return 0;
    }
    if (type == &PyUnicode_Type) {
        const char *utf8;
        Py_ssize_t size = 0;
        if (PyUnicode_IS_COMPACT_ASCII(cell)) {
            utf8 = (const char *)PyUnicode_DATA(cell);
            size = PyUnicode_GET_LENGTH(cell);
        } else {
            utf8 = PyUnicode_AsUTF8AndSize(cell, &size);
            if (utf8 == NULL) return -1;
        }
        *sum += (uint64_t)size + (size > 0 ? (unsigned char)utf8[0] : 0);
        return 0;
    }
    PyErr_Format(PyExc_TypeError, "unsupported cell type '%s'", type->tp_name);
    return -1;
}

static PyObject *touch(PyObject *module, PyObject *columns) {
    (void)module;
    if (!PyList_CheckExact(columns)) {
        PyErr_SetString(PyExc_TypeError, "touch() takes a list of column tuples");
        return NULL;
    }
    uint64_t sum = 0;
    for (Py_ssize_t column_idx = 0; column_idx < PyList_GET_SIZE(columns); ++column_idx) {
        PyObject *item = PyList_GET_ITEM(columns, column_idx);
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) < 3) {
            PyErr_SetString(PyExc_TypeError, "a column is a (name, type, values) tuple");
            return NULL;
        }
        PyObject *values = PyTuple_GET_ITEM(item, 2);
        if (!PyList_CheckExact(values)) {
            PyErr_SetString(PyExc_TypeError, "the floor reads exact lists only");
            return NULL;
        }
        const Py_ssize_t size = PyList_GET_SIZE(values);
        for (Py_ssize_t row_idx = 0; row_idx < size; ++row_idx) {
            if (touch_cell(PyList_GET_ITEM(values, row_idx), &sum) < 0) return NULL;
        }
    }
    return PyLong_FromUnsignedLongLong(sum);
}

static PyMethodDef floor_methods[] = {
    {"touch", touch, METH_O, "Reads every cell's type and value once; returns a checksum."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "_nolt_bench_floor", "Benchmark floor: touch every cell once.", -1, floor_methods,
    NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__nolt_bench_floor(void) { return PyModule_Create(&floor_module); }
