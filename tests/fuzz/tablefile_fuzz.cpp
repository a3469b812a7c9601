// Arbitrary bytes bound to each of the receiver's three tables: a file the binding accepts
// must write out, bind again and write out to the same bytes, by both writing routes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "receiver/control/DataPacket.h"
#include "receiver/control/Tabelas.h"
#include "receiver/control/TableFile.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumora;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TabelasReceptor tabelas;
    for (common::MemTable* table :
         {&tabelas.cdsEquipamentos, &tabelas.cdsComandas, &tabelas.cdsHistorico}) {
        TableFileExtras extras;
        try {
            extras = LoadTableFromPacket(*table, ReadDataPacket(bytes));
        } catch (const EDataPacketError&) {
            Check(!table->Active());  // a refused file leaves the table closed
            continue;
        } catch (const common::Exception&) {
            continue;  // a row the table's own rules refuse
        }
        const std::string written = WriteTablePacket(*table, &extras);
        Check(written == WriteDataPacket(PacketFromTable(*table, &extras)));
        const int records = table->RecordCount();
        // What we write is always taken back (a refusal here escapes and is a finding).
        const TableFileExtras again = LoadTableFromPacket(*table, ReadDataPacket(written));
        Check(table->RecordCount() == records);
        Check(WriteTablePacket(*table, &again) == written);
        // Rows added after a load are written after the loaded ones, as an addition would.
        if (again.fields.empty()) {
            const std::string rows = WriteTablePacketRows(*table, 0, &again);
            Check(written.size() >= rows.size() + kDataPacketTail.size() &&
                  written.compare(written.size() - rows.size() - kDataPacketTail.size(),
                                  rows.size(), rows) == 0);
        }
    }
    return 0;
}
