// The in-memory table: typed fields, records kept in one sort order, a cursor and edit states.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/DateTime.h"

namespace common {

enum class FieldType { Text, Integer, DateTime };

struct FieldDef {
    std::string name;
    FieldType type = FieldType::Text;
    int width = 0;      // text fields: width in bytes (0 = no limit)
    std::string label;  // display label (column title / error texts); empty = name
    const std::string& DisplayLabel() const;
};

// A field's value: nothing (the field was never given a value), or a value of its type.
using FieldValue = std::variant<std::monostate, std::string, int32_t, DateTime>;
using Row = std::vector<FieldValue>;

enum class TableState { Inactive, Browse, Insert, Edit };

// What the last change of records or of the cursor did, for views that follow a large table
// without showing it all again. Rows count as a view shows them: the stored records in order,
// with the open new record among them while inserting.
struct TableChange {
    enum class Kind {
        Reset,    // anything: show it all again
        Cursor,   // only the current record moved
        Shown,    // a row appeared at `from` (a new record opened)
        Gone,     // the row at `from` went
        Moved,    // the row at `from` is now at `to`, and its values may have changed
        Changed,  // the values of the row at `from` changed
    };
    Kind kind = Kind::Reset;
    int from = -1;
    int to = -1;
};

// The rule every text obeys when it enters a text field: cut at the first NUL byte, cut to
// `width` bytes (0 = no limit), trailing blanks removed.
std::string StoreText(std::string_view text, int width);

// Key order of two values of one field: nothing first, text byte-wise (unsigned), numbers
// numerically. Negative, zero or positive like strcmp.
int CompareValues(const FieldValue& a, const FieldValue& b);

class MemTable {
  public:
    MemTable(std::string name, std::vector<FieldDef> fields);
    ~MemTable();
    MemTable(const MemTable&) = delete;
    MemTable& operator=(const MemTable&) = delete;
    MemTable(MemTable&&) noexcept = default;
    MemTable& operator=(MemTable&&) noexcept = default;

    const std::string& Name() const;
    const std::vector<FieldDef>& Fields() const;
    int FieldIndex(std::string_view name) const;  // -1 when absent; names compare ignoring case

    void Open();   // active, browse, no records (the "create empty"); an open table is closed first
    void Close();  // inactive, records dropped; a pending insert or edit is dropped
    bool Active() const;
    // Opens the table with these rows, given in entry (file) order; text values go through
    // the store rule; the sort order is rebuilt; Modified() is false afterwards. An open table
    // is closed first; rows that do not fit the fields throw and leave the table closed.
    void Load(std::vector<Row> rows);

    // One sort order at all times: ascending or descending on one field. Ties keep entry order.
    // A new table is sorted ascending on its first field.
    void SetSortOrder(int field, bool descending = false);
    // Unsorted mode: no sort field, Insert places the new record ahead of the current one,
    // Append at the end, and a stored record stays where it was placed. The present order is
    // kept as it is.
    void SetUnsorted();
    bool Sorted() const;
    int SortField() const;  // -1 when unsorted
    bool SortDescending() const;

    std::function<void(MemTable&)>
        BeforePost;  // may throw; then Post stores nothing and the record stays open
    std::function<void(MemTable&)> OnStateChange;  // after every state change
    std::function<void(MemTable&)>
        OnDataChange;  // after records or the current position changed (views refresh)
    // Runs before an active table closes (Close, Open, Load), while its records are still
    // there, so that a table bound to a file can write itself. May throw: the table then stays
    // open as it was.
    std::function<void(MemTable&)> BeforeClose;

    TableState State() const;
    int RecordCount() const;  // stored records; the open insert record is not counted
    int RecNo()
        const;  // position of the current record in sort order, -1 when none (also while inserting)
    void First();
    void Next();
    void Prior();
    void Last();                // like the classic cursor, this sets Eof
    void MoveTo(int position);  // clamped to the records there are
    bool Eof() const;           // true after Next past the last record, after Last, or when empty
    bool Bof() const;  // true after Prior past the first record, after First, or when empty
    bool IsEmpty() const;

    // Fields of the current record, or of the open record in insert/edit state.
    FieldValue Value(int field) const;
    bool IsNull(int field) const;
    std::string AsString(int field)
        const;  // text as is; integer in decimal; date-time "dd/mm/yyyy hh:mm:ss"; nothing = ""
    int32_t AsInteger(int field) const;  // nothing = 0; text converted with StrToInt
    DateTime AsDateTime(
        int field) const;  // nothing = the zero value; text read as "dd/mm/yyyy[ hh:mm:ss]"
    // Setting needs insert or edit state (else throws common::Exception). A value is converted
    // to the field's type: on an integer or date-time field the empty text sets nothing.
    void SetString(int field, const std::string& text);  // store rule for text fields
    void SetInteger(int field, int32_t value);
    void SetDateTime(int field, DateTime value);
    void SetNull(int field);

    // Opens a new empty record (insert state). A pending insert or edit is posted first when
    // one of its fields was set, else dropped, so that an untouched new row never gets stored.
    // Moving the cursor or searching does the same.
    void Insert();
    void Append();  // like Insert; in unsorted mode the new record goes at the end
    void Edit();    // opens the current record (edit state); throws on an empty table
    void Post();    // runs BeforePost, then stores the record at its sorted place, browse state
    void Cancel();  // drops the pending insert or edit
    // Removes the current record. In insert state the current record is the open new one:
    // the insert is cancelled and no stored record goes. A pending edit is dropped.
    void Delete();
    void Empty();  // removes all records
    // Exact match on the sort field, key put through the field's store rule (cut to its width)
    // first; first match in sort order becomes current and true is returned; else the current
    // record stays, false.
    bool FindKey(const std::string& key);
    // The same, with the key taken as it is, only cut to a text field's width: trailing blanks
    // and what follows a NUL count, so a key that the store rule would change finds nothing.
    bool FindExactKey(const std::string& key);

    // Records are kept packed, not as rows: these give copies. A view or a loop over many
    // records reads single values with ValueAt / EntryValue, which build no row.
    Row RowAt(int position) const;  // record at a position in sort order (views)
    FieldValue ValueAt(int position, int field) const;
    // The identity (see EntryId) of the record at a position in sort order, and the position
    // of the record with an identity, -1 when it is gone.
    uint64_t IdAt(int position) const;
    int PositionOfId(uint64_t id) const;
    // For writing files: loaded rows in file order, then added ones in the order stored; a
    // changed record keeps its place.
    std::vector<Row> RowsInEntryOrder() const;
    bool Modified() const;  // a stored insert, edit or deletion (or Empty) since Open/Load
    void ClearModified();
    // Rises with every change other than a new record stored: an edit stored, a deletion,
    // Empty, Open, Load, Close. While it stays the same, the records in entry order are the
    // same records as before with new ones after them, so a file that holds the first of them
    // can be brought up to date by adding the rest.
    uint64_t Revision() const { return revision_; }
    int EntryCount() const { return static_cast<int>(entry_.size()); }
    Row EntryRow(int position) const;  // in entry order
    FieldValue EntryValue(int position, int field) const;
    // The record's identity: no other record of this table ever has it, whatever was deleted,
    // emptied or loaded meanwhile.
    uint64_t EntryId(int position) const;

    // For views: counts every notification of OnDataChange; the last one's change.
    uint64_t ChangeCount() const { return changeCount_; }
    const TableChange& LastChange() const { return lastChange_; }

    // For views: in insert state the position (0 .. RecordCount) at which the open new record
    // is shown among the stored ones, else -1.
    int InsertPosition() const;
    // True when a field of the open record was set since Insert or Edit.
    bool RecordModified() const;

  private:
    // A stored record in one allocation: its entry number, a bit per field that holds nothing,
    // a fixed slot per field (integer 4 bytes, date-time 8, text its length in 4), then the
    // texts' bytes in field order. A night's history is hundreds of thousands of records of
    // four small values each: a row of variants, with a card number too long for a string's
    // own buffer, costs three times this.
    using Record = unsigned char;
    using Packed = std::unique_ptr<Record[]>;
    // What a packed value is, without copying its text.
    struct CellView {
        std::size_t index = 0;  // as FieldValue's: 0 nothing, 1 text, 2 integer, 3 date-time
        std::string_view text;
        int64_t number = 0;
    };

    Packed Pack(const Row& row, uint64_t seq) const;
    static uint64_t SeqOf(const Record* record);
    CellView Cell(const Record* record, int field) const;
    FieldValue Unpack(const Record* record, int field) const;
    Row UnpackRow(const Record* record) const;
    const Record* Entry(int position) const;
    std::size_t EntryIndexOf(uint64_t seq) const;

    void CheckActive() const;
    void CheckEditing() const;
    void CheckField(int field) const;
    // Posts a touched open record, drops an untouched one.
    void CheckBrowseMode();
    void SetState(TableState state);
    void DataChanged(TableChange change = {});
    void SetValue(int field, FieldValue value);
    FieldValue TextToValue(int field, const std::string& text) const;
    bool Before(const Record* a, const Record* b) const;
    int KeyCompare(const CellView& a, const CellView& b) const;
    int PlaceFor(const Record* record) const;
    void ResetCursorFlags();
    void DropAll();
    bool Seek(const FieldValue& wanted);

    std::string name_;
    std::vector<FieldDef> fields_;
    std::vector<uint32_t> slot_;  // where each field's fixed slot starts in a packed record
    uint32_t fixedSize_ = 0;      // entry number, nothing bits and slots
    TableState state_ = TableState::Inactive;
    int sortField_ = -1;
    bool descending_ = false;

    // Owns the records, in entry order (ascending seq), so a record is found here by binary
    // search on its seq.
    std::vector<Packed> entry_;
    // The same records in sort order (or in placed order when unsorted).
    // A deque: the history table, newest first, takes every new record at the front.
    std::deque<const Record*> order_;
    uint64_t nextSeq_ = 0;

    int cur_ = -1;
    bool eof_ = true;
    bool bof_ = true;
    bool modified_ = false;
    uint64_t revision_ = 0;
    uint64_t changeCount_ = 0;
    TableChange lastChange_;

    Row buffer_;  // the open record in insert/edit state
    bool bufferTouched_ = false;
    int insertPos_ = -1;
};

}  // namespace common
