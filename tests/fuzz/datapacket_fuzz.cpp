// Arbitrary bytes into the data packet reader; whatever it accepts must write out, read back
// and write out again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "receiver/control/DataPacket.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumora;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DataPacket packet;
    try {
        packet = ReadDataPacket(bytes);
    } catch (const EDataPacketError&) {
        return 0;
    }
    const std::string written = WriteDataPacket(packet);
    const DataPacket again = ReadDataPacket(written);  // a refusal here escapes and is a finding
    Check(WriteDataPacket(again) == written);
    Check(again.rows.size() == packet.rows.size());

    for (const auto& row : packet.rows) {
        for (const auto& [field, value] : row.values) {
            Check(field < packet.fields.size());
            Check(UnescapeText(EscapeText(value)) == value);
            if (const auto n = DecodeInteger(value)) Check(DecodeInteger(EncodeInteger(*n)) == n);
            if (const auto d = DecodeDateTime(value)) {
                Check(DecodeDateTime(EncodeDateTime(*d)) == d);
            }
        }
    }
    return 0;
}
