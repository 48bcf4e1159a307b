#include "model/AircraftConfig.h"

#include <QJsonDocument>

#include <cmath>

namespace velk::model {

namespace {

const QString kIsFullData = QStringLiteral("is_full_data");
const QString kGearDown = QStringLiteral("gear_down");
const QString kFlapsPct = QStringLiteral("flaps_pct");
const QString kSpoilersOut = QStringLiteral("spoilers_out");
const QString kOnGround = QStringLiteral("on_ground");
const QString kEngines = QStringLiteral("engines");
const QString kOn = QStringLiteral("on");
const QString kIsReversing = QStringLiteral("is_reversing");
const QString kLights = QStringLiteral("lights");
const QString kStrobeOn = QStringLiteral("strobe_on");
const QString kLandingOn = QStringLiteral("landing_on");
const QString kTaxiOn = QStringLiteral("taxi_on");
const QString kBeaconOn = QStringLiteral("beacon_on");
const QString kNavOn = QStringLiteral("nav_on");
const QString kRequest = QStringLiteral("request");
const QString kConfig = QStringLiteral("config");

template <typename T>
void takeIfChanged(std::optional<T>& out, const std::optional<T>& last, const std::optional<T>& current) {
    if (last != current) {
        out = current;
    }
}

template <typename T>
void putIfPresent(QJsonObject& object, const QString& key, const std::optional<T>& value) {
    if (value) {
        object.insert(key, *value);
    }
}

template <typename T> void takeIfPresent(std::optional<T>& stored, const std::optional<T>& increment) {
    if (increment) {
        stored = increment;
    }
}

void readBool(const QJsonObject& object, const QString& key, std::optional<bool>& out) {
    if (object.contains(key)) {
        out = object.value(key).toBool();
    }
}

const AircraftConfig::Lights kNoLights{};
const AircraftConfig::Engines kNoEngines{};

} // namespace

bool AircraftConfig::Lights::anyPresent() const {
    return strobeOn || landingOn || taxiOn || beaconOn || navOn;
}

bool AircraftConfig::Engines::anyPresent() const {
    for (int i = 0; i < 4; ++i) {
        if (on[i] || isReversing[i]) {
            return true;
        }
    }
    return false;
}

AircraftConfig AircraftConfig::fromUserAircraftConfigData(const UserAircraftConfigData& d) {
    AircraftConfig c;
    c.lights = Lights{d.strobesOn, d.landingLightsOn, d.taxiLightsOn, d.beaconOn, d.navLightsOn};

    const std::array<bool, 4> running{d.engine1Running, d.engine2Running, d.engine3Running, d.engine4Running};
    const std::array<bool, 4> reversing{d.engine1Reversing, d.engine2Reversing, d.engine3Reversing,
                                        d.engine4Reversing};
    Engines engines;
    for (int i = 0; i < 4 && i < d.engineCount; ++i) {
        engines.on[i] = running[i];
        engines.isReversing[i] = reversing[i];
    }
    c.engines = engines;

    c.gearDown = d.gearDown;
    // A ratio that is not a number (or absurdly large) reads as flaps up rather than overflowing.
    const double steps = std::trunc(d.flapsRatio * 100.0 / 5.0);
    c.flapsPct = (std::isfinite(steps) && std::fabs(steps) <= 1.0e6) ? static_cast<qint32>(steps) * 5 : 0;
    c.spoilersOut = d.speedbrakeRatio > 0.0;
    c.onGround = d.onGround;
    return c;
}

AircraftConfig AircraftConfig::diff(const AircraftConfig& last, const AircraftConfig& current) {
    AircraftConfig out;
    takeIfChanged(out.gearDown, last.gearDown, current.gearDown);
    takeIfChanged(out.flapsPct, last.flapsPct, current.flapsPct);
    takeIfChanged(out.spoilersOut, last.spoilersOut, current.spoilersOut);
    takeIfChanged(out.onGround, last.onGround, current.onGround);

    const Lights& lastLights = last.lights ? *last.lights : kNoLights;
    if (current.lights && current.lights->anyPresent()) {
        const Lights& cur = *current.lights;
        Lights& o = *out.lights;
        takeIfChanged(o.strobeOn, lastLights.strobeOn, cur.strobeOn);
        takeIfChanged(o.landingOn, lastLights.landingOn, cur.landingOn);
        takeIfChanged(o.taxiOn, lastLights.taxiOn, cur.taxiOn);
        takeIfChanged(o.beaconOn, lastLights.beaconOn, cur.beaconOn);
        takeIfChanged(o.navOn, lastLights.navOn, cur.navOn);
    }

    const Engines& lastEngines = last.engines ? *last.engines : kNoEngines;
    if (current.engines && current.engines->anyPresent()) {
        const Engines& cur = *current.engines;
        Engines& o = *out.engines;
        for (int i = 0; i < 4; ++i) {
            takeIfChanged(o.on[i], lastEngines.on[i], cur.on[i]);
            takeIfChanged(o.isReversing[i], lastEngines.isReversing[i], cur.isReversing[i]);
        }
    }
    return out;
}

void AircraftConfig::merge(const AircraftConfig& increment) {
    takeIfPresent(gearDown, increment.gearDown);
    takeIfPresent(flapsPct, increment.flapsPct);
    takeIfPresent(spoilersOut, increment.spoilersOut);
    takeIfPresent(onGround, increment.onGround);
    // Increments carry only what changed: replacing the groups whole would
    // forget the lights and engines that did not.
    if (increment.lights) {
        Lights& l = lights ? *lights : lights.emplace();
        takeIfPresent(l.strobeOn, increment.lights->strobeOn);
        takeIfPresent(l.landingOn, increment.lights->landingOn);
        takeIfPresent(l.taxiOn, increment.lights->taxiOn);
        takeIfPresent(l.beaconOn, increment.lights->beaconOn);
        takeIfPresent(l.navOn, increment.lights->navOn);
    }
    if (increment.engines) {
        Engines& e = engines ? *engines : engines.emplace();
        for (int i = 0; i < 4; ++i) {
            takeIfPresent(e.on[i], increment.engines->on[i]);
            takeIfPresent(e.isReversing[i], increment.engines->isReversing[i]);
        }
    }
}

bool AircraftConfig::differsFrom(const AircraftConfig& other) const {
    if (gearDown != other.gearDown || flapsPct != other.flapsPct || spoilersOut != other.spoilersOut ||
        onGround != other.onGround) {
        return true;
    }
    const Lights& a = lights ? *lights : kNoLights;
    const Lights& b = other.lights ? *other.lights : kNoLights;
    if (a != b) {
        return true;
    }
    const Engines& e = engines ? *engines : kNoEngines;
    const Engines& f = other.engines ? *other.engines : kNoEngines;
    return e != f;
}

bool AircraftConfig::isEmpty() const {
    return !isFullData && !gearDown && !flapsPct && !spoilersOut && !onGround &&
           !(lights && lights->anyPresent()) && !(engines && engines->anyPresent());
}

QJsonObject AircraftConfig::toJson() const {
    QJsonObject o;
    if (isFullData.value_or(false)) {
        o.insert(kIsFullData, true);
    }
    putIfPresent(o, kGearDown, gearDown);
    putIfPresent(o, kFlapsPct, flapsPct);
    putIfPresent(o, kSpoilersOut, spoilersOut);
    putIfPresent(o, kOnGround, onGround);

    if (engines && engines->anyPresent()) {
        QJsonObject all;
        for (int i = 0; i < 4; ++i) {
            if (!engines->on[i] && !engines->isReversing[i]) {
                continue;
            }
            QJsonObject one;
            putIfPresent(one, kOn, engines->on[i]);
            putIfPresent(one, kIsReversing, engines->isReversing[i]);
            all.insert(QString::number(i + 1), one);
        }
        o.insert(kEngines, all);
    }

    if (lights && lights->anyPresent()) {
        QJsonObject l;
        putIfPresent(l, kStrobeOn, lights->strobeOn);
        putIfPresent(l, kLandingOn, lights->landingOn);
        putIfPresent(l, kTaxiOn, lights->taxiOn);
        putIfPresent(l, kBeaconOn, lights->beaconOn);
        putIfPresent(l, kNavOn, lights->navOn);
        o.insert(kLights, l);
    }
    return o;
}

AircraftConfig AircraftConfig::fromJson(const QJsonObject& o) {
    AircraftConfig c;
    readBool(o, kIsFullData, c.isFullData);
    readBool(o, kGearDown, c.gearDown);
    readBool(o, kSpoilersOut, c.spoilersOut);
    readBool(o, kOnGround, c.onGround);
    if (o.contains(kFlapsPct)) {
        c.flapsPct = o.value(kFlapsPct).toInt();
    }
    if (o.contains(kEngines)) {
        const QJsonObject all = o.value(kEngines).toObject();
        for (int i = 0; i < 4; ++i) {
            const QString key = QString::number(i + 1);
            if (!all.contains(key)) {
                continue;
            }
            const QJsonObject one = all.value(key).toObject();
            readBool(one, kOn, c.engines->on[i]);
            readBool(one, kIsReversing, c.engines->isReversing[i]);
        }
    }
    if (o.contains(kLights)) {
        const QJsonObject l = o.value(kLights).toObject();
        readBool(l, kStrobeOn, c.lights->strobeOn);
        readBool(l, kLandingOn, c.lights->landingOn);
        readBool(l, kTaxiOn, c.lights->taxiOn);
        readBool(l, kBeaconOn, c.lights->beaconOn);
        readBool(l, kNavOn, c.lights->navOn);
    }
    return c;
}

QString AircraftConfigMessage::toJson() const {
    QJsonObject o;
    if (requestFull.value_or(false)) {
        o.insert(kRequest, QStringLiteral("full"));
    } else if (config) {
        o.insert(kConfig, config->toJson());
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

AircraftConfigMessage AircraftConfigMessage::fromJson(const QString& text) {
    AircraftConfigMessage m;
    if (text.isEmpty()) {
        return m;
    }
    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
    if (o.contains(kRequest)) {
        if (o.value(kRequest).toString() == QLatin1String("full")) {
            m.requestFull = true;
        }
        return m;
    }
    if (o.contains(kConfig)) {
        m.config = AircraftConfig::fromJson(o.value(kConfig).toObject());
    }
    return m;
}

} // namespace velk::model
