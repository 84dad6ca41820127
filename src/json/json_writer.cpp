#include "json/json_writer.hpp"

namespace kogane {

JsonWriter::JsonWriter(uint32_t schema_version) {
    out_.reserve(128);
    out_ += '{';
    key("schemaVersion");
    number_into(out_, schema_version);
    out_ += ',';
    key("data");
    out_ += '[';
}

void JsonWriter::escape_into(std::string& out, std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    size_t run = 0;  // start of the pending unescaped run
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0A: out += "\\n"; break;
            case 0x0C: out += "\\f"; break;
            case 0x0D: out += "\\r"; break;
            default:
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
        }
    }
    out.append(s.data() + run, s.size() - run);
    out += '"';
}

void JsonWriter::number_into(std::string& out, uint64_t v) {
    char buf[20];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) out += buf[--n];
}

void JsonWriter::begin_entry() {
    if (!first_entry_) out_ += ',';
    first_entry_ = false;
    first_field_ = true;
    out_ += '{';
}

void JsonWriter::end_entry() { out_ += '}'; }

void JsonWriter::separator() {
    if (!first_field_) out_ += ',';
    first_field_ = false;
}

void JsonWriter::key(std::string_view k) {
    escape_into(out_, k);
    out_ += ':';
}

void JsonWriter::string_field(std::string_view k, std::string_view v) {
    separator();
    key(k);
    escape_into(out_, v);
}

void JsonWriter::number_field(std::string_view k, uint64_t v) {
    separator();
    key(k);
    number_into(out_, v);
}

void JsonWriter::bool_field(std::string_view k, bool v) {
    separator();
    key(k);
    out_ += v ? "true" : "false";
}

void JsonWriter::span_field(std::string_view k, Span s) {
    separator();
    key(k);
    out_ += '{';
    key("start");
    number_into(out_, s.start);
    out_ += ',';
    key("end");
    number_into(out_, s.end);
    out_ += '}';
}

std::string JsonWriter::finish() {
    out_ += "]}";
    return std::move(out_);
}

}  // namespace kogane
