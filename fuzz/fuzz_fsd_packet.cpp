// FSD packet decode and re-serialise: a received line either is refused with
// the packet exception or decodes into a packet whose text is exactly one line.
// The server's text, as the logs take it, also goes through oneLine().
#include "FuzzSupport.h"
#include "common/OneLine.h"
#include "fsd/PDUFormatException.h"
#include "fsd/pdu/Packets.h"

namespace pdu = velk::fsd::pdu;

namespace {

// What oneLine() turns into something else: all else it keeps as it is.
bool changed(const QString& text, qsizetype i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        return false;
    }
    if (c.isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()) {
        return false;
    }
    const char16_t u = c.unicode();
    return c.isSurrogate() || c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// One line, no control character, valid UTF-16, stable when applied again,
// and every character it keeps still there in its order.
void checkOneLine(const QString& text) {
    const QString out = velk::common::oneLine(text);
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (changed(out, i)) {
            velk::fuzz::fail("oneLine left a break, a control, a lone surrogate or a bidi control:", out);
        }
    }
    if (velk::common::oneLine(out) != out) {
        velk::fuzz::fail("oneLine is not stable:", out);
    }
    qsizetype at = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!changed(text, i)) {
            at = out.indexOf(text.at(i), at);
            if (at < 0) {
                velk::fuzz::fail("oneLine lost text:", text);
            }
            ++at;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines as the framer hands them over: no "\n", no trailing "\r".
    const QByteArray bytes = velk::fuzz::bytesOf(data, size);
    checkOneLine(QString::fromUtf8(bytes));
    // As UTF-16 too, which reaches every code unit: C1 controls, lone surrogates.
    checkOneLine(QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2));
    const QList<QByteArray> lines = bytes.split('\n');
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
