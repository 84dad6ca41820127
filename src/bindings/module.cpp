// The extension module _kogane: the only code that includes Python.h. Each
// entry point extracts its arguments, calls one engine function and turns
// the UTF-8 result into a str; internal failures become PanicException.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <memory>
#include <optional>
#include <stdexcept>
#include <span>
#include <string>
#include <utility>

#include "collections/panic.hpp"
#include "collections/helper_threads.hpp"
#include "collections/huge_pages.hpp"
#include "collections/spare_buffers.hpp"
#ifdef KOGANE_FAULT_INJECTION
#include "bindings/fault_injection.hpp"
#endif
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

// Per-module state: the types this module made. Every entry point reaches
// them through its module (functions), its type (methods) or the defining
// type (from_bytes), so a re-imported module or a sub-interpreter uses its
// own Document and PanicException.
struct ModuleState {
    PyObject* document_type;
    PyObject* panic_type;
};

extern PyModuleDef kModule;

ModuleState* state_of_module(PyObject* module) { return static_cast<ModuleState*>(PyModule_GetState(module)); }

// The state of the module that defined `type` (or a base of it).
// Walks the MRO by hand (PyType_GetModuleByDef needs Python 3.11).
ModuleState* state_of_type(PyTypeObject* type) {
    PyObject* mro = type->tp_mro;
    if (mro == nullptr || !PyTuple_Check(mro)) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        if (!(base->tp_flags & Py_TPFLAGS_HEAPTYPE)) continue;
        PyObject* module = PyType_GetModule(base);
        if (module == nullptr) {
            PyErr_Clear();
            continue;
        }
        if (PyModule_GetDef(module) == &kModule) return state_of_module(module);
    }
    return nullptr;
}

PyObject* raise_panic(ModuleState* state, const char* message) {
    PyErr_SetString(state != nullptr && state->panic_type != nullptr ? state->panic_type : PyExc_SystemError,
                    message);
    return nullptr;
}

// A str of the engine's UTF-8 output, written straight into the str's own
// storage at the width it needs (no intermediate decoder pass). Should the
// bytes not be valid UTF-8, the host decoder runs instead and reports it.
PyObject* to_str(std::string_view s) {
    const kogane::Utf8Shape shape = kogane::utf8_shape(s);
    if (shape.chars <= static_cast<uint64_t>(PY_SSIZE_T_MAX)) {
        PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(shape.chars), static_cast<Py_UCS4>(shape.max_char));
        if (str == nullptr) return nullptr;
        bool written;
        switch (PyUnicode_KIND(str)) {
            case PyUnicode_1BYTE_KIND:
                written = kogane::widen_utf8(s, PyUnicode_1BYTE_DATA(str));
                break;
            case PyUnicode_2BYTE_KIND:
                written = kogane::widen_utf8(s, PyUnicode_2BYTE_DATA(str));
                break;
            default:
                written = kogane::widen_utf8(s, PyUnicode_4BYTE_DATA(str));
                break;
        }
        if (written) return str;
        Py_DECREF(str);
    }
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

// Runs engine code, turning an internal failure into PanicException and an
// allocation that cannot be met into MemoryError. A length_error is a size
// no container can hold (a huge input), so it is the host's MemoryError
// too. Every C++ exception stops here: none may unwind into the
// interpreter, which would terminate the process.
template <typename F>
PyObject* guarded(ModuleState* state, F&& body) {
    try {
        return body();
    } catch (const kogane::InternalError& e) {
        return raise_panic(state, e.what());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        return raise_panic(state, e.what());
    } catch (...) {
        return raise_panic(state, "unknown C++ exception");
    }
}

// Releases the interpreter lock around pure engine work (decoding and
// parsing touch no Python object), so threads of a batch convert books side
// by side. Taken back on the way out, exception or not, before `guarded`
// turns a failure into a Python error.
class WithoutGil {
public:
    WithoutGil() : saved_(PyEval_SaveThread()) {}
    ~WithoutGil() { PyEval_RestoreThread(saved_); }
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;
    PyThreadState*& saved() { return saved_; }

private:
    PyThreadState* saved_;
};

// Takes the interpreter lock back for a moment inside a WithoutGil scope
// (to allocate a Python object), and lets it go again on the way out.
class RelockedGil {
public:
    explicit RelockedGil(PyThreadState*& saved) : saved_(saved) { PyEval_RestoreThread(saved_); }
    ~RelockedGil() { saved_ = PyEval_SaveThread(); }
    RelockedGil(const RelockedGil&) = delete;
    RelockedGil& operator=(const RelockedGil&) = delete;

private:
    PyThreadState*& saved_;
};

// A str built from UTF-8 pieces as they come, each written straight into
// the str's storage at the width the pieces so far need. A piece that needs
// a wider unit copies what is written into a wider str (at most three times
// a book); running out of room grows the str in place. Runs without the
// interpreter lock, taking it only to allocate.
class StrBuilder final : public kogane::HtmlSink {
public:
    StrBuilder(PyThreadState*& saved, size_t expected_chars) : saved_(saved), expected_(expected_chars) {}
    ~StrBuilder() {
        if (str_ != nullptr) {
            RelockedGil locked(saved_);
            Py_DECREF(str_);
        }
    }
    StrBuilder(const StrBuilder&) = delete;
    StrBuilder& operator=(const StrBuilder&) = delete;

    void write(std::string_view piece) override {
        if (state_ != State::Writing) return;
        const kogane::Utf8Shape shape = kogane::utf8_shape(piece);
        const uint32_t max_char = std::max(max_char_, shape.max_char);
        const uint64_t needed = static_cast<uint64_t>(length_) + shape.chars;
        if (needed > static_cast<uint64_t>(PY_SSIZE_T_MAX)) {
            state_ = State::Malformed;  // the fallback reports the size
            return;
        }
        if (str_ == nullptr || max_char != max_char_ || static_cast<Py_ssize_t>(needed) > capacity_) {
            RelockedGil locked(saved_);
            if (!make_room(static_cast<Py_ssize_t>(needed), max_char)) {
                state_ = State::Failed;
                return;
            }
        }
        void* at = static_cast<char*>(PyUnicode_DATA(str_)) + static_cast<size_t>(length_) * PyUnicode_KIND(str_);
        bool written;
        switch (PyUnicode_KIND(str_)) {
            case PyUnicode_1BYTE_KIND: written = kogane::widen_utf8(piece, static_cast<uint8_t*>(at)); break;
            case PyUnicode_2BYTE_KIND: written = kogane::widen_utf8(piece, static_cast<uint16_t*>(at)); break;
            default: written = kogane::widen_utf8(piece, static_cast<uint32_t*>(at)); break;
        }
        if (!written) {
            state_ = State::Malformed;
            return;
        }
        length_ = static_cast<Py_ssize_t>(needed);
    }

    enum class State : uint8_t { Writing, Failed, Malformed };
    State state() const { return state_; }

    // The finished str (the lock held): cut to its length. Null with an
    // error set when that fails.
    PyObject* take() {
        if (str_ == nullptr) return PyUnicode_New(0, 0);
        PyObject* str = std::exchange(str_, nullptr);
        if (PyUnicode_Resize(&str, length_) < 0) {  // the str is left as it was
            Py_DECREF(str);
            return nullptr;
        }
        return str;
    }

private:
    bool make_room(Py_ssize_t needed, uint32_t max_char) {
        Py_ssize_t capacity = std::max<Py_ssize_t>(needed, capacity_ + capacity_ / 2);
        if (str_ == nullptr) capacity = std::max(capacity, static_cast<Py_ssize_t>(std::min<size_t>(expected_, PY_SSIZE_T_MAX)));
        if (str_ != nullptr && max_char == max_char_) {
            if (PyUnicode_Resize(&str_, capacity) < 0) return false;  // in place where it can
        } else {
            PyObject* wider = PyUnicode_New(capacity, static_cast<Py_UCS4>(max_char));
            if (wider == nullptr) return false;
            if (str_ != nullptr) {
                if (PyUnicode_CopyCharacters(wider, 0, str_, 0, length_) < 0) {
                    Py_DECREF(wider);
                    return false;
                }
                Py_DECREF(str_);
            }
            str_ = wider;
            max_char_ = max_char;
            // Only the header is written yet.
            kogane::advise_huge_pages(PyUnicode_DATA(str_), static_cast<size_t>(capacity) * PyUnicode_KIND(str_));
        }
        capacity_ = capacity;
        return true;
    }

    PyThreadState*& saved_;
    size_t expected_;
    PyObject* str_ = nullptr;
    Py_ssize_t length_ = 0;
    Py_ssize_t capacity_ = 0;
    uint32_t max_char_ = 0x7F;
    State state_ = State::Writing;
};

// The HTML of a book as a str, converted piece by piece as the renderer
// hands the pieces over: a long book's whole HTML is never held as UTF-8 (at
// 50 MB of text that was 60 MB of memory faulted in and read back), and
// each piece is read again while it is still in cache. The pieces are
// built in a buffer the thread keeps between calls.
PyObject* html_str(const kogane::ParseSnapshot& snapshot) {
    constexpr size_t kPieceBytes = size_t(128) << 10;
    // A book with no line feed for megabytes grows a piece that long; the
    // thread does not keep such a buffer.
    constexpr size_t kKeptBytes = size_t(4) << 20;
    // Text up to this size has its HTML made whole: about 1.2 bytes a byte
    // of text, held once more as UTF-8 beside the str.
    constexpr size_t kWholeBytes = size_t(512) << 10;
    constexpr size_t kWholePiece = size_t(1) << 40;  // a piece no book reaches
    thread_local std::string scratch;
    thread_local bool in_use = false;
    // Only if making the str ever ran code that renders again would the
    // buffer be in use: that render gets a buffer of its own.
    std::string own;
    const bool keep = !in_use;
    std::string& html = keep ? scratch : own;
    struct Release {
        bool keep;
        ~Release() {
            if (!keep) return;
            if (scratch.capacity() > kKeptBytes) std::string().swap(scratch);
            in_use = false;
        }
    } release{keep};
    in_use = true;
    StrBuilder::State state;
    PyObject* str = nullptr;
    {
        WithoutGil unlocked;
        // HTML runs to about 0.6 characters per byte of text in books; room
        // for a little more costs only address space, as pages past the
        // written ones are never touched, and growing would copy. A short
        // book's HTML comes in one piece instead, for a str of just its
        // size: the C allocator serves a str it has seen freed from memory
        // it keeps, but it maps a larger request afresh, and cutting that
        // down to the length every time left a book of 100 KB spending half
        // its HTML time in page faults.
        const bool whole = snapshot.normalized.size() <= kWholeBytes;
        StrBuilder builder(unlocked.saved(), whole ? 0 : snapshot.normalized.size() / 4 * 3 + 4096);
        // A longer one is rendered on a helper thread while this one
        // writes the pieces into the str.
        if (whole)
            kogane::render_html_pieces(snapshot, html, kWholePiece, builder);
        else
            kogane::render_html_pieces_beside(snapshot, html, kPieceBytes, builder);
        state = builder.state();
        if (state == StrBuilder::State::Writing) {
            RelockedGil locked(unlocked.saved());
            str = builder.take();
            if (str == nullptr) state = StrBuilder::State::Failed;
        }
    }
    if (state == StrBuilder::State::Failed) return nullptr;  // the error is set
    if (state == StrBuilder::State::Malformed) {
        // Never for the renderer's own output; the whole text and the
        // host's decoder then say what is wrong.
        std::string whole;
        {
            WithoutGil unlocked;
            kogane::render_html_into(snapshot, whole);
        }
        return to_str(whole);
    }
    return str;
}

// The caller's str as UTF-8, refused before any conversion when longer than
// the parser takes: the length comes from the str's own code units, and the
// text is encoded straight into the one buffer the document keeps (the str
// gets no UTF-8 copy attached). `too_long` receives the length when refused;
// nullptr is returned with a Python error set when the str cannot be encoded.
struct StrSource {
    kogane::SharedText text;
    uint64_t too_long = 0;
};

bool str_to_source(PyObject* str, StrSource& out) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(str) < 0) return false;  // legacy strs get their compact form
#endif
    const Py_ssize_t count = PyUnicode_GET_LENGTH(str);
    const void* data = PyUnicode_DATA(str);
    const size_t n = static_cast<size_t>(count);
    std::optional<uint64_t> length;
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            length = kogane::utf8_length(std::span(static_cast<const uint8_t*>(data), n));
            break;
        case PyUnicode_2BYTE_KIND:
            length = kogane::utf8_length(std::span(static_cast<const uint16_t*>(data), n));
            break;
        default:
            length = kogane::utf8_length(std::span(static_cast<const uint32_t*>(data), n));
            break;
    }
    if (!length) {
        // A lone surrogate: let the host report it in its own words.
        Py_ssize_t ignored;
        if (PyUnicode_AsUTF8AndSize(str, &ignored) == nullptr) return false;
        PyErr_SetString(PyExc_UnicodeEncodeError, "surrogates not allowed");
        return false;
    }
    if (!kogane::source_length_ok(*length)) {
        out.too_long = *length;
        return true;
    }
    std::string text = kogane::take_spare_buffer(static_cast<size_t>(*length));
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            kogane::append_utf8(text, std::span(static_cast<const uint8_t*>(data), n));
            break;
        case PyUnicode_2BYTE_KIND:
            kogane::append_utf8(text, std::span(static_cast<const uint16_t*>(data), n));
            break;
        default:
            kogane::append_utf8(text, std::span(static_cast<const uint32_t*>(data), n));
            break;
    }
    out.text = kogane::share_keeping_buffer(std::move(text));
    return true;
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
    // The handle is allocated before the object, so a failure leaves no
    // half-made object behind.
    auto handle = std::make_unique<DocPtr>(std::move(doc));
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    auto* o = reinterpret_cast<DocumentObject*>(self);
    o->doc = handle.release();
    o->borrow = 0;
    o->owner = PyThread_get_thread_ident();
    return self;
}

PyObject* Document_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* source;
    if (!parse_one(args, kwargs, "O:Document", "source", &source)) return nullptr;
    if (!PyUnicode_Check(source)) return wrong_type("Document", "source", source, "str");
    return guarded(state_of_type(type), [&]() -> PyObject* {
        StrSource utf8;
        if (!str_to_source(source, utf8)) return nullptr;
        if (utf8.too_long != 0) {
            PyErr_Format(PyExc_ValueError, "source is %llu bytes; the parser limit is u32::MAX",
                         static_cast<unsigned long long>(utf8.too_long));
            return nullptr;
        }
        DocPtr doc;
        {
            WithoutGil unlocked;
            doc = kogane::parse_document(std::move(utf8.text));
        }
        return new_document_object(type, std::move(doc));
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
    ModuleState* state = state_of_type(Py_TYPE(self));
    unsigned long current = PyThread_get_thread_ident();
    if (current != o->owner) {
        return guarded(state, [&]() -> PyObject* {
            std::string msg = "assertion `left == right` failed: ";
            msg += kTypeName;
            msg += " is unsendable, but sent to another thread\n  left: " + std::to_string(current) +
                   "\n right: " + std::to_string(o->owner);
            return raise_panic(state, msg.c_str());
        });
    }
    if (o->doc == nullptr) return raise_panic(state, "document handle is not initialised");
    if (o->borrow == -1) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return nullptr;
    }
    ++o->borrow;
    DocPtr keep = *o->doc;
    PyObject* result = guarded(state, [&]() -> PyObject* { return body(*keep); });
    --o->borrow;
    return result;
}

// A static method bound to the module that made the type (see
// module_exec), so the instance is of that module's Document even after a
// re-import or in another interpreter.
PyObject* Document_from_bytes(PyObject* module, PyObject* args, PyObject* kwargs) {
    PyObject* data;
    if (!parse_one(args, kwargs, "O:from_bytes", "data", &data)) return nullptr;
    if (!PyBytes_Check(data)) return wrong_type("from_bytes", "data", data, "bytes");
    ModuleState* state = module != nullptr && PyModule_Check(module) ? state_of_module(module) : nullptr;
    if (state == nullptr || state->document_type == nullptr)
        return raise_panic(state, "from_bytes is not bound to its module");
    std::string_view bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    return guarded(state, [&]() -> PyObject* {
        // The bytes object is immutable and held by the call's arguments,
        // so its buffer stays valid while the lock is released.
        std::optional<kogane::DecodeFailure> failure;
        DocPtr doc;
        {
            WithoutGil unlocked;
            auto parsed = kogane::parse_bytes(bytes);
            if (auto* f = std::get_if<kogane::DecodeFailure>(&parsed))
                failure = *f;
            else
                doc = std::move(std::get<DocPtr>(parsed));
        }
        if (failure) {
            PyErr_SetString(PyExc_ValueError, *failure == kogane::DecodeFailure::TooLong ? kSpanLimit : kDecodeError);
            return nullptr;
        }
        return new_document_object(reinterpret_cast<PyTypeObject*>(state->document_type), std::move(doc));
    });
}

PyObject* Document_source(PyObject* self, void*) {
    return with_document(self, [](const KoganeDoc& d) {
        std::string_view s = d.source();
        return to_str(s);
    });
}

PyObject* Document_to_html(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) {
        // Rendering reads only the parsed snapshot, which the call holds:
        // threads of a batch render their books side by side.
        return html_str(d.snapshot());
    });
}

PyObject* Document_to_source(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) { return to_str(kogane::emit_source(d)); });
}

PyObject* Document_source_byte_len(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) {
        return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(d.source_size()));
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

// What a batch summary needs from the diagnostics, without building their
// JSON only to count a field in it. Counted on the parse's own list: the
// source-coordinate list holds the same diagnostics, only their spans are
// mapped (and that mapping is most of the cost of asking for it).
PyObject* Document_severity_counts(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) -> PyObject* {
        constexpr kogane::Severity kOrder[] = {kogane::Severity::Error, kogane::Severity::Warning,
                                               kogane::Severity::Note};
        unsigned long long counts[std::size(kOrder)] = {};
        for (const kogane::Diagnostic& diag : d.snapshot().diagnostics) ++counts[static_cast<uint8_t>(diag.severity())];
        PyObject* dict = PyDict_New();
        if (dict == nullptr) return nullptr;
        for (kogane::Severity s : kOrder) {
            PyObject* n = PyLong_FromUnsignedLongLong(counts[static_cast<uint8_t>(s)]);
            if (n == nullptr || PyDict_SetItemString(dict, kogane::severity_name(s), n) < 0) {
                Py_XDECREF(n);
                Py_DECREF(dict);
                return nullptr;
            }
            Py_DECREF(n);
        }
        return dict;
    });
}

PyObject* Document_diagnostics_text(PyObject* self, PyObject*) {
    return with_document(self, [](const KoganeDoc& d) {
        return to_str(kogane::render_diagnostics_text(d.diagnostics_in_source(), d.source()));
    });
}

PyMethodDef kDocumentMethods[] = {
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
    {"severity_counts", Document_severity_counts, METH_NOARGS,
     "severity_counts($self)\n--\n\n"
     "Diagnostics by severity as a dict {'error': n, 'warning': n, 'note': n}: the counts of the\n"
     "`severity` fields of `diagnostics_json`."},
    {"diagnostics_text", Document_diagnostics_text, METH_NOARGS,
     "diagnostics_text($self)\n--\n\n"
     "Diagnostics as a plain-text report.\n\n"
     "One block per diagnostic with its code, span, message and the offending source slice; a\n"
     "clean parse gives the empty string; for the machine-readable view use `diagnostics_json`."},
    {nullptr, nullptr, 0, nullptr},
};

// Installed on the type as a staticmethod by module_exec.
PyMethodDef kFromBytes = {
    "from_bytes",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Document_from_bytes)),
    METH_VARARGS | METH_KEYWORDS,
    "from_bytes(data)\n--\n\n"
    "Alternate constructor from raw bytes, decoding the source encoding automatically.\n\n"
    "Archive files are `Shift_JIS`; pre-converted corpora are UTF-8. `decode_auto` sniffs the two\n"
    "(valid UTF-8 wins, else `Shift_JIS`), so this accepts both. Despite its name it is\n"
    "encoding-agnostic.\n\n"
    "Errors: raises `ValueError` if the bytes are neither valid UTF-8 nor valid `Shift_JIS`, or if\n"
    "the decoded text exceeds the 4 GiB (`u32::MAX`) span limit.",
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

PyObject* fn_parse_to_html(PyObject* module, PyObject* args, PyObject* kwargs) {
    PyObject* source;
    if (!parse_one(args, kwargs, "O:parse_to_html", "source", &source)) return nullptr;
    if (!PyUnicode_Check(source)) return wrong_type("parse_to_html", "source", source, "str");
    return guarded(state_of_module(module), [&]() -> PyObject* {
        StrSource utf8;
        if (!str_to_source(source, utf8)) return nullptr;
        if (utf8.too_long != 0) {
            PyErr_SetString(PyExc_ValueError, kSpanLimit);
            return nullptr;
        }
        DocPtr doc;
        {
            WithoutGil unlocked;
            doc = kogane::parse_document(std::move(utf8.text));
        }
        PyObject* html = html_str(doc->snapshot());
        {
            WithoutGil unlocked;  // freeing a long book's parse takes a while too
            doc.reset();
        }
        return html;
    });
}

PyObject* fn_prewarm(PyObject* module, PyObject*) {
    return guarded(state_of_module(module), []() -> PyObject* {
        kogane::prewarm();
        Py_RETURN_NONE;
    });
}

PyObject* fn_decode_sjis(PyObject* module, PyObject* args, PyObject* kwargs) {
    PyObject* data;
    if (!parse_one(args, kwargs, "O:decode_sjis", "data", &data)) return nullptr;
    if (!PyBytes_Check(data)) return wrong_type("decode_sjis", "data", data, "bytes");
    std::string_view bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    return guarded(state_of_module(module), [&]() -> PyObject* {
        std::optional<std::string> text;
        {
            WithoutGil unlocked;  // the bytes object is immutable and held by the call
            text = kogane::decode_sjis(bytes);
        }
        if (!text) {
            PyErr_SetString(PyExc_ValueError, kDecodeError);
            return nullptr;
        }
        return to_str(*text);
    });
}

PyObject* fn_slugs_json(PyObject* module, PyObject*) {
    return guarded(state_of_module(module), []() { return to_str(kogane::slugs_json()); });
}

PyObject* fn_version(PyObject*, PyObject*) { return PyUnicode_FromString(KOGANE_VERSION_STRING); }

PyObject* fn_schema_version(PyObject*, PyObject*) { return PyLong_FromUnsignedLong(kogane::kSchemaVersion); }

PyObject* fn_helper_threads(PyObject*, PyObject* arg) {
    const int allowed = PyObject_IsTrue(arg);
    if (allowed < 0) return nullptr;
    return PyBool_FromLong(kogane::allow_helper_threads(allowed != 0));
}

// Entry points for the package's own modules: attributes of the module,
// not part of __all__.
PyMethodDef kInternalFunctions[] = {
    {"_helper_threads", fn_helper_threads, METH_O,
     "_helper_threads(allowed)\n--\n\n"
     "Whether a long book may use a helper thread (on by default): from_bytes() of a book\n"
     "over 2 MB searches for far annotation targets beside the parse, and to_html() of a book\n"
     "over 512 KB of text renders beside the thread that builds the str. No result depends\n"
     "on it. Returns the previous setting. Batch workers, which keep every core busy, turn\n"
     "helpers off."},
};

#ifdef KOGANE_FAULT_INJECTION
PyObject* fn_fail_allocation(PyObject*, PyObject* arg) {
    const unsigned long long n = PyLong_AsUnsignedLongLong(arg);
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    return PyLong_FromUnsignedLongLong(kogane::fault_injection::fail_allocation(n));
}

// Test-only entry points: attributes of the module, not part of __all__.
PyMethodDef kTestFunctions[] = {
    {"_fail_allocation", fn_fail_allocation, METH_O,
     "_fail_allocation(n)\n--\n\n"
     "Make the calling thread's n-th next engine allocation fail (0 disarms); returns how many\n"
     "allocations the previous arming still had to go."},
};
#endif

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
    ModuleState* state = state_of_module(module);
    if (state == nullptr) return -1;
    PyObject* type = PyType_FromModuleAndSpec(module, &kDocumentSpec, nullptr);
    if (type == nullptr) return -1;
    state->document_type = type;  // the state keeps this reference
    // The host passes no type to a static method, so from_bytes is bound
    // to the module instead and installed by hand.
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) return -1;
    PyObject* from_bytes = PyCFunction_NewEx(&kFromBytes, module, module_name);
    Py_DECREF(module_name);
    if (from_bytes == nullptr) return -1;
    PyObject* static_from_bytes = PyStaticMethod_New(from_bytes);
    Py_DECREF(from_bytes);
    if (static_from_bytes == nullptr) return -1;
    const int set = PyObject_SetAttrString(type, "from_bytes", static_from_bytes);
    Py_DECREF(static_from_bytes);
    if (set < 0) return -1;
    if (PyModule_AddObjectRef(module, "Document", type) < 0) return -1;
    if (add_to_all(module, "Document") < 0) return -1;
    for (PyMethodDef& def : kFunctions) {
        PyObject* name = PyModule_GetNameObject(module);
        if (name == nullptr) return -1;
        PyObject* fn = PyCFunction_NewEx(&def, module, name);
        Py_DECREF(name);
        if (fn == nullptr) return -1;
        int rc = PyModule_AddObjectRef(module, def.ml_name, fn);
        Py_DECREF(fn);
        if (rc < 0 || add_to_all(module, def.ml_name) < 0) return -1;
    }
    // Functions left out of __all__.
    const auto add_unlisted = [module](std::span<PyMethodDef> defs) {
        for (PyMethodDef& def : defs) {
            PyObject* fn = PyCFunction_NewEx(&def, module, nullptr);
            if (fn == nullptr) return -1;
            int rc = PyModule_AddObjectRef(module, def.ml_name, fn);
            Py_DECREF(fn);
            if (rc < 0) return -1;
        }
        return 0;
    };
    if (add_unlisted(kInternalFunctions) < 0) return -1;
#ifdef KOGANE_FAULT_INJECTION
    if (add_unlisted(kTestFunctions) < 0) return -1;
#endif
    state->panic_type = PyErr_NewExceptionWithDoc(
        "kogane._kogane.PanicException",
        "Raised when native code called from Python fails an internal invariant.\n\n"
        "It derives from BaseException, so `except Exception` does not catch it.",
        PyExc_BaseException, nullptr);
    if (state->panic_type == nullptr) return -1;
    return PyModule_AddObjectRef(module, "PanicException", state->panic_type);
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState* state = state_of_module(module);
    if (state != nullptr) {
        Py_VISIT(state->document_type);
        Py_VISIT(state->panic_type);
    }
    return 0;
}

int module_clear(PyObject* module) {
    ModuleState* state = state_of_module(module);
    if (state != nullptr) {
        Py_CLEAR(state->document_type);
        Py_CLEAR(state->panic_type);
    }
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

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
    sizeof(ModuleState),
    nullptr,
    kSlots,
    module_traverse,
    module_clear,
    module_free,
};

}  // namespace

PyMODINIT_FUNC PyInit__kogane(void) { return PyModuleDef_Init(&kModule); }
