#pragma once
// A small streaming JSON writer for the envelope
// {"schemaVersion":3,"data":[...]}: no whitespace, keys in a fixed order,
// strings escaped byte by byte.

#include <cstdint>
#include <string>
#include <string_view>

#include "collections/span.hpp"

namespace kogane {

class JsonWriter {
public:
    explicit JsonWriter(uint32_t schema_version);

    // Starts the next entry object of the data array.
    void begin_entry();
    void end_entry();

    void key(std::string_view k);
    void string_field(std::string_view k, std::string_view v);
    void number_field(std::string_view k, uint64_t v);
    void bool_field(std::string_view k, bool v);
    void span_field(std::string_view k, Span s);

    // Closes the array and the envelope and returns the text.
    std::string finish();

    static void escape_into(std::string& out, std::string_view s);
    static void number_into(std::string& out, uint64_t v);

private:
    void separator();

    std::string out_;
    bool first_entry_ = true;
    bool first_field_ = true;
};

}  // namespace kogane
