#include "simulator/msfs/MsfsAircraftLibrary.h"

#include "network/SwiftAircraftIcaoService.h"

namespace velk::simulator::msfs {

namespace {

bool containsFamily(const QString& key, bool allowIni) {
    static const QStringList families = {QStringLiteral("FENIX"), QStringLiteral("FLYBYWIRE"),
                                         QStringLiteral("FBW"),   QStringLiteral("A32NX"),
                                         QStringLiteral("PMDG"),  QStringLiteral("INIBUILDS")};
    for (const QString& family : families) {
        if (key.contains(family)) {
            return true;
        }
    }
    return allowIni && key.contains(QLatin1String("INI"));
}

bool isKnownSimulator(MsfsRuntimeProfile simulator) {
    return simulator == MsfsRuntimeProfile::Msfs2020 || simulator == MsfsRuntimeProfile::Msfs2024;
}

// The result for "no profile": requested simulator, inputs trimmed and upper-cased.
MsfsModelMatch noProfile(MsfsRuntimeProfile simulator, const QString& type, const QString& airline,
                         const QString& livery, const QString& normalizedType) {
    MsfsModelMatch result;
    result.simulator = simulator;
    result.requestedType = type.trimmed().toUpper();
    result.requestedAirline = airline.trimmed().toUpper();
    result.requestedLivery = livery.trimmed().toUpper();
    result.normalizedType = normalizedType;
    return result;
}

} // namespace

// Hand-written rather than regular expressions: these run for every profile
// on every uncached match.
namespace {

bool isKeyChar(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

} // namespace

QString MsfsAircraftLibrary::alnumKey(const QString& text) {
    const QString upper = text.trimmed().toUpper();
    QString key;
    key.reserve(upper.size());
    for (const QChar c : upper) {
        if (isKeyChar(c)) {
            key.append(c);
        }
    }
    return key;
}

QStringList MsfsAircraftLibrary::tokens(const QString& text) {
    const QString upper = text.trimmed().toUpper();
    QStringList parts;
    if (upper.isEmpty()) {
        return parts;
    }
    QString key;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= upper.size(); ++i) {
        const bool inToken = i < upper.size() && isKeyChar(upper.at(i));
        if (inToken) {
            key.append(upper.at(i));
            if (start < 0) {
                start = i;
            }
        } else if (start >= 0) {
            const QString part = upper.mid(start, i - start);
            if (!parts.contains(part)) {
                parts.append(part);
            }
            start = -1;
        }
    }
    if (!key.isEmpty() && !parts.contains(key)) {
        parts.append(key);
    }
    return parts;
}

bool MsfsAircraftLibrary::tokenMatch(const QString& needle, const QStringList& texts) {
    const QString upper = needle.trimmed().toUpper();
    if (upper.isEmpty()) {
        return false;
    }
    const QString needleKey = alnumKey(upper);
    QStringList needleTokens = tokens(upper);
    needleTokens.removeIf([](const QString& token) { return token.size() < 2; });
    for (const QString& text : texts) {
        if (!needleKey.isEmpty() && alnumKey(text).contains(needleKey)) {
            return true;
        }
        if (needleTokens.isEmpty()) {
            continue;
        }
        const QStringList textTokens = tokens(text);
        for (const QString& token : needleTokens) {
            if (textTokens.contains(token)) {
                return true;
            }
        }
    }
    return false;
}

int MsfsAircraftLibrary::operatorFamilyScore(const MsfsAircraftProfile& profile, bool hintNamesFamily) {
    const QString key =
        alnumKey(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                     .arg(profile.packageName, profile.title, profile.displayName, profile.variation,
                          profile.manufacturer, profile.model, profile.rootKind)
                     .toUpper());
    int score = 0;
    if (profile.isAirTraffic) {
        score += 140;
    }
    if (!profile.isUserSelectable) {
        score += 70;
    }
    if (!profile.isCommunity) {
        score += 25;
    }
    if (containsFamily(key, false) && !hintNamesFamily) {
        score -= 350;
    }
    return score;
}

bool MsfsAircraftLibrary::matchesType(const QString& typeKey, const MsfsAircraftProfile& profile,
                                      const QList<network::AircraftIcaoRecord>& records, bool& exact,
                                      bool& viaRecord) {
    exact = false;
    viaRecord = false;
    if (typeKey.isEmpty()) {
        return true;
    }
    const QString profileKey = alnumKey(profile.icaoType);
    if (!profileKey.isEmpty() && profileKey == typeKey) {
        exact = true;
        return true;
    }
    for (const network::AircraftIcaoRecord& record : records) {
        if (tokenMatch(record.manufacturer, {profile.manufacturer, profile.displayName, profile.title}) &&
            tokenMatch(record.model,
                       {profile.model, profile.displayName, profile.variation, profile.title})) {
            viaRecord = true;
            return true;
        }
    }
    return false;
}

bool MsfsAircraftLibrary::matchesTypeCode(const MsfsAircraftProfile& profile, const QString& type) const {
    const network::SwiftAircraftIcaoService* icao = network::SwiftAircraftIcaoService::instance();
    QString normalized = type.trimmed().toUpper();
    const network::DesignatorNormalization found = icao->normalizeDesignator(normalized);
    if (found.found && !found.normalized.isEmpty()) {
        normalized = found.normalized;
    }
    bool exact = false;
    bool viaRecord = false;
    return matchesType(alnumKey(normalized), profile, icao->recordsForDesignator(normalized), exact,
                       viaRecord);
}

MsfsModelMatch MsfsAircraftLibrary::match(MsfsRuntimeProfile simulator, const QString& type,
                                          const QString& airline, const QString& livery) {
    if (!isReady()) {
        startScan();
        return noProfile(simulator, type, airline, livery, type.trimmed().toUpper());
    }
    const QString key =
        QStringLiteral("%1|%2|%3|%4")
            .arg(static_cast<int>(simulator))
            .arg(type.trimmed().toUpper(), airline.trimmed().toUpper(), livery.trimmed().toUpper());
    const auto cached = matchCache.constFind(key);
    if (cached != matchCache.cend()) {
        return *cached;
    }
    MsfsModelMatch result = findBestMatch(simulator, type, airline, livery);
    matchCache.insert(key, result);
    return result;
}

MsfsModelMatch MsfsAircraftLibrary::findBestMatch(MsfsRuntimeProfile simulator, const QString& type,
                                                  const QString& airline, const QString& livery) const {
    network::SwiftAircraftIcaoService* icao = network::SwiftAircraftIcaoService::instance();
    QString normalized = type.trimmed().toUpper();
    icao->ensureReady();
    const network::DesignatorNormalization found = icao->normalizeDesignator(normalized);
    if (found.found && !found.normalized.isEmpty()) {
        normalized = found.normalized;
    }
    const QString typeKey = alnumKey(normalized);

    QList<const QList<MsfsAircraftProfile>*> lists;
    const QList<MsfsRuntimeProfile> order =
        isKnownSimulator(simulator) ? QList<MsfsRuntimeProfile>{simulator} : availableSimulators();
    for (const MsfsRuntimeProfile sim : order) {
        const auto it = profilesBySimulator.constFind(static_cast<int>(sim));
        if (it != profilesBySimulator.cend() && !it->isEmpty()) {
            lists.append(&*it);
        }
    }
    const QList<network::AircraftIcaoRecord> records = icao->recordsForDesignator(normalized);
    const bool hint = containsFamily(alnumKey(airline + QLatin1Char(' ') + livery), true);

    MsfsModelMatch none = noProfile(simulator, type, airline, livery, normalized);
    if (lists.isEmpty()) {
        return none;
    }

    const MsfsAircraftProfile* best = nullptr;
    MsfsModelMatch result = none;
    for (const QList<MsfsAircraftProfile>* list : lists) {
        for (const MsfsAircraftProfile& profile : *list) {
            bool exact = false;
            bool viaRecord = false;
            if (!matchesType(typeKey, profile, records, exact, viaRecord)) {
                continue;
            }
            int score = exact ? 2000 : 1500;
            if (isKnownSimulator(simulator) && profile.simulator == simulator) {
                score += 80;
            }
            score += operatorFamilyScore(profile, hint);
            const bool airlineMatched =
                tokenMatch(airline, {profile.airline, profile.variation, profile.displayName, profile.title,
                                     profile.packageName});
            if (airlineMatched) {
                score += 90;
            }
            const bool liveryMatched = tokenMatch(
                livery, {profile.variation, profile.displayName, profile.title, profile.packageName});
            if (liveryMatched) {
                score += 100;
            }
            if (best == nullptr || score > result.score) {
                best = &profile;
                result.score = score;
                result.exactType = exact;
                result.airlineMatched = airlineMatched;
                result.liveryMatched = liveryMatched;
                result.matchedViaRecord = viaRecord;
            }
        }
    }
    if (best == nullptr || result.score < 120) {
        none.fallback = true;
        return none;
    }
    result.profile = *best;
    result.simulator = best->simulator;
    return result;
}

} // namespace velk::simulator::msfs
