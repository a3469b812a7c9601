// The XML data packet: the file form of a table (fields, dataset parameters, rows), its reader
// and its byte-exact writer. Plain C++, no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/DateTime.h"
#include "common/Exception.h"

namespace lumora {

// A file the reader refuses. The text is the reader's own ("Mismatch in datapacket.", ...);
// whoever binds the packet to a table puts the table's name in front with WithPrefix.
class EDataPacketError : public common::Exception {
  public:
    using Exception::Exception;
    EDataPacketError WithPrefix(const std::string& tableName) const {
        return EDataPacketError(tableName + ": " + Message());
    }
};

// Refusal texts.
inline constexpr const char* kMismatchInDatapacket = "Mismatch in datapacket.";
inline constexpr const char* kInvalidFieldType = "Invalid field type.";
inline constexpr const char* kMissingDataPacket = "Missing data provider or data packet";
inline constexpr const char* kBinaryDataPacket =
    "Binary data packet format is not supported; the file must be saved as XML.";

// One name="value" pair, value already decoded from its escapes.
struct PacketAttribute {
    std::string name;
    std::string value;
    friend bool operator==(const PacketAttribute&, const PacketAttribute&) = default;
};
using PacketAttributes = std::vector<PacketAttribute>;

// The value of the first pair with that name, or null.
const std::string* FindAttribute(const PacketAttributes& attributes, std::string_view name);

struct PacketField {
    std::string name;         // attrname (or tagname): the name rows use for the value
    std::string type;         // fieldtype, spelt as in the list of known types ("string", "i4")
    PacketAttributes params;  // every other attribute of FIELD, in file order (WIDTH, ...)

    // The field's own name: "fieldname" when the file gives one (attrname then holds a name
    // with some characters replaced by "_"), else the attribute name.
    const std::string& FieldName() const;
    friend bool operator==(const PacketField&, const PacketField&) = default;
};

// Row status bits of a change log.
enum RowStateBits : int32_t {
    kRowOriginal = 1,  // the before image of a row changed later in the log
    kRowDeleted = 2,
    kRowInserted = 4,
    kRowModified = 8,
};

// One row: the values it holds, as (field index, decoded text), sorted by field index with
// no index twice. A field that is not listed holds nothing; the empty text is a value.
// Rows are sparse so that a wide packet with many near-empty rows stays small in memory.
struct PacketRow {
    int32_t rowState = 0;
    std::vector<std::pair<std::size_t, std::string>> values;

    const std::string* Value(std::size_t field) const;
    // Sets or replaces the value of a field, keeping the order.
    void Set(std::size_t field, std::string value);
    friend bool operator==(const PacketRow&, const PacketRow&) = default;
};

struct DataPacket {
    std::vector<PacketField> fields;
    PacketAttributes params;  // dataset parameters, in file order
    std::vector<PacketRow> rows;

    // Index of the first field whose attrname is `name`, or nothing.
    std::optional<std::size_t> FieldIndex(std::string_view name) const;
    friend bool operator==(const DataPacket&, const DataPacket&) = default;
};

// The field types a packet may name, in their canonical spelling. The reader compares
// type names without regard to case and keeps the canonical spelling.
const std::vector<std::string_view>& KnownFieldTypes();
std::optional<std::string_view> CanonicalFieldType(std::string_view type);

// Value encodings.
std::string EscapeText(std::string_view text);
std::string UnescapeText(std::string_view text);
std::string EncodeInteger(int64_t value);
// Lenient: a decimal digit must come before any letter, then the text is read as a decimal
// number from its start ("7x" is 7, "x7" and " -" are nothing). Out of range is nothing.
std::optional<int32_t> DecodeInteger(std::string_view text);
// 20240315T14:30:05123, or only the date (20240316) at exactly midnight.
std::string EncodeDateTime(common::DateTime value);
// yyyymmdd, optionally followed by Thh:nn: and up to five digits of seconds and milliseconds,
// filled on the right with zeros. Anything else is nothing.
std::optional<common::DateTime> DecodeDateTime(std::string_view text);
// hh:nn:sssss (the value of a "time" field) as a time of day on day 0.
std::optional<common::DateTime> DecodeTimeOfDay(std::string_view text);

// The same encodings appended to a document under construction, without a string of their own.
void AppendEscaped(std::string& out, std::string_view text);
void AppendInteger(std::string& out, int64_t value);
void AppendDateTime(std::string& out, common::DateTime value);

// Builds the document piece by piece: the declaration and metadata at construction, then the
// rows one value at a time, each value escaped or encoded straight into the one output string.
// WriteDataPacket is made of it, and a table writes its records through it without building a
// packet first, so both give the same bytes. The rules of WriteDataPacket apply: values of a
// field that gets none (its attribute name taken already) or of an index past the fields are
// dropped; values go out in the order given.
class DataPacketWriter {
  public:
    DataPacketWriter(const std::vector<PacketField>& fields, const PacketAttributes& params);

    // Room for about this many more rows with a value in each of the first `fields` fields, so
    // that a large document is not copied over and over as it grows.
    void ReserveRows(std::size_t rows, std::size_t fields);

    void BeginRow(int32_t rowState = 0);
    void TextValue(std::size_t field, std::string_view text);
    void IntegerValue(std::size_t field, int64_t value);
    void DateTimeValue(std::size_t field, common::DateTime value);
    void EndRow() { out_ += "/>"; }
    // Bytes written so far.
    std::size_t Length() const { return out_.size(); }

    // Closes the document and hands it over; the writer is spent.
    std::string Finish();

  private:
    // Appends ` name="` and returns true, or false when the field gets no values.
    bool OpenValue(std::size_t field);

    std::string out_;
    std::vector<std::string> opener_;  // ` name="` per field; empty for a field with no values
    bool fieldNamedRowState_ = false;
    // The date part of the last date-time written: a day's history is mostly of one day.
    int64_t lastDay_ = 0;
    std::string lastDate_;
};

// What every document the writer makes ends with, after its last row.
inline constexpr std::string_view kDataPacketTail = "</ROWDATA></DATAPACKET>";

// The whole document, one line, Windows-1252 bytes, in the receiver's own layout. So that the
// result is always well-formed: a field name that cannot be an attribute name (blank, "!",
// "#", quotes ...) is written with those bytes replaced by "_" and the real name in
// "fieldname"; a later field whose attribute name is taken already gets no values; a
// parameter whose name cannot be an attribute name, or repeats one, is left out. RowState is
// written only for rows whose status is not 0 (none, after MergeChangeLog).
std::string WriteDataPacket(const DataPacket& packet);

// Reads a document as it stands, change-log rows and CHANGE_LOG parameter included.
// Raises EDataPacketError.
DataPacket ParseDataPacket(std::string_view bytes);

// Folds a change log into plain rows, so that every record shows once:
// - CHANGE_LOG holds triples (row, base row, status) with 1-based numbers of ROW elements in
//   file order; a triple with a base links a newer version of a record to the version before.
// - Of each chain of versions only the newest counts: it is shown unless its status has the
//   deleted or the before-image bit, and it takes the place of the oldest version, so an
//   edited record keeps its place. A row nothing links to is a chain of its own.
// - A CHANGE_LOG that is not a clean list of triples (odd count, not numbers, numbers out of
//   range, a row claimed twice, a loop) is ignored, and the rows are judged by status alone.
// Afterwards every row has status 0 and the CHANGE_LOG parameter is gone.
void MergeChangeLog(DataPacket& packet);

// ParseDataPacket followed by MergeChangeLog: what a table loads.
DataPacket ReadDataPacket(std::string_view bytes);

}  // namespace lumora
