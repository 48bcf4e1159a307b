#include "fsd/FsdEnums.h"

#include <array>

namespace velk::fsd {

namespace {

// Indexed by the type's number; index 0 is Unknown.
constexpr std::array<const char*, 29> kQueryTypeTexts = {
    "",    "ATC", "CAPS", "C?",  "RN",    "SV",      "ATIS",    "IP",  "INF", "FP",
    "IPC", "BY",  "HI",   "HLP", "NOHLP", "WH",      "IT",      "HT",  "DR",  "FA",
    "TA",  "BC",  "SC",   "VT",  "ACC",   "NEWINFO", "NEWATIS", "EST", "GD"};

} // namespace

QString clientQueryTypeToString(ClientQueryType type) {
    const auto index = static_cast<std::size_t>(type);
    if (index >= kQueryTypeTexts.size()) {
        return {};
    }
    return QString::fromLatin1(kQueryTypeTexts[index]);
}

ClientQueryType clientQueryTypeFromString(QStringView text) {
    if (text.isEmpty()) {
        return ClientQueryType::Unknown;
    }
    for (std::size_t i = 1; i < kQueryTypeTexts.size(); ++i) {
        if (text == QLatin1StringView(kQueryTypeTexts[i])) {
            return static_cast<ClientQueryType>(i);
        }
    }
    return ClientQueryType::Unknown;
}

QString networkRatingToString(int rating) {
    if (rating < -1 || rating > 12) {
        return QStringLiteral("0");
    }
    return QString::number(rating);
}

} // namespace velk::fsd
