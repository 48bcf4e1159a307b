// Voice control stream: any bytes, cut into reads of any size, give bounded
// lines; each line is read strictly or refused with a reason, and a message
// that reads is a fixpoint of writing and reading again.
#include "FuzzSupport.h"
#include "voice/ControlLineReader.h"
#include "voice/ControlMessage.h"

#include <algorithm>
#include <exception>

using namespace velk;

namespace {

void readLine(std::string_view line) {
    if (line.find('\n') != std::string_view::npos ||
        line.size() > voice::ControlLineReader::kMaxPendingLine) {
        fuzz::fail("line with a line end or over the limit");
    }
    voice::ControlMessage message;
    try {
        message = voice::readControlMessage(line);
    } catch (const std::exception&) {
        return; // refused with a reason, as the client logs it
    }
    std::string json;
    try {
        json = voice::toJson(message);
    } catch (const std::exception&) {
        return; // text that is not UTF-8 cannot be written back
    }
    if (!(voice::readControlMessage(json) == message)) {
        fuzz::fail("control message is not a fixpoint", QString::fromStdString(json));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the read size, so that lines are cut across reads.
    const size_t chunk = 1 + data[0] % voice::ControlLineReader::kReadSize;
    voice::ControlLineReader reader;
    for (size_t offset = 1; offset < size; offset += chunk) {
        const size_t n = std::min(chunk, size - offset);
        std::copy_n(data + offset, n, reader.writable().begin());
        reader.commit(n, readLine, [](std::size_t) {});
        if (reader.pending() > voice::ControlLineReader::kMaxPendingLine) {
            fuzz::fail("reader buffer past its bound");
        }
    }
    return 0;
}
