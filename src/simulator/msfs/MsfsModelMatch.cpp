#include "simulator/msfs/MsfsAircraftLibrary.h"

#include "network/SwiftAircraftIcaoService.h"

#include <QVarLengthArray>

#include <initializer_list>
#include <utility>

namespace velk::simulator::msfs {

namespace {

// One pass over the key, each position tried only against the words that
// begin with its letter: this runs for every profile a scan builds.
bool containsFamily(QStringView key, bool allowIni) {
    const auto at = [key](qsizetype i, const char* word) {
        for (; *word != '\0'; ++word, ++i) {
            if (i >= key.size() || key[i] != QLatin1Char(*word)) {
                return false;
            }
        }
        return true;
    };
    for (qsizetype i = 0; i < key.size(); ++i) {
        switch (key[i].unicode()) {
        case u'F':
            if (at(i, "FENIX") || at(i, "FLYBYWIRE") || at(i, "FBW")) {
                return true;
            }
            break;
        case u'A':
            if (at(i, "A32NX")) {
                return true;
            }
            break;
        case u'P':
            if (at(i, "PMDG")) {
                return true;
            }
            break;
        case u'I':
            if (at(i, allowIni ? "INI" : "INIBUILDS")) {
                return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
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

QString MsfsAircraftLibrary::alnumKey(const QString& text) {
    const QString upper = text.trimmed().toUpper();
    QString key;
    key.reserve(upper.size());
    for (const QChar c : upper) {
        if (isKeyChar(c.unicode())) {
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
        const bool inToken = i < upper.size() && isKeyChar(upper.at(i).unicode());
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

namespace {

// A search text, prepared once per match rather than once per profile.
struct Needle {
    bool empty = true;
    QString key;
    QStringList tokens; // only those of two characters or more
};

Needle prepareNeedle(const QString& needle) {
    Needle prepared;
    const QString upper = needle.trimmed().toUpper();
    if (upper.isEmpty()) {
        return prepared;
    }
    prepared.empty = false;
    prepared.key = MsfsAircraftLibrary::alnumKey(upper);
    prepared.tokens = MsfsAircraftLibrary::tokens(upper);
    prepared.tokens.removeIf([](const QString& token) { return token.size() < 2; });
    return prepared;
}

bool needleMatches(const Needle& needle, const MsfsKeyTable& table,
                   std::initializer_list<const MsfsTextKeys*> texts) {
    if (needle.empty) {
        return false;
    }
    for (const MsfsTextKeys* text : texts) {
        if (!needle.key.isEmpty() && table.key(*text).contains(needle.key)) {
            return true;
        }
        for (const QString& token : needle.tokens) {
            if (table.hasToken(*text, token)) {
                return true;
            }
        }
    }
    return false;
}

struct RecordNeedles {
    Needle manufacturer;
    Needle model;
};

QList<RecordNeedles> prepareRecords(const QList<network::AircraftIcaoRecord>& records) {
    QList<RecordNeedles> prepared;
    prepared.reserve(records.size());
    for (const network::AircraftIcaoRecord& record : records) {
        prepared.append({prepareNeedle(record.manufacturer), prepareNeedle(record.model)});
    }
    return prepared;
}

bool matchesType(const QString& typeKey, const MsfsKeyTable& table, const MsfsProfileKeys& keys,
                 const QList<RecordNeedles>& records, bool& exact, bool& viaRecord) {
    exact = false;
    viaRecord = false;
    if (typeKey.isEmpty()) {
        return true;
    }
    if (keys.icaoType.keyLength > 0 && table.key(keys.icaoType) == typeKey) {
        exact = true;
        return true;
    }
    for (const RecordNeedles& record : records) {
        if (needleMatches(record.manufacturer, table, {&keys.manufacturer, &keys.displayName, &keys.title}) &&
            needleMatches(record.model, table,
                          {&keys.model, &keys.displayName, &keys.variation, &keys.title})) {
            viaRecord = true;
            return true;
        }
    }
    return false;
}

int familyScore(const MsfsAircraftProfile& profile, bool namesFamily, bool hintNamesFamily) {
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
    if (namesFamily && !hintNamesFamily) {
        score -= 350;
    }
    return score;
}

} // namespace

MsfsProfileKeys MsfsAircraftLibrary::addProfileKeys(MsfsKeyTable& table, const MsfsAircraftProfile& profile,
                                                    const MsfsAircraftProfile* previous,
                                                    const MsfsProfileKeys* previousKeys) {
    // Liveries of one aircraft share most texts: a text equal to the previous
    // profile's shares its keys.
    MsfsProfileKeys keys;
    const auto add = [&](QString MsfsAircraftProfile::*text, MsfsTextKeys MsfsProfileKeys::*out,
                         bool tokens) {
        if (previous != nullptr && profile.*text == previous->*text) {
            keys.*out = previousKeys->*out;
        } else {
            keys.*out = tokens ? table.addText(profile.*text) : table.addKey(profile.*text);
        }
    };
    add(&MsfsAircraftProfile::packageName, &MsfsProfileKeys::packageName, true);
    add(&MsfsAircraftProfile::title, &MsfsProfileKeys::title, true);
    add(&MsfsAircraftProfile::displayName, &MsfsProfileKeys::displayName, true);
    add(&MsfsAircraftProfile::variation, &MsfsProfileKeys::variation, true);
    add(&MsfsAircraftProfile::manufacturer, &MsfsProfileKeys::manufacturer, true);
    add(&MsfsAircraftProfile::model, &MsfsProfileKeys::model, true);
    add(&MsfsAircraftProfile::rootKind, &MsfsProfileKeys::rootKind, false);
    add(&MsfsAircraftProfile::airline, &MsfsProfileKeys::airline, true);
    add(&MsfsAircraftProfile::icaoType, &MsfsProfileKeys::icaoType, false);
    // These fields' keys run together, words of neighbouring fields included.
    QVarLengthArray<char16_t, 256> run;
    for (const MsfsTextKeys* text : {&keys.packageName, &keys.title, &keys.displayName, &keys.variation,
                                     &keys.manufacturer, &keys.model, &keys.rootKind}) {
        const QStringView key = table.key(*text);
        run.append(key.utf16(), key.size());
    }
    keys.namesFamily = containsFamily(QStringView(run.constData(), run.size()), false);
    table.append(keys);
    return keys;
}

bool MsfsAircraftLibrary::tokenMatch(const QString& needle, const QStringList& texts) {
    const Needle prepared = prepareNeedle(needle);
    if (prepared.empty) {
        return false;
    }
    for (const QString& text : texts) {
        MsfsKeyTable table;
        const MsfsTextKeys keys = table.addText(text);
        if (needleMatches(prepared, table, {&keys})) {
            return true;
        }
    }
    return false;
}

int MsfsAircraftLibrary::operatorFamilyScore(const MsfsAircraftProfile& profile, bool hintNamesFamily) {
    MsfsKeyTable table;
    return familyScore(profile, addProfileKeys(table, profile).namesFamily, hintNamesFamily);
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
    MsfsKeyTable table;
    const MsfsProfileKeys keys = addProfileKeys(table, profile);
    return matchesType(alnumKey(normalized), table, keys,
                       prepareRecords(icao->recordsForDesignator(normalized)), exact, viaRecord);
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

    QList<std::pair<const QList<MsfsAircraftProfile>*, const MsfsKeyTable*>> lists;
    const QList<MsfsRuntimeProfile> order =
        isKnownSimulator(simulator) ? QList<MsfsRuntimeProfile>{simulator} : availableSimulators();
    for (const MsfsRuntimeProfile sim : order) {
        const auto it = profilesBySimulator.constFind(static_cast<int>(sim));
        if (it != profilesBySimulator.cend() && !it->isEmpty()) {
            const auto keys = keysBySimulator.constFind(static_cast<int>(sim));
            Q_ASSERT(keys != keysBySimulator.cend() && keys->size() == it->size());
            lists.append({&*it, &*keys});
        }
    }
    const QList<RecordNeedles> records = prepareRecords(icao->recordsForDesignator(normalized));
    const bool hint = containsFamily(alnumKey(airline + QLatin1Char(' ') + livery), true);
    const Needle airlineNeedle = prepareNeedle(airline);
    const Needle liveryNeedle = prepareNeedle(livery);

    MsfsModelMatch none = noProfile(simulator, type, airline, livery, normalized);
    if (lists.isEmpty()) {
        return none;
    }

    const MsfsAircraftProfile* best = nullptr;
    MsfsModelMatch result = none;
    for (const auto& [profiles, table] : lists) {
        for (qsizetype i = 0; i < profiles->size(); ++i) {
            const MsfsAircraftProfile& profile = profiles->at(i);
            const MsfsProfileKeys& keys = table->at(i);
            bool exact = false;
            bool viaRecord = false;
            if (!matchesType(typeKey, *table, keys, records, exact, viaRecord)) {
                continue;
            }
            int score = exact ? 2000 : 1500;
            if (isKnownSimulator(simulator) && profile.simulator == simulator) {
                score += 80;
            }
            score += familyScore(profile, keys.namesFamily, hint);
            const bool airlineMatched = needleMatches(
                airlineNeedle, *table,
                {&keys.airline, &keys.variation, &keys.displayName, &keys.title, &keys.packageName});
            if (airlineMatched) {
                score += 90;
            }
            const bool liveryMatched = needleMatches(
                liveryNeedle, *table, {&keys.variation, &keys.displayName, &keys.title, &keys.packageName});
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
