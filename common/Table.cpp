#include "common/Table.h"

#include <algorithm>
#include <cstring>

#include "common/Convert.h"
#include "common/Exception.h"

namespace common {
namespace {

constexpr const char* kShownDateTime = "dd/mm/yyyy hh:mm:ss";

[[noreturn]] void Fail(const std::string& text) { throw Exception(text); }

std::string InvalidDateTimeText(const std::string& text) {
    return "'" + text + "' is not a valid date and time";
}

// Reads a date-time as the grids show it: "dd/mm/yyyy", optionally followed by "hh:mm:ss".
DateTime ParseShownDateTime(const std::string& text) {
    std::string datePart = text;
    std::string timePart;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const size_t blank = text.rfind(' ', colon);
        if (blank == std::string::npos) throw EConvertError(InvalidDateTimeText(text));
        datePart = text.substr(0, blank);
        timePart = text.substr(blank + 1);
    }
    const auto date = ParseShortDate(datePart);
    if (!date) throw EConvertError(InvalidDateTimeText(text));
    if (timePart.empty()) return *date;
    const auto time = ParseTime(timePart);
    if (!time) throw EConvertError(InvalidDateTimeText(text));
    return DateTime::FromMs(date->Ms() + time->Ms());
}

}  // namespace

const std::string& FieldDef::DisplayLabel() const { return label.empty() ? name : label; }

std::string StoreText(std::string_view text, int width) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    if (width > 0 && text.size() > static_cast<size_t>(width)) text = text.substr(0, width);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

namespace {

// The key order of CompareValues, on values read in place.
template <class View>
int CompareViews(const View& a, const View& b) {
    // Nothing has index 0, so it sorts ahead of every value.
    if (a.index != b.index) return a.index < b.index ? -1 : 1;
    if (a.index == 1) {
        // memcmp compares unsigned bytes, which is the order the keys are meant to have.
        const std::size_t common = std::min(a.text.size(), b.text.size());
        const int c = common == 0 ? 0 : std::memcmp(a.text.data(), b.text.data(), common);
        if (c != 0) return c < 0 ? -1 : 1;
        return a.text.size() < b.text.size() ? -1 : (a.text.size() > b.text.size() ? 1 : 0);
    }
    return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
}

struct ValueView {
    std::size_t index = 0;
    std::string_view text;
    int64_t number = 0;
};

ValueView ViewOf(const FieldValue& v) {
    ValueView out;
    out.index = v.index();
    if (const auto* s = std::get_if<std::string>(&v)) out.text = *s;
    if (const auto* i = std::get_if<int32_t>(&v)) out.number = *i;
    if (const auto* d = std::get_if<DateTime>(&v)) out.number = d->Ms();
    return out;
}

constexpr std::size_t kIndexText = 1;
constexpr std::size_t kIndexInteger = 2;
constexpr std::size_t kIndexDateTime = 3;

constexpr uint32_t SlotSize(FieldType type) {
    switch (type) {
        case FieldType::Integer:
            return sizeof(int32_t);
        case FieldType::DateTime:
            return sizeof(int64_t);
        case FieldType::Text:
            return sizeof(uint32_t);
    }
    return 0;
}

template <class T>
T ReadAt(const unsigned char* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <class T>
void WriteAt(unsigned char* at, T v) {
    std::memcpy(at, &v, sizeof v);
}

}  // namespace

int CompareValues(const FieldValue& a, const FieldValue& b) {
    return CompareViews(ViewOf(a), ViewOf(b));
}

MemTable::MemTable(std::string name, std::vector<FieldDef> fields)
    : name_(std::move(name)), fields_(std::move(fields)), sortField_(fields_.empty() ? -1 : 0) {
    uint32_t at = sizeof(uint64_t) + static_cast<uint32_t>((fields_.size() + 7) / 8);
    slot_.reserve(fields_.size());
    for (const FieldDef& f : fields_) {
        slot_.push_back(at);
        at += SlotSize(f.type);
    }
    fixedSize_ = at;
}

// ---- packed records ----

// The row's values must already be of their fields' types (or nothing).
MemTable::Packed MemTable::Pack(const Row& row, uint64_t seq) const {
    std::size_t size = fixedSize_;
    for (std::size_t f = 0; f < fields_.size(); ++f) {
        if (const auto* s = std::get_if<std::string>(&row[f])) size += s->size();
    }
    // Not value-initialised for the texts' bytes, which are all written below.
    Packed p(new Record[size]);
    std::memset(p.get(), 0, fixedSize_);
    WriteAt<uint64_t>(p.get(), seq);
    unsigned char* text = p.get() + fixedSize_;
    for (std::size_t f = 0; f < fields_.size(); ++f) {
        unsigned char* slot = p.get() + slot_[f];
        const FieldValue& v = row[f];
        if (std::holds_alternative<std::monostate>(v)) {
            p[sizeof(uint64_t) + f / 8] |= static_cast<unsigned char>(1U << (f % 8));
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            WriteAt<uint32_t>(slot, static_cast<uint32_t>(s->size()));
            if (!s->empty()) std::memcpy(text, s->data(), s->size());
            text += s->size();
        } else if (const auto* i = std::get_if<int32_t>(&v)) {
            WriteAt<int32_t>(slot, *i);
        } else if (const auto* d = std::get_if<DateTime>(&v)) {
            WriteAt<int64_t>(slot, d->Ms());
        }
    }
    return p;
}

uint64_t MemTable::SeqOf(const Record* record) { return ReadAt<uint64_t>(record); }

MemTable::CellView MemTable::Cell(const Record* record, int field) const {
    CellView v;
    if (record[sizeof(uint64_t) + field / 8] & (1U << (field % 8))) return v;
    const unsigned char* slot = record + slot_[field];
    switch (fields_[field].type) {
        case FieldType::Integer:
            v.index = kIndexInteger;
            v.number = ReadAt<int32_t>(slot);
            break;
        case FieldType::DateTime:
            v.index = kIndexDateTime;
            v.number = ReadAt<int64_t>(slot);
            break;
        case FieldType::Text: {
            // A null text's length slot stays zero, so all earlier texts can be summed.
            std::size_t at = fixedSize_;
            for (int f = 0; f < field; ++f) {
                if (fields_[f].type == FieldType::Text) at += ReadAt<uint32_t>(record + slot_[f]);
            }
            v.index = kIndexText;
            v.text = std::string_view(reinterpret_cast<const char*>(record) + at,
                                      ReadAt<uint32_t>(slot));
            break;
        }
    }
    return v;
}

FieldValue MemTable::Unpack(const Record* record, int field) const {
    const CellView v = Cell(record, field);
    switch (v.index) {
        case kIndexText:
            return std::string(v.text);
        case kIndexInteger:
            return static_cast<int32_t>(v.number);
        case kIndexDateTime:
            return DateTime::FromMs(v.number);
        default:
            return {};
    }
}

Row MemTable::UnpackRow(const Record* record) const {
    Row row;
    row.reserve(fields_.size());
    for (int f = 0; f < static_cast<int>(fields_.size()); ++f) row.push_back(Unpack(record, f));
    return row;
}

const MemTable::Record* MemTable::Entry(int position) const {
    if (position < 0 || position >= EntryCount()) {
        Fail("Record position out of range (" + std::to_string(position) + ")");
    }
    return entry_[position].get();
}

std::size_t MemTable::EntryIndexOf(uint64_t seq) const {
    const auto it =
        std::lower_bound(entry_.begin(), entry_.end(), seq,
                         [](const Packed& r, uint64_t s) { return SeqOf(r.get()) < s; });
    return static_cast<std::size_t>(it - entry_.begin());
}

MemTable::~MemTable() = default;

const std::string& MemTable::Name() const { return name_; }
const std::vector<FieldDef>& MemTable::Fields() const { return fields_; }

int MemTable::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (common::SameTextIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

// ---- opening and closing ----

void MemTable::Open() {
    Close();
    DropAll();
    modified_ = false;
    ResetCursorFlags();
    SetState(TableState::Browse);
    DataChanged();
}

void MemTable::Close() {
    if (state_ == TableState::Inactive) return;
    if (BeforeClose) BeforeClose(*this);
    buffer_.clear();
    bufferTouched_ = false;
    insertPos_ = -1;
    DropAll();
    modified_ = false;
    ResetCursorFlags();
    SetState(TableState::Inactive);
    DataChanged();
}

bool MemTable::Active() const { return state_ != TableState::Inactive; }

void MemTable::Load(std::vector<Row> rows) {
    Close();
    std::vector<Packed> records;
    records.reserve(rows.size());
    // Entry numbers are never given twice in the table's life: they identify records.
    uint64_t seq = nextSeq_;
    for (size_t r = 0; r < rows.size(); ++r) {
        Row& row = rows[r];
        if (row.size() != fields_.size()) {
            Fail("Row " + std::to_string(r + 1) + " of " + name_ + " has " +
                 std::to_string(row.size()) + " values for " + std::to_string(fields_.size()) +
                 " fields");
        }
        for (size_t f = 0; f < fields_.size(); ++f) {
            FieldValue& v = row[f];
            if (std::holds_alternative<std::monostate>(v)) continue;
            bool fits = false;
            switch (fields_[f].type) {
                case FieldType::Text:
                    if (auto* s = std::get_if<std::string>(&v)) {
                        *s = StoreText(*s, fields_[f].width);
                        fits = true;
                    }
                    break;
                case FieldType::Integer:
                    fits = std::holds_alternative<int32_t>(v);
                    break;
                case FieldType::DateTime:
                    fits = std::holds_alternative<DateTime>(v);
                    break;
            }
            if (!fits) {
                Fail("Invalid value for field '" + fields_[f].DisplayLabel() + "' in row " +
                     std::to_string(r + 1) + " of " + name_);
            }
        }
        records.push_back(Pack(row, seq++));
        // The packed copy is all that stays: let the row's own storage go now, so that a
        // large load does not hold both at once for long.
        Row().swap(row);
    }

    entry_ = std::move(records);
    nextSeq_ = seq;
    order_.clear();
    for (const auto& rec : entry_) order_.push_back(rec.get());
    // The order is total (key, then entry), so a plain sort is as good as a stable one.
    if (Sorted()) {
        std::sort(order_.begin(), order_.end(),
                  [this](const Record* a, const Record* b) { return Before(a, b); });
    }
    cur_ = order_.empty() ? -1 : 0;
    modified_ = false;
    ++revision_;
    ResetCursorFlags();
    bof_ = true;
    SetState(TableState::Browse);
    DataChanged();
}

// ---- sort order ----

void MemTable::SetSortOrder(int field, bool descending) {
    CheckField(field);
    if (!Active()) {
        sortField_ = field;
        descending_ = descending;
        return;
    }
    CheckBrowseMode();
    const Record* current = cur_ >= 0 ? order_[cur_] : nullptr;
    sortField_ = field;
    descending_ = descending;
    std::sort(order_.begin(), order_.end(),
              [this](const Record* a, const Record* b) { return Before(a, b); });
    if (current) cur_ = PlaceFor(current);
    DataChanged();
}

void MemTable::SetUnsorted() { sortField_ = -1; }

bool MemTable::Sorted() const { return sortField_ >= 0; }
int MemTable::SortField() const { return sortField_; }
bool MemTable::SortDescending() const { return descending_; }

int MemTable::KeyCompare(const CellView& a, const CellView& b) const {
    const int c = CompareViews(a, b);
    return descending_ ? -c : c;
}

// Equal keys fall back to entry order in either direction, so the order is total and a
// record's place can be found by binary search.
bool MemTable::Before(const Record* a, const Record* b) const {
    const int c = KeyCompare(Cell(a, sortField_), Cell(b, sortField_));
    if (c != 0) return c < 0;
    return SeqOf(a) < SeqOf(b);
}

int MemTable::PlaceFor(const Record* record) const {
    const auto it =
        std::lower_bound(order_.begin(), order_.end(), record,
                         [this](const Record* a, const Record* b) { return Before(a, b); });
    return static_cast<int>(it - order_.begin());
}

// ---- state ----

TableState MemTable::State() const { return state_; }

void MemTable::SetState(TableState state) {
    if (state_ == state) return;
    state_ = state;
    if (OnStateChange) OnStateChange(*this);
}

void MemTable::DataChanged(TableChange change) {
    lastChange_ = change;
    ++changeCount_;
    if (OnDataChange) OnDataChange(*this);
}

void MemTable::CheckActive() const {
    if (!Active()) Fail("Cannot perform this operation on a closed dataset");
}

void MemTable::CheckEditing() const {
    if (state_ != TableState::Insert && state_ != TableState::Edit) {
        Fail("Dataset not in edit or insert mode");
    }
}

void MemTable::CheckField(int field) const {
    if (field < 0 || field >= static_cast<int>(fields_.size())) {
        Fail("Field index out of range (" + std::to_string(field) + ")");
    }
}

void MemTable::CheckBrowseMode() {
    if (state_ != TableState::Insert && state_ != TableState::Edit) return;
    if (bufferTouched_) {
        Post();
    } else {
        Cancel();
    }
}

// ---- cursor ----

int MemTable::RecordCount() const { return static_cast<int>(order_.size()); }

int MemTable::RecNo() const { return state_ == TableState::Insert ? -1 : cur_; }

bool MemTable::Eof() const { return eof_; }
bool MemTable::Bof() const { return bof_; }
bool MemTable::IsEmpty() const { return order_.empty(); }

void MemTable::ResetCursorFlags() {
    const bool none = order_.empty();
    eof_ = none;
    bof_ = none;
}

void MemTable::First() {
    CheckActive();
    CheckBrowseMode();
    cur_ = order_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = order_.empty();
    DataChanged({TableChange::Kind::Cursor});
}

void MemTable::Last() {
    CheckActive();
    CheckBrowseMode();
    cur_ = static_cast<int>(order_.size()) - 1;
    eof_ = true;
    bof_ = order_.empty();
    DataChanged({TableChange::Kind::Cursor});
}

void MemTable::Next() {
    CheckActive();
    CheckBrowseMode();
    if (eof_) return;
    bof_ = false;
    if (cur_ + 1 < RecordCount()) {
        ++cur_;
        DataChanged({TableChange::Kind::Cursor});
    } else {
        eof_ = true;
    }
}

void MemTable::Prior() {
    CheckActive();
    CheckBrowseMode();
    if (bof_) return;
    eof_ = false;
    if (cur_ > 0) {
        --cur_;
        DataChanged({TableChange::Kind::Cursor});
    } else {
        bof_ = true;
    }
}

void MemTable::MoveTo(int position) {
    CheckActive();
    // A view re-selecting the row being edited must not post it.
    if (state_ == TableState::Edit && position == cur_) return;
    CheckBrowseMode();
    if (order_.empty()) return;
    cur_ = std::clamp(position, 0, RecordCount() - 1);
    eof_ = false;
    bof_ = false;
    DataChanged({TableChange::Kind::Cursor});
}

// ---- fields ----

FieldValue MemTable::Value(int field) const {
    CheckActive();
    CheckField(field);
    if (state_ == TableState::Insert || state_ == TableState::Edit) return buffer_[field];
    if (cur_ < 0) return {};
    return Unpack(order_[cur_], field);
}

bool MemTable::IsNull(int field) const {
    return std::holds_alternative<std::monostate>(Value(field));
}

std::string MemTable::AsString(int field) const {
    const FieldValue v = Value(field);
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* i = std::get_if<int32_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<DateTime>(&v)) return d->Format(kShownDateTime);
    return {};
}

int32_t MemTable::AsInteger(int field) const {
    const FieldValue v = Value(field);
    if (const auto* i = std::get_if<int32_t>(&v)) return *i;
    if (const auto* s = std::get_if<std::string>(&v)) return StrToInt(*s);
    if (std::holds_alternative<DateTime>(v)) {
        Fail("Cannot access field '" + fields_[field].DisplayLabel() + "' as type Integer");
    }
    return 0;
}

DateTime MemTable::AsDateTime(int field) const {
    const FieldValue v = Value(field);
    if (const auto* d = std::get_if<DateTime>(&v)) return *d;
    if (const auto* s = std::get_if<std::string>(&v)) return ParseShownDateTime(*s);
    if (std::holds_alternative<int32_t>(v)) {
        Fail("Cannot access field '" + fields_[field].DisplayLabel() + "' as type DateTime");
    }
    return {};
}

FieldValue MemTable::TextToValue(int field, const std::string& text) const {
    switch (fields_[field].type) {
        case FieldType::Text:
            return StoreText(text, fields_[field].width);
        case FieldType::Integer:
            if (text.empty()) return {};
            return StrToInt(text);
        case FieldType::DateTime:
            if (text.empty()) return {};
            return ParseShownDateTime(text);
    }
    return {};
}

void MemTable::SetValue(int field, FieldValue value) {
    buffer_[field] = std::move(value);
    bufferTouched_ = true;
}

void MemTable::SetString(int field, const std::string& text) {
    CheckField(field);
    CheckEditing();
    SetValue(field, TextToValue(field, text));
}

void MemTable::SetInteger(int field, int32_t value) {
    CheckField(field);
    CheckEditing();
    switch (fields_[field].type) {
        case FieldType::Text:
            SetValue(field, StoreText(std::to_string(value), fields_[field].width));
            break;
        case FieldType::Integer:
            SetValue(field, value);
            break;
        case FieldType::DateTime:
            Fail("Cannot access field '" + fields_[field].DisplayLabel() + "' as type Integer");
    }
}

void MemTable::SetDateTime(int field, DateTime value) {
    CheckField(field);
    CheckEditing();
    switch (fields_[field].type) {
        case FieldType::Text:
            SetValue(field, StoreText(value.Format(kShownDateTime), fields_[field].width));
            break;
        case FieldType::DateTime:
            SetValue(field, value);
            break;
        case FieldType::Integer:
            Fail("Cannot access field '" + fields_[field].DisplayLabel() + "' as type DateTime");
    }
}

void MemTable::SetNull(int field) {
    CheckField(field);
    CheckEditing();
    SetValue(field, std::monostate{});
}

// ---- editing ----

void MemTable::Insert() {
    CheckActive();
    CheckBrowseMode();
    buffer_.assign(fields_.size(), FieldValue{});
    bufferTouched_ = false;
    insertPos_ = order_.empty() ? 0 : cur_;
    SetState(TableState::Insert);
    DataChanged({TableChange::Kind::Shown, insertPos_});
}

void MemTable::Append() {
    CheckActive();
    CheckBrowseMode();
    buffer_.assign(fields_.size(), FieldValue{});
    bufferTouched_ = false;
    cur_ = RecordCount() - 1;
    insertPos_ = RecordCount();
    SetState(TableState::Insert);
    DataChanged({TableChange::Kind::Shown, insertPos_});
}

void MemTable::Edit() {
    CheckActive();
    if (state_ == TableState::Insert || state_ == TableState::Edit) return;
    if (order_.empty()) Fail("Cannot perform this operation on an empty dataset");
    buffer_ = UnpackRow(order_[cur_]);
    bufferTouched_ = false;
    SetState(TableState::Edit);
}

void MemTable::Post() {
    CheckEditing();
    if (BeforePost) {
        BeforePost(*this);
        // The hook may itself have stored or dropped the record.
        if (state_ != TableState::Insert && state_ != TableState::Edit) return;
    }
    TableChange change{TableChange::Kind::Moved, state_ == TableState::Insert ? insertPos_ : cur_};
    if (state_ == TableState::Insert) {
        entry_.push_back(Pack(buffer_, nextSeq_++));
        const Record* rec = entry_.back().get();
        const int pos = Sorted() ? PlaceFor(rec) : std::min(insertPos_, RecordCount());
        order_.insert(order_.begin() + pos, rec);
        cur_ = pos;
    } else {
        // The changed record replaces the old one in place: same entry number, same places.
        const uint64_t seq = SeqOf(order_[cur_]);
        Packed& slot = entry_[EntryIndexOf(seq)];
        slot = Pack(buffer_, seq);
        const Record* rec = slot.get();
        order_[cur_] = rec;
        ++revision_;
        if (Sorted()) {
            order_.erase(order_.begin() + cur_);
            const int pos = PlaceFor(rec);
            order_.insert(order_.begin() + pos, rec);
            cur_ = pos;
        }
    }
    buffer_.clear();
    bufferTouched_ = false;
    insertPos_ = -1;
    modified_ = true;
    eof_ = false;
    bof_ = false;
    change.to = cur_;
    SetState(TableState::Browse);
    DataChanged(change);
}

void MemTable::Cancel() {
    if (state_ != TableState::Insert && state_ != TableState::Edit) return;
    const TableChange change = state_ == TableState::Insert
                                   ? TableChange{TableChange::Kind::Gone, insertPos_}
                                   : TableChange{TableChange::Kind::Changed, cur_};
    buffer_.clear();
    bufferTouched_ = false;
    insertPos_ = -1;
    SetState(TableState::Browse);
    DataChanged(change);
}

void MemTable::Delete() {
    CheckActive();
    if (state_ == TableState::Insert) {
        Cancel();
        return;
    }
    if (order_.empty()) Fail("Cannot perform this operation on an empty dataset");
    buffer_.clear();
    bufferTouched_ = false;

    const TableChange change{TableChange::Kind::Gone, cur_};
    const uint64_t seq = SeqOf(order_[cur_]);
    order_.erase(order_.begin() + cur_);
    entry_.erase(entry_.begin() + static_cast<std::ptrdiff_t>(EntryIndexOf(seq)));
    ++revision_;

    cur_ = std::min(cur_, RecordCount() - 1);
    modified_ = true;
    eof_ = order_.empty();
    bof_ = order_.empty();
    SetState(TableState::Browse);
    DataChanged(change);
}

void MemTable::Empty() {
    CheckActive();
    Cancel();
    DropAll();
    modified_ = true;
    ResetCursorFlags();
    DataChanged();
}

void MemTable::DropAll() {
    ++revision_;
    order_.clear();
    entry_.clear();
    cur_ = -1;
}

bool MemTable::FindKey(const std::string& key) {
    CheckActive();
    if (!Sorted()) Fail("No index currently active");
    return Seek(TextToValue(sortField_, key));
}

bool MemTable::FindExactKey(const std::string& key) {
    CheckActive();
    if (!Sorted()) Fail("No index currently active");
    const FieldDef& def = fields_[sortField_];
    if (def.type != FieldType::Text) return Seek(TextToValue(sortField_, key));
    const std::size_t width = def.width > 0 ? static_cast<std::size_t>(def.width) : key.size();
    return Seek(FieldValue(key.substr(0, width)));
}

bool MemTable::Seek(const FieldValue& wanted) {
    CheckBrowseMode();
    const ValueView w = ViewOf(wanted);
    const CellView key{w.index, w.text, w.number};
    const auto it = std::lower_bound(order_.begin(), order_.end(), key,
                                     [this](const Record* r, const CellView& k) {
                                         return KeyCompare(Cell(r, sortField_), k) < 0;
                                     });
    if (it == order_.end() || KeyCompare(Cell(*it, sortField_), key) != 0) return false;
    cur_ = static_cast<int>(it - order_.begin());
    eof_ = false;
    bof_ = false;
    DataChanged({TableChange::Kind::Cursor});
    return true;
}

// ---- views and files ----

namespace {

[[noreturn]] void OutOfRange(int position) {
    Fail("Record position out of range (" + std::to_string(position) + ")");
}

}  // namespace

Row MemTable::RowAt(int position) const {
    if (position < 0 || position >= RecordCount()) OutOfRange(position);
    return UnpackRow(order_[position]);
}

FieldValue MemTable::ValueAt(int position, int field) const {
    if (position < 0 || position >= RecordCount()) OutOfRange(position);
    CheckField(field);
    return Unpack(order_[position], field);
}

uint64_t MemTable::IdAt(int position) const {
    if (position < 0 || position >= RecordCount()) OutOfRange(position);
    return SeqOf(order_[position]);
}

int MemTable::PositionOfId(uint64_t id) const {
    const std::size_t i = EntryIndexOf(id);
    if (i >= entry_.size() || SeqOf(entry_[i].get()) != id) return -1;
    const Record* rec = entry_[i].get();
    if (Sorted()) {
        const int pos = PlaceFor(rec);
        if (pos < RecordCount() && order_[pos] == rec) return pos;
    }
    const auto it = std::find(order_.begin(), order_.end(), rec);
    return it == order_.end() ? -1 : static_cast<int>(it - order_.begin());
}

std::vector<Row> MemTable::RowsInEntryOrder() const {
    std::vector<Row> rows;
    rows.reserve(entry_.size());
    for (const auto& rec : entry_) rows.push_back(UnpackRow(rec.get()));
    return rows;
}

Row MemTable::EntryRow(int position) const { return UnpackRow(Entry(position)); }

FieldValue MemTable::EntryValue(int position, int field) const {
    const Record* rec = Entry(position);
    CheckField(field);
    return Unpack(rec, field);
}

uint64_t MemTable::EntryId(int position) const { return SeqOf(Entry(position)); }

bool MemTable::Modified() const { return modified_; }
void MemTable::ClearModified() { modified_ = false; }

int MemTable::InsertPosition() const { return state_ == TableState::Insert ? insertPos_ : -1; }

bool MemTable::RecordModified() const { return bufferTouched_; }

}  // namespace common
