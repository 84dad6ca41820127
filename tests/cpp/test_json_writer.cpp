#include <gtest/gtest.h>

#include <string>

#include "json/json_writer.hpp"
#include "json/views.hpp"

using namespace kogane;

TEST(JsonWriter, EmptyEnvelope) {
    JsonWriter w(3);
    EXPECT_EQ(w.finish(), "{\"schemaVersion\":3,\"data\":[]}");
}

TEST(JsonWriter, EntriesFieldsAndEscaping) {
    JsonWriter w(3);
    w.begin_entry();
    w.span_field("span", Span{0, 4294967295u});
    w.string_field("description", "q\"b\\s/\x01\x1f\x7f\b\f\n\r\t日");
    w.bool_field("accepts_param", true);
    w.end_entry();
    w.begin_entry();
    w.number_field("codepoint", 12354);
    w.end_entry();
    EXPECT_EQ(w.finish(),
              "{\"schemaVersion\":3,\"data\":[{\"span\":{\"start\":0,\"end\":4294967295},"
              "\"description\":\"q\\\"b\\\\s/\\u0001\\u001f\x7f\\b\\f\\n\\r\\t日\",\"accepts_param\":true},"
              "{\"codepoint\":12354}]}");
}

TEST(JsonViews, SlugCatalogue) {
    std::string s = slugs_json();
    EXPECT_EQ(s, slugs_json());
    EXPECT_EQ(s.rfind("{\"schemaVersion\":3,\"data\":[{\"canonical\":\"改ページ\",\"family\":\"pageBreak\","
                      "\"accepts_param\":false,\"doc\":\"ページを改める\"},",
                      0),
              0u);
    EXPECT_NE(s.find("{\"canonical\":\"ここから字下げ\",\"family\":\"blockContainerOpen\",\"accepts_param\":false,"
                     "\"doc\":\"1字下げを開始（終わりまで）\",\"partner\":\"ここで字下げ終わり\"}"),
              std::string::npos);
    size_t entries = 0, params = 0;
    for (size_t p = s.find("\"canonical\""); p != std::string::npos; p = s.find("\"canonical\"", p + 1)) ++entries;
    for (size_t p = s.find("\"accepts_param\":true"); p != std::string::npos;
         p = s.find("\"accepts_param\":true", p + 1))
        ++params;
    EXPECT_EQ(entries, 48u);
    EXPECT_EQ(params, 5u);
    EXPECT_NE(s.find("{\"canonical\":\"下レ\",\"family\":\"kaeritenCompound\",\"accepts_param\":false,\"doc\":\"返り点 下レ\"}]}"),
              std::string::npos);
}
