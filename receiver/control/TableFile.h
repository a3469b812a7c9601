// Tables to and from data packet files: binding a packet's fields to a table's, reading and
// saving the files.
#pragma once

#include <string>
#include <vector>

#include "common/Table.h"
#include "receiver/control/DataPacket.h"

namespace lumora {

// What a file held beyond the table's own fields. The table has no room for it, so the caller
// keeps it from a load to the next save of the same table, and a save writes it back: a
// rewritten file from another producer keeps its parameters and its other columns.
struct TableFileExtras {
    PacketAttributes params;          // dataset parameters (LCID, ...), file order
    std::vector<PacketField> fields;  // fields of the file that the table does not have
    // The loaded records, in file order, each with its values of `fields` (indices into
    // `fields`). A record is recognised at save time by its identity in the table
    // (MemTable::EntryId); records added since the load have none of these values.
    std::vector<uint64_t> loadedIds;
    std::vector<PacketRow> loadedValues;
};

// The kind a file's field type belongs to, as named in the type mismatch message: "String",
// "Integer", "DateTime", or for types no table of ours holds "Float", "Decimal", "Boolean",
// "Binary", "Nested", "Array".
std::string KindOfFieldType(const std::string& type);
std::string KindOfField(common::FieldType type);

// The packet a table writes: its fields in order ("string" with WIDTH, "i4", "dateTime"), then
// the carried fields; its rows in entry order, typed values encoded, carried values added.
DataPacket PacketFromTable(const common::MemTable& table, const TableFileExtras* extras = nullptr);

// The file's bytes: WriteDataPacket(PacketFromTable(table, extras)) to the byte, written
// straight from the records without the packet in between.
std::string WriteTablePacket(const common::MemTable& table,
                             const TableFileExtras* extras = nullptr);

// The bytes of the records from entry position `first` on, exactly as WriteTablePacket writes
// them, without the document's beginning and end. For records added since the file was
// written whole: they carry no values of other producers' fields.
std::string WriteTablePacketRows(const common::MemTable& table, int first,
                                 const TableFileExtras* extras = nullptr);

// Matches the packet's fields to the table's by name (case ignored, "fieldname" before
// attrname), converts the values and loads the table. Refuses with EDataPacketError, prefixed
// "<table name>: ": "Field '<label>' not found", "Type mismatch for field '<label>', expecting:
// <kind> actual: <kind>". The order and change-log parameters (CHANGE_LOG, DEFAULT_ORDER,
// PRIMARY_KEY, UNIQUE_KEY) are not carried: they name fields by number, and the table writes
// its fields in its own order.
TableFileExtras LoadTableFromPacket(common::MemTable& table, DataPacket packet);

// Closes the table, reads the file and opens the table with its contents. A file that cannot
// be read raises common::EFileError "Cannot open file "<path>". <reason>"; a refused file
// EDataPacketError with the table's name in front. On failure the table stays closed.
TableFileExtras LoadTableFromFile(common::MemTable& table, const std::string& path);

// Writes the table to the file through common::ReplaceFileContents: a crash leaves the old
// file or the new one; a failed save leaves the old file and raises common::EFileError
// "Cannot create file "<path>". <reason>".
void SaveTableToFile(const common::MemTable& table, const std::string& path,
                     const TableFileExtras* extras = nullptr);

// The whole file; common::EFileError "Cannot open file "<path>". <reason>" when it cannot be
// opened or read.
std::string ReadWholeFile(const std::string& path);

}  // namespace lumora
