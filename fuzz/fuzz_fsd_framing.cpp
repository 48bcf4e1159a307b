// FSD line framing: any byte stream, cut into reads of any size, gives lines
// without line ends and never over the limit, and the buffer stays bounded.
#include "FuzzSupport.h"
#include "fsd/LineFramer.h"

#include <algorithm>

using velk::fsd::LineFramer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the read size, so that lines are cut across reads.
    const size_t chunk = 1 + data[0] % 97;
    LineFramer framer;
    QByteArrayView line;
    for (size_t offset = 1; offset < size; offset += chunk) {
        const size_t n = std::min(chunk, size - offset);
        framer.append(
            QByteArrayView(reinterpret_cast<const char*>(data) + offset, static_cast<qsizetype>(n)));
        for (;;) {
            const LineFramer::Status status = framer.next(line);
            if (status == LineFramer::Status::NeedMore) {
                break;
            }
            if (status == LineFramer::Status::Line &&
                (line.contains('\n') || line.size() > LineFramer::kMaxLineLength)) {
                velk::fuzz::fail("line with a line end or over the limit");
            }
        }
        if (framer.pendingSize() > LineFramer::kMaxLineLength + static_cast<qsizetype>(chunk) + 1) {
            velk::fuzz::fail("framer buffer past its bound");
        }
    }
    return 0;
}
