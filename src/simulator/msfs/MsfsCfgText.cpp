#include "simulator/msfs/MsfsCfgText.h"

#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QHash>
#include <QVarLengthArray>

#include <algorithm>
#include <cstdint>

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

// A key as the full parse stores it (upper- then lower-cased); only a key
// with other than ASCII characters needs that copy to compare.
class Key {
public:
    explicit Key(QStringView key) : raw(key) {}
    bool is(QLatin1String name) const {
        if (raw.size() == name.size() && equalsNoCase(raw, name)) {
            return true;
        }
        if (ascii < 0) {
            ascii = isAscii(raw) ? 1 : 0;
            if (ascii == 0) {
                folded = raw.toString().toUpper().toLower();
            }
        }
        return ascii == 0 && folded == name;
    }

private:
    QStringView raw;
    mutable std::int8_t ascii = -1;
    mutable QString folded;
};

template <typename Record> struct Field {
    QLatin1String key;
    QString Record::*value;
};

const Field<MsfsCfgGeneral> kGeneralFields[] = {
    {QLatin1String("icao_type_designator"), &MsfsCfgGeneral::icaoTypeDesignator},
    {QLatin1String("icao_manufacturer"), &MsfsCfgGeneral::icaoManufacturer},
    {QLatin1String("icao_model"), &MsfsCfgGeneral::icaoModel},
    {QLatin1String("icao_engine_type"), &MsfsCfgGeneral::icaoEngineType},
    {QLatin1String("icao_engine_count"), &MsfsCfgGeneral::icaoEngineCount},
    {QLatin1String("icao_wtc"), &MsfsCfgGeneral::icaoWtc},
    {QLatin1String("category"), &MsfsCfgGeneral::category},
};

const Field<MsfsCfgVariation> kVariationFields[] = {
    {QLatin1String("title"), &MsfsCfgVariation::title},
    {QLatin1String("ui_manufacturer"), &MsfsCfgVariation::uiManufacturer},
    {QLatin1String("ui_type"), &MsfsCfgVariation::uiType},
    {QLatin1String("ui_variation"), &MsfsCfgVariation::uiVariation},
    {QLatin1String("atc_airline"), &MsfsCfgVariation::atcAirline},
};

const struct {
    QLatin1String key;
    std::int8_t MsfsCfgVariation::*value;
} kVariationFlags[] = {
    {QLatin1String("isairtraffic"), &MsfsCfgVariation::isAirTraffic},
    {QLatin1String("isuserselectable"), &MsfsCfgVariation::isUserSelectable},
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

template <typename Record, qsizetype N>
bool store(Record& record, const Field<Record> (&fields)[N], const Key& name, const Entry& entry) {
    for (const Field<Record>& field : fields) {
        if (name.is(field.key)) {
            record.*field.value = entry.value().toString();
            return true;
        }
    }
    return false;
}

void storeVariation(MsfsCfgVariation& variation, const Entry& entry) {
    const Key name(entry.key());
    if (store(variation, kVariationFields, name, entry)) {
        return;
    }
    for (const auto& flag : kVariationFlags) {
        if (name.is(flag.key)) {
            variation.*flag.value = flagValue(entry.value());
            return;
        }
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
                store(facts.general, kGeneralFields, Key(entry.key()), entry);
                return;
            case SectionKind::Variation:
                if (Key(entry.key()).is(QLatin1String("base_container"))) {
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
