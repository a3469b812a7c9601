#include "common/Table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/Convert.h"
#include "common/Exception.h"

using namespace common;
using Strings = std::vector<std::string>;

namespace {

// A key field plus a tag that tells records with equal keys apart.
MemTable KeyTable(FieldType keyType = FieldType::Text, int width = 6) {
    return MemTable("t", {{"Key", keyType, keyType == FieldType::Text ? width : 0, "The Key"},
                          {"Tag", FieldType::Text, 10, ""}});
}

void Add(MemTable& t, const std::string& key, const std::string& tag = "") {
    t.Insert();
    t.SetString(0, key);
    t.SetString(1, tag);
    t.Post();
}

// A column in sort order as the grids show it; "<>" marks nothing.
Strings Column(const MemTable& t, int field) {
    Strings out;
    for (int i = 0; i < t.RecordCount(); ++i) {
        const FieldValue v = t.ValueAt(i, field);
        out.push_back(std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "<>");
    }
    return out;
}

Strings EntryTags(const MemTable& t) {
    Strings out;
    for (const Row& r : t.RowsInEntryOrder()) out.push_back(std::get<std::string>(r[1]));
    return out;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(none)";
}

}  // namespace

TEST(MemTable, TextStoreRuleOnSetAndLoad) {
    const std::pair<std::string, std::string> cases[] = {{"abc", "abc"},
                                                         {"abcdefgh", "abcdef"},
                                                         {std::string("ab\0cd", 5), "ab"},
                                                         {"abc  ", "abc"},
                                                         {"ab    cd", "ab"},
                                                         {"  x", "  x"},
                                                         {"", ""},
                                                         {"   ", ""},
                                                         {"\xE3o ", "\xE3o"}};
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        MemTable t = KeyTable();
        t.Open();
        t.Insert();
        t.SetString(0, in);
        EXPECT_EQ(std::get<std::string>(t.Value(0)), out);  // the empty text is not nothing
        t.Post();
        EXPECT_EQ(t.AsString(0), out);
        t.Load({{in, std::monostate{}}});
        EXPECT_EQ(std::get<std::string>(t.RowAt(0)[0]), out);
        EXPECT_TRUE(t.IsNull(1));
    }
}

TEST(MemTable, SortOrderByFieldType) {
    struct Case {
        FieldType type;
        bool descending;
        Strings in, sorted;
    };
    const Case cases[] = {
        // Plain unsigned byte order; nothing ahead of the empty text.
        {FieldType::Text,
         false,
         {"\xE3", "a", "9", "B", "10", "A", "", "<>"},
         {"<>", "", "10", "9", "A", "B", "a", "\xE3"}},
        {FieldType::Integer, false, {"20", "-5", "", "3", "100"}, {"<>", "-5", "3", "20", "100"}},
        {FieldType::DateTime,
         true,
         {"15/03/2024", "", "17/03/2024 10:00:00", "16/03/2024 23:59:59"},
         {"17/03/2024 10:00:00", "16/03/2024 23:59:59", "15/03/2024 00:00:00", "<>"}},
    };
    for (const Case& c : cases) {
        MemTable t = KeyTable(c.type);
        t.SetSortOrder(0, c.descending);
        t.Open();
        for (const std::string& v : c.in) {
            t.Insert();
            v == "<>" ? t.SetString(1, "null") : t.SetString(0, v);
            t.Post();
        }
        Strings got;
        for (t.First(); !t.Eof(); t.Next()) got.push_back(t.IsNull(0) ? "<>" : t.AsString(0));
        EXPECT_EQ(got, c.sorted);
    }
}

TEST(MemTable, SortKeptAcrossInsertEditDelete) {
    for (bool desc : {false, true}) {
        SCOPED_TRACE(desc ? "descending" : "ascending");
        MemTable t = KeyTable();
        t.SetSortOrder(0, desc);
        t.Open();
        for (const char* k : {"05", "01", "09", "03", "07"}) {
            Add(t, k, k);
            EXPECT_EQ(t.AsString(0), k) << "the posted record stays current";
        }
        ASSERT_TRUE(t.FindKey("01"));
        t.Edit();
        t.SetString(0, "08");
        t.Post();
        EXPECT_EQ(t.AsString(1), "01");
        EXPECT_EQ(t.RowAt(t.RecNo())[1], t.Value(1));
        ASSERT_TRUE(t.FindKey("05"));
        t.Delete();
        Strings want = {"03", "07", "08", "09"};
        if (desc) std::reverse(want.begin(), want.end());
        EXPECT_EQ(Column(t, 0), want);

        ASSERT_TRUE(t.FindKey("07"));
        t.SetSortOrder(0, !desc);
        EXPECT_EQ(t.AsString(0), "07") << "a new order keeps the current record";
        std::reverse(want.begin(), want.end());
        EXPECT_EQ(Column(t, 0), want);
    }
}

TEST(MemTable, EqualKeysKeepEntryOrderAndFindTakesTheFirst) {
    for (bool desc : {false, true}) {
        SCOPED_TRACE(desc ? "descending" : "ascending");
        MemTable t = KeyTable(FieldType::Text, 4);
        t.SetSortOrder(0, desc);
        t.Load({{std::string("0005"), std::string("a")},
                {std::string("0003"), std::string("x")},
                {std::string("0005"), std::string("b")}});
        Add(t, "0005", "c");
        Add(t, "0009", "d");
        t.Edit();  // onto a taken key: it goes by its entry place among the equals
        t.SetString(0, "0005");
        t.Post();
        Strings tags = Column(t, 1);
        tags.erase(std::remove(tags.begin(), tags.end(), "x"), tags.end());
        EXPECT_EQ(tags, (Strings{"a", "b", "c", "d"}));

        EXPECT_TRUE(t.FindKey("0005xyz"));  // cut to the width
        EXPECT_EQ(t.AsString(1), "a");
        EXPECT_TRUE(t.FindKey("0003"));
        EXPECT_FALSE(t.FindKey("0004"));
        EXPECT_FALSE(t.FindKey("000"));
        EXPECT_EQ(t.AsString(1), "x") << "a miss keeps the current record";
    }
}

TEST(MemTable, Cursor) {
    MemTable t = KeyTable();
    t.Open();
    t.First();
    EXPECT_TRUE(t.Eof() && t.Bof());
    EXPECT_EQ(t.RecNo(), -1);
    t.Next();
    EXPECT_TRUE(t.Eof());
    for (int n : {1, 3}) {
        t.Empty();
        for (int i = 0; i < n; ++i) Add(t, std::to_string(i));
        Strings seen;
        for (t.First(); !t.Eof(); t.Next()) seen.push_back(t.AsString(0));
        EXPECT_EQ(seen, Column(t, 0));
        EXPECT_EQ(t.RecNo(), n - 1) << "the last record stays current past the end";
        EXPECT_FALSE(t.Bof());
        seen.clear();
        for (t.Last(); !t.Bof(); t.Prior()) seen.push_back(t.AsString(0));
        EXPECT_EQ(seen.size(), static_cast<size_t>(n));
        EXPECT_EQ(t.RecNo(), 0);
    }
    t.MoveTo(99);
    EXPECT_EQ(t.RecNo(), 2);
    t.Delete();
    EXPECT_EQ(t.RecNo(), 1) << "deleting the last record makes the new last current";
    t.First();
    t.Delete();
    EXPECT_EQ(t.AsString(0), "1");
}

TEST(MemTable, Errors) {
    MemTable t = KeyTable();
    MemTable typed = KeyTable(FieldType::DateTime);
    typed.Open();
    typed.Insert();
    typed.SetString(1, "x7");
    const std::string closed = "Cannot perform this operation on a closed dataset";
    const std::string empty = "Cannot perform this operation on an empty dataset";
    const std::string notEditing = "Dataset not in edit or insert mode";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { t.Insert(); }, closed},
        {[&] { t.FindKey("1"); }, closed},
        {[&] { t.Load({{std::string("a")}}); }, "Row 1 of t has 1 values for 2 fields"},
        {[&] {
             t.Load({{int32_t{5}, std::monostate{}}});
         },
         "Invalid value for field 'The Key' in row 1 of t"},
        {[&] { t.Open(); }, "(none)"},
        {[&] { t.Edit(); }, empty},
        {[&] { t.Delete(); }, empty},
        {[&] { t.SetString(0, "x"); }, notEditing},
        {[&] { t.Post(); }, notEditing},
        {[&] { typed.SetString(0, "31/02/2024"); }, "'31/02/2024' is not a valid date and time"},
        {[&] { typed.SetInteger(0, 1); }, "Cannot access field 'The Key' as type Integer"},
        {[&] { typed.AsInteger(1); }, "'x7' is not a valid integer value"},
        // A table that cannot write itself on closing stays open.
        {[&] { t.BeforeClose = [](MemTable&) { throw EFileError("no"); }, t.Close(); }, "no"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(ErrorOf(cases[i].first), cases[i].second) << "case " << i;
    }
    EXPECT_TRUE(t.Active());
}

TEST(MemTable, FailingBeforePostKeepsTheRecordOpen) {
    for (bool editing : {false, true}) {
        SCOPED_TRACE(editing ? "edit" : "insert");
        MemTable t = KeyTable();
        t.Load({{std::string("5"), std::string("old")}});
        t.BeforePost = [](MemTable& m) {
            if (m.AsString(1) == "bad") throw EConvertError("'bad' is not a valid integer value");
            m.SetString(0, "0" + m.AsString(0));
        };
        if (editing) {
            t.Edit();
        } else {
            t.Insert();
            t.SetString(0, "7");
        }
        t.SetString(1, "bad");
        EXPECT_EQ(ErrorOf([&] { t.Post(); }), "'bad' is not a valid integer value");
        EXPECT_EQ(t.State(), editing ? TableState::Edit : TableState::Insert);
        EXPECT_EQ(t.AsString(1), "bad");
        EXPECT_EQ(Column(t, 1), Strings{"old"});
        EXPECT_FALSE(t.Modified());

        t.SetString(1, "good");
        t.Post();
        EXPECT_EQ(t.State(), TableState::Browse);
        EXPECT_EQ(t.AsString(0), editing ? "05" : "07") << "what the hook wrote is stored";
        EXPECT_TRUE(t.Modified());
    }
}

TEST(MemTable, CancelAndUntouchedRecords) {
    MemTable t = KeyTable();
    t.Load({{std::string("1"), std::string("a")}, {std::string("2"), std::string("b")}});
    t.Last();
    t.Insert();
    t.SetString(0, "0");
    EXPECT_EQ(t.InsertPosition(), 1);
    t.Cancel();
    t.Edit();
    t.SetString(0, "9");
    t.Cancel();
    EXPECT_EQ(Column(t, 0), (Strings{"1", "2"}));
    EXPECT_EQ(t.AsString(0), "2");
    t.Insert();
    t.SetString(0, "3");
    t.Delete();  // drops only the new record
    t.Insert();
    t.First();  // an untouched new record is dropped, not stored
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_FALSE(t.Modified());
    t.Insert();
    t.SetString(0, "4");
    t.Insert();  // a touched one is stored
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.State(), TableState::Insert);
}

TEST(MemTable, EntryOrderFollowsLoadsAndStores) {
    MemTable t = KeyTable();
    t.Load({{std::string("c"), std::string("c")},
            {std::string("a"), std::string("a")},
            {std::string("b"), std::string("b")}});
    Add(t, "0", "new1");
    Add(t, "z", "new2");
    ASSERT_TRUE(t.FindKey("a"));
    t.Edit();
    t.SetString(0, "y");  // moves in sort order, keeps its entry place
    t.Post();
    ASSERT_TRUE(t.FindKey("b"));
    t.Delete();
    Add(t, "m", "new3");
    EXPECT_EQ(EntryTags(t), (Strings{"c", "a", "new1", "new2", "new3"}));
    EXPECT_EQ(Column(t, 0), (Strings{"0", "c", "m", "y", "z"}));

    std::vector<Row> rows;
    for (const Row& r : t.RowsInEntryOrder()) rows.insert(rows.begin(), r);
    t.Load(rows);  // a reload starts a new entry order
    EXPECT_EQ(EntryTags(t), (Strings{"new3", "new2", "new1", "a", "c"}));

    // A record's identity follows it wherever edits and deletions move it.
    ASSERT_TRUE(t.FindKey("c"));
    const uint64_t c = t.IdAt(t.RecNo());
    const uint64_t y = t.IdAt(3);
    EXPECT_EQ(t.PositionOfId(c), 1);
    t.Edit();
    t.SetString(0, "zz");
    t.Post();
    EXPECT_EQ(t.PositionOfId(c), 4);
    EXPECT_EQ(t.PositionOfId(y), 2);
    t.Delete();
    EXPECT_EQ(t.PositionOfId(c), -1);
    t.SetUnsorted();
    EXPECT_EQ(t.PositionOfId(y), 2);
    Add(t, "a", "new4");
    EXPECT_EQ(t.PositionOfId(y), 2);
}

// Stored records are packed: every kind of value, and nothing in each field, must come back as
// it went in, whatever its neighbours hold, also after an edit changes a text's length.
TEST(MemTable, ValuesComeBackAsStored) {
    std::string longText(100'000, 'x');
    for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>(1 + i % 255);
    const DateTime withMs = *DateTime::FromParts(2024, 3, 15, 14, 30, 5, 123);
    const std::vector<Row> rows = {
        {std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}},
        {std::string(), int32_t{0}, std::string(), DateTime{}, std::string()},
        {longText, int32_t{INT32_MIN}, std::string("0000000000012345"), withMs,
         std::string("N\xE3o Girou \xFF\x80")},
        {std::string("\xE7"), int32_t{INT32_MAX}, std::monostate{}, DateTime::FromMs(-86'400'001),
         std::string("Liberado")},
        {std::monostate{}, int32_t{-1}, std::string("12345678901234567890"), std::monostate{},
         longText.substr(0, 20)},
    };
    MemTable t("t", {{"Free", FieldType::Text, 0, ""},
                     {"Number", FieldType::Integer, 0, ""},
                     {"Card", FieldType::Text, 20, ""},
                     {"When", FieldType::DateTime, 0, ""},
                     {"State", FieldType::Text, 20, ""}});
    t.SetUnsorted();
    t.Load(rows);
    EXPECT_EQ(t.RowsInEntryOrder(), rows);
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        EXPECT_EQ(t.RowAt(i), rows[i]);
        EXPECT_EQ(t.EntryRow(i), rows[i]);
        for (int f = 0; f < 5; ++f) EXPECT_EQ(t.ValueAt(i, f), rows[i][f]) << i << " " << f;
    }

    // Inserted through the setters, then each text in turn grown and shrunk by an edit.
    std::vector<Row> expected = rows;
    t.Append();
    for (int f = 0; f < 5; ++f) t.SetNull(f);
    t.SetString(4, "x");
    t.Post();
    expected.push_back(
        {std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::string("x")});
    for (const int f : {0, 2, 4}) {
        for (const std::string& text : {std::string("\xE3\xE7\xF5 longer text"), std::string()}) {
            t.MoveTo(2);
            t.Edit();
            t.SetString(f, text);
            t.Post();
            expected[2][f] = f == 0 ? text : text.substr(0, 20);
            EXPECT_EQ(t.RowsInEntryOrder(), expected);
        }
    }
}

TEST(MemTable, StateChangesAndModified) {
    MemTable t = KeyTable();
    std::vector<TableState> states;
    t.OnStateChange = [&](MemTable& m) { states.push_back(m.State()); };
    using S = TableState;
    struct Step {
        std::function<void()> act;
        std::vector<S> states;
        bool modified;
    };
    const Step steps[] = {
        {[&] { t.Open(); }, {S::Browse}, false},
        {[&] { t.Insert(), t.Cancel(); }, {S::Insert, S::Browse}, false},
        {[&] { Add(t, "1"); }, {S::Insert, S::Browse}, true},
        {[&] { t.ClearModified(); }, {}, false},
        {[&] { t.Edit(), t.Cancel(); }, {S::Edit, S::Browse}, false},
        {[&] { t.Edit(), t.Post(); }, {S::Edit, S::Browse}, true},
        {[&] {
             t.Load({{std::string("1"), std::string()}});
         },
         {S::Inactive, S::Browse},
         false},
        {[&] { t.Edit(), t.Delete(); }, {S::Edit, S::Browse}, true},
        {[&] { t.Open(); }, {S::Inactive, S::Browse}, false},
        {[&] { t.Empty(); }, {}, true},
        {[&] { t.Close(); }, {S::Inactive}, false},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        states.clear();
        steps[i].act();
        EXPECT_EQ(states, steps[i].states) << "step " << i;
        EXPECT_EQ(t.Modified(), steps[i].modified) << "step " << i;
    }
}

TEST(MemTable, UnsortedInsertGoesAheadOfCurrent) {
    MemTable t = KeyTable();
    t.SetUnsorted();
    t.Open();
    for (const char* k : {"c", "a", "b"}) {
        t.Append();
        t.SetString(0, k);
        t.Post();
    }
    t.MoveTo(1);
    Add(t, "x");
    EXPECT_EQ(t.RecNo(), 1);
    t.First();
    Add(t, "y");
    t.MoveTo(2);
    t.Edit();
    t.SetString(0, "0");  // a changed record stays where it is
    t.Post();
    t.Append();
    t.SetString(0, "z");
    t.Post();
    EXPECT_EQ(Column(t, 0), (Strings{"y", "c", "0", "a", "b", "z"}));
    EXPECT_EQ(t.RecNo(), 5);
}
