#include "simulator/msfs/MsfsCfgText.h"

#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QHash>
#include <QVarLengthArray>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace velk::simulator::msfs {

namespace {

// A key line under a named section; key and value are cut out on demand.
struct Entry {
    QStringView line;
    qsizetype eq;

    QStringView key() const { return trimmedView(line.first(eq)); }
    QStringView value() const { return unquoteView(line.mid(eq + 1)); }
};

// Calls section(name) for a header line, with the name trimmed as written,
// and entry(Entry) for a key line under a named section. The same rule as
// stripComment() and a search for "=", in one pass over each line.
template <typename Section, typename OnEntry>
void forEachLine(QStringView text, Section section, OnEntry entry) {
    bool named = false;
    const QChar* p = text.begin();
    const QChar* const end = text.end();
    while (p != end) {
        const QChar* const start = p;
        const QChar* cut = nullptr;
        const QChar* eq = nullptr;
        bool inQuotes = false;
        for (; p != end; ++p) {
            const char16_t c = p->unicode();
            if (c > u'=') { // letters and most else: nothing to look at
                continue;
            }
            if (c == u'\n') {
                break;
            }
            if (c == u'"') {
                inQuotes = !inQuotes;
            } else if (c == u';' && !inQuotes) {
                cut = p;
                p = std::find(p, end, QLatin1Char('\n'));
                break;
            } else if (c == u'=' && eq == nullptr) {
                eq = p;
            }
        }
        const QStringView line = trimmedView(QStringView(start, cut != nullptr ? cut : p));
        if (p != end) {
            ++p;
        }
        if (line.isEmpty()) {
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QStringView name = trimmedView(line.sliced(1, line.size() - 2));
            named = !name.isEmpty();
            section(name);
            continue;
        }
        if (named && eq != nullptr) {
            entry(Entry{line, eq - line.begin()});
        }
    }
}

bool isAscii(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            return false;
        }
    }
    return true;
}

char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// An ASCII text equal to an ASCII word, the case of letters aside.
template <typename Word> bool equalsNoCase(QStringView text, Word word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (asciiLower(text[i].unicode()) != asciiLower(QChar(word[i]).unicode())) {
            return false;
        }
    }
    return true;
}

// The index of a key among lower-case names, compared as the full parse
// stores keys (upper- then lower-cased); only a key with other than ASCII
// characters needs that copy. -1 when none.
template <qsizetype N> qsizetype keyIndex(QStringView key, const QLatin1String (&names)[N]) {
    for (qsizetype i = 0; i < N; ++i) {
        if (key.size() == names[i].size() && equalsNoCase(key, names[i])) {
            return i;
        }
    }
    if (isAscii(key)) {
        return -1;
    }
    const QString folded = key.toString().toUpper().toLower();
    for (qsizetype i = 0; i < N; ++i) {
        if (folded == names[i]) {
            return i;
        }
    }
    return -1;
}

const QLatin1String kGeneralKeys[] = {
    QLatin1String("icao_type_designator"),
    QLatin1String("icao_manufacturer"),
    QLatin1String("icao_model"),
    QLatin1String("icao_engine_type"),
    QLatin1String("icao_engine_count"),
    QLatin1String("icao_wtc"),
    QLatin1String("category"),
};
QString MsfsCfgGeneral::*const kGeneralValues[] = {
    &MsfsCfgGeneral::icaoTypeDesignator, &MsfsCfgGeneral::icaoManufacturer, &MsfsCfgGeneral::icaoModel,
    &MsfsCfgGeneral::icaoEngineType,     &MsfsCfgGeneral::icaoEngineCount,  &MsfsCfgGeneral::icaoWtc,
    &MsfsCfgGeneral::category,
};

const QLatin1String kBaseContainerKey[] = {QLatin1String("base_container")};

// Texts first, then the two flags.
const QLatin1String kVariationKeys[] = {
    QLatin1String("title"),
    QLatin1String("ui_manufacturer"),
    QLatin1String("ui_type"),
    QLatin1String("ui_variation"),
    QLatin1String("atc_airline"),
    QLatin1String("isairtraffic"),
    QLatin1String("isuserselectable"),
};
QString MsfsCfgVariation::*const kVariationTexts[] = {
    &MsfsCfgVariation::title,       &MsfsCfgVariation::uiManufacturer, &MsfsCfgVariation::uiType,
    &MsfsCfgVariation::uiVariation, &MsfsCfgVariation::atcAirline,
};
std::int8_t MsfsCfgVariation::*const kVariationFlags[] = {
    &MsfsCfgVariation::isAirTraffic,
    &MsfsCfgVariation::isUserSelectable,
};

// parseCfgBool's reading without a copy of an ASCII value.
std::int8_t flagValue(QStringView value) {
    const QStringView t = trimmedView(value);
    if (t.isEmpty()) {
        return -1;
    }
    if (!isAscii(t)) {
        return MsfsAircraftLibrary::parseCfgBool(t.toString(), false) ? 1 : 0;
    }
    for (const QLatin1String yes :
         {QLatin1String("1"), QLatin1String("Y"), QLatin1String("TRUE"), QLatin1String("YES")}) {
        if (equalsNoCase(t, yes)) {
            return 1;
        }
    }
    return 0;
}

void storeGeneral(MsfsCfgGeneral& general, const Entry& entry) {
    const qsizetype i = keyIndex(entry.key(), kGeneralKeys);
    if (i >= 0) {
        general.*kGeneralValues[i] = entry.value().toString();
    }
}

void storeVariation(MsfsCfgVariation& variation, const Entry& entry) {
    constexpr qsizetype texts = std::size(kVariationTexts);
    const qsizetype i = keyIndex(entry.key(), kVariationKeys);
    if (i >= texts) {
        variation.*kVariationFlags[i - texts] = flagValue(entry.value());
    } else if (i >= 0) {
        variation.*kVariationTexts[i] = entry.value().toString();
    }
}

enum class SectionKind { Other, General, Variation, FltSim };

// The kind of a section by its upper-cased name.
SectionKind sectionKind(QStringView name) {
    if (isAscii(name)) {
        if (equalsNoCase(name, QLatin1String("GENERAL"))) {
            return SectionKind::General;
        }
        if (equalsNoCase(name, QLatin1String("VARIATION"))) {
            return SectionKind::Variation;
        }
        const QLatin1String prefix("FLTSIM.");
        return name.size() >= prefix.size() && equalsNoCase(name.first(prefix.size()), prefix)
                   ? SectionKind::FltSim
                   : SectionKind::Other;
    }
    const QString upper = name.toString().toUpper();
    if (upper == QLatin1String("GENERAL")) {
        return SectionKind::General;
    }
    if (upper == QLatin1String("VARIATION")) {
        return SectionKind::Variation;
    }
    return upper.startsWith(QLatin1String("FLTSIM.")) ? SectionKind::FltSim : SectionKind::Other;
}

// The "FLTSIM." sections of one file by name, so that a repeated header joins
// its first section: a few ASCII names are compared in place, without a copy;
// many names, or one beyond ASCII, go to a hash of their upper case.
class FltSimSections {
public:
    // The index of the section called `name`, or -1.
    qsizetype find(QStringView name) {
        if (byUpper.isEmpty() && names.size() < 64 && isAscii(name)) {
            const std::uint32_t hash = foldedHash(name);
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (names[i].hash == hash && equalsNoCase(names[i].name, name)) {
                    return i;
                }
            }
            return -1;
        }
        for (qsizetype i = byUpper.size(); i < names.size(); ++i) {
            byUpper.insert(names[i].name.toString().toUpper(), i);
        }
        return byUpper.value(name.toString().toUpper(), -1);
    }
    // Records the next section; `find` has just missed it.
    void add(QStringView name) {
        if (!byUpper.isEmpty() || names.size() >= 64 || !isAscii(name)) {
            byUpper.insert(name.toString().toUpper(), names.size());
        }
        names.append({name, foldedHash(name)});
    }

private:
    // Equal for names equal but for the case of ASCII letters.
    static std::uint32_t foldedHash(QStringView name) {
        std::uint32_t hash = 2166136261u;
        for (const QChar c : name) {
            hash = (hash ^ asciiLower(c.unicode())) * 16777619u;
        }
        return hash;
    }

    struct Name {
        QStringView name; // into the text being read
        std::uint32_t hash;
    };
    QVarLengthArray<Name, 16> names;
    QHash<QString, qsizetype> byUpper;
};

} // namespace

ParsedCfg parseCfgText(QStringView text) {
    ParsedCfg parsed;
    QString section;
    forEachLine(
        text, [&section](QStringView name) { section = name.toString().toUpper(); },
        [&parsed, &section](const Entry& entry) {
            auto it = parsed.sections.find(section);
            if (it == parsed.sections.end()) {
                it = parsed.sections.insert(section, {});
                parsed.sectionOrder.append(section);
            }
            it->insert(entry.key().toString().toUpper().toLower(), entry.value().toString());
        });
    parsed.baseContainer =
        unquote(parsed.sections.value(QStringLiteral("VARIATION")).value(QStringLiteral("base_container")));
    parsed.hasContent = !parsed.sections.isEmpty();
    return parsed;
}

MsfsCfgFacts readCfgFacts(QStringView text) {
    MsfsCfgFacts facts;
    QString baseContainer;
    SectionKind kind = SectionKind::Other;
    QStringView fltSimName;
    FltSimSections fltSims;
    MsfsCfgVariation* variation = nullptr; // of the current "FLTSIM." section, once it holds a key
    forEachLine(
        text,
        [&](QStringView name) {
            kind = sectionKind(name);
            fltSimName = name;
            variation = nullptr;
        },
        [&](const Entry& entry) {
            facts.hasContent = true;
            switch (kind) {
            case SectionKind::Other:
                return;
            case SectionKind::General:
                storeGeneral(facts.general, entry);
                return;
            case SectionKind::Variation:
                if (keyIndex(entry.key(), kBaseContainerKey) == 0) {
                    baseContainer = entry.value().toString();
                }
                return;
            case SectionKind::FltSim:
                if (variation == nullptr) {
                    const qsizetype known = fltSims.find(fltSimName);
                    if (known >= 0) {
                        variation = &facts.variations[known];
                    } else {
                        fltSims.add(fltSimName);
                        variation = &facts.variations.emplace_back();
                    }
                }
                storeVariation(*variation, entry);
                return;
            }
        });
    facts.baseContainer = unquote(baseContainer);
    return facts;
}

} // namespace velk::simulator::msfs
