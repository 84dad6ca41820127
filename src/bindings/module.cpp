// The extension module _kogane: the only code that includes Python.h. Each
// entry point extracts its arguments, calls one engine function and turns
// the UTF-8 result into a str; internal failures become PanicException.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "collections/panic.hpp"
#include "diagnostics_text/report.hpp"
#include "document/document.hpp"
#include "document/prewarm.hpp"
#include "encoding/decode.hpp"
#include "json/views.hpp"
#include "render/html.hpp"
#include "render/source_emit.hpp"

namespace {

using kogane::DocPtr;
using kogane::KoganeDoc;

constexpr const char* kDecodeError = "Shift_JIS からの変換に失敗しました (不正なバイト列)";
constexpr const char* kSpanLimit = "source exceeds 4 GiB (u32::MAX) span limit";
constexpr const char* kTypeName = "_kogane::bindings::Document";

// Created once by the module's execution slot.
PyObject* g_panic_type = nullptr;
PyTypeObject* g_document_type = nullptr;

PyObject* panic_type() {
    if (g_panic_type == nullptr) {
        g_panic_type = PyErr_NewExceptionWithDoc(
            "kogane._kogane.PanicException",
            "Raised when native code called from Python fails an internal invariant.\n\n"
            "It derives from BaseException, so `except Exception` does not catch it.",
            PyExc_BaseException, nullptr);
    }
    return g_panic_type;
}

PyObject* raise_panic(const char* message) {
    PyObject* type = panic_type();
    if (type != nullptr) PyErr_SetString(type, message);
    return nullptr;
}

PyObject* to_str(const std::string& s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

// Runs engine code, turning an internal failure into PanicException.
template <typename F>
PyObject* guarded(F&& body) {
    try {
        return body();
    } catch (const kogane::InternalError& e) {
        return raise_panic(e.what());
    } catch (const std::bad_alloc&) {
        std::abort();
    } catch (const std::exception& e) {
        return raise_panic(e.what());
    }
}

PyObject* wrong_type(const char* func, const char* arg, PyObject* obj, const char* expected) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s': '%.200s' object is not an instance of '%s'", func, arg,
                 Py_TYPE(obj)->tp_name, expected);
    return nullptr;
}

// One positional-or-keyword argument named `name`.
bool parse_one(PyObject* args, PyObject* kwargs, const char* format, const char* name, PyObject** out) {
    char* kwlist[] = {const_cast<char*>(name), nullptr};
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, kwlist, out) != 0;
}

// ---------------------------------------------------------------------------
// Document

struct DocumentObject {
    PyObject_HEAD
    DocPtr* doc;
    int64_t borrow;
    unsigned long owner;
};

PyObject* new_document_object(PyTypeObject* type, DocPtr doc) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    auto* o = reinterpret_cast<DocumentObject*>(self);
    o->doc = new DocPtr(std::move(doc));
    o->borrow = 0;
    o->owner = PyThread_get_thread_ident();
    return self;
}

PyObject* Document_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* source;
    if (!parse_one(args, kwargs, "O:Document", "source", &source)) return nullptr;
    if (!PyUnicode_Check(source)) return wrong_type("Document", "source", source, "str");
    Py_ssize_t n;
    const char* utf8 = PyUnicode_AsUTF8AndSize(source, &n);
    if (utf8 == nullptr) return nullptr;
    return guarded([&]() -> PyObject* {
        auto result = kogane::new_document(utf8, static_cast<uint64_t>(n));
        if (auto* err = std::get_if<kogane::LengthError>(&result)) {
            PyErr_Format(PyExc_ValueError, "source is %llu bytes; the parser limit is u32::MAX",
                         static_cast<unsigned long long>(err->length));
            return nullptr;
        }
        return new_document_object(type, std::move(std::get<DocPtr>(result)));
    });
}

void Document_dealloc(PyObject* self) {
    auto* o = reinterpret_cast<DocumentObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (o->doc != nullptr) {
        if (PyThread_get_thread_ident() == o->owner) {
            delete o->doc;
        } else {
            // The handle is pinned to its thread: the document is left
            // allocated and the drop is reported, not performed.
            PyObject *et, *ev, *tb;
            PyErr_Fetch(&et, &ev, &tb);
            PyErr_SetString(PyExc_RuntimeError,
                            "_kogane::bindings::Document is unsendable, but is being dropped on another thread");
            PyErr_WriteUnraisable(nullptr);
            PyErr_Restore(et, ev, tb);
        }
        o->doc = nullptr;
    }
    type->tp_free(self);
    Py_DECREF(type);
}

// Common path of every member: thread check, shared borrow, one engine call.
template <typename F>
PyObject* with_document(PyObject* self, F&& body) {
    auto* o = reinterpret_cast<DocumentObject*>(self);
    unsigned long current = PyThread_get_thread_ident();
    if (current != o->owner) {
        std::string msg = "assertion `left == right` failed: ";
        msg += kTypeName;
        msg += " is unsendable, but sent to another thread\n  left: " + std::to_string(current) +
               "\n right: " + std::to_string(o->owner);
        return raise_panic(msg.c_str());
    }
    if (o->doc == nullptr) return raise_panic("document handle is not initialised");
    if (o->borrow == -1) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return nullptr;
    }
    ++o->borrow;
    DocPtr keep = *o->doc;
    PyObject* result = guarded([&]() -> PyObject* { return body(*keep); });
    --o->borrow;
    return result;
}

PyObject* Document_from_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* data;
    if (!parse_one(args, kwargs, "O:from_bytes", "data", &data)) return nullptr;
    if (!PyBytes_Check(data)) return wrong_type("from_bytes", "data", data, "bytes");
    std::string_view bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    return guarded([&]() -> PyObject* {
        std::optional<std::string> text = kogane::decode_auto(bytes);
        if (!text) {
            PyErr_SetString(PyExc_ValueError, kDecodeError);
            return nullptr;
        }
        if (!kogane::source_length_ok(text->size())) {
            PyErr_SetString(PyExc_ValueError, kSpanLimit);
            return nullptr;
        }
        auto shared = std::make_shared<const std::string>(std::move(*text));
        return new_document_object(g_document_type, kogane::parse_document(std::move(shared)));
    });
}

PyObject* Document_source(PyObject* self, void*) {
    return with_document(self, [](const KoganeDoc& d) {
        std::string_view s = d.source();
        return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
    });
}

PyObject* Document_to_html(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::render_html(d.snapshot())); });
}

PyObject* Document_to_source(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::emit_source(d)); });
}

PyObject* Document_source_byte_len(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) {
        return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(d.source().size()));
    });
}

PyObject* Document_nodes_json(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::nodes_json(d)); });
}

PyObject* Document_pairs_json(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::pairs_json(d)); });
}

PyObject* Document_container_pairs_json(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::container_pairs_json(d)); });
}

PyObject* Document_gaiji_json(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::gaiji_json(d)); });
}

PyObject* Document_diagnostics_json(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::diagnostics_json(d)); });
}

PyObject* Document_diagnostics_text(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) {
        return to_str(kogane::render_diagnostics_text(d.diagnostics_in_source(), d.source()));
    });
}

PyMethodDef kDocumentMethods[] = {
    {"from_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Document_from_bytes)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_bytes(data)\n--\n\n"
     "Alternate constructor from raw bytes, decoding the source encoding automatically.\n\n"
     "Archive files are `Shift_JIS`; pre-converted corpora are UTF-8. `decode_auto` sniffs the two\n"
     "(valid UTF-8 wins, else `Shift_JIS`), so this accepts both. Despite its name it is\n"
     "encoding-agnostic.\n\n"
     "Errors: raises `ValueError` if the bytes are neither valid UTF-8 nor valid `Shift_JIS`, or if\n"
     "the decoded text exceeds the 4 GiB (`u32::MAX`) span limit."},
    {"to_html", Document_to_html, METH_NOARGS,
     "to_html($self)\n--\n\nRender the document to HTML and return as a Python `str`."},
    {"to_source", Document_to_source, METH_NOARGS, "to_source($self)\n--\n\nRe-emit Kogane source text."},
    {"source_byte_len", Document_source_byte_len, METH_NOARGS, "source_byte_len($self)\n--\n\nSource byte length."},
    {"nodes_json", Document_nodes_json, METH_NOARGS,
     "nodes_json($self)\n--\n\nSource-keyed Kogane-node spans as a JSON envelope string."},
    {"pairs_json", Document_pairs_json, METH_NOARGS,
     "pairs_json($self)\n--\n\nMatched open/close pair links as a JSON envelope string."},
    {"container_pairs_json", Document_container_pairs_json, METH_NOARGS,
     "container_pairs_json($self)\n--\n\n"
     "Container open/close pairs (indent / warichu / keigakomi / alignEnd / ...) as a JSON envelope\n"
     "string, in source coordinates."},
    {"gaiji_json", Document_gaiji_json, METH_NOARGS,
     "gaiji_json($self)\n--\n\n"
     "Resolved gaiji references (`※［＃…］`) as a JSON envelope string.\n\n"
     "Each entry is `{ span: { start, end }, description, mencode, codepoint, resolved }` in\n"
     "source-byte coordinates; scans the raw source (no parse needed)."},
    {"diagnostics_json", Document_diagnostics_json, METH_NOARGS,
     "diagnostics_json($self)\n--\n\n"
     "Diagnostics as a JSON envelope string.\n\n"
     "An empty parse has an empty `data` array; the Python wrapper's `diagnostics()` returns the\n"
     "parsed `data` list, this is the raw, byte-identical accessor."},
    {"diagnostics_text", Document_diagnostics_text, METH_NOARGS,
     "diagnostics_text($self)\n--\n\n"
     "Diagnostics as a plain-text report.\n\n"
     "One block per diagnostic with its code, span, message and the offending source slice; a\n"
     "clean parse gives the empty string; for the machine-readable view use `diagnostics_json`."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kDocumentGetSet[] = {
    {"source", Document_source, nullptr, "The source text the document was parsed from.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kDocumentSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Document_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Document_dealloc)},
    {Py_tp_methods, kDocumentMethods},
    {Py_tp_getset, kDocumentGetSet},
    {Py_tp_doc, const_cast<char*>(
                    "Document(source)\n--\n\n"
                    "Handle to a parsed Kogane document.\n\n"
                    "Wraps a `KoganeDoc` and its immutable parsed snapshot; there is no interior-mutable\n"
                    "state, so the wrapped document is itself safe to share, but the handle is pinned to\n"
                    "its constructing Python thread (access from another thread raises an error rather\n"
                    "than sharing it).")},
    {0, nullptr},
};

PyType_Spec kDocumentSpec = {
    "kogane._kogane.Document",
    sizeof(DocumentObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    kDocumentSlots,
};

// ---------------------------------------------------------------------------
// Module functions

PyObject* fn_parse_to_html(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* source;
    if (!parse_one(args, kwargs, "O:parse_to_html", "source", &source)) return nullptr;
    if (!PyUnicode_Check(source)) return wrong_type("parse_to_html", "source", source, "str");
    Py_ssize_t n;
    const char* utf8 = PyUnicode_AsUTF8AndSize(source, &n);
    if (utf8 == nullptr) return nullptr;
    if (!kogane::source_length_ok(static_cast<uint64_t>(n))) {
        PyErr_SetString(PyExc_ValueError, kSpanLimit);
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        auto result = kogane::new_document(utf8, static_cast<uint64_t>(n));
        const DocPtr& doc = std::get<DocPtr>(result);
        return to_str(kogane::render_html(doc->snapshot()));
    });
}

PyObject* fn_prewarm(PyObject*, PyObject*) {
    return guarded([]() -> PyObject* {
        kogane::prewarm();
        Py_RETURN_NONE;
    });
}

PyObject* fn_decode_sjis(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* data;
    if (!parse_one(args, kwargs, "O:decode_sjis", "data", &data)) return nullptr;
    if (!PyBytes_Check(data)) return wrong_type("decode_sjis", "data", data, "bytes");
    std::string_view bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    return guarded([&]() -> PyObject* {
        std::optional<std::string> text = kogane::decode_sjis(bytes);
        if (!text) {
            PyErr_SetString(PyExc_ValueError, kDecodeError);
            return nullptr;
        }
        return to_str(*text);
    });
}

PyObject* fn_slugs_json(PyObject*, PyObject*) {
    return guarded([]() { return to_str(kogane::slugs_json()); });
}

PyObject* fn_version(PyObject*, PyObject*) { return PyUnicode_FromString(KOGANE_VERSION_STRING); }

PyObject* fn_schema_version(PyObject*, PyObject*) { return PyLong_FromUnsignedLong(kogane::kSchemaVersion); }

#define KOGANE_KW_FN(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

PyMethodDef kFunctions[] = {
    {"parse_to_html", KOGANE_KW_FN(fn_parse_to_html), METH_VARARGS | METH_KEYWORDS,
     "parse_to_html(source)\n--\n\n"
     "Convenience: parse + render in one call.\n\n"
     "Errors: raises `ValueError` if `source` exceeds the 4 GiB (`u32::MAX`) span limit."},
    {"prewarm", fn_prewarm, METH_NOARGS,
     "prewarm()\n--\n\n"
     "Force one-time parser-table initialisation (SIMD backend choice + annotation-classifier DFA)\n"
     "off the first-parse critical path. Idempotent.\n\n"
     "Batch workloads that parse many short documents call this once at startup so that the\n"
     "first parse does not pay the DFA build."},
    {"decode_sjis", KOGANE_KW_FN(fn_decode_sjis), METH_VARARGS | METH_KEYWORDS,
     "decode_sjis(data)\n--\n\n"
     "Decode `Shift_JIS` bytes to a Python `str`.\n\n"
     "Strict: no lossy replacement — callers need to know when they are looking at corrupted\n"
     "source rather than silently absorbing the damage; for encoding-agnostic decoding (UTF-8\n"
     "mirrors too) construct via `Document.from_bytes` instead.\n\n"
     "Errors: raises `ValueError` on a malformed `Shift_JIS` byte sequence."},
    {"slugs_json", fn_slugs_json, METH_NOARGS,
     "slugs_json()\n--\n\n"
     "Canonical slug catalogue (`［＃…］` annotations) as a JSON envelope string.\n\n"
     "Static, independent of any document; useful for driving editor completion menus."},
    {"version", fn_version, METH_NOARGS,
     "version()\n--\n\n"
     "The parser's channel-aware build version.\n\n"
     "This is the engine's build stamp, not the Python package version (`kogane.__version__`,\n"
     "from distribution metadata); its single authority is the build variable\n"
     "`KOGANE_VERSION_STRING`."},
    {"schema_version", fn_schema_version, METH_NOARGS,
     "schema_version()\n--\n\n"
     "The wire schema version this module emits.\n\n"
     "Every `*_json()` envelope carries `\"schemaVersion\": <this>`; the constant `SCHEMA_VERSION`\n"
     "is bumped on any breaking change to the wire shape. A host can assert at load time that it\n"
     "matches its own expected value. Distinct from `version`: the wire contract version, not the\n"
     "engine build stamp."},
};

// Appends `name` to the module's __all__, creating the list on first use.
int add_to_all(PyObject* module, const char* name) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr) return -1;
        if (PyModule_AddObjectRef(module, "__all__", all) < 0) {
            Py_DECREF(all);
            return -1;
        }
    }
    PyObject* s = PyUnicode_FromString(name);
    int rc = s == nullptr ? -1 : PyList_Append(all, s);
    Py_XDECREF(s);
    Py_DECREF(all);
    return rc;
}

int module_exec(PyObject* module) {
    PyObject* type = PyType_FromModuleAndSpec(module, &kDocumentSpec, nullptr);
    if (type == nullptr) return -1;
    if (PyModule_AddObjectRef(module, "Document", type) < 0) {
        Py_DECREF(type);
        return -1;
    }
    if (g_document_type == nullptr) {
        g_document_type = reinterpret_cast<PyTypeObject*>(type);  // keeps the reference
    } else {
        Py_DECREF(type);
    }
    if (add_to_all(module, "Document") < 0) return -1;
    for (PyMethodDef& def : kFunctions) {
        PyObject* name = PyModule_GetNameObject(module);
        if (name == nullptr) return -1;
        PyObject* fn = PyCFunction_NewEx(&def, nullptr, name);
        Py_DECREF(name);
        if (fn == nullptr) return -1;
        int rc = PyModule_AddObjectRef(module, def.ml_name, fn);
        Py_DECREF(fn);
        if (rc < 0 || add_to_all(module, def.ml_name) < 0) return -1;
    }
    PyObject* panic = panic_type();
    if (panic == nullptr) return -1;
    return PyModule_AddObjectRef(module, "PanicException", panic);
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_kogane",
    "Kogane parser engine.\n\n"
    "Registered as `kogane._kogane`: the private compiled submodule that the pure-Python `kogane`\n"
    "package wraps.",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__kogane(void) { return PyModuleDef_Init(&kModule); }
