// FSD packet decode and re-serialise: a received line either is refused with
// the packet exception or decodes into a packet whose text is exactly one line.
#include "FuzzSupport.h"
#include "fsd/PDUFormatException.h"
#include "fsd/pdu/Packets.h"

namespace pdu = velk::fsd::pdu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines as the framer hands them over: no "\n", no trailing "\r".
    const QList<QByteArray> lines = velk::fuzz::bytesOf(data, size).split('\n');
    for (QByteArray raw : lines) {
        if (raw.endsWith('\r')) {
            raw.chop(1);
        }
        const QString line = QString::fromUtf8(raw);
        pdu::Packet packet;
        try {
            packet = pdu::decode(line);
        } catch (const velk::fsd::exception::PDUFormatException&) {
            continue;
        }
        std::visit(
            [](const auto& p) {
                if constexpr (!std::is_same_v<std::decay_t<decltype(p)>, std::monostate>) {
                    const QString out = p.serialize();
                    if (!out.endsWith(QLatin1StringView("\r\n")) || out.count(u'\n') != 1 ||
                        out.count(u'\r') != 1 || out.contains(QChar(u'\0'))) {
                        velk::fuzz::fail("re-serialised packet is not one line:", out);
                    }
                }
            },
            packet);
    }
    return 0;
}
