// The tests' JSON reader: the value kinds, escapes (including a surrogate
// pair), lookups that miss, and malformed documents.
#include "tests/support/json_reader.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using velix::test::JsonValue;

TEST(JsonReader, ValuesEscapesAndLookups) {
    const JsonValue v = JsonValue::parse(
        R"( {"a": [1, -2.5e3, true, false, null], "s": "q\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00", "o": {}} )");
    ASSERT_TRUE(v.is_object());
    EXPECT_EQ(v.keys().size(), 3u);
    EXPECT_EQ(v["a"].size(), 5u);
    EXPECT_EQ(v["a"][0].number(), 1.0);
    EXPECT_EQ(v["a"][1].number(), -2500.0);
    EXPECT_TRUE(v["a"][2].boolean());
    EXPECT_FALSE(v["a"][3].boolean());
    EXPECT_TRUE(v["a"][4].is_null());
    EXPECT_EQ(v["s"].str(), "q\"\\/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_TRUE(v["o"].is_object());
    EXPECT_EQ(v["o"].size(), 0u);
    EXPECT_TRUE(v["missing"]["deeper"][3].is_null());
    EXPECT_FALSE(v.has("missing"));
    EXPECT_TRUE(v["a"][-1].is_null());
}

TEST(JsonReader, MalformedDocumentsThrow) {
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "\"open", "01x", "{\"k\":1,\"k\":2}", "[1] 2",
                            "\"\\q\"", "-", "1.", "tru"}) {
        EXPECT_THROW(JsonValue::parse(bad), std::runtime_error) << bad;
    }
}

}  // namespace
