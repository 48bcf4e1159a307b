#include "simulator/msfs/MsfsCfgText.h"

#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QHash>
#include <QStringTokenizer>

namespace velk::simulator::msfs {

namespace {

// A key line under a named section; key and value are cut out on demand.
struct Entry {
    QStringView line;
    qsizetype eq;

    QStringView key() const { return line.left(eq).trimmed(); }
    QStringView value() const { return unquoteView(line.mid(eq + 1)); }
};

// Calls section(name) for a header line, with the name trimmed as written,
// and entry(Entry) for a key line under a named section.
template <typename Section, typename OnEntry>
void forEachLine(QStringView text, Section section, OnEntry entry) {
    bool named = false;
    for (const QStringView raw : qTokenize(text, u'\n')) {
        const QStringView line = stripCommentView(raw);
        if (line.isEmpty()) {
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QStringView name = line.mid(1, line.size() - 2).trimmed();
            named = !name.isEmpty();
            section(name);
            continue;
        }
        const qsizetype eq = named ? line.indexOf(u'=') : -1;
        if (eq >= 0) {
            entry(Entry{line, eq});
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

// A key as the full parse stores it (upper- then lower-cased); only a key
// with other than ASCII characters needs that copy to compare.
class Key {
public:
    explicit Key(QStringView key) : raw(key), ascii(isAscii(key)) {
        if (!ascii) {
            folded = key.toString().toUpper().toLower();
        }
    }
    bool is(QLatin1String name) const {
        if (!ascii) {
            return folded == name;
        }
        return raw.size() == name.size() && raw.compare(name, Qt::CaseInsensitive) == 0;
    }

private:
    QStringView raw;
    bool ascii;
    QString folded;
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
    {QLatin1String("isairtraffic"), &MsfsCfgVariation::isAirTraffic},
    {QLatin1String("isuserselectable"), &MsfsCfgVariation::isUserSelectable},
};

template <typename Record, qsizetype N>
void store(Record& record, const Field<Record> (&fields)[N], const Entry& entry) {
    const Key name(entry.key());
    for (const Field<Record>& field : fields) {
        if (name.is(field.key)) {
            record.*field.value = entry.value().toString();
            return;
        }
    }
}

enum class SectionKind { Other, General, Variation, FltSim };

// The kind of a section by its upper-cased name; `upper` gets that name for
// a "FLTSIM." section, which repeated headers join again.
SectionKind sectionKind(QStringView name, QString& upper) {
    if (isAscii(name)) {
        if (name.compare(QLatin1String("GENERAL"), Qt::CaseInsensitive) == 0) {
            return SectionKind::General;
        }
        if (name.compare(QLatin1String("VARIATION"), Qt::CaseInsensitive) == 0) {
            return SectionKind::Variation;
        }
        if (!name.startsWith(QLatin1String("FLTSIM."), Qt::CaseInsensitive)) {
            return SectionKind::Other;
        }
        upper = name.toString().toUpper();
        return SectionKind::FltSim;
    }
    upper = name.toString().toUpper();
    if (upper == QLatin1String("GENERAL")) {
        return SectionKind::General;
    }
    if (upper == QLatin1String("VARIATION")) {
        return SectionKind::Variation;
    }
    return upper.startsWith(QLatin1String("FLTSIM.")) ? SectionKind::FltSim : SectionKind::Other;
}

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
    QString fltSimName;
    QHash<QString, qsizetype> fltSimIndex;
    qsizetype variation = -1; // of the current "FLTSIM." section, once it holds a key
    forEachLine(
        text,
        [&](QStringView name) {
            kind = sectionKind(name, fltSimName);
            variation = -1;
        },
        [&](const Entry& entry) {
            facts.hasContent = true;
            switch (kind) {
            case SectionKind::Other:
                return;
            case SectionKind::General:
                store(facts.general, kGeneralFields, entry);
                return;
            case SectionKind::Variation:
                if (Key(entry.key()).is(QLatin1String("base_container"))) {
                    baseContainer = entry.value().toString();
                }
                return;
            case SectionKind::FltSim:
                if (variation < 0) {
                    const auto known = fltSimIndex.constFind(fltSimName);
                    if (known != fltSimIndex.cend()) {
                        variation = *known;
                    } else {
                        variation = facts.variations.size();
                        fltSimIndex.insert(fltSimName, variation);
                        facts.variations.append(MsfsCfgVariation());
                    }
                }
                store(facts.variations[variation], kVariationFields, entry);
                return;
            }
        });
    facts.baseContainer = unquote(baseContainer);
    return facts;
}

} // namespace velk::simulator::msfs
