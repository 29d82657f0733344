#include "argument_table.h"

#include <gtest/gtest.h>

namespace {

// The whole table in one line: "[name]key=value;...".
std::string dump(const ArgumentTable& table) {
    std::string text;
    for (const ArgumentTable::Section& section : table.sections()) {
        text += "[" + section.name + "]";
        for (const ArgumentTable::Entry& entry : section.entries) {
            text += entry.key + "=" + entry.value + ";";
        }
    }
    return text;
}

TEST(ArgumentTable, ParseSamples) {
    struct Case {
        const char* text;
        bool result;
        const char* table;
    } cases[] = {
        {"", false, ""},
        {" \t\r\n\n\r ", false, "[]"},
        {"# one \n  #two\t", false, "[]Comment=# one ;Comment=  #two\t;"},
        {"key=", true, "[]key=;"},
        {"key= \t ", true, "[]key=;"},
        {"  key \t=  a value \t", true, "[]key=a value;"},
        {"a=b=c", true, "[]a=b=c;"},
        {"=value", true, "[]=value;"},
        {"words without equals", true, "[]"},
        {";x=1\ny=#2", true, "[];x=1;y=#2;"},
        {"k=1\nk=2", true, "[]k=1;k=2;"},
        {"[ Sect ion ] trailing\nk=v", true, "[][ Sect ion ]k=v;"},
        {"[]\nk=v", true, "[][]k=v;"},
        {"a=1\r\nb=2\nc=3\rd=4\n\re=5\r\n\r\n\nf=6", true, "[]a=1;b=2;c=3;d=4;e=5;f=6;"},
        // A header without ']' opens nothing: the keys stay in the section before.
        {"[s]\na=1\n[broken\nb=2", true, "[][s]a=1;b=2;"},
        {"[only", false, "[]"},
        {"setupPath=C:\\s.exe\n/D=C:\\x y\\\n/L=g\n", true,
         "[]setupPath=C:\\s.exe;/D=C:\\x y\\;/L=g;"},
    };
    for (const Case& c : cases) {
        ArgumentTable table;
        EXPECT_EQ(c.result, table.parse(true, c.text)) << c.text;
        EXPECT_EQ(c.table, dump(table)) << c.text;
    }
}

TEST(ArgumentTable, ClearFirstDecidesWhetherEarlierSectionsStay) {
    ArgumentTable table;
    table.parse(true, "k=first");
    table.parse(false, "k=second\nonly=new");
    EXPECT_EQ("[]k=first;[]k=second;only=new;", dump(table));
    EXPECT_EQ("first", table.getString("", "k", "d"));
    EXPECT_EQ("new", table.getString("", "only", "d"));

    EXPECT_FALSE(table.parse(true, ""));
    EXPECT_EQ("", dump(table));
    EXPECT_EQ("d", table.getString("", "k", "d"));
}

TEST(ArgumentTable, LookupsTakeTheEarliestMatchInTableOrder) {
    ArgumentTable table;
    table.parse(true, "a=top\n[S]\nb=s1\n[s]\nb=lower\n[S]\nb=s2\nc=s2c\n[]\nd=late\na=late");
    EXPECT_EQ("top", table.getString("", "a", "x"));
    EXPECT_EQ("late", table.getString("", "d", "x"));
    EXPECT_EQ("s1", table.getString("S", "b", "x"));
    EXPECT_EQ("lower", table.getString("s", "b", "x"));
    EXPECT_EQ("s2c", table.getString("S", "c", "x"));
    EXPECT_EQ("x", table.getString("S", "B", "x"));
    EXPECT_EQ("x", table.getString("missing", "a", "x"));
    EXPECT_EQ(nullptr, table.findEntry("s", "c"));
    ASSERT_NE(nullptr, table.findEntry("S", "c"));
    EXPECT_EQ("s2c", table.findEntry("S", "c")->value);
}

TEST(ArgumentTable, GetBoolReadsSixWordsAndDefaultsOtherwise) {
    struct Case {
        const char* value;
        bool whenDefaultTrue;
        bool whenDefaultFalse;
    } cases[] = {
        {"true", true, true},    {"TRUE", true, true},    {"1", true, true},
        {"false", false, false}, {"FALSE", false, false}, {"0", false, false},
        {"True", true, false},   {"yes", true, false},    {"", true, false},
        {"01", true, false},
    };
    for (const Case& c : cases) {
        ArgumentTable table;
        table.parse(true, std::string("/DS=") + c.value);
        EXPECT_EQ(c.whenDefaultTrue, table.getBool(true, "", "/DS")) << c.value;
        EXPECT_EQ(c.whenDefaultFalse, table.getBool(false, "", "/DS")) << c.value;
        EXPECT_EQ(c.value, table.getString("", "/DS", "default")) << c.value;
    }
    ArgumentTable empty;
    EXPECT_TRUE(empty.getBool(true, "", "/DS"));
    EXPECT_FALSE(empty.getBool(false, "", "/DS"));
}

}  // namespace
