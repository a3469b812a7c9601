#include "receiver/control/TableFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <variant>

#include "common/AtomicFile.h"
#include "common/Convert.h"
#include "common/Exception.h"

namespace lumora {
namespace {

// Parameters that name fields by their number in the file; the table writes its fields in
// its own order, so they would point at the wrong fields.
bool NamesFieldsByNumber(const std::string& param) {
    return param == "CHANGE_LOG" || param == "DEFAULT_ORDER" || param == "PRIMARY_KEY" ||
           param == "UNIQUE_KEY";
}

std::string EncodeValue(const common::FieldValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* i = std::get_if<int32_t>(&value)) return EncodeInteger(*i);
    return EncodeDateTime(std::get<common::DateTime>(value));
}

// The file fields of the table's own fields, then the carried ones.
std::vector<PacketField> FileFields(const std::vector<common::FieldDef>& defs,
                                    const TableFileExtras* extras) {
    std::vector<PacketField> fields;
    fields.reserve(defs.size() + (extras != nullptr ? extras->fields.size() : 0));
    for (const auto& def : defs) {
        PacketField f{def.name, {}, {}};
        switch (def.type) {
            case common::FieldType::Text:
                f.type = "string";
                if (def.width > 0) f.params.push_back({"WIDTH", std::to_string(def.width)});
                break;
            case common::FieldType::Integer:
                f.type = "i4";
                break;
            case common::FieldType::DateTime:
                f.type = "dateTime";
                break;
        }
        fields.push_back(std::move(f));
    }
    if (extras != nullptr) {
        fields.insert(fields.end(), extras->fields.begin(), extras->fields.end());
    }
    return fields;
}

// Calls visit(row, carried) for the table's records in entry order; `carried` is the record's
// values of the carried fields, or null. Loaded records are found again by their place among
// the records that are left: they keep their entry order, and records added since come after
// all of them.
template <class Visit>
void ForEachRecord(const common::MemTable& table, const TableFileExtras* extras, Visit&& visit) {
    const int records = table.EntryCount();
    // Without carried fields there is nothing to find: the usual case, our own files.
    if (extras == nullptr || extras->fields.empty()) {
        for (int i = 0; i < records; ++i) visit(table.EntryRow(i), nullptr);
        return;
    }
    std::unordered_map<uint64_t, size_t> loaded;
    const size_t count = std::min(extras->loadedIds.size(), extras->loadedValues.size());
    loaded.reserve(count);
    for (size_t i = 0; i < count; ++i) loaded.emplace(extras->loadedIds[i], i);
    for (int i = 0; i < records; ++i) {
        const auto it = loaded.find(table.EntryId(i));
        visit(table.EntryRow(i), it != loaded.end() ? &extras->loadedValues[it->second] : nullptr);
    }
}

common::FieldValue DecodeValue(common::FieldType type, const std::string& fileType,
                               const std::string& text) {
    switch (type) {
        case common::FieldType::Text:
            return text;
        case common::FieldType::Integer:
            if (const auto v = DecodeInteger(text)) return *v;
            return {};
        case common::FieldType::DateTime: {
            const auto v = fileType == "time" ? DecodeTimeOfDay(text) : DecodeDateTime(text);
            if (v) return *v;
            return {};
        }
    }
    return {};
}

[[noreturn]] void FileError(const char* what, const std::string& path, int error) {
    throw common::EFileError(std::string(what) + " \"" + path + "\". " + std::strerror(error));
}

}  // namespace

std::string KindOfFieldType(const std::string& type) {
    static const std::vector<std::pair<std::string_view, std::string_view>> kKinds = {
        {"string", "String"},        {"string.uni", "String"}, {"i1", "Integer"},
        {"i2", "Integer"},           {"i4", "Integer"},        {"i8", "Integer"},
        {"ui1", "Integer"},          {"ui2", "Integer"},       {"ui4", "Integer"},
        {"date", "DateTime"},        {"time", "DateTime"},     {"dateTime", "DateTime"},
        {"SQLdateTime", "DateTime"}, {"r8", "Float"},          {"r10", "Float"},
        {"fixed", "Decimal"},        {"fixedFMT", "Decimal"},  {"boolean", "Boolean"},
        {"bin.hex", "Binary"},       {"nested", "Nested"},     {"IntArray", "Array"},
        {"UIntArray", "Array"}};
    for (const auto& [name, kind] : kKinds) {
        if (common::SameTextIgnoringCase(name, type)) return std::string(kind);
    }
    return type;
}

std::string KindOfField(common::FieldType type) {
    switch (type) {
        case common::FieldType::Text:
            return "String";
        case common::FieldType::Integer:
            return "Integer";
        case common::FieldType::DateTime:
            return "DateTime";
    }
    return {};
}

DataPacket PacketFromTable(const common::MemTable& table, const TableFileExtras* extras) {
    DataPacket packet;
    const auto& defs = table.Fields();
    packet.fields = FileFields(defs, extras);
    if (extras != nullptr) packet.params = extras->params;
    ForEachRecord(table, extras, [&](const common::Row& row, const PacketRow* carried) {
        PacketRow out;
        for (size_t i = 0; i < defs.size() && i < row.size(); ++i) {
            if (!std::holds_alternative<std::monostate>(row[i])) {
                out.values.emplace_back(i, EncodeValue(row[i]));
            }
        }
        if (carried != nullptr) {
            for (const auto& [field, value] : carried->values) {
                if (field < extras->fields.size())
                    out.values.emplace_back(defs.size() + field, value);
            }
        }
        packet.rows.push_back(std::move(out));
    });
    return packet;
}

namespace {

void WriteRecord(DataPacketWriter& writer, const std::vector<common::FieldDef>& defs,
                 const common::Row& row, const PacketRow* carried, const TableFileExtras* extras) {
    writer.BeginRow();
    const size_t own = std::min(defs.size(), row.size());
    for (size_t i = 0; i < own; ++i) {
        const common::FieldValue& v = row[i];
        if (const auto* s = std::get_if<std::string>(&v)) {
            writer.TextValue(i, *s);
        } else if (const auto* n = std::get_if<int32_t>(&v)) {
            writer.IntegerValue(i, *n);
        } else if (const auto* d = std::get_if<common::DateTime>(&v)) {
            writer.DateTimeValue(i, *d);
        }
    }
    if (carried != nullptr) {
        for (const auto& [field, value] : carried->values) {
            if (field < extras->fields.size()) writer.TextValue(defs.size() + field, value);
        }
    }
    writer.EndRow();
}

const PacketAttributes& FileParams(const TableFileExtras* extras) {
    static const PacketAttributes kNoParams;
    return extras != nullptr ? extras->params : kNoParams;
}

}  // namespace

std::string WriteTablePacket(const common::MemTable& table, const TableFileExtras* extras) {
    const auto& defs = table.Fields();
    DataPacketWriter writer(FileFields(defs, extras), FileParams(extras));
    writer.ReserveRows(static_cast<size_t>(table.RecordCount()), defs.size());
    ForEachRecord(table, extras, [&](const common::Row& row, const PacketRow* carried) {
        WriteRecord(writer, defs, row, carried, extras);
    });
    return writer.Finish();
}

std::string WriteTablePacketRows(const common::MemTable& table, int first,
                                 const TableFileExtras* extras) {
    const auto& defs = table.Fields();
    DataPacketWriter writer(FileFields(defs, extras), FileParams(extras));
    const size_t header = writer.Length();
    const int count = table.EntryCount();
    writer.ReserveRows(static_cast<size_t>(std::max(count - first, 0)), defs.size());
    for (int i = std::max(first, 0); i < count; ++i)
        WriteRecord(writer, defs, table.EntryRow(i), nullptr, extras);
    std::string bytes = writer.Finish();
    bytes.resize(bytes.size() - kDataPacketTail.size());
    return bytes.substr(header);
}

TableFileExtras LoadTableFromPacket(common::MemTable& table, DataPacket packet) {
    table.Close();
    const auto& defs = table.Fields();
    std::vector<size_t> source(defs.size());
    std::vector<bool> bound(packet.fields.size(), false);
    for (size_t i = 0; i < defs.size(); ++i) {
        size_t j = 0;
        while (j < packet.fields.size() &&
               !common::SameTextIgnoringCase(packet.fields[j].FieldName(), defs[i].name) &&
               !common::SameTextIgnoringCase(packet.fields[j].name, defs[i].name)) {
            ++j;
        }
        const std::string& label = defs[i].DisplayLabel();
        if (j == packet.fields.size()) {
            throw EDataPacketError(table.Name() + ": Field '" + label + "' not found");
        }
        const std::string expecting = KindOfField(defs[i].type);
        const std::string actual = KindOfFieldType(packet.fields[j].type);
        if (expecting != actual) {
            throw EDataPacketError(table.Name() + ": Type mismatch for field '" + label +
                                   "', expecting: " + expecting + " actual: " + actual);
        }
        source[i] = j;
        bound[j] = true;
    }

    TableFileExtras extras;
    constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<size_t> carriedAs(packet.fields.size(), kNone);
    for (size_t j = 0; j < packet.fields.size(); ++j) {
        if (bound[j]) continue;
        carriedAs[j] = extras.fields.size();
        extras.fields.push_back(std::move(packet.fields[j]));
    }
    for (auto& p : packet.params) {
        if (!NamesFieldsByNumber(p.name)) extras.params.push_back(std::move(p));
    }

    std::vector<common::Row> rows;
    rows.reserve(packet.rows.size());
    extras.loadedValues.reserve(packet.rows.size());
    for (auto& pr : packet.rows) {
        common::Row row(defs.size());
        for (size_t i = 0; i < defs.size(); ++i) {
            if (const std::string* text = pr.Value(source[i])) {
                row[i] = DecodeValue(defs[i].type, packet.fields[source[i]].type, *text);
            }
        }
        PacketRow carried;
        for (auto& [field, value] : pr.values) {
            if (carriedAs[field] != kNone)
                carried.values.emplace_back(carriedAs[field], std::move(value));
        }
        rows.push_back(std::move(row));
        extras.loadedValues.push_back(std::move(carried));
    }
    table.Load(std::move(rows));
    extras.loadedIds.reserve(static_cast<size_t>(table.EntryCount()));
    for (int i = 0; i < table.EntryCount(); ++i) extras.loadedIds.push_back(table.EntryId(i));
    return extras;
}

TableFileExtras LoadTableFromFile(common::MemTable& table, const std::string& path) {
    table.Close();
    const std::string bytes = ReadWholeFile(path);
    DataPacket packet;
    try {
        packet = ReadDataPacket(bytes);
    } catch (const EDataPacketError& e) {
        throw e.WithPrefix(table.Name());
    }
    return LoadTableFromPacket(table, std::move(packet));
}

void SaveTableToFile(const common::MemTable& table, const std::string& path,
                     const TableFileExtras* extras) {
    common::ReplaceFileContents(path, WriteTablePacket(table, extras));
}

std::string ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) FileError("Cannot open file", path, errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            FileError("Cannot open file", path, error);
        }
    }
    ::close(fd);
    return bytes;
}

}  // namespace lumora
